// One virtual port of the bus and the operations control requests need.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/ovrix_ioctl.h"
#include "flow.h"
#include "tty.h"

namespace ovrix::detail {

struct VirtualPort {
    std::string instance;  // "0001"
    unsigned comNumber = 0;
    Pty pty;
    std::string usbName;          // usb/ entry; empty for an end of a linked pair
    platform::UniqueFd usbFd;     // open endpoint while the USB device is online
    VirtualPort* peer = nullptr;  // linked pair: the other end
    Flow outbound;                // bytes written to the port, on their way out
    Flow inbound;                 // the scanner's bytes, on their way to the port
    Lifemode lifemode = Lifemode::Temporal;
    bool oneTimeTemporal = false;
    uint64_t lastOnlineMs = 0;   // ms since the epoch, 0 = never
    uint64_t lastOfflineMs = 0;  // ms since the epoch, 0 = never

    bool UsbOnline() const { return static_cast<bool>(usbFd); }
    // Where bytes written to the port go: the other end of a pair or the
    // scanner; -1 while there is nobody to take them.
    int OutboundDestination() const {
        return peer != nullptr ? peer->pty.master.Get() : usbFd.Get();
    }
    std::string VcomDevinstpath() const { return kVcomInstancePrefix + instance; }
    // "usb#vid_1eab&pid_0d10#sim0001" -> "USB\VID_1EAB&PID_0D10\SIM0001"
    std::string UsbDevinstpath() const;
};

// What control requests act on; the daemon implements it.
class Bus {
  public:
    virtual ~Bus() = default;
    virtual VirtualPort* FindByInstance(std::string_view instance) = 0;
    virtual VirtualPort* FindByComName(std::string_view comName) = 0;
    virtual void UnplugAll() = 0;
    virtual void Reinstall() = 0;
    virtual bool IsAdministrator(uid_t uid) const = 0;
    // Whether a request from this user may change the bus: the daemon's own
    // user and root may, nobody else.
    virtual bool MayChangeState(uid_t uid) const = 0;
};

}  // namespace ovrix::detail
