// Control request messages as ovrixd receives them on its socket: the parser
// takes only what lies inside the message, and the answer against a bus of
// two ports is one well-formed reply message; a refused request changes
// nothing, and only the requests that may change the bus do so.
//
// Input: the first byte picks the caller (root, the daemon's own user or a
// stranger), the rest is the message.
#include <fcntl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "control_requests.h"
#include "driver/ovrix_wire.h"
#include "fuzz_check.h"
#include "platform/unique_fd.h"
#include "virtual_port.h"

namespace {

using namespace ovrix;
using namespace ovrix::detail;

constexpr uid_t kAdministrator = 0;
constexpr uid_t kOwner = 1000;
constexpr uid_t kStranger = 2000;

class TwoPortBus : public Bus {
  public:
    TwoPortBus() {
        ports_[0].instance = "0001";
        ports_[0].comNumber = 7;
        ports_[0].pty.slavePath = "/dev/pts/17";
        ports_[0].usbName = "usb#vid_1eab&pid_0d10#sim0001";
        // Online: the port holds an open endpoint, which no request reads.
        ports_[0].usbFd = platform::UniqueFd(open("/dev/null", O_RDONLY | O_CLOEXEC));
        ports_[0].lastOnlineMs = 1700000000000;
        ports_[1].instance = "0002";
        ports_[1].comNumber = 12;
        ports_[1].pty.slavePath = "/dev/pts/18";
        ports_[1].lifemode = Lifemode::Persistent;
        ports_[1].lastOfflineMs = 1700000000001;
    }

    VirtualPort* FindByInstance(std::string_view instance) override {
        for (VirtualPort& port : ports_)
            if (port.instance == instance)
                return &port;
        return nullptr;
    }
    VirtualPort* FindByComName(std::string_view comName) override {
        for (VirtualPort& port : ports_)
            if (comName == "COM" + std::to_string(port.comNumber))
                return &port;
        return nullptr;
    }
    void UnplugAll() override { ++unplugs; }
    void Reinstall() override { ++reinstalls; }
    bool IsAdministrator(uid_t uid) const override { return uid == kAdministrator; }
    bool MayChangeState(uid_t uid) const override { return uid == kAdministrator || uid == kOwner; }

    bool Temporal(size_t index) const { return ports_[index].oneTimeTemporal; }

    int unplugs = 0;
    int reinstalls = 0;

