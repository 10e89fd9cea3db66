// The command sender: frames a command, writes it on a connection's stream,
// collects the reply within time limits and splits identification replies.
#pragma once

#include <cstdint>
#include <vector>

#include "ferrolink/limits.h"
#include "ferrolink/record.h"
#include "log_source.h"

// First bytes of every command frame and of every framed reply.
inline constexpr unsigned char FRAME_HEADER[] = {0x7E, 0x01, '0', '0', '0', '0'};
inline constexpr unsigned char REPLY_HEADER[] = {0x02, 0x01, '0', '0', '0', '0'};

struct ReplyRecord {
    char szName[13];
    char szValue[1024];
};

class CCmdSend {
  public:
    static constexpr uint32_t kInitialBuffSize = 102400;
    static constexpr uint32_t kChunkSize = 10240;
    static constexpr int kRecordCount = 1024;
    static constexpr int kParsedRecords = 3;
    // A reply is read up to this size; a longer one fails.
    static constexpr uint32_t kMaxReplySize = FERROLINK_MAX_REPLY_BYTES;
    // The reply buffer never grows beyond room for the largest reply and one chunk.
    static constexpr uint32_t kMaxBuffSize = kMaxReplySize + kChunkSize;
    // Dropping the rest of a reply given up on ends after this long without a
    // byte, or after kDrainLimitMs in all.
    static constexpr uint32_t kDrainQuietMs = 100;
    static constexpr uint32_t kDrainLimitMs = 2000;

    CCmdSend();
    virtual ~CCmdSend();
    CCmdSend(const CCmdSend&) = delete;
    CCmdSend& operator=(const CCmdSend&) = delete;

    ReplyRecord* SendFramed(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand,
                            int* pnCount);
    ReplyRecord* SendRaw(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes, int* pnCount);
    int SendRequest(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand);
    bool ReadReply(__STRUCT_DEVICE_ONLINE* pConnection);
    bool IsReplyComplete() const;
    // The last reading went past kMaxReplySize and was dropped.
    bool ReplyTooLong() const { return m_bTooLong; }
    // The reply buffer: the m_dwCurrentSize bytes read, zeros behind them.
    const unsigned char* Data() const { return m_data.data(); }
    uint32_t BuffSize() const { return static_cast<uint32_t>(m_data.size()); }

    char m_szFrame[1024];
    uint32_t m_dwCurrentSize = 0;

  private:
    bool WriteFrame(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes, size_t nLength);
    ReplyRecord* CollectAndParse(__STRUCT_DEVICE_ONLINE* pConnection, int* pnCount);
    void CopyReplyText();
    bool GrowBuffer();
    void ClearBehindChunk(uint32_t nPlaced, uint32_t nAsked);
    void DropReply();
    std::vector<unsigned char> m_data;   // kInitialBuffSize, grown up to kMaxBuffSize
    std::vector<ReplyRecord> m_records;  // made by the first parse
    std::vector<unsigned char> m_text;   // the reply as text, twice the buffer and one
    bool m_bTooLong = false;
    uint32_t m_dwTextUsed = 0;   // bytes of m_text that may be nonzero
    uint32_t m_dwDirtyData = 0;  // bytes of m_data that may be nonzero
};

// Whether nSize collected bytes are a whole reply: unframed data is whole
// with its first chunk, a framed reply once it ends with ';' ETX.
bool ReplyComplete(const unsigned char* pData, uint32_t nSize);

// A connection is usable when it exists, has a stream and the stream is open.
bool IsUsable(const __STRUCT_DEVICE_ONLINE* pConnection);

// Splits an identification reply (text from byte 7 on) into records
// "QRYSYS", "QRYPDN", "QRYPSN" or "BASQSY". The count stays as preset when
// the labels are missing. False only for an empty text.
bool ParseReply(const char* pText, uint32_t nSize, ReplyRecord* pRecords, int* pnCount);

// Opens a connection object's stream; false (and hStream 0) when it cannot.
bool OpenConnection(__STRUCT_DEVICE_ONLINE* pConnection);

// Fills a connection object with the record's port settings.
void CopyPortSettings(const _QVDeviceInfo& record, __STRUCT_DEVICE_ONLINE& connection);

// Reads and drops what the stream still delivers: until it has been quiet for
// quietMs, at most limitMs in all. Used after a reply was given up on, so that
// its rest is not taken for the reply to the next command.
void DrainStream(__STRUCT_DEVICE_ONLINE* pConnection, uint32_t quietMs, uint32_t limitMs);

// Closes and destroys a connection's stream at once; hStream becomes 0.
void DestroyConnectionStream(__STRUCT_DEVICE_ONLINE* pConnection);

// Closes and destroys a connection's stream, after pauseMs when it is open.
void CloseConnectionStream(__STRUCT_DEVICE_ONLINE* pConnection, int nPauseMs);

// Opens the connection, sends the command framed, copies the payload (from
// byte 7, at most nOutputSize - 1 characters) to szOutput, closes the stream
// after 100 ms. 1 when the reply was acknowledged. The object stays.
int SendOnConnection(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand, char* szOutput,
                     size_t nOutputSize);
