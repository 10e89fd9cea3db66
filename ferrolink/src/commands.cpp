// Single commands and short fixed sequences, each on a connection of its own.
#include "ferrolink/commands.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "command_link.h"
#include "export_guard.h"
#include "ferrolink/discovery.h"
#include "ferrolink/tidestream/tidestream.h"
#include "platform/tick.h"

using ferrolink_ops::PerCallLink;

namespace ferrolink_ops {

PerCallLink::PerCallLink(const _QVDeviceInfo* record) {
    if (record == nullptr)
        return;
    connection_ = new (std::nothrow) __STRUCT_DEVICE_ONLINE();
    if (connection_ != nullptr)
        CopyPortSettings(*record, *connection_);
}

PerCallLink::PerCallLink(uint16_t port, uint32_t baudRate) {
    connection_ = new (std::nothrow) __STRUCT_DEVICE_ONLINE();
    if (connection_ == nullptr)
        return;
    connection_->nPortType = 1;
    connection_->stComPort.wPort = port;
    connection_->stComPort.dwBaudRate = baudRate;
    connection_->stComPort.byDataBits = 8;
}

PerCallLink::~PerCallLink() {
    Close(0);
    delete connection_;
}

bool PerCallLink::Open() {
    return connection_ != nullptr && OpenConnection(connection_);
}

void PerCallLink::Close(int pauseMs) {
    CloseConnectionStream(connection_, pauseMs);
}

std::string ReplyText(const CCmdSend& sender) {
    const char* data = reinterpret_cast<const char*>(sender.Data());
    return std::string(data, strnlen(data, sender.m_dwCurrentSize));
}

std::string ReplyPayload(const CCmdSend& sender) {
    const std::string text = ReplyText(sender);
    return text.size() > 7 ? text.substr(7) : std::string();
}

bool ReplyAcknowledged(const CCmdSend& sender) {
    return sender.m_dwCurrentSize >= 3 && sender.Data()[sender.m_dwCurrentSize - 3] == 0x06;
}

}  // namespace ferrolink_ops

namespace {

using ferrolink_guard::Guarded;

// The unframed bytes that fit the 1024-byte working text with its NUL.
constexpr size_t kMaxRawBytes = 1023;

// Copies a text and its NUL when both fit in `capacity` bytes; otherwise the
// output receives an empty text (when it has room for one) and nothing else.
bool CopyOut(char* output, size_t capacity, const std::string& text) {
    if (output == nullptr)
        return true;
    if (capacity == 0)
        return false;
    if (text.size() >= capacity) {
        output[0] = '\0';
        return false;
    }
    std::memcpy(output, text.data(), text.size());
    output[text.size()] = '\0';
    return true;
}

// The result of a command whose reply did not fit the caller's output.
int TooLong(bool sized) {
    return sized ? FERROLINK_TOO_LONG : 0;
}

// How one exchange on a per-call connection ended.
enum class Exchange { kNoLink, kNotOpened, kTooLong, kDone };

// How the sender writes a text: framed or as it is.
using SendStep = ReplyRecord* (CCmdSend::*)(__STRUCT_DEVICE_ONLINE*, const char*, int*);

// Opens `link`, writes `text` to it with `send` (the sender collects the
// reply), copies what `reply` takes of the answer to the output when it fits,
// and closes the link 100 ms later.
Exchange ExchangeOnLink(PerCallLink& link, CCmdSend& sender, SendStep send, const char* text,
                        std::string (*reply)(const CCmdSend&), char* output, size_t capacity) {
    if (!link.Made())
        return Exchange::kNoLink;
    if (!link.Open())
        return Exchange::kNotOpened;
    int count = 0;
    (sender.*send)(link.Get(), text, &count);
    const bool fits = CopyOut(output, capacity, reply(sender));
    link.Close(100);
    return fits ? Exchange::kDone : Exchange::kTooLong;
}

// Sends one framed command on a per-call connection and hands back the
// payload; `logged` tells whether failures are logged (only SendCommand does).
// A payload that does not fit the output fails (FERROLINK_TOO_LONG for the
// sized forms) and is not copied.
int FramedCommand(PerCallLink& link, const char* szCommand, char* szOutput, size_t nOutputSize,
                  bool logged, bool sized) {
    if (szCommand == nullptr)  // nothing to send: no empty frame goes out
        return 0;
    char command[1024] = {};
    std::snprintf(command, sizeof(command), "%s", szCommand);
    CCmdSend sender;
    const Exchange exchange = ExchangeOnLink(link, sender, &CCmdSend::SendFramed, command,
                                             ferrolink_ops::ReplyPayload, szOutput, nOutputSize);
    switch (exchange) {
        case Exchange::kNoLink:
            if (logged)
                logout_line(QVDS_LOG_ERROR, kLogSource, 3547, "%s %s", "SendCommand", "error");
            return 0;
        case Exchange::kNotOpened:
            if (logged)
                logout_line(QVDS_LOG_ERROR, kLogSource, 3570, "%s %s", "Open", "error");
            return 0;
        case Exchange::kTooLong:
            logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", command,
                        "reply longer than the output");
            return TooLong(sized);
        case Exchange::kDone:
            break;
    }
    if (ferrolink_ops::ReplyAcknowledged(sender))
        return 1;
    if (logged)
        logout_line(QVDS_LOG_ERROR, kLogSource, 3598, "%s %s", command, "error");
    return 0;
}

