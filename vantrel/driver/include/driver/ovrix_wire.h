// How control requests reach ovrixd, the user-space virtual COM-port bus.
//
// A DeviceIoControl on the bus device, the bus interface or an open virtual
// port becomes one request message on the Unix socket <namespace>/vbus/control
// (SOCK_SEQPACKET: one message per request, one per answer). ovrixd learns the
// caller's uid from the socket (SO_PEERCRED) for requests that need an
// administrator. Integers are little-endian, texts UTF-16 (char16_t).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ovrix {

inline constexpr uint32_t kWireMagic = 0x5852564F;  // "OVRX" in memory order
inline constexpr char kControlSocketName[] = "control";  // in the vbus folder
inline constexpr uint32_t kMaxPayload = 4096;

// What the request was sent to.
enum class Target : uint32_t {
    Bus = 0,        // "\\.\KTR_OVRIX_VBUS"
    Interface = 1,  // the bus device interface of class {20161207-6A0C-11D2-B841-00C04FAD5171}
    Port = 2,       // an open virtual port, named by portName
};

struct RequestHeader {
    uint32_t magic;           // kWireMagic
    uint32_t controlCode;     // the driver's control code, e.g. 0x16127410
    uint32_t target;          // Target
    uint32_t openedForWrite;  // 1 when the handle was opened with write access
    char16_t portName[32];    // Port target: "COM7", zero-ended; else empty
    uint32_t inputLength;     // bytes of input that follow this header
    uint32_t outputCapacity;  // the caller's output buffer size
};

struct ReplyHeader {
    uint32_t magic;         // kWireMagic
    uint32_t winError;      // 0 = success, else the Windows error code of the failure
    uint32_t outputLength;  // bytes of output that follow this header
    uint32_t reserved;
};

static_assert(sizeof(RequestHeader) == 88);
static_assert(offsetof(RequestHeader, inputLength) == 80);
static_assert(sizeof(ReplyHeader) == 16);

}  // namespace ovrix
