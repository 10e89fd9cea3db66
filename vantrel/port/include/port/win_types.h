// Windows serial-port types and constants, as the console's code uses them.
// On Windows they are the system's own, from <windows.h>, named in namespace
// win as well (the constants are the system's macros). Elsewhere everything
// lives in namespace win so that these names never clash with the system
// headers or other components.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

namespace win {
using ::BOOL;
using ::BYTE;
using ::COMMTIMEOUTS;
using ::COMSTAT;
using ::DCB;
using ::DWORD;
using ::HANDLE;
using ::LPOVERLAPPED_COMPLETION_ROUTINE;
using ::LPTHREAD_START_ROUTINE;
using ::OVERLAPPED;
using ::ULONG_PTR;
using ::WORD;
}  // namespace win

#else

namespace win {

using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int;
using ULONG_PTR = uintptr_t;
using HANDLE = void*;  // opaque: a slot of the layer's handle table

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});
inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Access, sharing, creation and flags of CreateFile.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

// Wait results.
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Internal of a request that has not ended yet.
inline constexpr ULONG_PTR STATUS_PENDING = 0x103;

struct OVERLAPPED {
    ULONG_PTR Internal;      // the request's Windows error code, STATUS_PENDING while it runs
    ULONG_PTR InternalHigh;  // bytes moved
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        void* Pointer;
    };
    HANDLE hEvent;
};

inline bool HasOverlappedIoCompleted(const OVERLAPPED* ov) {
    return ov->Internal != STATUS_PENDING;
}

using LPOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD dwErrorCode, DWORD dwNumberOfBytesTransfered,
                                                 OVERLAPPED* lpOverlapped);
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
static_assert(sizeof(COMMTIMEOUTS) == 20);

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28);
static_assert(offsetof(DCB, XonLim) == 14);
static_assert(offsetof(DCB, ByteSize) == 18);

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};
static_assert(sizeof(COMSTAT) == 12);

// Error bits of ClearCommError.
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;

// PurgeComm flags.
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Comm events.
inline constexpr DWORD EV_RXCHAR = 0x0001;
inline constexpr DWORD EV_RXFLAG = 0x0002;
inline constexpr DWORD EV_TXEMPTY = 0x0004;
inline constexpr DWORD EV_CTS = 0x0008;
inline constexpr DWORD EV_DSR = 0x0010;
inline constexpr DWORD EV_RLSD = 0x0020;
inline constexpr DWORD EV_BREAK = 0x0040;
inline constexpr DWORD EV_ERR = 0x0080;
inline constexpr DWORD EV_RING = 0x0100;
inline constexpr DWORD EV_RX80FULL = 0x0400;

// Modem status bits.
inline constexpr DWORD MS_CTS_ON = 0x0010;
inline constexpr DWORD MS_DSR_ON = 0x0020;
inline constexpr DWORD MS_RING_ON = 0x0040;
inline constexpr DWORD MS_RLSD_ON = 0x0080;

// EscapeCommFunction.
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;

// Control codes: CTL_CODE(device type, function, method, access).
inline constexpr DWORD METHOD_BUFFERED = 0;
inline constexpr DWORD FILE_ANY_ACCESS = 0;
inline constexpr DWORD FILE_READ_ACCESS = 1;
inline constexpr DWORD FILE_WRITE_ACCESS = 2;
constexpr DWORD CTL_CODE(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

}  // namespace win

#endif  // _WIN32
