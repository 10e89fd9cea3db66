// Private-profile ini files: case-insensitive sections and keys, updates in
// place, every other line kept, the file replaced whole on each write.
#include "platform/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "ini_store.h"
#include "platform/ascii_case.h"

namespace platform {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[name]" -> name; nullopt for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    const size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// "key=value" -> key; nullopt for comments and lines without '='.
std::optional<std::string_view> KeyName(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
        return std::nullopt;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(0, equals));
}

struct KeyPlace {
    std::optional<size_t> sectionLine;  // the "[section]" line
    std::optional<size_t> keyLine;      // the "key=" line inside it
    size_t sectionEnd = 0;              // one past the last key/value line of the section
};

KeyPlace FindKey(const std::vector<std::string>& lines, std::string_view section,
                 std::string_view key) {
    KeyPlace place;
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i])) {
            if (inside)
                break;
            inside = EqualNoCase(*name, section);
            if (inside) {
                place.sectionLine = i;
                place.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inside)
            continue;
        if (!Trim(lines[i]).empty())
            place.sectionEnd = i + 1;
        if (auto name = KeyName(lines[i]); name && EqualNoCase(*name, key) && !place.keyLine)
            place.keyLine = i;
    }
    return place;
}

// The file a write replaces: a link is followed to the file it names (that
// file may not exist yet), so the link itself stays in place.
std::filesystem::path WriteTarget(const std::filesystem::path& file) {
    std::filesystem::path target = file;
    // As many hops as the kernel follows before it gives up with ELOOP.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(target, error))
            break;
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

// The new content replaces the file whole (ini_store_*.cpp); the target's
// protection is kept.
bool WriteLines(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append("\r\n");
    return IniStoreText(WriteTarget(file), text);
}

// A line break in a name or value would end its line and start another:
// the rest would become a key (or a section) of its own.
bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Unquote(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

}  // namespace

std::string IniReadString(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view fallback) {
    const std::vector<std::string> lines = ReadLines(file);
    const KeyPlace place = FindKey(lines, section, key);
    if (!place.keyLine)
        return std::string(fallback);
    const std::string& line = lines[*place.keyLine];
    return Unquote(std::string_view(line).substr(line.find('=') + 1));
}

int IniReadInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
               int fallback) {
    const std::vector<std::string> lines = ReadLines(file);
    if (!FindKey(lines, section, key).keyLine)
        return fallback;
    const std::string value = IniReadString(file, section, key, "");
    return static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
}

bool IniWriteString(const std::filesystem::path& file, std::string_view section,
                    std::string_view key, std::string_view value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
        errno = EINVAL;
        return false;
    }
    std::vector<std::string> lines = ReadLines(file);
    const KeyPlace place = FindKey(lines, section, key);
    std::string entry = std::string(key) + "=" + std::string(value);
    if (place.keyLine) {
        lines[*place.keyLine] = std::move(entry);
    } else if (place.sectionLine) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.sectionEnd),
                     std::move(entry));
    } else {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(std::move(entry));
    }
    return WriteLines(file, lines);
}

bool IniDeleteKey(const std::filesystem::path& file, std::string_view section,
                  std::string_view key) {
    std::vector<std::string> lines = ReadLines(file);
    const KeyPlace place = FindKey(lines, section, key);
    if (!place.keyLine)
        return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*place.keyLine));
    return WriteLines(file, lines);
}

std::vector<std::string> IniSectionNames(const std::filesystem::path& file) {
    std::vector<std::string> names;
    for (const std::string& line : ReadLines(file))
        if (auto name = SectionName(line))
            names.emplace_back(*name);
    return names;
}

std::vector<std::string> IniKeyNames(const std::filesystem::path& file, std::string_view section) {
    std::vector<std::string> names;
    bool inside = false;
    for (const std::string& line : ReadLines(file)) {
        if (auto name = SectionName(line)) {
            inside = EqualNoCase(*name, section);
            continue;
        }
        if (auto name = KeyName(line); inside && name)
            names.emplace_back(*name);
    }
    return names;
}

}  // namespace platform
