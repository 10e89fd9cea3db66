// Profile files: the identity, the device figures and the settings table of a
// simulated scanner, in an ini-like text (see scansim/README.md).
#pragma once

#include <filesystem>
#include <string>

#include "scansim/scanner.h"

namespace scansim {

// Fills `options` from the file: [device] keys replace identity and figures,
// [settings] replaces the whole settings table. false with `error` set on a
// missing file or a malformed line (options are then unchanged).
bool LoadProfile(const std::filesystem::path& file, ScannerOptions& options, std::string& error);

}  // namespace scansim
