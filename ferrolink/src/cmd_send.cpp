// Command framing, writing and reply collection.
#include "cmd_send.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/deadline.h"
#include "platform/tick.h"

namespace {

constexpr char kEndOfFrame[] = ";\x03";
constexpr uint32_t kReadLimitMs = 3000;
constexpr uint32_t kNothingCameMs = 5000;
constexpr uint32_t kSilenceMs = 10000;

}  // namespace

bool IsUsable(const __STRUCT_DEVICE_ONLINE* pConnection) {
    return pConnection != nullptr && pConnection->hStream != 0 &&
           qvds_is_open(pConnection->hStream) != 0;
}

CCmdSend::CCmdSend() : m_szFrame{}, m_data(kInitialBuffSize) {}

CCmdSend::~CCmdSend() = default;

ReplyRecord* CCmdSend::SendFramed(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand,
                                  int* pnCount) {
    if (szCommand == nullptr)
        return nullptr;
    logout_line(QVDS_LOG_TRACE, kLogSource, 2187, "%s%s", szCommand, "");
    // '@' goes in front of every command that has none anywhere (also of one
    // that starts with '#'); ';' and ETX always close the frame. A command too
    // long for the frame text is refused rather than cut.
    std::memset(m_szFrame, 0, sizeof m_szFrame);
    const char* prefix = std::strchr(szCommand, '@') != nullptr ? "" : "@";
    const int length =
        std::snprintf(m_szFrame, sizeof m_szFrame, "%.6s%s%s%s",
                      reinterpret_cast<const char*>(FRAME_HEADER), prefix, szCommand, kEndOfFrame);
    if (length < 0 || static_cast<size_t>(length) >= sizeof m_szFrame) {
        std::memset(m_szFrame, 0, sizeof m_szFrame);
        return nullptr;
    }
    if (!WriteFrame(pConnection, m_szFrame, static_cast<size_t>(length)))
        return nullptr;
    return CollectAndParse(pConnection, pnCount);
}

ReplyRecord* CCmdSend::SendRaw(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes,
                               int* pnCount) {
    if (pBytes == nullptr || !WriteFrame(pConnection, pBytes, std::strlen(pBytes)))
        return nullptr;
    platform::SleepMs(1000);
    return CollectAndParse(pConnection, pnCount);
}

int CCmdSend::SendRequest(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand) {
    if (szCommand == nullptr)
        return 0;
    std::memset(m_szFrame, 0, sizeof m_szFrame);
    size_t used = sizeof FRAME_HEADER;
    std::memcpy(m_szFrame, FRAME_HEADER, used);
    auto append = [&](const char* text, size_t length) {
        if (used + length >= sizeof m_szFrame)
            return false;
        std::memcpy(m_szFrame + used, text, length);
        used += length;
        return true;
    };
    bool fits = true;
    if (szCommand[0] != '@' && szCommand[0] != '#')
        fits = append("@", 1);
    fits = fits && append(szCommand, std::strlen(szCommand));
    if (fits && m_szFrame[used - 1] != ';')
        fits = append(";", 1);
    fits = fits && append("\x03", 1);
    if (!fits)
        return 0;
    return WriteFrame(pConnection, m_szFrame, used) ? 1 : 0;
}

bool CCmdSend::WriteFrame(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes, size_t nLength) {
    if (!IsUsable(pConnection))
        return false;
    qvds_clean(pConnection->hStream, 0);
    return qvds_write(pConnection->hStream, pBytes, static_cast<uint32_t>(nLength)) != 0;
}

ReplyRecord* CCmdSend::CollectAndParse(__STRUCT_DEVICE_ONLINE* pConnection, int* pnCount) {
    if (!ReadReply(pConnection))
        return nullptr;
    CopyReplyText();
    if (m_records.empty())
        m_records.resize(kRecordCount);
    // The parse fills at most kParsedRecords records; those are all a
    // previous parse can have left behind.
    std::fill_n(m_records.begin(), kParsedRecords, ReplyRecord{});
    int count = kRecordCount;
    const char* text = reinterpret_cast<const char*>(m_text.data());
    const uint32_t textLength = static_cast<uint32_t>(strnlen(text, m_text.size()));
    if (!ParseReply(text, textLength, m_records.data(), &count))
        return nullptr;
    if (pnCount != nullptr)
        *pnCount = count;
    return m_records.data();
}

