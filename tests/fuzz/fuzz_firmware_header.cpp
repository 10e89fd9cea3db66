// Firmware files of arbitrary content read through the header reader, the
// whole-file reader and the C export: what they accept lies inside the file,
// and they accept exactly the files whose header and image agree.
//
// The first input byte is a switch: when it is odd, the image's CRC-32 is
// written into the header before the file is saved, so the image checks are
// reached without the fuzzer having to find a matching checksum.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware_file.h"
#include "fuzz_check.h"
#include "support/temp_folder.h"

namespace {

// In memory where there is such a folder: rewriting a file on disk tens of
// thousands of times costs a block flush each time, which held the target to
// a few hundred runs a second.
std::filesystem::path g_folder;

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

const std::filesystem::path& FirmwarePath() {
    static const std::filesystem::path file = [] {
        g_folder = support::MakePrivateFolder("fuzz_firmware", "/dev/shm");
        if (g_folder.empty())
            g_folder = support::MakePrivateFolder("fuzz_firmware");
        if (g_folder.empty())
            std::abort();
        std::atexit(RemoveFolder);
        return g_folder / "image.bin";
    }();
    return file;
}

bool Terminated(const char* field, size_t capacity) {
    return std::memchr(field, '\0', capacity) != nullptr;
}

// The header as read equals the file's first bytes, apart from the last byte
// of each text, which the reader sets to NUL.
bool HeaderMatchesFile(const KernelInfo& header, const std::vector<uint8_t>& file) {
    KernelInfo raw;
    std::memcpy(&raw, file.data(), sizeof raw);
    raw.szVersion[sizeof raw.szVersion - 1] = '\0';
    raw.szProduct[sizeof raw.szProduct - 1] = '\0';
    return std::memcmp(&raw, &header, sizeof raw) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool fixCrc = (data[0] & 1) != 0;
    std::vector<uint8_t> file(data + 1, data + size);

    KernelInfo declared{};
    const bool whole = file.size() >= sizeof declared;
    if (whole)
        std::memcpy(&declared, file.data(), sizeof declared);
    const uint64_t imageEnd = sizeof declared + static_cast<uint64_t>(declared.dwImageSize);
    if (whole && fixCrc && file.size() >= imageEnd) {
        declared.dwImageCrc =
            tidestream::Crc32(file.data() + sizeof declared, declared.dwImageSize);
        std::memcpy(file.data() + offsetof(KernelInfo, dwImageCrc), &declared.dwImageCrc,
                    sizeof declared.dwImageCrc);
    }
    {
        std::ofstream out(FirmwarePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
    }

    const bool headerValid = whole && declared.dwMagic == tidestream::kFirmwareMagic &&
                             declared.dwFormat == tidestream::kFirmwareFormat &&
                             file.size() >= imageEnd;

    const auto header = tidestream::ReadFirmwareHeader(FirmwarePath());
    FUZZ_CHECK(header.has_value() == headerValid);
    if (header) {
        FUZZ_CHECK(Terminated(header->szVersion, sizeof header->szVersion));
        FUZZ_CHECK(Terminated(header->szProduct, sizeof header->szProduct));
        FUZZ_CHECK(HeaderMatchesFile(*header, file));
    }

    KernelInfo exported;
    std::memset(&exported, 0x5A, sizeof exported);
    const int got = qvds_get_kernel_info(FirmwarePath().c_str(), &exported, 0);
    FUZZ_CHECK(got == (headerValid ? 1 : 0));
    if (header)
        FUZZ_CHECK(std::memcmp(&exported, &*header, sizeof exported) == 0);

    const auto firmware = tidestream::ReadFirmwareFile(FirmwarePath());
    if (firmware) {
        FUZZ_CHECK(headerValid);
        FUZZ_CHECK(std::memcmp(&firmware->header, &*header, sizeof firmware->header) == 0);
        FUZZ_CHECK(firmware->image.size() == declared.dwImageSize);
        FUZZ_CHECK(std::equal(firmware->image.begin(), firmware->image.end(),
                              file.begin() + sizeof declared));
        FUZZ_CHECK(tidestream::Crc32(firmware->image.data(), firmware->image.size()) ==
                   declared.dwImageCrc);
    } else if (headerValid) {
        // Refused with a sound header: only a checksum that does not match.
        FUZZ_CHECK(!fixCrc);
        FUZZ_CHECK(tidestream::Crc32(file.data() + sizeof declared, declared.dwImageSize) !=
                   declared.dwImageCrc);
    }

    // The checksum carries over between pieces, as a transfer in blocks uses it.
    const size_t half = file.size() / 2;
    FUZZ_CHECK(tidestream::Crc32(file.data() + half, file.size() - half,
                                 tidestream::Crc32(file.data(), half)) ==
               tidestream::Crc32(file.data(), file.size()));
    return 0;
}
