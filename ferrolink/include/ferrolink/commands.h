/* Single commands and short fixed sequences sent to a scanner. Each call opens
 * its own connection to the device and closes it again. Plain C exports. */
#ifndef FERROLINK_COMMANDS_H
#define FERROLINK_COMMANDS_H

#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sends a command (at most 1014 characters) framed; szOutput receives the reply
 * payload and must hold the whole reply. 1 when the device acknowledged. */
FERROLINK_API int SendCommand(const _QVDeviceInfo* pDevice, const char* szCommand, char* szOutput);
/* Writes the bytes (NUL-terminated, at most 1023) unframed; pOutput receives
 * the whole reply. 1 when any reply came. */
FERROLINK_API int SendCommandHEX(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput);
/* As SendCommand, for the scanner on COM port nPort (low 16 bits) at 115200 baud. */
FERROLINK_API int SendCommandCom(int nPort, const char* szCommand, char* szOutput);
/* Sends ESC Q (the last scan); as SendCommandHEX. */
FERROLINK_API int SendSingle(const _QVDeviceInfo* pDevice, char* pOutput);
/* Writes the device's ESN value and reads it back: 1 when the read-back holds it. */
FERROLINK_API int SendCmdClave(const _QVDeviceInfo* pDevice, const char* szValue);
/* Switches the illumination to green and on; always 0. */
FERROLINK_API int OpenGreenILL(const _QVDeviceInfo* pDevice);
/* 1 when the device already runs the version of the firmware file. */
FERROLINK_API int CompareVer(const _QVDeviceInfo* pDevice, const char* szFirmwareFile);
/* 0 with both texts filled when exactly one scanner is attached, else -1. */
FERROLINK_API int GetProductNameAndSN(char* szProductName, char* szSerialNumber);

#ifdef __cplusplus
}
#endif

#endif
