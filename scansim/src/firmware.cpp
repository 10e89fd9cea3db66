#include "firmware.h"

#include <charconv>

#include "wire.h"

namespace scansim {
namespace {

constexpr size_t kBlockHead = 6;  // 0x10 'B' seq len
constexpr size_t kBlockCrc = 4;
constexpr size_t kMaxBlockData = 1024;
constexpr size_t kVersionOffset = 44;
constexpr size_t kVersionSize = 64;

uint32_t ReadLe(std::string_view bytes, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    }
    return value;
}

template <typename T>
bool ParseField(std::string_view text, T& out, int base) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

}  // namespace

bool FirmwareReceiver::Begin(std::string_view arguments) {
    const auto comma1 = arguments.find(',');
    const auto comma2 = arguments.find(',', comma1 == std::string_view::npos ? 0 : comma1 + 1);
    if (comma1 == std::string_view::npos || comma2 == std::string_view::npos) {
        return false;
    }
    unsigned kind = 0;
    uint32_t size = 0;
    uint32_t crc = 0;
    const auto crcText = arguments.substr(comma2 + 1);
    if (!ParseField(arguments.substr(0, comma1), kind, 10) || kind < 1 || kind > 3 ||
        !ParseField(arguments.substr(comma1 + 1, comma2 - comma1 - 1), size, 10) ||
        crcText.size() != 8 || !ParseField(crcText, crc, 16)) {
        return false;
    }
    active_ = true;
    expectedSize_ = size;
    expectedCrc_ = crc;
    nextSeq_ = 0;
    image_.clear();
    return true;
}

size_t FirmwareReceiver::BlockLength(std::string_view bytes) {
    if (bytes.size() < kBlockHead) {
        return 0;
    }
    return kBlockHead + ReadLe(bytes, 4, 2) + kBlockCrc;
}

bool FirmwareReceiver::BlockHeadDamaged(std::string_view bytes) {
    return bytes.size() >= kBlockHead && (bytes[1] != 'B' || ReadLe(bytes, 4, 2) > kMaxBlockData);
}

char FirmwareReceiver::TakeBlock(std::string_view block) {
    if (!active_) {
        return kCan;
    }
    const uint16_t seq = static_cast<uint16_t>(ReadLe(block, 2, 2));
    const size_t length = ReadLe(block, 4, 2);
    if (block[1] != 'B' || length > kMaxBlockData) {
        return kNak;
    }
    const auto covered = block.substr(2, 4 + length);
    if (Crc32(covered) != ReadLe(block, kBlockHead + length, 4)) {
        return kNak;
    }
    if (seq + 1 == nextSeq_) {
        return kAck;  // our ACK got lost and the host sent the block again
    }
    if (seq != nextSeq_) {
        return kNak;
    }
    if (image_.size() + length > expectedSize_) {
        Abort();
        return kCan;
    }
    image_.append(block.substr(kBlockHead, length));
    ++nextSeq_;
    return kAck;
}

std::optional<std::string> FirmwareReceiver::Finish() {
    const bool whole = active_ && image_.size() == expectedSize_ && Crc32(image_) == expectedCrc_;
    std::string image = std::move(image_);
    Abort();
    if (!whole) {
        return std::nullopt;
    }
    return image;
}

void FirmwareReceiver::Abort() {
    active_ = false;
    image_.clear();
    nextSeq_ = 0;
}

std::optional<std::string> FirmwareReceiver::VersionOf(std::string_view image) {
    std::string_view text;
    if (image.size() >= kVersionOffset + kVersionSize && image.substr(0, 4) == "KTRF") {
        text = image.substr(kVersionOffset, kVersionSize);
    } else if (auto marker = image.find("FWVER="); marker != std::string_view::npos) {
        text = image.substr(marker + 6, kVersionSize);
    } else {
        return std::nullopt;
    }
    const auto end = text.find_first_of(std::string_view("\0\r\n", 3));
    text = text.substr(0, end);
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace scansim
