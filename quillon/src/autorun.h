// Start at logon: an XDG autostart entry that runs the program with
// " -autorun".
#pragma once

#include <filesystem>

namespace quillon {

// $XDG_CONFIG_HOME/autostart/quillon.desktop (~/.config when unset).
std::filesystem::path AutorunEntryPath();

// Writes the entry for the given program file; true when it was stored.
bool RegisterAutorun(const std::filesystem::path& programFile);

// True for a command line of exactly one argument that is "-autorun" in
// any case.
bool IsAutorunStart(int argc, const char* const* argv);

}  // namespace quillon
