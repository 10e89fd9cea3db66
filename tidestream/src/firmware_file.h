// Firmware files: a KernelInfo header followed by the image.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "ferrolink/tidestream/tidestream.h"

namespace tidestream {

inline constexpr uint32_t kFirmwareMagic = 0x4652544B;  // "KTRF" in file order
inline constexpr uint32_t kFirmwareFormat = 1;

struct FirmwareFile {
    KernelInfo header;
    std::vector<uint8_t> image;
};

// The header alone; nullopt when the file is missing, the magic or format is
// wrong, or the file is shorter than the header plus the image size.
std::optional<KernelInfo> ReadFirmwareHeader(const std::filesystem::path& file);
// Header and image; nullopt also when the image's CRC-32 is not the header's.
std::optional<FirmwareFile> ReadFirmwareFile(const std::filesystem::path& file);

uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

}  // namespace tidestream
