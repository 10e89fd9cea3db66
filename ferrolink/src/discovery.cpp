// Finding the attached scanners and asking each who it is.
#include "ferrolink/discovery.h"
#include "export_guard.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmd_send.h"
#include "identity_text.h"

namespace {

constexpr int kMaxListed = 20;
constexpr char kIdentifyCommand[] = "@QRYSYS,PDN,PSN";

using Connection = std::unique_ptr<__STRUCT_DEVICE_ONLINE>;

// USB devices first, in the listed order, then serial ports whose detection
// found a baud rate; no further ordering.
std::vector<Connection> EnumerateConnections() {
    std::vector<Connection> connections;
    std::vector<unsigned char> usb(kMaxListed * QVDS_USB_ENTRY_BYTES, 0);
    const int usbCount = std::min(qvds_enum_usb_device(usb.data(), kMaxListed), kMaxListed);
    for (int i = 0; i < usbCount; ++i) {
        auto connection = std::make_unique<__STRUCT_DEVICE_ONLINE>();
        connection->nPortType = FERROLINK_PORT_USB;
        std::memcpy(connection->wszDevicePath, usb.data() + QVDS_USB_ENTRY_BYTES * i,
                    sizeof connection->wszDevicePath);
        connection->wszDevicePath[QVDS_USB_PATH_UNITS - 1] = u'\0';
        connections.push_back(std::move(connection));
    }
    ComPortSettings ports[kMaxListed] = {};
    const int listed = std::min(qvds_enum_serial_ports(ports, kMaxListed), kMaxListed);
    if (listed <= 0)
        return connections;
    const int toScan = std::min(qvds_detect_serial_settings(ports, listed, 100), listed);
    for (int i = 0; i < toScan; ++i) {
        if (ports[i].dwBaudRate == 0)
            continue;
        auto connection = std::make_unique<__STRUCT_DEVICE_ONLINE>();
        connection->nPortType = FERROLINK_PORT_COM;
        connection->stComPort = ports[i];
        connections.push_back(std::move(connection));
    }
    return connections;
}

void Identify(CCmdSend& sender, __STRUCT_DEVICE_ONLINE& connection) {
    if (!OpenConnection(&connection))
        return;
    int count = 0;
    ReplyRecord* records = sender.SendFramed(&connection, kIdentifyCommand, &count);
    CloseConnectionStream(&connection, 0);
    if (records == nullptr)
        return;
    for (int i = 0; i < count && i < CCmdSend::kRecordCount; ++i) {
        const std::string name = records[i].szName;
        if (name == "QRYSYS")
            connection.strFirmwareInfo = records[i].szValue;
        else if (name == "QRYPDN")
            connection.strProductName = ferrolink::CleanIdentityValue(records[i].szValue);
        else if (name == "QRYPSN")
            connection.strSerialNumber = ferrolink::CleanIdentityValue(records[i].szValue);
    }
}

void CopyField(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

void FillRecord(_QVDeviceInfo& record, const __STRUCT_DEVICE_ONLINE& connection) {
    CopyField(record.szProductName, sizeof record.szProductName,
              ferrolink::TrimLineEnds(connection.strProductName));
    CopyField(record.szSerialNumber, sizeof record.szSerialNumber,
              ferrolink::TrimLineEnds(connection.strSerialNumber));
    CopyField(record.szFirmwareVersion, sizeof record.szFirmwareVersion,
              ferrolink::FirmwareVersionOf(connection.strFirmwareInfo));
    std::memset(record.connInfo, 0, sizeof record.connInfo);
    if (connection.nPortType == FERROLINK_PORT_COM)
        std::memcpy(record.connInfo, &connection.stComPort, sizeof connection.stComPort);
    else
        std::memcpy(record.connInfo, connection.wszDevicePath, sizeof connection.wszDevicePath);
    record.nPortType = connection.nPortType;
    std::memset(record.szReserved, 0, sizeof record.szReserved);
    record.pOpenStream = nullptr;
}

}  // namespace

static int qv_GetDeviceBody(_QVDeviceInfo* pDevices, int nCount) {
    if (nCount <= 0 || pDevices == nullptr)
        return 0;
    std::vector<Connection> connections = EnumerateConnections();
    CCmdSend sender;
    // Only as many devices as the caller has records for are identified and
    // written; the rest are left alone.
    const size_t used = std::min(connections.size(), static_cast<size_t>(nCount));
    for (size_t i = 0; i < used; ++i) {
        Identify(sender, *connections[i]);
        FillRecord(pDevices[i], *connections[i]);
    }
    return static_cast<int>(used);
}

extern "C" int qv_GetDevice(_QVDeviceInfo* pDevices, int nCount) {
    return ferrolink_guard::Guarded("qv_GetDevice", 0,
                                    [&] { return qv_GetDeviceBody(pDevices, nCount); });
}
