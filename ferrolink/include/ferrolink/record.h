/* The device record through which every operation addresses one scanner, and
 * its connection object. Usable from C (plain structure, no methods) and C++. */
#ifndef FERROLINK_RECORD_H
#define FERROLINK_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include "ferrolink/tidestream/tidestream.h"

#if defined(__GNUC__)
#define FERROLINK_API __attribute__((visibility("default")))
#else
#define FERROLINK_API
#endif

/* The callbacks' calling convention; Windows uses stdcall, Linux has one. */
#define FERROLINK_CALLBACK

/* Port types of a record. */
#define FERROLINK_PORT_USB 0
#define FERROLINK_PORT_COM 1

#ifdef __cplusplus
#include <string>

/* The connection object: port settings, the stream handle and the texts the
 * device gave when it was identified. */
class __STRUCT_DEVICE_ONLINE {
  public:
    __STRUCT_DEVICE_ONLINE() = default;
    /* Destroys a stream that is still there (without closing it first). */
    virtual ~__STRUCT_DEVICE_ONLINE();
    __STRUCT_DEVICE_ONLINE(const __STRUCT_DEVICE_ONLINE&) = delete;
    __STRUCT_DEVICE_ONLINE& operator=(const __STRUCT_DEVICE_ONLINE&) = delete;

    char16_t wszDevicePath[256] = {};
    ComPortSettings stComPort = {};
    int32_t nErrorCode = 0;
    int32_t nPortType = 0;
    QVDS_HANDLE hStream = 0;
    std::string strFirmwareInfo;
    std::string strProductName;
    std::string strSerialNumber;
};

/* A mutex owned by nobody and named by nobody; lock waits without limit. */
class FERROLINK_API qvMTCMutex {
  public:
    qvMTCMutex();
    virtual ~qvMTCMutex();
    qvMTCMutex(const qvMTCMutex&) = delete;
    qvMTCMutex& operator=(const qvMTCMutex&) = delete;
    void Lock();
    void Unlock();

  private:
    void* m_hMutex;
};
#else
typedef struct __STRUCT_DEVICE_ONLINE __STRUCT_DEVICE_ONLINE;
#endif

/* The device record: callers keep arrays of it and discovery fills them. */
#ifdef __cplusplus
struct FERROLINK_API _QVDeviceInfo {
#else
typedef struct _QVDeviceInfo {
#endif
    char szProductName[32];
    char szSerialNumber[32];
    char szFirmwareVersion[32];
    char szReserved[256];
    /* USB: the device path, 256 UTF-16 units; serial: a ComPortSettings. */
    unsigned char connInfo[560];
    int32_t nPortType;
    __STRUCT_DEVICE_ONLINE* pOpenStream;
#ifdef __cplusplus
    /* Sets pOpenStream to null and nothing else. */
    _QVDeviceInfo();
    /* Copies fields 1 to 6; a source with a connection object gives the copy
     * a fresh, unopened one of its own. */
    _QVDeviceInfo(const _QVDeviceInfo& other);
    /* As the copy constructor; a connection object held before is neither
     * closed nor freed, so callers close and discard it first. */
    _QVDeviceInfo& operator=(const _QVDeviceInfo& other);
    ~_QVDeviceInfo();

    bool SetOnlineInfo();
    bool Open();
    bool Close(int nMilliseconds);
    bool IsOpen();
};
#else
} _QVDeviceInfo;
#endif

#ifdef __cplusplus
static_assert(offsetof(_QVDeviceInfo, szSerialNumber) == 32);
static_assert(offsetof(_QVDeviceInfo, szFirmwareVersion) == 64);
static_assert(offsetof(_QVDeviceInfo, szReserved) == 96);
static_assert(offsetof(_QVDeviceInfo, connInfo) == 352);
static_assert(offsetof(_QVDeviceInfo, nPortType) == 912);
static_assert(offsetof(_QVDeviceInfo, pOpenStream) == 920);
static_assert(sizeof(_QVDeviceInfo) == 928);
#else
_Static_assert(offsetof(_QVDeviceInfo, connInfo) == 352, "record layout");
_Static_assert(offsetof(_QVDeviceInfo, nPortType) == 912, "record layout");
_Static_assert(sizeof(_QVDeviceInfo) == 928, "record layout");
#endif

#endif /* FERROLINK_RECORD_H */
