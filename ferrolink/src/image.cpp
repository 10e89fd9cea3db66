// Image capture: the scanner's last image, read into a library-wide buffer
// with longer time limits than a command reply.
#include "ferrolink/image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "command_link.h"
#include "ferrolink/tidestream/tidestream.h"
#include "image_read.h"
#include "platform/tick.h"

using ferrolink_ops::kLogSource;

namespace {

constexpr size_t kInitialImageBufferSize = 1025108;
constexpr uint32_t kChunk = 10240;

std::vector<unsigned char>& ImageBuffer() {
    static std::vector<unsigned char> buffer(kInitialImageBufferSize);
    return buffer;
}

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
    uint32_t since = platform::TickCountMs();
    std::fill(buffer.begin(), buffer.end(), 0);
    sender.m_dwCurrentSize = 0;
    int reReadTimes = 0;
    for (;;) {
        const int n = qvds_read_until(connection->hStream, buffer.data() + sender.m_dwCurrentSize,
                                      kChunk, 2000, -2, ";\x03", 2, &connection->nErrorCode);
        if (n <= 0) {
            ++reReadTimes;
            if (ImageReplyComplete(buffer.data(), sender.m_dwCurrentSize))
                break;
            if (reReadTimes >= 3) {
                logout_line(QVDS_LOG_ERROR, kLogSource, 1346, "%s Error", "nReReadTimes OverTimes");
                break;
            }
        } else {
            sender.m_dwCurrentSize += static_cast<uint32_t>(n);
        }
        if (buffer.size() - sender.m_dwCurrentSize < kChunk) {
            logout_line(QVDS_LOG_TRACE, kLogSource, 1367,
                        "m_dwCurrentSize=%x nLen=%x m_dwBuffSiz=%x\r\n", sender.m_dwCurrentSize,
                        kChunk, static_cast<unsigned>(buffer.size()));
            buffer.resize(buffer.size() * 2, 0);
        }
        const uint32_t now = platform::TickCountMs();
        if (sender.m_dwCurrentSize == 0 && platform::TicksSince(since, now) > 5000)
            break;
        if (n > 0) {
            since = now;
        } else if (platform::TicksSince(since, now) > 10000) {
            break;
        }
    }
    return sender.m_dwCurrentSize > 0;
}

extern "C" unsigned char* qv_GetPic(const _QVDeviceInfo* pDevice) {
    ferrolink_ops::PerCallLink link(pDevice);
    if (!link.Made() || !link.Open())
        return nullptr;
    CCmdSend sender;
    // The reading follows whether or not the request went out.
    sender.SendRequest(link.Get(), "IMGGET0T0R1F");
    ReadImage(sender, link.Get());
    link.Close(0);
    if (sender.m_dwCurrentSize < 30)
        return nullptr;
    return ImageBuffer().data() + 27;
}