// Writes bytes unframed and hands back the whole reply, bounded as above.
int RawCommand(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput, size_t nOutputSize,
               bool sized) {
    // Bytes beyond the 1023 that fit are refused whole: a cut command could
    // still mean something to the device.
    if (pBytes == nullptr || std::strlen(pBytes) > kMaxRawBytes)
        return 0;
    char bytes[1024] = {};
    std::snprintf(bytes, sizeof(bytes), "%s", pBytes);
    PerCallLink link(pDevice);
    CCmdSend sender;
    const Exchange exchange = ExchangeOnLink(link, sender, &CCmdSend::SendRaw, bytes,
                                             ferrolink_ops::ReplyText, pOutput, nOutputSize);
    if (exchange == Exchange::kTooLong) {
        logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", "SendCommandHEX",
                    "reply longer than the output");
        return TooLong(sized);
    }
    return exchange == Exchange::kDone && sender.m_dwCurrentSize > 0 ? 1 : 0;
}

// Sends one framed command and reports the sender's reply (the caller's sender).
void SendOnOpenLink(CCmdSend& sender, PerCallLink& link, const std::string& command) {
    char text[1024] = {};
    std::snprintf(text, sizeof(text), "%s", command.c_str());
    int count = 0;
    sender.SendFramed(link.Get(), text, &count);
}

}  // namespace

