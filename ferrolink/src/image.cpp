// Image capture: the scanner's last image, read into a library-wide buffer
// with longer time limits than a command reply, and never more than its
// header announces.
#include "ferrolink/image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "command_link.h"
#include "export_guard.h"
#include "ferrolink/tidestream/tidestream.h"
#include "image_read.h"
#include "platform/deadline.h"
#include "platform/tick.h"

using ferrolink_guard::Guarded;

namespace {

constexpr size_t kInitialImageBufferSize = 1025108;
constexpr uint32_t kChunk = 10240;
constexpr uint32_t kReadLimitMs = 2000;
constexpr uint32_t kNothingCameMs = 5000;
constexpr uint32_t kSilenceMs = 10000;
// The largest image reply: header, the largest image, status, ';', ETX. The
// buffer holds it from the start and never grows.
constexpr size_t kMaxImageReply = kImageDataOffset + kMaxImageBytes + kImageTrailerSize;
static_assert(kMaxImageReply <= kInitialImageBufferSize);
static_assert(kMaxImageBytes == FERROLINK_MAX_IMAGE_BYTES);

std::vector<unsigned char>& ImageBuffer() {
    static std::vector<unsigned char> buffer(kInitialImageBufferSize);
    return buffer;
}

// The header's values of the last capture that read a valid one.
ImageHeader g_lastHeader;

}  // namespace

bool ImageReplyComplete(const unsigned char* data, size_t size) {
    static const unsigned char kReplyHeader[6] = {0x02, 0x01, '0', '0', '0', '0'};
    if (size == 0)
        return false;
    if (std::memcmp(data, kReplyHeader, std::min<size_t>(6, size)) != 0)
        return true;
    return size >= 8 && data[size - 2] == ';' && data[size - 1] == 0x03;
}

const unsigned char* ImageBufferData() {
    return ImageBuffer().data();
}

bool ReadImage(CCmdSend& sender, __STRUCT_DEVICE_ONLINE* connection) {
    if (connection == nullptr || connection->hStream == 0 ||
        qvds_is_open(connection->hStream) == 0) {
        return false;
    }
    std::vector<unsigned char>& buffer = ImageBuffer();
    // No byte at all ends the reading after kNothingCameMs; kSilenceMs without
    // a byte ends it at any time.
    const uint32_t start = platform::TickCountMs();
    const platform::Deadline firstByte(start, kNothingCameMs);
    platform::Deadline silence(start, kSilenceMs);
    std::fill(buffer.begin(), buffer.end(), 0);
    sender.m_dwCurrentSize = 0;
    int reReadTimes = 0;
    size_t expected = 0;  // the whole reply's size, once the header is read
    bool refused = false;
    for (;;) {
        // Until the header is known the reading stops at a frame end; after
        // it, exactly the announced bytes are read (pixels may hold ';' ETX).
        const uint32_t want = expected == 0 ? kChunk
                                            : static_cast<uint32_t>(std::min<size_t>(
                                                  kChunk, expected - sender.m_dwCurrentSize));
        const int n = qvds_read_until(connection->hStream, buffer.data() + sender.m_dwCurrentSize,
                                      want, kReadLimitMs, -2, expected == 0 ? ";\x03" : nullptr,
                                      expected == 0 ? 2 : 0, &connection->nErrorCode);
        if (n <= 0) {
            ++reReadTimes;
            if (expected == 0 && ImageReplyComplete(buffer.data(), sender.m_dwCurrentSize))
                break;
            if (reReadTimes >= 3) {
                logout_line(QVDS_LOG_ERROR, kLogSource, 1346, "%s Error", "nReReadTimes OverTimes");
                break;
            }
        } else {
            sender.m_dwCurrentSize += static_cast<uint32_t>(n);
        }
        if (expected == 0 && sender.m_dwCurrentSize >= kImageDataOffset) {
            const auto header =
                ParseImageHeader(buffer.data() + kImageHeaderOffset, kImageHeaderSize);
            if (!header) {
                logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s Error",
                            "image header malformed");
                refused = true;
                break;
            }
            g_lastHeader = *header;
            expected = kImageDataOffset + header->bytes + kImageTrailerSize;
        }
        if (expected != 0 && sender.m_dwCurrentSize >= expected)
            break;
        const uint32_t now = platform::TickCountMs();
        if (sender.m_dwCurrentSize == 0 && firstByte.ExpiredAt(now))
            break;
        if (n > 0) {
            silence = platform::Deadline(now, kSilenceMs);
        } else if (silence.ExpiredAt(now)) {
            break;
        }
    }
    const size_t got = sender.m_dwCurrentSize;
    const bool whole = !refused && expected != 0 && got == expected &&
                       buffer[expected - 2] == ';' && buffer[expected - 1] == 0x03;
    // A reply given up on in its middle may still be arriving: its rest must
    // not become the next command's reply.
    if (!whole && got > 0 && !(expected == 0 && ImageReplyComplete(buffer.data(), got)))
        DrainStream(connection, CCmdSend::kDrainQuietMs, CCmdSend::kDrainLimitMs);
    if (!whole && got > 0 && expected != 0 && !refused)
        logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s Error", "image reply not whole");
    return whole;
}

namespace {

// One capture; true when a whole image came.
bool Capture(const _QVDeviceInfo* pDevice) {
    ferrolink_ops::PerCallLink link(pDevice);
    if (!link.Made() || !link.Open())
        return false;
    CCmdSend sender;
    // The reading follows whether or not the request went out.
    sender.SendRequest(link.Get(), "IMGGET0T0R1F");
    const bool whole = ReadImage(sender, link.Get());
    link.Close(0);
    return whole;
}

}  // namespace

extern "C" unsigned char* qv_GetPic(const _QVDeviceInfo* pDevice) {
    return Guarded("qv_GetPic", static_cast<unsigned char*>(nullptr), [&]() -> unsigned char* {
        if (!Capture(pDevice))
            return nullptr;
        return ImageBuffer().data() + kImageDataOffset;
    });
}

extern "C" int qv_GetPicSized(const _QVDeviceInfo* pDevice, unsigned char* pBuffer,
                              size_t nCapacity, QVImageInfo* pInfo) {
    return Guarded("qv_GetPicSized", 0, [&] {
        if (!Capture(pDevice))
            return 0;
        if (pInfo != nullptr)
            *pInfo = QVImageInfo{g_lastHeader.width, g_lastHeader.height, g_lastHeader.bytes};
        if (g_lastHeader.bytes > nCapacity || (pBuffer == nullptr && g_lastHeader.bytes > 0)) {
            logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", "qv_GetPicSized",
                        "image larger than the buffer");
            return FERROLINK_TOO_LONG;
        }
        if (g_lastHeader.bytes > 0)
            std::memcpy(pBuffer, ImageBuffer().data() + kImageDataOffset, g_lastHeader.bytes);
        return 1;
    });
}
