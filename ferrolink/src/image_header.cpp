// The image reply's header: fixed-width decimal fields, read without any
// conversion that could throw or overflow.
#include <cstring>

#include "image_read.h"

namespace {

constexpr char kImageTag[] = "IMGGET";

// A field of `width` decimal digits; nullopt when any byte is no digit.
std::optional<uint32_t> Digits(const unsigned char* field, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        if (field[i] < '0' || field[i] > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(field[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<ImageHeader> ParseImageHeader(const unsigned char* data, size_t size) {
    constexpr size_t kTagSize = sizeof kImageTag - 1;
    if (data == nullptr || size < kImageHeaderSize || std::memcmp(data, kImageTag, kTagSize) != 0) {
        return std::nullopt;
    }
    const auto width = Digits(data + kTagSize, 4);
    const auto height = Digits(data + kTagSize + 4, 4);
    const auto bytes = Digits(data + kTagSize + 8, 6);
    if (!width || !height || !bytes)
        return std::nullopt;
    // At most 9999 x 9999: the product needs 64 bits to be compared safely.
    if (static_cast<uint64_t>(*width) * *height != *bytes)
        return std::nullopt;
    return ImageHeader{*width, *height, *bytes};
}
