/* Configuration export (settings description and configuration set files)
 * and configuration download into a scanner. Plain C exports. */
#ifndef FERROLINK_CONFIG_H
#define FERROLINK_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes Office.xml in the current directory: for each setting its bounds,
 * allowed values and default. 1 when the device acknowledged the range query. */
FERROLINK_API int SaveOffice(const _QVDeviceInfo* pDevice);
/* Writes test.xml in the current directory: the current value of every setting. */
FERROLINK_API void qv_SaveXml(const _QVDeviceInfo* pDevice);

/* Writes a configuration set file into the scanner on COM port `nPort`. */
FERROLINK_API bool qv_SavetoDevice(char* szFileName, int nPort, int nBaudRate);
/* The same for a device record; leaves an operation log entry. */
FERROLINK_API bool qv_SavetoDeviceAN(char* szFileName, const _QVDeviceInfo* pDevice);
/* As qv_SavetoDeviceAN with the full command buffer and the CUSSAV ending. */
FERROLINK_API bool qv_SavetoDeviceAN_U(char* szFileName, const _QVDeviceInfo* pDevice);
/* Non-null: qv_SavetoDeviceAN_U ends its download with CUSSAV. Returns the value. */
FERROLINK_API intptr_t SetSaveType(intptr_t nSaveType);

/* Told during a configuration download how many of the set's settings were
 * sent (nDone of nTotal): at the start, after each frame of settings and,
 * when the scanner took the last frame, with nDone == nTotal. Runs on the
 * thread that called the download. */
typedef void(FERROLINK_CALLBACK* ConfigProgressCallback)(int nDone, int nTotal, void* pUser);
/* Installs the progress callback for the downloads that follow; null removes it. */
FERROLINK_API void qv_SetConfigProgress(ConfigProgressCallback pfnProgress, void* pUser);
/* The settings the scanner refused in the last configuration download, each
 * as the scanner answered it ("232BAD9" and its status byte) followed by '|'.
 * Copies at most nCapacity - 1 bytes and a NUL; returns the length of the
 * whole text (0 when nothing was refused), so a larger buffer can be tried. */
FERROLINK_API int qv_GetConfigRefusals(char* szOutput, size_t nCapacity);

#ifdef __cplusplus
}
#endif

#endif