bool CCmdSend::GrowBuffer() {
    // Sizes are computed in 64 bits and capped, so they can neither wrap nor
    // grow without end while a reply goes on.
    const uint64_t grown = std::min<uint64_t>(uint64_t{BuffSize()} * 2, kMaxBuffSize);
    if (grown <= BuffSize())
        return false;
    // Without the memory the reading ends with what it has.
    try {
        m_data.resize(grown);  // the new part is zero
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CCmdSend::ReadReply(__STRUCT_DEVICE_ONLINE* pConnection) {
    m_bTooLong = false;
    if (m_data.size() != kInitialBuffSize) {
        // A grown buffer is given back, not kept for the next reply.
        m_data = std::vector<unsigned char>(kInitialBuffSize);
        m_dwDirtyData = 0;
    }
    m_dwCurrentSize = 0;
    if (pConnection == nullptr || pConnection->hStream == 0)
        return false;
    // Only the bytes of the last reading can be nonzero: clearing them leaves
    // the whole buffer zero without touching 100 KiB on every command.
    std::fill_n(m_data.begin(), std::min(m_dwDirtyData, BuffSize()), 0);
    m_dwDirtyData = 0;
    // No byte at all ends the reading after kNothingCameMs; kSilenceMs without
    // a byte ends it at any time.
    const uint32_t start = platform::TickCountMs();
    const platform::Deadline firstByte(start, kNothingCameMs);
    platform::Deadline silence(start, kSilenceMs);
    uint32_t asked = kChunkSize;
    int n = qvds_read_until(pConnection->hStream, m_data.data(), asked, kReadLimitMs, -2,
                            kEndOfFrame, 2, &pConnection->nErrorCode);
    if (n <= 0)
        return false;
    for (;;) {
        ClearBehindChunk(static_cast<uint32_t>(n), asked);
        m_dwCurrentSize += static_cast<uint32_t>(n);
        m_dwDirtyData = m_dwCurrentSize;
        // The next chunk always has its full room; growing keeps every byte.
        if (BuffSize() - m_dwCurrentSize < kChunkSize && !GrowBuffer())
            break;
        if (IsReplyComplete())
            return true;
        if (m_dwCurrentSize >= kMaxReplySize) {
            logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s Error",
                        "m_dwCurrentSize > FERROLINK_MAX_REPLY_BYTES");
            DropReply();
            DrainStream(pConnection, kDrainQuietMs, kDrainLimitMs);
            return false;
        }
        const uint32_t now = platform::TickCountMs();
        if (m_dwCurrentSize == 0 && firstByte.ExpiredAt(now)) {
            logout_line(QVDS_LOG_ERROR, kLogSource, 1619, "%s Error",
                        "m_dwCurrentSize == 0 && > 5000");
            break;
        }
        if (n != 0) {
            silence = platform::Deadline(now, kSilenceMs);
        } else if (silence.ExpiredAt(now)) {
            logout_line(QVDS_LOG_ERROR, kLogSource, 1632, "%s Error", "nRet == 0 && > 10000");
            break;
        }
        asked = std::min(kChunkSize, kMaxReplySize - m_dwCurrentSize);
        n = qvds_read_until(pConnection->hStream, m_data.data() + m_dwCurrentSize, asked,
                            kReadLimitMs, -2, kEndOfFrame, 2, &pConnection->nErrorCode);
        if (n <= 0)
            break;
    }
    // The reading stopped inside a framed reply: whatever of it is still on
    // the way must not become the next command's reply.
    if (!IsReplyComplete())
        DrainStream(pConnection, kDrainQuietMs, kDrainLimitMs);
    return m_dwCurrentSize > 0;
}

// A reply given up on leaves nothing behind: callers see an empty reply.
void CCmdSend::DropReply() {
    std::fill_n(m_data.begin(), std::min(m_dwDirtyData, BuffSize()), 0);
    m_dwDirtyData = 0;
    m_dwCurrentSize = 0;
    m_bTooLong = true;
}

void DrainStream(__STRUCT_DEVICE_ONLINE* pConnection, uint32_t quietMs, uint32_t limitMs) {
    if (pConnection == nullptr || pConnection->hStream == 0)
        return;
    unsigned char scratch[4096];
    int error = 0;
    const platform::Deadline limit(limitMs);
    size_t dropped = 0;
    while (!limit.Expired()) {
        // No terminator: a read ends with a full scratch buffer or after
        // quietMs without a byte.
        const int n = qvds_read_until(pConnection->hStream, scratch, sizeof scratch, quietMs, -2,
                                      nullptr, 0, &error);
        if (n <= 0)
            break;
        dropped += static_cast<size_t>(n);
    }
    if (dropped > 0)
        logout_line(QVDS_LOG_TRACE, kLogSource, __LINE__, "%s=%zu", "dropped", dropped);
}

// A read may fill its whole chunk and keep only the bytes up to the frame end
// (the rest waits for the next read); what it left behind is cleared, so the
// collected reply is followed by zeros as the text copies expect.
void CCmdSend::ClearBehindChunk(uint32_t nPlaced, uint32_t nAsked) {
    if (nPlaced < nAsked)
        std::fill_n(m_data.begin() + m_dwCurrentSize + nPlaced, nAsked - nPlaced, 0);
}

bool ReplyComplete(const unsigned char* pData, uint32_t nSize) {
    if (nSize == 0)
        return false;
    const uint32_t headerBytes = std::min<uint32_t>(sizeof REPLY_HEADER, nSize);
    if (std::memcmp(pData, REPLY_HEADER, headerBytes) != 0)
        return true;  // unframed data is complete with its first chunk
    return nSize >= 8 && pData[nSize - 2] == ';' && pData[nSize - 1] == 0x03;
}

bool CCmdSend::IsReplyComplete() const {
    return ReplyComplete(m_data.data(), m_dwCurrentSize);
}

void CCmdSend::CopyReplyText() {
    const size_t wanted = size_t{2} * BuffSize() + 1;
    if (m_text.size() < wanted) {
        logout_line(QVDS_LOG_TRACE, kLogSource, 1720, "m_dwBuffSize=%x m_dwBuffSizeUnicode=%x",
                    BuffSize(), static_cast<uint32_t>(m_text.size()));
        // A new zeroed copy: nothing of the old one is left to clear.
        m_text = std::vector<unsigned char>(wanted);
        m_dwTextUsed = 0;
    }
    std::fill_n(m_text.begin(), m_dwTextUsed, 0);
    const size_t length = strnlen(reinterpret_cast<const char*>(m_data.data()), m_dwCurrentSize);
    std::memcpy(m_text.data(), m_data.data(), length);
    m_dwTextUsed = static_cast<uint32_t>(length);
}
