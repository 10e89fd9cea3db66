/* Single commands and short fixed sequences sent to a scanner. Each call opens
 * its own connection to the device and closes it again. Plain C exports. */
#ifndef FERROLINK_COMMANDS_H
#define FERROLINK_COMMANDS_H

#include "ferrolink/limits.h"
#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sends a command (at most 1014 characters) framed; szOutput receives the reply
 * payload as a text. At most FERROLINK_COMMAND_OUTPUT_BYTES bytes are copied
 * (NUL included): a longer payload gives 0 and an empty text. 1 when the device
 * acknowledged. */
FERROLINK_API int SendCommand(const _QVDeviceInfo* pDevice, const char* szCommand, char* szOutput);
/* As SendCommand into an output of nOutputSize bytes: FERROLINK_TOO_LONG (and
 * an empty text) when the payload and its NUL do not fit. */
FERROLINK_API int SendCommandSized(const _QVDeviceInfo* pDevice, const char* szCommand,
                                   char* szOutput, size_t nOutputSize);
/* Writes the bytes (NUL-terminated, at most 1023) unframed; pOutput receives
 * the whole reply as a text, at most FERROLINK_COMMAND_OUTPUT_BYTES bytes
 * (NUL included; a longer reply gives 0 and an empty text). 1 when any reply
 * came. */
FERROLINK_API int SendCommandHEX(const _QVDeviceInfo* pDevice, const char* pBytes, char* pOutput);
/* As SendCommandHEX into an output of nOutputSize bytes; FERROLINK_TOO_LONG
 * (and an empty text) when the reply does not fit. */
FERROLINK_API int SendCommandHEXSized(const _QVDeviceInfo* pDevice, const char* pBytes,
                                      char* pOutput, size_t nOutputSize);
/* As SendCommand, for the scanner on COM port nPort (low 16 bits) at 115200
 * baud; copies at most FERROLINK_COMMAND_OUTPUT_BYTES bytes. */
FERROLINK_API int SendCommandCom(int nPort, const char* szCommand, char* szOutput);
/* As SendCommandCom into an output of nOutputSize bytes; FERROLINK_TOO_LONG
 * when the payload does not fit. */
FERROLINK_API int SendCommandComSized(int nPort, const char* szCommand, char* szOutput,
                                      size_t nOutputSize);
/* Sends ESC Q (the last scan); as SendCommandHEX, at most
 * FERROLINK_COMMAND_OUTPUT_BYTES bytes copied. */
FERROLINK_API int SendSingle(const _QVDeviceInfo* pDevice, char* pOutput);
/* Writes the device's ESN value and reads it back: 1 when the read-back holds it. */
FERROLINK_API int SendCmdClave(const _QVDeviceInfo* pDevice, const char* szValue);
/* Switches the illumination to green and on; always 0. */
FERROLINK_API int OpenGreenILL(const _QVDeviceInfo* pDevice);
/* 1 when the device already runs the version of the firmware file. */
FERROLINK_API int CompareVer(const _QVDeviceInfo* pDevice, const char* szFirmwareFile);
/* 0 with both texts filled when exactly one scanner is attached, else -1.
 * Each output receives at most 33 bytes (a record field and its NUL). */
FERROLINK_API int GetProductNameAndSN(char* szProductName, char* szSerialNumber);

#ifdef __cplusplus
}
#endif

#endif