  private:
    VirtualPort ports_[2];
};

template <size_t N>
bool Terminated(const char16_t (&field)[N]) {
    for (char16_t unit : field)
        if (unit == u'\0')
            return true;
    return false;
}

// The parsed request against the header it came from.
void CheckParse(const uint8_t* message, size_t length, const ParsedRequest& parsed,
                const RequestHeader& header, bool sound) {
    FUZZ_CHECK(parsed.error == (sound ? 0 : kErrorInvalidParameter));
    if (!sound)
        return;
    const ControlRequest& request = parsed.request;
    FUZZ_CHECK(request.controlCode == header.controlCode);
    FUZZ_CHECK(static_cast<uint32_t>(request.target) == header.target);
    FUZZ_CHECK(request.openedForWrite == (header.openedForWrite != 0));
    FUZZ_CHECK(request.outputCapacity == header.outputCapacity);
    FUZZ_CHECK(request.input.size() == header.inputLength);
    FUZZ_CHECK(std::equal(request.input.begin(), request.input.end(), message + sizeof header,
                          message + length));
    const size_t units = sizeof header.portName / sizeof header.portName[0];
    FUZZ_CHECK(request.portName.size() < units ||
               (request.portName.size() == units && header.portName[units - 1] != u'\0'));
    for (size_t i = 0; i < request.portName.size(); ++i) {
        const char16_t unit = header.portName[i];
        FUZZ_CHECK(unit != u'\0');
        FUZZ_CHECK(request.portName[i] == (unit < 0x80 ? static_cast<char>(unit) : '?'));
    }
    FUZZ_CHECK(request.portName.size() == units || header.portName[request.portName.size()] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static constexpr uid_t kCallers[] = {kAdministrator, kOwner, kStranger};
    const uid_t caller = kCallers[data[0] % 3];
    const uint8_t* message = data + 1;
    const size_t length = size - 1;

    RequestHeader request{};
    const bool whole = length >= sizeof request;
    if (whole)
        std::memcpy(&request, message, sizeof request);
    const auto target = static_cast<Target>(request.target);
    const bool knownTarget =
        target == Target::Bus || target == Target::Interface || target == Target::Port;
    const bool sound = whole && request.magic == kWireMagic && request.inputLength <= kMaxPayload &&
                       request.inputLength == length - sizeof request && knownTarget;
    CheckParse(message, length, ParseControlRequest(message, length), request, sound);

    TwoPortBus bus;
    const std::vector<uint8_t> reply = AnswerRequest(message, length, caller, bus);

    ReplyHeader answer{};
    FUZZ_CHECK(reply.size() >= sizeof answer);
    std::memcpy(&answer, reply.data(), sizeof answer);
    FUZZ_CHECK(answer.magic == kWireMagic);
    FUZZ_CHECK(answer.outputLength == reply.size() - sizeof answer);
    FUZZ_CHECK(answer.outputLength <= kMaxPayload);
    FUZZ_CHECK(answer.winError == 0 || answer.outputLength == 0);
    const uint8_t* output = reply.data() + sizeof answer;

    const bool changed =
        bus.unplugs != 0 || bus.reinstalls != 0 || bus.Temporal(0) || bus.Temporal(1);
    if (!sound) {
        FUZZ_CHECK(answer.winError == kErrorInvalidParameter);
        FUZZ_CHECK(!changed);
        return 0;
    }
    FUZZ_CHECK(answer.outputLength <= request.outputCapacity);
    // What changes the bus needs a handle opened for writing and a caller
    // the bus trusts.
    if (ChangesState(request.controlCode) && (request.openedForWrite == 0 || caller == kStranger)) {
        FUZZ_CHECK(answer.winError == kErrorAccessDenied);
        FUZZ_CHECK(!changed);
        return 0;
    }
    if (answer.winError != 0 && answer.winError != kErrorInsufficientBuffer)
        FUZZ_CHECK(!changed);

    const bool toBus = target == Target::Bus || target == Target::Interface;
    const uint32_t code = request.controlCode;
    FUZZ_CHECK(bus.unplugs == (toBus && code == IOCTL_OVRIX_UnplugAllVcoms ? 1 : 0));
    FUZZ_CHECK(bus.reinstalls == (toBus && code == IOCTL_OVRIX_ReinstallVbus ? 1 : 0));
    if (target != Target::Port || code != IOCTL_VCOM_OneTimeTemporalLifemode_Enable)
        FUZZ_CHECK(!bus.Temporal(0) && !bus.Temporal(1));
    if (toBus && code == IOCTL_OVRIX_VbusWriteTest && answer.winError != kErrorInsufficientBuffer)
        FUZZ_CHECK((answer.winError == 0) == (caller == kAdministrator));

    if (answer.winError != 0)
        return 0;
    // Texts in answers end inside their fields.
    if (toBus && code == IOCTL_OVRIX_GetVersion)
        FUZZ_CHECK(answer.outputLength == sizeof(VersionInfo));
    if (toBus && code == IOCTL_OVRIX_GetUsbdDevinstpath) {
        FUZZ_CHECK(answer.outputLength >= 2 && answer.outputLength % 2 == 0);
        FUZZ_CHECK(output[answer.outputLength - 1] == 0 && output[answer.outputLength - 2] == 0);
    }
    if (toBus && code == IOCTL_OVRIX_QueryVcomFdoPdo) {
        VcomFdoPdo names;
        FUZZ_CHECK(answer.outputLength == sizeof names);
        std::memcpy(&names, output, sizeof names);
        FUZZ_CHECK(Terminated(names.portName) && Terminated(names.correctLinkTarget) &&
                   Terminated(names.secondDeviceName) && Terminated(names.kernelLinkTarget));
    }
    if (target == Target::Port && code == IOCTL_VCOM_GetDeviceState) {
        DeviceState state;
        FUZZ_CHECK(answer.outputLength == sizeof state);
        std::memcpy(&state, output, sizeof state);
        FUZZ_CHECK(Terminated(state.szVcomDevinstpath) && Terminated(state.szUsbdDevinstpath));
        FUZZ_CHECK(state.isUsbdOnline == (state.szUsbdDevinstpath[0] != u'\0' ? 1u : 0u));
    }
    return 0;
}
