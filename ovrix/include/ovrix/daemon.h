// ovrixd's core: the virtual COM-port bus. For every USB scanner endpoint in
// the runtime namespace it keeps a virtual port (a pty published as
// dosdevices/COM<n>), bridges bytes both ways, answers the driver's control
// codes on vbus/control and serves the data pipe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/ovrix_ioctl.h"
#include "ovrix/version.h"

namespace ovrix {

struct PortPair {
    unsigned first;  // COM numbers of the two linked ends
    unsigned second;
};

struct DaemonOptions {
    unsigned comBase = 7;                    // first COM number tried
    Lifemode lifemode = Lifemode::Temporal;  // of ports made for USB endpoints
    std::vector<PortPair> pairs;             // null-modem links to offer
    // Decides whether a caller may run administrator requests.
    std::function<bool(uid_t)> isAdministrator = [](uid_t uid) { return uid == 0; };
};

// A virtual port as seen from outside.
struct PortInfo {
    std::string instance;    // "0001"
    unsigned comNumber = 0;  // 7 for COM7
    std::string ttyPath;     // the pty node dosdevices/COM<n> points at
    std::string usbName;     // usb/ entry behind it, empty for linked pairs
    Lifemode lifemode = Lifemode::Temporal;
    bool usbOnline = false;
    bool oneTimeTemporal = false;
};

class Daemon {
  public:
    explicit Daemon(DaemonOptions options);
    ~Daemon();  // stops
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Publishes the bus in the runtime namespace and starts serving.
    // false with a message when it could not.
    bool Start(std::string* error);
    // Removes everything it published. Safe to call twice.
    void Stop();

    std::vector<PortInfo> Ports() const;
    std::optional<PortInfo> PortForUsb(const std::string& usbName) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovrix
