// Firmware transfer: FWSTART, the image in numbered CRC-checked blocks, each
// answered by one byte, then FWEND.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/deadline.h"

#include "ferrolink/tidestream/tidestream.h"
#include "firmware_file.h"
#include "frame.h"
#include "handle_table.h"
#include "platform/tick.h"
#include "tty_stream.h"
#include "utf16.h"

namespace {

using tidestream::TtyStream;

constexpr uint32_t kBlockBytes = 1024;
constexpr uint32_t kMaxResends = 3;
constexpr uint32_t kReplyBufferBytes = 10240;

enum TransferState : uint32_t {
    kStarting = 1,
    kSending = 2,
    kFinishing = 3,
    kDone = 4,
    kFailed = 5
};

class Transfer {
  public:
    Transfer(TtyStream& stream, uint32_t timeoutMs, FirmwareUploadInfo* info,
             FirmwareUploadStatus* status)
        : stream_(stream), timeoutMs_(timeoutMs), info_(info), status_(status) {}

    int Run(const tidestream::FirmwareFile& firmware);

  private:
    int SendCommand(const std::string& command);
    int SendBlock(uint16_t seq, const uint8_t* data, uint32_t length);
    int AwaitBlockAnswer();
    void Report(uint32_t state, uint32_t done, uint32_t total, int error);

