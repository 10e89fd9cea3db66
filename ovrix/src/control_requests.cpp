#include "control_requests.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/ovrix_wire.h"
#include "ovrix/version.h"

namespace ovrix::detail {

namespace {

struct Answer {
    uint32_t error = 0;
    std::vector<uint8_t> output;
};

Answer Fail(uint32_t error) {
    return Answer{error, {}};
}

template <typename T>
Answer Output(const T& value) {
    Answer answer;
    answer.output.resize(sizeof value);
    std::memcpy(answer.output.data(), &value, sizeof value);
    return answer;
}

// Copies text into a fixed wide field, always leaving a terminating zero.
template <size_t N>
void PutWide(const std::string& text, char16_t (&field)[N]) {
    size_t count = std::min(text.size(), N - 1);
    for (size_t i = 0; i < count; ++i)
        field[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    field[count] = u'\0';
}

// Wide input up to its zero or its end; units above 0x7F cannot occur in the
// names the bus hands out, so they turn into '?' and simply match nothing.
std::string TakeWide(const uint8_t* input, size_t bytes) {
    std::string text;
    for (size_t i = 0; i + 2 <= bytes; i += 2) {
        char16_t unit;
        std::memcpy(&unit, input + i, 2);
        if (unit == u'\0')
            break;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// "KTR_VBUS\Ktr_vcom\0001" or just "0001" -> "0001".
std::string InstanceName(const std::string& id) {
    size_t slash = id.find_last_of('\\');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

Answer Version() {
    VersionInfo info{};
    info.major = kVersionMajor;
    info.minor = kVersionMinor;
    info.patch = kVersionPatch;
    return Output(info);
}

Answer UsbdDevinstpath(Bus& bus, const std::string& id) {
    VirtualPort* port = bus.FindByInstance(InstanceName(id));
    if (port == nullptr || !port->UsbOnline())
        return Fail(kErrorDeviceNotConnected);
    std::string path = port->UsbDevinstpath();
    Answer answer;
    answer.output.resize((path.size() + 1) * 2, 0);
    for (size_t i = 0; i < path.size(); ++i) {
        char16_t unit = static_cast<unsigned char>(path[i]);
        std::memcpy(answer.output.data() + 2 * i, &unit, 2);
    }
    return answer;
}

Answer QueryVcomFdoPdo(Bus& bus, const std::string& instance) {
    VirtualPort* port = bus.FindByInstance(instance);
    if (port == nullptr)
        return Fail(kErrorFileNotFound);
    VcomFdoPdo reply{};
    PutWide("COM" + std::to_string(port->comNumber), reply.portName);
    // The link target the bus made is the correct one; the same text is what
    // the bus itself holds for the link.
    PutWide(port->pty.slavePath, reply.correctLinkTarget);
    PutWide("\\Device\\Ktr_vcom" + port->instance, reply.secondDeviceName);
    PutWide(port->pty.slavePath, reply.kernelLinkTarget);
    return Output(reply);
}

Answer DeviceStateOf(const VirtualPort& port) {
    DeviceState state{};
    state.lifemode = static_cast<uint32_t>(port.lifemode);
    state.isUsbdOnline = port.UsbOnline() ? 1 : 0;
    state.uemsecUsbdLastOnline = port.lastOnlineMs;
    state.uemsecUsbdLastOffline = port.lastOfflineMs;
    PutWide(port.VcomDevinstpath(), state.szVcomDevinstpath);
    if (!port.usbName.empty())
        PutWide(port.UsbDevinstpath(), state.szUsbdDevinstpath);
    return Output(state);
}

Answer BusRequest(Bus& bus, const ControlRequest& request, uid_t caller) {
    const uint8_t* input = request.input.data();
    size_t inputBytes = request.input.size();
    switch (request.controlCode) {
        case IOCTL_OVRIX_GetVersion:
            return Version();
        case IOCTL_OVRIX_GetUsbdDevinstpath:
            return UsbdDevinstpath(bus, TakeWide(input, inputBytes));
        case IOCTL_OVRIX_QueryVcomFdoPdo:
            return QueryVcomFdoPdo(bus, TakeWide(input, inputBytes));
        case IOCTL_OVRIX_VbusReadTest:
            return Answer{};
        case IOCTL_OVRIX_VbusWriteTest:
            return bus.IsAdministrator(caller) ? Answer{} : Fail(kErrorAccessDenied);
        case IOCTL_OVRIX_UnplugAllVcoms:
            bus.UnplugAll();
            return Answer{};
        case IOCTL_OVRIX_ReinstallVbus:
            bus.Reinstall();
            return Answer{};
        default:
            return Fail(kErrorInvalidFunction);
    }
}

Answer PortRequest(Bus& bus, uint32_t code, const std::string& comName) {
    bool known = code == IOCTL_VCOM_OneTimeTemporalLifemode_Enable ||
                 code == IOCTL_VCOM_OneTimeTemporalLifemode_Disable ||
                 code == IOCTL_VCOM_OneTimeTemporalLifemode_Query ||
                 code == IOCTL_VCOM_GetDeviceState;
    if (!known)
        return Fail(kErrorInvalidFunction);
    VirtualPort* port = bus.FindByComName(comName);
    if (port == nullptr)
        return Fail(kErrorDeviceNotConnected);
    switch (code) {
        case IOCTL_VCOM_OneTimeTemporalLifemode_Enable:
            port->oneTimeTemporal = true;
            return Answer{};
        case IOCTL_VCOM_OneTimeTemporalLifemode_Disable:
            port->oneTimeTemporal = false;
            return Answer{};
        case IOCTL_VCOM_OneTimeTemporalLifemode_Query:
            return Output(static_cast<uint8_t>(port->oneTimeTemporal ? 1 : 0));
        default:
            return DeviceStateOf(*port);
    }
}

std::string PortNameOf(const RequestHeader& header) {
    std::string name;
    for (char16_t unit : header.portName) {
        if (unit == u'\0')
            break;
        name += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return name;
}

Answer Dispatch(const ControlRequest& request, uid_t caller, Bus& bus) {
    // A request that changes the bus needs a handle opened for writing and
    // a sender the bus trusts with its state.
    if (ChangesState(request.controlCode) &&
        (!request.openedForWrite || !bus.MayChangeState(caller)))
        return Fail(kErrorAccessDenied);
    switch (request.target) {
        case Target::Bus:
        case Target::Interface:
            return BusRequest(bus, request, caller);
        case Target::Port:
            return PortRequest(bus, request.controlCode, request.portName);
    }
    return Fail(kErrorInvalidParameter);
}

}  // namespace

ParsedRequest ParseControlRequest(const uint8_t* message, size_t size) {
    ParsedRequest parsed;
    RequestHeader header{};
    if (message == nullptr || size < sizeof header) {
        parsed.error = kErrorInvalidParameter;
        return parsed;
    }
    std::memcpy(&header, message, sizeof header);
    bool knownTarget = header.target == static_cast<uint32_t>(Target::Bus) ||
                       header.target == static_cast<uint32_t>(Target::Interface) ||
                       header.target == static_cast<uint32_t>(Target::Port);
    if (header.magic != kWireMagic || header.inputLength > kMaxPayload ||
        header.inputLength != size - sizeof header || !knownTarget) {
        parsed.error = kErrorInvalidParameter;
        return parsed;
    }
    ControlRequest& request = parsed.request;
    request.controlCode = header.controlCode;
    request.target = static_cast<Target>(header.target);
    request.openedForWrite = header.openedForWrite != 0;
    request.portName = PortNameOf(header);
    request.input.assign(message + sizeof header, message + size);
    request.outputCapacity = header.outputCapacity;
    return parsed;
}

bool ChangesState(uint32_t controlCode) {
    return (RequiredAccess(controlCode) & 2) != 0;
}

std::vector<uint8_t> AnswerRequest(const uint8_t* message, size_t size, uid_t caller, Bus& bus) {
    ParsedRequest parsed = ParseControlRequest(message, size);
    Answer answer = parsed.error != 0 ? Fail(parsed.error) : Dispatch(parsed.request, caller, bus);
    // An output that does not fit the caller's buffer is refused whole, as a
    // buffered request cannot return a part of its fixed layout.
    uint32_t capacity = parsed.error != 0 ? 0 : parsed.request.outputCapacity;
    if (answer.output.size() > std::min<uint32_t>(capacity, kMaxPayload))
        answer = Fail(kErrorInsufficientBuffer);
    ReplyHeader reply{};
    reply.magic = kWireMagic;
    reply.winError = answer.error;
    reply.outputLength = static_cast<uint32_t>(answer.output.size());
    std::vector<uint8_t> bytes(sizeof reply + answer.output.size());
    std::memcpy(bytes.data(), &reply, sizeof reply);
    if (!answer.output.empty())
        std::memcpy(bytes.data() + sizeof reply, answer.output.data(), answer.output.size());
    return bytes;
}

}  // namespace ovrix::detail
