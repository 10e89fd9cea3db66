#include "firmware_file.h"

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <system_error>

namespace tidestream {
namespace {

bool HeaderIsValid(const KernelInfo& header, uintmax_t fileSize) {
    return header.dwMagic == kFirmwareMagic && header.dwFormat == kFirmwareFormat &&
           fileSize >= sizeof(KernelInfo) + static_cast<uintmax_t>(header.dwImageSize);
}

std::optional<KernelInfo> LoadHeader(std::ifstream& in, const std::filesystem::path& file) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size < sizeof(KernelInfo)) {
        return std::nullopt;
    }
    KernelInfo header;
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header) || !HeaderIsValid(header, size)) {
        return std::nullopt;
    }
    // The texts are used as C strings; a header without their NUL gets one.
    header.szVersion[sizeof header.szVersion - 1] = '\0';
    header.szProduct[sizeof header.szProduct - 1] = '\0';
    return header;
}

}  // namespace

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
    const auto* bytes = static_cast<const Bytef*>(data);
    uLong value = crc;
    while (length > 0) {
        const uInt chunk = length > 0x40000000 ? 0x40000000 : static_cast<uInt>(length);
        value = ::crc32(value, bytes, chunk);
        bytes += chunk;
        length -= chunk;
    }
    return static_cast<uint32_t>(value);
}

std::optional<KernelInfo> ReadFirmwareHeader(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return LoadHeader(in, file);
}

std::optional<FirmwareFile> ReadFirmwareFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    auto header = LoadHeader(in, file);
    if (!header) {
        return std::nullopt;
    }
    FirmwareFile firmware{*header, std::vector<uint8_t>(header->dwImageSize)};
    if (!in.read(reinterpret_cast<char*>(firmware.image.data()),
                 static_cast<std::streamsize>(firmware.image.size())) ||
        Crc32(firmware.image.data(), firmware.image.size()) != header->dwImageCrc) {
        return std::nullopt;
    }
    return firmware;
}

}  // namespace tidestream

extern "C" int qvds_get_kernel_info(const char* szFirmwareFile, KernelInfo* pInfo, int /*nFlags*/) {
    if (szFirmwareFile == nullptr || pInfo == nullptr) {
        return 0;
    }
    try {
        auto header = tidestream::ReadFirmwareHeader(szFirmwareFile);
        if (!header) {
            return 0;
        }
        std::memcpy(pInfo, &*header, sizeof *pInfo);
        return 1;
    } catch (...) {
        return 0;
    }
}