extern "C" {

int SendCommand(const _QVDeviceInfo* pDevice, const char* szCommand, char* szOutput) {
    return Guarded("SendCommand", 0, [&] {
        PerCallLink link(pDevice);
        return FramedCommand(link, szCommand, szOutput, FERROLINK_COMMAND_OUTPUT_BYTES, true,
                             false);
    });
}

int SendCommandSized(const _QVDeviceInfo* pDevice, const char* szCommand, char* szOutput,
                     size_t nOutputSize) {
    return Guarded("SendCommandSized", 0, [&] {
        PerCallLink link(pDevice);
        return FramedCommand(link, szCommand, szOutput, nOutputSize, true, true);
    });
}

int SendCommandCom(int nPort, const char* szCommand, char* szOutput) {
    return Guarded("SendCommandCom", 0, [&] {
        PerCallLink link(static_cast<uint16_t>(nPort & 0xFFFF), 115200);
        return FramedCommand(link, szCommand, szOutput, FERROLINK_COMMAND_OUTPUT_BYTES, false,
                             false);
    });
}

int SendCommandComSized(int nPort, const char* szCommand, char* szOutput, size_t nOutputSize) {
    return Guarded("SendCommandComSized", 0, [&] {
        PerCallLink link(static_cast<uint16_t>(nPort & 0xFFFF), 115200);
        return FramedCommand(link, szCommand, szOutput, nOutputSize, false, true);
    });
}

int SendCommandHEX(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput) {
    return Guarded("SendCommandHEX", 0, [&] {
        return RawCommand(pDevice, pBytes, pOutput, FERROLINK_COMMAND_OUTPUT_BYTES, false);
    });
}

int SendCommandHEXSized(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput,
                        size_t nOutputSize) {
    return Guarded("SendCommandHEXSized", 0,
                   [&] { return RawCommand(pDevice, pBytes, pOutput, nOutputSize, true); });
}

int SendSingle(const _QVDeviceInfo* pDevice, char* pOutput) {
    return Guarded("SendSingle", 0, [&] {
        const char escQ[] = {0x1B, 'Q', '\0'};
        return RawCommand(pDevice, escQ, pOutput, FERROLINK_COMMAND_OUTPUT_BYTES, false);
    });
}

int SendCmdClave(const _QVDeviceInfo* pDevice, const char* szValue) {
    return Guarded("SendCmdClave", 0, [&] {
        if (szValue == nullptr)  // an empty ESNSET would wipe the device's value
            return 0;
        PerCallLink link(pDevice);
        if (!link.Made())
            return 0;
        CCmdSend sender;
        if (!link.Open())
            return 0;
        const std::string value = szValue;
        SendOnOpenLink(sender, link, "ESNSET" + value);
        platform::SleepMs(100);
        SendOnOpenLink(sender, link, "QRYESN");
        const bool readBack = ferrolink_ops::ReplyText(sender).find(value) != std::string::npos;
        const bool acknowledged = ferrolink_ops::ReplyAcknowledged(sender);
        link.Close(100);
        return readBack && acknowledged ? 1 : 0;
    });
}

int OpenGreenILL(const _QVDeviceInfo* pDevice) {
    return Guarded("OpenGreenILL", 0, [&] {
        PerCallLink link(pDevice);
        if (!link.Made())
            return 0;
        CCmdSend sender;
        if (!link.Open())
            return 0;
        SendOnOpenLink(sender, link, "#ILLCLR3");
        platform::SleepMs(100);
        SendOnOpenLink(sender, link, "#ILLSCN1");
        link.Close(100);
        return 0;
    });
}

int CompareVer(const _QVDeviceInfo* pDevice, const char* szFirmwareFile) {
    return Guarded("CompareVer", 0, [&] {
        KernelInfo info{};
        if (pDevice == nullptr || qvds_get_kernel_info(szFirmwareFile, &info, 0) == 0)
            return 0;
        if (info.nKind < 1 || info.nKind > 3)
            return 0;
        // Both texts compared in full, each bounded by its field.
        const size_t deviceLength =
            strnlen(pDevice->szFirmwareVersion, sizeof(pDevice->szFirmwareVersion));
        const size_t fileLength = strnlen(info.szVersion, sizeof(info.szVersion));
        return deviceLength == fileLength &&
                       std::memcmp(pDevice->szFirmwareVersion, info.szVersion, fileLength) == 0
                   ? 1
                   : 0;
    });
}

int GetProductNameAndSN(char* szProductName, char* szSerialNumber) {
    return Guarded("GetProductNameAndSN", -1, [&] {
        // Success means both outputs were filled; without them there is nowhere to.
        if (szProductName == nullptr || szSerialNumber == nullptr)
            return -1;
        _QVDeviceInfo devices[10];
        std::memset(static_cast<void*>(devices), 0, sizeof(devices));
        if (qv_GetDevice(devices, 10) != 1)
            return -1;
        // The record fields hold 32 bytes, so 33 always hold them with a NUL.
        CopyOut(szProductName, sizeof(devices[0].szProductName) + 1,
                std::string(devices[0].szProductName,
                            strnlen(devices[0].szProductName, sizeof(devices[0].szProductName))));
        CopyOut(szSerialNumber, sizeof(devices[0].szSerialNumber) + 1,
                std::string(devices[0].szSerialNumber,
                            strnlen(devices[0].szSerialNumber, sizeof(devices[0].szSerialNumber))));
        return 0;
    });
}

}  // extern "C"
