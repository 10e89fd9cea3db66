/* Callbacks for scans and connection changes, and the device-list thread. */
#ifndef FERROLINK_NOTIFY_H
#define FERROLINK_NOTIFY_H

#include "ferrolink/limits.h"
#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* nState 1 = not connected; any other state = connected. Result ignored. */
typedef int(FERROLINK_CALLBACK* StatusCallback)(int nState, void* pUser);
/* Each block of received bytes. */
typedef void(FERROLINK_CALLBACK* DataCallback)(const unsigned char* pData, int nLength,
                                               void* pUser);
/* The caller's table and its capacity (20), after a discovery that found a device. */
typedef void(FERROLINK_CALLBACK* DeviceListCallback)(_QVDeviceInfo* pDevices, int nCount,
                                                     void* pUser);

/* Both return 1, also when the record's stream could not be opened. */
FERROLINK_API int ktr_register_notify_all(_QVDeviceInfo* pInfo, StatusCallback pfnStatus,
                                          DataCallback pfnData, void* pUser);
FERROLINK_API int ktr_register_notify(_QVDeviceInfo* pInfo, DataCallback pfnData, void* pUser);
/* Removes the callbacks selected by the flags; closes the stream when none is
 * left. Always 0. */
FERROLINK_API int ktr_unregister_notify(_QVDeviceInfo* pInfo, int bFirst, int bSecond);
/* Starts a thread that repeats discovery into pDevices every second; 1 when started. */
FERROLINK_API int ktr_register_GetDev(DeviceListCallback pfnCallback, _QVDeviceInfo* pDevices,
                                      void* pUnused, void* pUser);
/* Reads once what the device sends into pBuffer; *pnLength receives the number
 * of bytes. At most FERROLINK_DEVBUF_BYTES bytes are copied: a longer reply
 * gives false, a length of 0 and nothing copied. */
FERROLINK_API bool GetDevBuf(_QVDeviceInfo* pInfo, unsigned char* pBuffer, int* pnLength);
/* As GetDevBuf into a buffer of nCapacity bytes: 1 when bytes came and were
 * copied, 0 when none came, FERROLINK_TOO_LONG when they do not fit (nothing
 * copied; *pnLength still tells how many came). */
FERROLINK_API int GetDevBufSized(_QVDeviceInfo* pInfo, unsigned char* pBuffer, size_t nCapacity,
                                 size_t* pnLength);

#ifdef __cplusplus
}
#endif

#endif