    TtyStream& stream_;
    uint32_t timeoutMs_;
    FirmwareUploadInfo* info_;
    FirmwareUploadStatus* status_;
};

void Transfer::Report(uint32_t state, uint32_t done, uint32_t total, int error) {
    if (info_ != nullptr) {
        info_->dwBytesSent = done;
    }
    // Only a status record that says it is ours (dwSize 32) is written.
    if (status_ == nullptr || status_->dwSize < sizeof(FirmwareUploadStatus)) {
        return;
    }
    status_->dwState = state;
    status_->dwBytesDone = done;
    status_->dwBytesTotal = total;
    status_->dwPercent = total == 0 ? 100 : static_cast<uint32_t>(uint64_t{done} * 100 / total);
    status_->nLastError = error;
}

// A command frame and its reply frame: ACK goes on, NAK is a refusal.
int Transfer::SendCommand(const std::string& command) {
    const std::string frame = tidestream::CommandFrame(command);
    if (!stream_.Clean() || !stream_.Write(frame.data(), static_cast<uint32_t>(frame.size()))) {
        return QVDS_ERR_IO;
    }
    std::string reply(kReplyBufferBytes, '\0');
    int error = QVDS_OK;
    const uint32_t n =
        stream_.ReadUntil(reinterpret_cast<uint8_t*>(reply.data()), kReplyBufferBytes, timeoutMs_,
                          tidestream::kReplyTerminator, &error);
    reply.resize(n);
    if (n == 0) {
        return error == QVDS_ERR_IO ? QVDS_ERR_IO : QVDS_ERR_TIMEOUT;
    }
    switch (tidestream::ReplyStatus(reply)) {
        case tidestream::kAck:
            return QVDS_OK;
        case tidestream::kNak:
            return QVDS_ERR_REFUSED;
        default:
            return error == QVDS_OK ? QVDS_ERR_PROTOCOL : error;
    }
}

// Waits for ACK, NAK or CAN; other bytes (stray data) are passed over.
int Transfer::AwaitBlockAnswer() {
    const platform::Deadline deadline(timeoutMs_);
    for (;;) {
        const uint32_t remaining = deadline.RemainingMs();
        if (remaining == 0) {
            return QVDS_ERR_TIMEOUT;
        }
        uint8_t answer = 0;
        int error = QVDS_OK;
        if (stream_.ReadUntil(&answer, 1, remaining, {}, &error) == 0) {
            return error == QVDS_ERR_IO ? QVDS_ERR_IO : QVDS_ERR_TIMEOUT;
        }
        if (answer == tidestream::kAck) {
            return QVDS_OK;
        }
        if (answer == tidestream::kNak) {
            return QVDS_ERR_PROTOCOL;  // damaged: the caller resends
        }
        if (answer == tidestream::kCan) {
            return QVDS_ERR_REFUSED;
        }
    }
}

// 10 'B' <seq LE16> <len LE16> <data> <crc LE32 over seq, len and data>
int Transfer::SendBlock(uint16_t seq, const uint8_t* data, uint32_t length) {
    uint8_t block[6 + kBlockBytes + 4];
    block[0] = 0x10;
    block[1] = 'B';
    block[2] = static_cast<uint8_t>(seq);
    block[3] = static_cast<uint8_t>(seq >> 8);
    block[4] = static_cast<uint8_t>(length);
    block[5] = static_cast<uint8_t>(length >> 8);
    std::memcpy(block + 6, data, length);
    const uint32_t crc = tidestream::Crc32(block + 2, 4 + length);
    for (int i = 0; i < 4; ++i) {
        block[6 + length + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    for (uint32_t attempt = 0;; ++attempt) {
        if (!stream_.Write(block, 6 + length + 4)) {
            return QVDS_ERR_IO;
        }
        const int answer = AwaitBlockAnswer();
        if (answer != QVDS_ERR_PROTOCOL) {
            return answer;
        }
        if (attempt == kMaxResends) {
            return QVDS_ERR_REFUSED;
        }
        if (info_ != nullptr) {
            ++info_->dwRetries;
        }
    }
}

int Transfer::Run(const tidestream::FirmwareFile& firmware) {
    const auto& header = firmware.header;
    const uint32_t total = static_cast<uint32_t>(firmware.image.size());
    if (info_ != nullptr) {
        *info_ = FirmwareUploadInfo{};
        info_->dwTotalBytes = total;
        info_->dwBlockSize = kBlockBytes;
        info_->dwBlockCount = (total + kBlockBytes - 1) / kBlockBytes;
        info_->nKind = header.nKind;
        // The version field here holds 59 characters of the header's 63.
        std::memcpy(info_->szVersion, header.szVersion, sizeof info_->szVersion - 1);
        info_->szVersion[sizeof info_->szVersion - 1] = '\0';
    }
    Report(kStarting, 0, total, QVDS_OK);
    char start[64];
    std::snprintf(start, sizeof start, "FWSTART%d,%u,%08X", header.nKind, total, header.dwImageCrc);
    if (int error = SendCommand(start); error != QVDS_OK) {
        return error;
    }
    uint16_t seq = 0;
    for (uint32_t done = 0; done < total; ++seq) {
        const uint32_t length = std::min(kBlockBytes, total - done);
        if (int error = SendBlock(seq, firmware.image.data() + done, length); error != QVDS_OK) {
            return error;
        }
        done += length;
        Report(kSending, done, total, QVDS_OK);
    }
    Report(kFinishing, total, total, QVDS_OK);
    return SendCommand("FWEND");
}

}  // namespace

extern "C" int qvds_update_firmware_file(QVDS_HANDLE h, const char16_t* wszFileName,
                                         int nBlockTimeout, FirmwareUploadInfo* pInfo,
                                         FirmwareUploadStatus* pStatus, int* pnError) {
    auto fail = [&](int error) {
        if (pnError != nullptr) {
            *pnError = error;
        }
        if (pStatus != nullptr && pStatus->dwSize >= sizeof(FirmwareUploadStatus)) {
            pStatus->dwState = kFailed;
            pStatus->nLastError = error;
        }
        return 0;
    };
    try {
        auto stream = tidestream::HandleTable::Instance().Find(h);
        if (!stream || !stream->IsOpen()) {
            return fail(stream ? QVDS_ERR_IO : QVDS_ERR_BAD_HANDLE);
        }
        if (wszFileName == nullptr) {
            return fail(QVDS_ERR_INVALID);
        }
        const std::u16string name(wszFileName, tidestream::Utf16Length(wszFileName, 4096));
        const auto firmware = tidestream::ReadFirmwareFile(tidestream::Utf8FromUtf16(name));
        if (!firmware) {
            return fail(QVDS_ERR_FILE);
        }
        // The block time-out is given in tenths of a second.
        const uint32_t timeoutMs =
            nBlockTimeout > 0 ? static_cast<uint32_t>(nBlockTimeout) * 100 : 3000;
        Transfer transfer(*stream, timeoutMs, pInfo, pStatus);
        if (int error = transfer.Run(*firmware); error != QVDS_OK) {
            return fail(error);
        }
        if (pStatus != nullptr && pStatus->dwSize >= sizeof(FirmwareUploadStatus)) {
            pStatus->dwState = kDone;
            pStatus->dwPercent = 100;
        }
        if (pnError != nullptr) {
            *pnError = QVDS_OK;
        }
        return 1;
    } catch (...) {
        return fail(QVDS_ERR_IO);
    }
}
