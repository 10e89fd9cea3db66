// The image reply's header as the scanner sends it, and the completeness
// rule of the reply: a header is taken only when all its fields lie in its
// first 20 bytes and its count is width x height, and a header written from
// any taken size reads back as that size.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "fuzz_check.h"
#include "image_read.h"

namespace {

bool SameHeader(const std::optional<ImageHeader>& a, const std::optional<ImageHeader>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->width == b->width && a->height == b->height && a->bytes == b->bytes);
}

unsigned FieldValue(const unsigned char* field, size_t width) {
    unsigned value = 0;
    for (size_t i = 0; i < width; ++i)
        value = value * 10 + (field[i] - '0');
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the given bytes, so a read past them is reported.
    const std::vector<unsigned char> bytes(data, data + size);
    const std::optional<ImageHeader> header = ParseImageHeader(bytes.data(), bytes.size());
    if (size < kImageHeaderSize)
        FUZZ_CHECK(!header);
    else
        FUZZ_CHECK(SameHeader(header, ParseImageHeader(bytes.data(), kImageHeaderSize)));
    FUZZ_CHECK(!ParseImageHeader(nullptr, size));

    if (header) {
        FUZZ_CHECK(std::memcmp(bytes.data(), "IMGGET", 6) == 0);
        for (size_t i = 6; i < kImageHeaderSize; ++i)
            FUZZ_CHECK(bytes[i] >= '0' && bytes[i] <= '9');
        FUZZ_CHECK(header->width == FieldValue(&bytes[6], 4));
        FUZZ_CHECK(header->height == FieldValue(&bytes[10], 4));
        FUZZ_CHECK(header->bytes == FieldValue(&bytes[14], 6));
        FUZZ_CHECK(static_cast<uint64_t>(header->width) * header->height == header->bytes);
        FUZZ_CHECK(header->bytes <= kMaxImageBytes);

        // A whole reply around it: reply header, the image, status, ';' ETX.
        std::vector<unsigned char> reply = {0x02, 0x01, '0', '0', '0', '0', 0x00};
        reply.insert(reply.end(), bytes.begin(), bytes.begin() + kImageHeaderSize);
        reply.resize(reply.size() + header->bytes, 0x5A);
        reply.insert(reply.end(), {'0', ';', 0x03});
        FUZZ_CHECK(reply.size() == kImageDataOffset + header->bytes + kImageTrailerSize);
        FUZZ_CHECK(ImageReplyComplete(reply.data(), reply.size()));
        FUZZ_CHECK(!ImageReplyComplete(reply.data(), reply.size() - 1));
        FUZZ_CHECK(SameHeader(
            ParseImageHeader(reply.data() + kImageHeaderOffset, reply.size() - kImageHeaderOffset),
            header));
    }

    // Sizes taken from the input, written as the scanner writes them.
    if (size >= 4) {
        const unsigned width = (data[0] | (data[1] << 8)) % 10000;
        const unsigned height = (data[2] | (data[3] << 8)) % 10000;
        const unsigned long long count = static_cast<unsigned long long>(width) * height;
        char text[32];
        std::snprintf(text, sizeof text, "IMGGET%04u%04u%06llu", width, height, count % 1000000);
        const auto written =
            ParseImageHeader(reinterpret_cast<const unsigned char*>(text), kImageHeaderSize);
        if (count <= kMaxImageBytes) {
            FUZZ_CHECK(written && written->width == width && written->height == height &&
                       written->bytes == count);
        } else {
            // Six digits cannot hold the count: refused, never cut.
            FUZZ_CHECK(!written);
        }
    }

    // A reply that starts like an image reply is complete only with ';' ETX.
    if (size >= 6 && std::memcmp(bytes.data(),
                                 "\x02\x01"
                                 "0000",
                                 6) == 0)
        FUZZ_CHECK(ImageReplyComplete(bytes.data(), size) ==
                   (size >= 8 && bytes[size - 2] == ';' && bytes[size - 1] == 0x03));
    return 0;
}
