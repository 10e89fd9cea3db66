// Private-profile ini files with the Windows reader and writer semantics:
// sections and keys match case-insensitively, a write updates the key in
// place (or appends it to its section, or appends the section), every other
// line of the file is kept as it was. Values are 8-bit text (UTF-8 here).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// GetPrivateProfileString: the value, or fallback when section or key is
// missing. Leading and trailing blanks of the value are removed, as is one
// pair of surrounding double quotes.
std::string IniReadString(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view fallback);
// GetPrivateProfileInt: the leading decimal number of the value, fallback
// when the key is missing, 0 when the value does not start with a number.
int IniReadInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
               int fallback);
// WritePrivateProfileString; false when the file cannot be written (errno
// tells why). The file is replaced whole: a temporary file beside it with the
// same permission bits (0600 for a new file) is synced and renamed over it,
// so it is never left half-written. A link is followed and stays a link; the
// file it names is the one replaced. A section, key or value holding a line
// feed or carriage return is refused (EINVAL) and the file left as it was:
// the break would add lines of its own to the file.
bool IniWriteString(const std::filesystem::path& file, std::string_view section,
                    std::string_view key, std::string_view value);
// Removes a key; false only on a write failure.
bool IniDeleteKey(const std::filesystem::path& file, std::string_view section,
                  std::string_view key);
// Names of the sections and of the keys of a section, in file order.
std::vector<std::string> IniSectionNames(const std::filesystem::path& file);
std::vector<std::string> IniKeyNames(const std::filesystem::path& file, std::string_view section);

}  // namespace platform
