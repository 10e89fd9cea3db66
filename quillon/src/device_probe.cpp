#include "device_probe.h"

#include <cstring>

#include "ferrolink/tidestream/tidestream.h"

namespace quillon {
namespace {

// The stream mode discovery opens USB scanners with.
constexpr int kUsbOpenMode = 3;

QString ReasonOf(int error) {
    switch (error) {
        case QVDS_ERR_NO_DEVICE:
            return QStringLiteral("no such device");
        case QVDS_ERR_BUSY:
            return QStringLiteral("another program holds it");
        case QVDS_ERR_ACCESS:
            return QStringLiteral("permission denied");
        case QVDS_ERR_SETTINGS:
            return QStringLiteral("its line settings cannot be used");
        case QVDS_ERR_TIMEOUT:
            return QStringLiteral("it did not answer in time");
        default:
            return QStringLiteral("input/output error (code %1)").arg(error);
    }
}

}  // namespace

QString OpenRefusal(const _QVDeviceInfo& device) {
    const QVDS_HANDLE stream = qvds_create();
    if (stream == 0) {
        return QStringLiteral("no stream could be made");
    }
    int error = 0;
    int opened = 0;
    if (device.nPortType == FERROLINK_PORT_COM) {
        ComPortSettings port{};
        std::memcpy(&port, device.connInfo, sizeof port);
        opened = qvds_open_com(stream, &port, &error);
    } else {
        char16_t path[256] = {};
        std::memcpy(path, device.connInfo, sizeof path);
        path[255] = u'\0';
        opened = qvds_open_usb(stream, path, kUsbOpenMode, &error);
    }
    if (opened != 0) {
        qvds_close(stream);
    }
    qvds_destory(stream);
    return opened != 0 ? QString() : ReasonOf(error);
}

bool IdentityMissing(const _QVDeviceInfo& device) {
    return device.szProductName[0] == '\0' && device.szSerialNumber[0] == '\0' &&
           device.szFirmwareVersion[0] == '\0';
}

}  // namespace quillon
