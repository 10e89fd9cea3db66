// Start at logon: an XDG autostart entry that runs the program with
// " -autorun".
#pragma once

#include <filesystem>
#include <string>

namespace quillon {

// $XDG_CONFIG_HOME/autostart/quillon.desktop (~/.config when unset).
std::filesystem::path AutorunEntryPath();

// The value of the entry's Exec key: the program, quoted when its path holds
// a character the desktop entry format reserves, then " -autorun". A "%"
// is doubled (field codes start with it) and the value is written with the
// escapes of a desktop entry string (a backslash as two, a line feed as
// "\n", ...), which a reader undoes before it unquotes.
std::string AutorunExecValue(const std::filesystem::path& programFile);

// Writes the entry for the given program file; true when it was stored.
bool RegisterAutorun(const std::filesystem::path& programFile);

// True for a command line of exactly one argument that is "-autorun" in
// any case.
bool IsAutorunStart(int argc, const char* const* argv);

}  // namespace quillon
