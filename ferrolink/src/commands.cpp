// Single commands and short fixed sequences, each on a connection of its own.
#include "ferrolink/commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "command_link.h"
#include "ferrolink/discovery.h"
#include "ferrolink/tidestream/tidestream.h"

using ferrolink_ops::kLogSource;
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
    if (connection_ == nullptr || connection_->hStream == 0)
        return;
    if (pauseMs > 0)
        PauseMs(pauseMs);
    qvds_close(connection_->hStream);
    qvds_destory(connection_->hStream);
    connection_->hStream = 0;
}

std::string ReplyText(const CCmdSend& sender) {
    if (sender.m_pData == nullptr)
        return {};
    const char* data = reinterpret_cast<const char*>(sender.m_pData);
    return std::string(data, strnlen(data, sender.m_dwCurrentSize));
}

std::string ReplyPayload(const CCmdSend& sender) {
    const std::string text = ReplyText(sender);
    return text.size() > 7 ? text.substr(7) : std::string();
}

bool ReplyAcknowledged(const CCmdSend& sender) {
    return sender.m_pData != nullptr && sender.m_dwCurrentSize >= 3 &&
           sender.m_pData[sender.m_dwCurrentSize - 3] == 0x06;
}

void PauseMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace ferrolink_ops

namespace {

// The unframed bytes that fit the 1024-byte working text with its NUL.
constexpr size_t kMaxRawBytes = 1023;

void CopyOut(char* output, const std::string& text) {
    if (output == nullptr)
        return;
    std::memcpy(output, text.data(), text.size());
    output[text.size()] = '\0';
}

// Sends one framed command on a per-call connection and hands back the
// payload; nLogged tells whether failures are logged (only SendCommand does).
int FramedCommand(PerCallLink& link, const char* szCommand, char* szOutput, bool logged) {
    if (szCommand == nullptr)  // nothing to send: no empty frame goes out
        return 0;
    if (!link.Made()) {
        if (logged)
            logout_line(QVDS_LOG_ERROR, kLogSource, 3547, "%s %s", "SendCommand", "error");
        return 0;
    }
    CCmdSend sender;
    if (!link.Open()) {
        if (logged)
            logout_line(QVDS_LOG_ERROR, kLogSource, 3570, "%s %s", "Open", "error");
        return 0;
    }
    char command[1024] = {};
    std::snprintf(command, sizeof(command), "%s", szCommand != nullptr ? szCommand : "");
    int count = 0;
    sender.SendFramed(link.Get(), command, &count);
    CopyOut(szOutput, ferrolink_ops::ReplyPayload(sender));
    link.Close(100);
    if (ferrolink_ops::ReplyAcknowledged(sender))
        return 1;
    if (logged)
        logout_line(QVDS_LOG_ERROR, kLogSource, 3598, "%s %s", command, "error");
    return 0;
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
    PerCallLink link(pDevice);
    return FramedCommand(link, szCommand, szOutput, true);
}

int SendCommandCom(int nPort, const char* szCommand, char* szOutput) {
    PerCallLink link(static_cast<uint16_t>(nPort & 0xFFFF), 115200);
    return FramedCommand(link, szCommand, szOutput, false);
}

int SendCommandHEX(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput) {
    // Bytes beyond the 1023 that fit are refused whole: a cut command could
    // still mean something to the device.
    if (pBytes == nullptr || std::strlen(pBytes) > kMaxRawBytes)
        return 0;
    PerCallLink link(pDevice);
    if (!link.Made())
        return 0;
    CCmdSend sender;
    if (!link.Open())
        return 0;
    char bytes[1024] = {};
    std::snprintf(bytes, sizeof(bytes), "%s", pBytes);
    int count = 0;
    sender.SendRaw(link.Get(), bytes, &count);
    CopyOut(pOutput, ferrolink_ops::ReplyText(sender));
    link.Close(100);
    return sender.m_dwCurrentSize > 0 ? 1 : 0;
}

int SendSingle(const _QVDeviceInfo* pDevice, char* pOutput) {
    const char escQ[] = {0x1B, 'Q', '\0'};
    return SendCommandHEX(pDevice, escQ, pOutput);
}

int SendCmdClave(const _QVDeviceInfo* pDevice, const char* szValue) {
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
    ferrolink_ops::PauseMs(100);
    SendOnOpenLink(sender, link, "QRYESN");
    const bool readBack = ferrolink_ops::ReplyText(sender).find(value) != std::string::npos;
    const bool acknowledged = ferrolink_ops::ReplyAcknowledged(sender);
    link.Close(100);
    return readBack && acknowledged ? 1 : 0;
}

int OpenGreenILL(const _QVDeviceInfo* pDevice) {
    PerCallLink link(pDevice);
    if (!link.Made())
        return 0;
    CCmdSend sender;
    if (!link.Open())
        return 0;
    SendOnOpenLink(sender, link, "#ILLCLR3");
    ferrolink_ops::PauseMs(100);
    SendOnOpenLink(sender, link, "#ILLSCN1");
    link.Close(100);
    return 0;
}

int CompareVer(const _QVDeviceInfo* pDevice, const char* szFirmwareFile) {
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
}

int GetProductNameAndSN(char* szProductName, char* szSerialNumber) {
    // Success means both outputs were filled; without them there is nowhere to.
    if (szProductName == nullptr || szSerialNumber == nullptr)
        return -1;
    _QVDeviceInfo devices[10];
    std::memset(static_cast<void*>(devices), 0, sizeof(devices));
    if (qv_GetDevice(devices, 10) != 1)
        return -1;
    CopyOut(szProductName,
            std::string(devices[0].szProductName,
                        strnlen(devices[0].szProductName, sizeof(devices[0].szProductName))));
    CopyOut(szSerialNumber,
            std::string(devices[0].szSerialNumber,
                        strnlen(devices[0].szSerialNumber, sizeof(devices[0].szSerialNumber))));
    return 0;
}

}  // extern "C"
