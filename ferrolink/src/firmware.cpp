// Firmware update: a private connection to the device, the transfer by the
// data-stream library, and an entry in the operation log.
#include "ferrolink/firmware.h"
#include "export_guard.h"

#include <cstring>
#include <string>

#include "command_link.h"
#include "firmware_upload.h"
#include "op_record.h"
#include "platform/codepage.h"

using ferrolink_ops::PerCallLink;

bool UploadFirmware(__STRUCT_DEVICE_ONLINE* connection, FirmwareUploadInfo* info,
                    const char* szFileName) {
    if (connection == nullptr || connection->hStream == 0) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 797, "%s %s", "lpInfo->pOpenStream", "Error");
        return false;
    }
    // An unconvertible name becomes empty (the transfer then reports the file missing).
    const std::u16string name =
        platform::MultiByteToWide(0, szFileName != nullptr ? szFileName : "")
            .value_or(std::u16string());
    FirmwareUploadStatus status{};
    status.dwSize = sizeof(status);
    return qvds_update_firmware_file(connection->hStream, name.c_str(), 30, info, &status,
                                     &connection->nErrorCode) != 0;
}

extern "C" {

static bool qv_UpdateKernelDeviceBody(char* szFileName, const _QVDeviceInfo* pDevice) {
    PerCallLink link(pDevice);
    if (!link.Open())
        return false;
    FirmwareUploadInfo info{};
    const bool ok = UploadFirmware(link.Get(), &info, szFileName);
    WriteOpRecord(pDevice, szFileName, link.Get()->nErrorCode, 1);
    link.Close(0);
    return ok;
}

static bool qv_UpdateKernelDevice1Body(char* szFileName, const _QVDeviceInfo* pDevice,
                                       FirmwareUploadInfo* pInfo) {
    PerCallLink link(pDevice);
    if (!link.Made()) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 911, "%s %s", "lpInfo", "Error");
        return false;
    }
    if (pDevice->nPortType == 1) {
        logout_line(QVDS_LOG_EVENT, kLogSource, 917, "%s %s=%i", "qv_UpdateKernelDevice1", "COM",
                    static_cast<int>(link.Get()->stComPort.wPort));
    } else {
        logout_line(QVDS_LOG_EVENT, kLogSource, 922, "%s %s=%ls", "qv_UpdateKernelDevice1", "USB",
                    link.Get()->wszDevicePath);
    }
    if (!link.Open()) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 929, "%s %s", "Open", "Error");
        return false;
    }
    FirmwareUploadInfo privateInfo{};
    FirmwareUploadInfo* info = pInfo != nullptr ? pInfo : &privateInfo;
    std::memset(info, 0, sizeof(*info));
    const bool ok = UploadFirmware(link.Get(), info, szFileName);
    WriteOpRecord(pDevice, szFileName, link.Get()->nErrorCode, 1);
    link.Close(0);
    if (!ok)
        logout_line(QVDS_LOG_ERROR, kLogSource, 957, "%s %s", "UpdateKernelFirm", "Error");
    return ok;
}

static bool qv_UpdateKernelDevicePortBody(char* szFileName, int nPort, int nBaudRate,
                                          int /*nUnused*/, int* pnError) {
    PerCallLink link(static_cast<uint16_t>(nPort & 0xFFFF), static_cast<uint32_t>(nBaudRate));
    if (!link.Open())
        return false;
    FirmwareUploadInfo info{};
    const bool ok = UploadFirmware(link.Get(), &info, szFileName);
    if (!ok && pnError != nullptr)
        *pnError = link.Get()->nErrorCode;
    link.Close(0);
    return ok;
}

}  // extern "C"

extern "C" bool qv_UpdateKernelDevice(char* szFileName, const _QVDeviceInfo* pDevice) {
    return ferrolink_guard::Guarded("qv_UpdateKernelDevice", false,
                                    [&] { return qv_UpdateKernelDeviceBody(szFileName, pDevice); });
}

extern "C" bool qv_UpdateKernelDevice1(char* szFileName, const _QVDeviceInfo* pDevice,
                                       FirmwareUploadInfo* pInfo) {
    return ferrolink_guard::Guarded("qv_UpdateKernelDevice1", false, [&] {
        return qv_UpdateKernelDevice1Body(szFileName, pDevice, pInfo);
    });
}

extern "C" bool qv_UpdateKernelDevicePort(char* szFileName, int nPort, int nBaudRate, int nUnused,
                                          int* pnError) {
    return ferrolink_guard::Guarded("qv_UpdateKernelDevicePort", false, [&] {
        return qv_UpdateKernelDevicePortBody(szFileName, nPort, nBaudRate, nUnused, pnError);
    });
}
