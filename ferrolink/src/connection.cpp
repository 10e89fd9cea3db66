// The device record's methods, the connection object and opening a stream.
#include <chrono>
#include <cstring>
#include <thread>

#include "cmd_send.h"
#include "platform/tick.h"

__STRUCT_DEVICE_ONLINE::~__STRUCT_DEVICE_ONLINE() {
    if (hStream != 0)
        qvds_destory(hStream);
}

void CopyPortSettings(const _QVDeviceInfo& record, __STRUCT_DEVICE_ONLINE& connection) {
    if (record.nPortType == FERROLINK_PORT_COM)
        std::memcpy(&connection.stComPort, record.connInfo, sizeof connection.stComPort);
    else
        std::memcpy(connection.wszDevicePath, record.connInfo, sizeof connection.wszDevicePath);
    connection.nPortType = record.nPortType;
}

namespace {

// Creates and opens the stream of a connection; logs the failure at the
// caller's line with the caller's name.
bool OpenStream(__STRUCT_DEVICE_ONLINE* pConnection, int nLogLine, const char* szWho) {
    DestroyConnectionStream(pConnection);
    pConnection->hStream = qvds_create();
    if (pConnection->hStream == 0)
        return false;
    pConnection->nErrorCode = 0;
    int opened = 0;
    if (pConnection->nPortType == FERROLINK_PORT_USB)
        opened = qvds_open_usb(pConnection->hStream, pConnection->wszDevicePath, 3,
                               &pConnection->nErrorCode);
    else if (pConnection->nPortType == FERROLINK_PORT_COM)
        opened =
            qvds_open_com(pConnection->hStream, &pConnection->stComPort, &pConnection->nErrorCode);
    if (opened != 0)
        return true;
    logout_line(QVDS_LOG_ERROR, kLogSource, nLogLine, "%s %s", szWho, "error");
    qvds_destory(pConnection->hStream);
    pConnection->hStream = 0;
    return false;
}

}  // namespace

bool OpenConnection(__STRUCT_DEVICE_ONLINE* pConnection) {
    return pConnection != nullptr && OpenStream(pConnection, 552, "Open");
}

void DestroyConnectionStream(__STRUCT_DEVICE_ONLINE* pConnection) {
    if (pConnection == nullptr || pConnection->hStream == 0)
        return;
    qvds_close(pConnection->hStream);
    qvds_destory(pConnection->hStream);
    pConnection->hStream = 0;
}

void CloseConnectionStream(__STRUCT_DEVICE_ONLINE* pConnection, int nPauseMs) {
    if (pConnection == nullptr || pConnection->hStream == 0)
        return;
    if (nPauseMs > 0)
        platform::SleepMs(static_cast<uint32_t>(nPauseMs));
    DestroyConnectionStream(pConnection);
}

int SendOnConnection(__STRUCT_DEVICE_ONLINE* pConnection, const char* szCommand, char* szOutput,
                     size_t nOutputSize) {
    CCmdSend sender;
    OpenConnection(pConnection);
    int count = 0;
    sender.SendFramed(pConnection, szCommand, &count);
    if (szOutput != nullptr && nOutputSize > 0) {
        const char* payload =
            sender.m_dwCurrentSize > 7 ? reinterpret_cast<const char*>(sender.Data()) + 7 : "";
        const size_t length = strnlen(payload, nOutputSize - 1);
        std::memcpy(szOutput, payload, length);
        szOutput[length] = '\0';
    }
    CloseConnectionStream(pConnection, 100);
    const bool acknowledged =
        sender.m_dwCurrentSize >= 3 && sender.Data()[sender.m_dwCurrentSize - 3] == 0x06;
    return acknowledged ? 1 : 0;
}

_QVDeviceInfo::_QVDeviceInfo() : pOpenStream(nullptr) {}

_QVDeviceInfo::_QVDeviceInfo(const _QVDeviceInfo& other) : pOpenStream(nullptr) {
    *this = other;
}

_QVDeviceInfo& _QVDeviceInfo::operator=(const _QVDeviceInfo& other) {
    if (this == &other)
        return *this;
    pOpenStream = nullptr;
    std::memcpy(szProductName, other.szProductName, sizeof szProductName);
    std::memcpy(szSerialNumber, other.szSerialNumber, sizeof szSerialNumber);
    std::memcpy(szFirmwareVersion, other.szFirmwareVersion, sizeof szFirmwareVersion);
    std::memcpy(szReserved, other.szReserved, sizeof szReserved);
    std::memcpy(connInfo, other.connInfo, sizeof connInfo);
    nPortType = other.nPortType;
    if (other.pOpenStream != nullptr)
        SetOnlineInfo();
    return *this;
}

_QVDeviceInfo::~_QVDeviceInfo() {
    if (pOpenStream == nullptr)
        return;
    DestroyConnectionStream(pOpenStream);
    delete pOpenStream;
    pOpenStream = nullptr;
}

bool _QVDeviceInfo::SetOnlineInfo() {
    if (pOpenStream == nullptr)
        pOpenStream = new __STRUCT_DEVICE_ONLINE();
    CopyPortSettings(*this, *pOpenStream);
    return true;
}

bool _QVDeviceInfo::Open() {
    return pOpenStream != nullptr && OpenStream(pOpenStream, 753, "_QVDeviceInfo::Open");
}

bool _QVDeviceInfo::Close(int nMilliseconds) {
    CloseConnectionStream(pOpenStream, nMilliseconds);
    return true;
}

bool _QVDeviceInfo::IsOpen() {
    return IsUsable(pOpenStream);
}
