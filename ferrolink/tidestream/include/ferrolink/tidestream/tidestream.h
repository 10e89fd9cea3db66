/* The data-stream library: byte streams to scanners over USB and COM ports,
 * device enumeration, serial detection, firmware upload, notification threads
 * and the log sink. Plain C interface; usable from C and C++. */
#ifndef TIDESTREAM_TIDESTREAM_H
#define TIDESTREAM_TIDESTREAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <uchar.h>
extern "C" {
#else
#include <uchar.h>
#endif

#if defined(__GNUC__)
#define QVDS_API __attribute__((visibility("default")))
#else
#define QVDS_API
#endif

/* Stream handle: 32 bits, 0 means none. */
typedef uint32_t QVDS_HANDLE;

/* Log levels of logout_line. */
enum {
    QVDS_LOG_ERROR = 2,
    QVDS_LOG_EVENT = 4,
    QVDS_LOG_TRACE = 5
};

/* Error codes written to the caller's error output. 0 = no error. */
enum {
    QVDS_OK = 0,
    QVDS_ERR_BAD_HANDLE = 1,
    QVDS_ERR_NO_DEVICE = 2,  /* no such device (path or port unknown, node gone) */
    QVDS_ERR_BUSY = 3,       /* another program holds the device */
    QVDS_ERR_ACCESS = 4,     /* permission denied */
    QVDS_ERR_IO = 5,         /* read/write failed, device gone */
    QVDS_ERR_TIMEOUT = 6,
    QVDS_ERR_SETTINGS = 7,   /* baud rate or data bits not usable */
    QVDS_ERR_FILE = 8,       /* firmware file missing or malformed */
    QVDS_ERR_PROTOCOL = 9,   /* the device answered outside the protocol */
    QVDS_ERR_REFUSED = 10,   /* the device refused (NAK, CRC error reported by it) */
    QVDS_ERR_INVALID = 11    /* an argument is not usable */
};

/* A serial port: COM<wPort> at dwBaudRate, byDataBits per character. */
typedef struct ComPortSettings {
    uint16_t wPort;
    uint32_t dwBaudRate;
    uint8_t byDataBits;
} ComPortSettings;

/* Size of one entry of qvds_enum_usb_device's buffer: a device path of 256
 * UTF-16 units, NUL-terminated. */
#define QVDS_USB_PATH_UNITS 256
#define QVDS_USB_ENTRY_BYTES 512

/* Header of a firmware file as qvds_get_kernel_info reads it. */
typedef struct KernelInfo {
    uint32_t dwMagic;        /* offset 0 */
    uint32_t dwFormat;       /* offset 4: file format revision */
    int32_t nKind;           /* offset 8: 1 kernel, 2 application, 3 decoder */
    uint32_t dwImageSize;    /* offset 12: bytes of the image after the header */
    uint32_t dwImageCrc;     /* offset 16: CRC-32 of the image */
    uint8_t byReserved[24];  /* offset 20 */
    char szVersion[64];      /* offset 44: NUL-terminated version text */
    char szProduct[64];      /* offset 108: product the image is built for */
    uint8_t byRest[2612];    /* offset 172 */
} KernelInfo;

/* Filled by the firmware transfer with what it did. */
typedef struct FirmwareUploadInfo {
    uint32_t dwTotalBytes;
    uint32_t dwBytesSent;
    uint32_t dwBlockSize;
    uint32_t dwBlockCount;
    uint32_t dwRetries;
    int32_t nKind;
    char szVersion[60];
} FirmwareUploadInfo;

/* Handed over with dwSize = 32 and the rest 0. */
typedef struct FirmwareUploadStatus {
    uint32_t dwSize;
    uint32_t dwState;
    uint32_t dwPercent;
    uint32_t dwBytesDone;
    uint32_t dwBytesTotal;
    int32_t nLastError;
    uint32_t dwReserved[2];
} FirmwareUploadStatus;

/* Notification callbacks; run on the stream's reader thread. */
typedef int (*QVDS_STATUS_CALLBACK)(int nState, void* pUser);
typedef void (*QVDS_DATA_CALLBACK)(const unsigned char* pData, int nLength, void* pUser);

/* State passed to the status callback when the device has gone. */
#define QVDS_STATE_DISCONNECTED 1

QVDS_API QVDS_HANDLE qvds_create(void);
QVDS_API int qvds_open_usb(QVDS_HANDLE h, const char16_t* wszDevicePath, int nMode, int* pnError);
QVDS_API int qvds_open_com(QVDS_HANDLE h, const ComPortSettings* pSettings, int* pnError);
QVDS_API int qvds_is_open(QVDS_HANDLE h);
QVDS_API int qvds_clean(QVDS_HANDLE h, int nFlags);
QVDS_API int qvds_write(QVDS_HANDLE h, const void* pData, uint32_t dwLength);
QVDS_API int qvds_read_until(QVDS_HANDLE h, void* pBuffer, uint32_t dwSize, uint32_t dwTimeoutMs,
                             int nMode, const char* pTerminator, uint32_t dwTerminatorLength,
                             int* pnError);
QVDS_API int qvds_close(QVDS_HANDLE h);
QVDS_API int qvds_destory(QVDS_HANDLE h);

QVDS_API int qvds_enum_usb_device(void* pBuffer, int nMaxCount);
QVDS_API int qvds_enum_serial_ports(ComPortSettings* pPorts, int nMaxCount);
QVDS_API int qvds_detect_serial_settings(ComPortSettings* pPorts, int nCount, int nTimeoutUnits);

QVDS_API int qvds_get_kernel_info(const char* szFirmwareFile, KernelInfo* pInfo, int nFlags);
QVDS_API int qvds_update_firmware_file(QVDS_HANDLE h, const char16_t* wszFileName, int nBlockTimeout,
                                       FirmwareUploadInfo* pInfo, FirmwareUploadStatus* pStatus,
                                       int* pnError);

QVDS_API int qvds_register_notify(QVDS_HANDLE h, QVDS_STATUS_CALLBACK pfnStatus,
                                  QVDS_DATA_CALLBACK pfnData, void* pUser, int nFlags);
QVDS_API int qvds_unregister_notify(QVDS_HANDLE h, int bStatus, int bData, int nFlags);
QVDS_API int qvds_notify_status(QVDS_HANDLE h, int* pbStatus, int* pbData, int nFlags);

/* One log line. The format is printf's; %s and %ls take char16_t texts in
 * logout_line_u, and %ls takes a char16_t text in logout_line as well.
 * (No printf format attribute: the compiler would demand wchar_t for %ls.) */
QVDS_API void logout_line(int nLevel, const char* szSource, int nLine, const char* szFormat, ...);
QVDS_API void logout_line_u(int nLevel, const char* szSource, int nLine, const char16_t* wszFormat,
                            ...);

/* Test hook: every formatted line (after the level threshold) is also handed
 * to this function; 0 removes it. */
typedef void (*QVDS_LOG_HOOK)(int nLevel, const char* szSource, int nLine, const char* szText,
                              void* pUser);
QVDS_API void qvds_set_log_hook(QVDS_LOG_HOOK pfnHook, void* pUser);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(QVDS_HANDLE) == 4, "handle is 32 bits");
static_assert(sizeof(ComPortSettings) == 12, "ComPortSettings layout");
static_assert(offsetof(ComPortSettings, dwBaudRate) == 4, "ComPortSettings layout");
static_assert(offsetof(ComPortSettings, byDataBits) == 8, "ComPortSettings layout");
static_assert(sizeof(KernelInfo) == 2784, "KernelInfo layout");
static_assert(offsetof(KernelInfo, nKind) == 8, "KernelInfo kind offset");
static_assert(offsetof(KernelInfo, szVersion) == 44, "KernelInfo version offset");
static_assert(sizeof(FirmwareUploadInfo) == 84, "FirmwareUploadInfo layout");
static_assert(sizeof(FirmwareUploadStatus) == 32, "FirmwareUploadStatus layout");
static_assert(offsetof(FirmwareUploadStatus, dwSize) == 0, "FirmwareUploadStatus size field");
#else
_Static_assert(sizeof(QVDS_HANDLE) == 4, "handle is 32 bits");
_Static_assert(sizeof(ComPortSettings) == 12, "ComPortSettings layout");
_Static_assert(sizeof(KernelInfo) == 2784, "KernelInfo layout");
_Static_assert(offsetof(KernelInfo, szVersion) == 44, "KernelInfo version offset");
_Static_assert(sizeof(FirmwareUploadInfo) == 84, "FirmwareUploadInfo layout");
_Static_assert(sizeof(FirmwareUploadStatus) == 32, "FirmwareUploadStatus layout");
#endif

#endif /* TIDESTREAM_TIDESTREAM_H */
