// Comm state (DCB over termios), time-outs, queues, purge, errors, modem
// lines and the comm-event mask.
#include <sys/ioctl.h>
#include <termios.h>

#include <utility>

#include "device.h"
#include "platform/baud_rates.h"

namespace win {

using namespace detail;

namespace {

// A serial port held under the dispatcher lock for one call.
struct LockedPort {
    std::shared_ptr<SerialPort> port;
    std::unique_lock<std::mutex> guard;

    explicit operator bool() const { return port != nullptr; }
    SerialPort* operator->() const { return port.get(); }
};

enum class HangUp { kRefused, kServed };

// The port behind `handle`, locked, or empty with the last error set: a
// handle that is no port, then arguments the call refuses (checked before the
// lock is taken), then a port closed on another thread and, unless the call
// serves it, one that hung up.
LockedPort LockPort(HANDLE handle, bool argumentsValid, HangUp hangUp) {
    auto port = LookupAs<SerialPort>(handle);
    if (!port)
        return Fail(LookupAs<Device>(handle) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE,
                    LockedPort{});
    if (!argumentsValid)
        return Fail(ERROR_INVALID_PARAMETER, LockedPort{});
    std::unique_lock guard(DispatcherLock());
    if (port->closing)
        return Fail(ERROR_INVALID_HANDLE, LockedPort{});
    if (hangUp == HangUp::kRefused && port->gone)
        return Fail(ERROR_DEVICE_NOT_CONNECTED, LockedPort{});
    return LockedPort{std::move(port), std::move(guard)};
}

DWORD ErrnoToWin(int error) {
    switch (error) {
        case EIO:
        case ENXIO:
        case ENODEV:
            return ERROR_DEVICE_NOT_CONNECTED;
        case ENOTTY:
            return ERROR_INVALID_FUNCTION;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

bool DcbIsValid(const DCB& dcb) {
    return platform::SpeedFromBaud(dcb.BaudRate).has_value() && dcb.ByteSize >= 5 &&
           dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

void DcbToTermios(const DCB& dcb, termios* tio) {
    const speed_t speed = platform::SpeedFromBaud(dcb.BaudRate).value_or(B9600);
    cfsetispeed(tio, speed);
    cfsetospeed(tio, speed);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio->c_cflag |= kSizes[dcb.ByteSize - 5] | CREAD | CLOCAL;
    switch (dcb.Parity) {
        case ODDPARITY:
            tio->c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            tio->c_cflag |= PARENB;
            break;
        case MARKPARITY:
            tio->c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case SPACEPARITY:
            tio->c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (dcb.StopBits != ONESTOPBIT)
        tio->c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        tio->c_cflag |= CRTSCTS;
    tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | INPCK);
    if (dcb.fOutX)
        tio->c_iflag |= IXON;
    if (dcb.fInX)
        tio->c_iflag |= IXOFF;
    if (dcb.fParity)
        tio->c_iflag |= INPCK;
    tio->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

// Termios answers what it holds; the rest comes from the last DCB set. A
// pseudo terminal always reads as 8 bits without parity, so there the frame
// shape of the last DCB set stands.
void TermiosToDcb(const termios& tio, const DCB& stored, bool keepsFrame, DCB* dcb) {
    *dcb = stored;
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = platform::BaudFromSpeed(cfgetospeed(&tio));
    dcb->fBinary = 1;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            dcb->ByteSize = 5;
            break;
        case CS6:
            dcb->ByteSize = 6;
            break;
        case CS7:
            dcb->ByteSize = 7;
            break;
        default:
            dcb->ByteSize = 8;
            break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb->Parity = NOPARITY;
    else if (tio.c_cflag & CMSPAR)
        dcb->Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb->Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(tio.c_cflag & CSTOPB))
        dcb->StopBits = ONESTOPBIT;
    else
        dcb->StopBits = stored.StopBits == ONE5STOPBITS ? ONE5STOPBITS : TWOSTOPBITS;
    bool rtscts = (tio.c_cflag & CRTSCTS) != 0;
    dcb->fOutxCtsFlow = rtscts ? 1 : 0;
    if (!rtscts && stored.fRtsControl == RTS_CONTROL_HANDSHAKE)
        dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb->fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb->fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb->XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    if (!keepsFrame) {
        dcb->ByteSize = stored.ByteSize;
        dcb->Parity = stored.Parity;
    }
}

// All three read values MAXDWORD has no meaning; Windows refuses it.
bool TimeoutsValid(const COMMTIMEOUTS* timeouts) {
    return timeouts != nullptr && !(timeouts->ReadIntervalTimeout == MAXDWORD &&
                                    timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                                    timeouts->ReadTotalTimeoutConstant == MAXDWORD);
}

bool FrameKept(const termios& wanted, const termios& got) {
    constexpr tcflag_t kFrame = CSIZE | PARENB;
    return (wanted.c_cflag & kFrame) == (got.c_cflag & kFrame);
}

}  // namespace

namespace detail {

// Raw 8N1 at the device's current speed, DTR and RTS on: what a freshly
// opened Windows port offers.
void InitPortState(SerialPort& port) {
    DCB& dcb = port.storedDcb;
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;  // what a device without a line speed reports
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    termios tio{};
    if (!port.isTty || ::tcgetattr(port.fd.Get(), &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    ::tcsetattr(port.fd.Get(), TCSANOW, &tio);
}

}  // namespace detail

BOOL GetCommState(HANDLE file, DCB* dcb) {
    auto port = LockPort(file, dcb != nullptr, HangUp::kRefused);
    if (!port)
        return FALSE;
    termios tio{};
    if (!port->isTty) {
        *dcb = port->storedDcb;
        return TRUE;
    }
    if (::tcgetattr(port->fd.Get(), &tio) != 0)
        return Fail(ErrnoToWin(errno), FALSE);
    TermiosToDcb(tio, port->storedDcb, port->keepsFrame, dcb);
    return TRUE;
}

BOOL SetCommState(HANDLE file, const DCB* dcb) {
    auto port = LockPort(file, dcb != nullptr && DcbIsValid(*dcb), HangUp::kRefused);
    if (!port)
        return FALSE;
    if (port->isTty) {
        termios tio{};
        if (::tcgetattr(port->fd.Get(), &tio) != 0)
            return Fail(ErrnoToWin(errno), FALSE);
        DcbToTermios(*dcb, &tio);
        if (::tcsetattr(port->fd.Get(), TCSANOW, &tio) != 0)
            return Fail(ErrnoToWin(errno), FALSE);
        termios now{};
        if (::tcgetattr(port->fd.Get(), &now) == 0)
            port->keepsFrame = FrameKept(tio, now);
    }
    port->storedDcb = *dcb;
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
    auto port = LockPort(file, timeouts != nullptr, HangUp::kServed);
    if (!port)
        return FALSE;
    *timeouts = port->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
    auto port = LockPort(file, TimeoutsValid(timeouts), HangUp::kRefused);
    if (!port)
        return FALSE;
    port->timeouts = *timeouts;
    port->Wake();
    return TRUE;
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD /*outQueue: writes are kept whole*/) {
    auto port = LockPort(file, true, HangUp::kRefused);
    if (!port)
        return FALSE;
    if (inQueue > port->inCapacity)
        port->inCapacity = inQueue;  // the queue only grows
    port->Wake();
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    constexpr DWORD kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    auto port = LockPort(file, (flags & ~kAll) == 0, HangUp::kRefused);
    if (!port)
        return FALSE;
    if (flags & PURGE_TXABORT) {
        for (auto& w : port->writes)
            EndRequestLocked(w, ERROR_OPERATION_ABORTED);
        port->writes.clear();
    }
    if (flags & PURGE_RXABORT) {
        for (auto& r : port->reads)
            EndRequestLocked(r, ERROR_OPERATION_ABORTED);
        port->reads.clear();
    }
    if ((flags & PURGE_TXCLEAR) && port->isTty) {
        ::tcflush(port->fd.Get(), TCOFLUSH);
        port->deviceFull = false;  // what it held is gone
    }
    if (flags & PURGE_RXCLEAR) {
        if (port->isTty)
            ::tcflush(port->fd.Get(), TCIFLUSH);
        port->inQueue.clear();
    }
    port->Wake();
    return TRUE;
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat) {
    auto port = LockPort(file, true, HangUp::kRefused);
    if (!port)
        return FALSE;
    port->AwaitDeviceReadLocked(port.guard);
    port->ServiceLocked();  // bring the input queue up to date
    if (errors != nullptr)
        *errors = port->commErrors;
    port->commErrors = 0;
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(port->inQueue.size());
        DWORD out = 0;
        for (auto& w : port->writes)
            out += w->length - w->moved;
        stat->cbOutQue = out;
    }
    return TRUE;
}

BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus) {
    auto port = LockPort(file, modemStatus != nullptr, HangUp::kServed);
    if (!port)
        return FALSE;
    // After a hang-up the lines simply read as dropped.
    *modemStatus = port->ReadModemLinesLocked();
    return TRUE;
}

BOOL SetCommMask(HANDLE file, DWORD mask) {
    auto port = LockPort(file, true, HangUp::kServed);
    if (!port)
        return FALSE;
    port->eventMask = mask;
    port->eventHistory = 0;
    port->modemLines = port->ReadModemLinesLocked();
    // A pending wait ends with no events when the mask changes.
    if (port->commWait) {
        port->commWait->commEvents = 0;
        EndRequestLocked(port->commWait, ERROR_SUCCESS);
        port->commWait.reset();
    }
    port->Wake();
    return TRUE;
}

BOOL GetCommMask(HANDLE file, DWORD* mask) {
    auto port = LockPort(file, mask != nullptr, HangUp::kServed);
    if (!port)
        return FALSE;
    *mask = port->eventMask;
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    auto port = LockPort(file, true, HangUp::kRefused);
    if (!port)
        return FALSE;
    int bits = 0;
    int result = 0;
    switch (function) {
        case SETRTS:
        case CLRRTS:
            bits = TIOCM_RTS;
            result = ::ioctl(port->fd.Get(), function == SETRTS ? TIOCMBIS : TIOCMBIC, &bits);
            break;
        case SETDTR:
        case CLRDTR:
            bits = TIOCM_DTR;
            result = ::ioctl(port->fd.Get(), function == SETDTR ? TIOCMBIS : TIOCMBIC, &bits);
            break;
        case SETBREAK:
            result = ::ioctl(port->fd.Get(), TIOCSBRK);
            break;
        case CLRBREAK:
            result = ::ioctl(port->fd.Get(), TIOCCBRK);
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // Pseudo terminals have no lines to drive; the request is accepted.
    if (result != 0 && errno != ENOTTY && errno != EINVAL)
        return Fail(ErrnoToWin(errno), FALSE);
    return TRUE;
}

BOOL SetCommBreak(HANDLE file) {
    return EscapeCommFunction(file, SETBREAK);
}
BOOL ClearCommBreak(HANDLE file) {
    return EscapeCommFunction(file, CLRBREAK);
}

}  // namespace win
