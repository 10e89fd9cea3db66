/* Rewriting what a scanner reports about itself: product name, serial
 * numbers, device information and mode. Plain C exports. */
#ifndef FERROLINK_IDENTITY_H
#define FERROLINK_IDENTITY_H

#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the commands were sent (the replies are not examined), 0 when the
 * device could not be opened. */
FERROLINK_API int SetDevicePDN(const _QVDeviceInfo* pDevice, const char* szProductName);
FERROLINK_API int SetDeviceSN(const _QVDeviceInfo* pDevice, const char* szSerialNumber);
/* Marks the second serial number with a trailing D: 0 not opened, 1 written,
 * 2 already marked (nothing written). */
FERROLINK_API int SetDeviceBSN(const _QVDeviceInfo* pDevice);
/* Writes first:second:third as the device information of the single attached
 * scanner; 0 when not exactly one is attached. */
FERROLINK_API int setDeviceInfo(const char* szFirst, const char* szSecond, const char* szThird);
/* Replaces the mode (last part of the device information) of the single scanner. */
FERROLINK_API int changeDevMode(const char* szMode);
/* Serial number of the single attached scanner, or an empty text; never null.
 * Valid until the next call. */
FERROLINK_API const char* GetSN(void);

#ifdef __cplusplus
}
#endif

#endif
