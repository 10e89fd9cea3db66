/* Firmware update. Plain C exports. */
#ifndef FERROLINK_FIRMWARE_H
#define FERROLINK_FIRMWARE_H

#include "ferrolink/record.h"
#include "ferrolink/tidestream/tidestream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the firmware file into the scanner; leaves an "Update" entry in the
 * operation log once the device was opened. true on success. */
FERROLINK_API bool qv_UpdateKernelDevice(char* szFileName, const _QVDeviceInfo* pDevice);
/* As qv_UpdateKernelDevice; pInfo receives what the transfer reports. */
FERROLINK_API bool qv_UpdateKernelDevice1(char* szFileName, const _QVDeviceInfo* pDevice,
                                          FirmwareUploadInfo* pInfo);
/* For the scanner on COM port nPort at nBaudRate; no log entry. On failure
 * *pnError receives the transfer's error code. */
FERROLINK_API bool qv_UpdateKernelDevicePort(char* szFileName, int nPort, int nBaudRate,
                                             int nUnused, int* pnError);

#ifdef __cplusplus
}
#endif

#endif
