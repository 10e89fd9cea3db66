// The image reading step of the capture and the image reply's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "cmd_send.h"

// An image reply: the reply header and one byte (7 bytes), the 20-byte image
// header, the image bytes, then the status byte, ';' and ETX.
inline constexpr size_t kImageHeaderOffset = 7;
inline constexpr size_t kImageHeaderSize = 20;
inline constexpr size_t kImageDataOffset = kImageHeaderOffset + kImageHeaderSize;  // 27
inline constexpr size_t kImageTrailerSize = 3;
// Six decimal digits give the byte count, so no image is larger.
inline constexpr uint32_t kMaxImageBytes = 999999;

struct ImageHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytes = 0;  // width x height
};

// Reads the image header: "IMGGET", the width (4 digits), the height (4
// digits) and the byte count (6 digits), which must be width x height. Takes
// the bytes from the header's first byte on; nullopt when fewer than 20 bytes
// are given or any of them does not fit.
std::optional<ImageHeader> ParseImageHeader(const unsigned char* data, size_t size);

// Collects an image reply into the library-wide image buffer; the sender's
// m_dwCurrentSize tells how many bytes came. true when a whole image reply
// came: a valid header and exactly the bytes it announces, then ';' ETX.
bool ReadImage(CCmdSend& sender, __STRUCT_DEVICE_ONLINE* connection);
// The reply completeness rule applied to the image buffer.
bool ImageReplyComplete(const unsigned char* data, size_t size);
const unsigned char* ImageBufferData();
