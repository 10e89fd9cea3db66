// The version record in the program file: an ELF section that the build
// fills with the file version as two 32-bit words (major<<16|minor,
// build<<16|revision), after a marker that tells it from other data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quillon {

inline constexpr char kVersionSectionName[] = ".quillon_version";
inline constexpr char kVersionMarker[8] = {'V', 'S', '_', 'F', 'I', 'X', 'E', 'D'};

struct VersionRecord {
    char marker[8];
    uint32_t fileVersionMS;
    uint32_t fileVersionLS;
};
static_assert(sizeof(VersionRecord) == 16);

// The record of an ELF file; none when the file cannot be read, is no
// 64-bit little-endian ELF file, or has no valid record section.
std::optional<VersionRecord> ReadVersionRecord(const std::filesystem::path& file);

}  // namespace quillon
