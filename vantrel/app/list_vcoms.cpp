#include "list_vcoms.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/ovrix_ioctl.h"
#include "fmtx.h"
#include "platform/ascii_case.h"
#include "port/com_interfaces.h"
#include "port/console_keys.h"
#include "port/win_port.h"

namespace vantrel::app {

using namespace win;

namespace {

constexpr char kInstancePrefix[] = "KTR_VBUS\\Ktr_vcom\\";
constexpr size_t kInstancePrefixChars = 18;

std::string Narrow(const char16_t* wide, size_t capacity) {
    std::string text;
    for (size_t index = 0; index < capacity && wide[index]; ++index)
        text += wide[index] < 0x80 ? static_cast<char>(wide[index]) : '?';
    return text;
}

bool SameText(const std::string& a, const std::string& b) {
    return platform::EqualNoCase(a, b);
}

// Asks the bus which device the port's DOS name must point to; false when the
// bus cannot answer (reported when it is too old to know the request).
bool QueryTargets(const std::string& instance, ovrix::VcomFdoPdo& answer) {
    char16_t input[ovrix::kQueryVcomInputBytes / 2] = {};
    for (size_t index = 0; index < instance.size() && index + 1 < std::size(input); ++index)
        input[index] = static_cast<unsigned char>(instance[index]);
    HANDLE bus = CreateFile("\\\\.\\KTR_OVRIX_VBUS", GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (bus == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(bus, ovrix::IOCTL_OVRIX_QueryVcomFdoPdo, input, sizeof input,
                                    &answer, sizeof answer, &returned, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(bus);
    if (error == 1)
        fmtx_printf(
            "    OVRIX kernel does not support IOCTL_OVRIX_QueryVcomFdoPdo, version too old.\n");
    return ok;
}

void CheckSymlink(const ComInterface& port) {
    if (!platform::StartsWithNoCase(port.instanceId, kInstancePrefix)) {
        fmtx_printf("    Unexpect! For %s, VCOM DeviceId does not start with %s\n",
                    port.portName.c_str(), "KTR_VBUS\\Ktr_vcom");
        return;
    }
    ovrix::VcomFdoPdo answer{};
    if (!QueryTargets(port.instanceId.substr(kInstancePrefixChars), answer))
        return;
    const std::string portName = Narrow(answer.portName, std::size(answer.portName));
    const std::string correct =
        Narrow(answer.correctLinkTarget, std::size(answer.correctLinkTarget));
    const std::string kernel = Narrow(answer.kernelLinkTarget, std::size(answer.kernelLinkTarget));
    const std::string present = QueryDosDeviceTarget(portName);
    if (!present.empty() && SameText(present, correct))
        return;
    fmtx_printf("    !!!\n");
    if (present.empty()) {
        fmtx_printf("    Warning: %s symlink is missing from system.\n", portName.c_str());
        fmtx_printf("    * Correct symlink target: %s\n", correct.c_str());
    } else {
        fmtx_printf("    Warning: %s does not point to the correct VCOM device.\n",
                    portName.c_str());
        fmtx_printf("    * Wrong symlink target(session): %s\n", present.c_str());
        if (!SameText(kernel, correct))
            fmtx_printf("    * Wrong symlink target (kernel): %s\n", kernel.c_str());
        fmtx_printf("    * Correct symlink target       : %s\n", correct.c_str());
    }
    fmtx_printf("    -- You may need to reboot Windows to solve this problem.\n");
}

// The property dialog becomes a print of what the system knows of the device.
void ShowDeviceProperties(const ComInterface& port) {
    fmtx_printf("/DeviceID %s\n", port.instanceId.c_str());
    fmtx_printf("    PortName     : %s\n", port.portName.c_str());
    fmtx_printf("    Service      : %s\n", port.service.c_str());
    fmtx_printf("    DOS target   : %s\n", QueryDosDeviceTarget(port.portName).c_str());
    if (!port.hwDevinstpath.empty())
        fmtx_printf("    HwDevinstpath: %s\n", port.hwDevinstpath.c_str());
}

}  // namespace

void ListVcoms(bool print, bool prompt) {
    const std::vector<ComInterface> ports = ListComInterfaces();
    for (size_t index = 0; index < ports.size(); ++index) {
        const ComInterface& port = ports[index];
        const bool ovrixPort = SameText(port.service, ovrix::kServiceName);
        if (print) {
            fmtx_printf("<#%d>\n", static_cast<int>(index + 1));
            if (port.portName.empty())
                fmtx_printf("Warning! No PortName regitem in this VCOM hwkey.\n");
            else
                fmtx_printf("    PortName     : %s  (vantrel \\\\.\\%s)\n", port.portName.c_str(),
                            port.portName.c_str());
            if (!port.service.empty())
                fmtx_printf("  %c Service name : %s\n", ovrixPort ? '*' : ' ',
                            port.service.c_str());
            fmtx_printf("    DevOpenPath  : \"%s\"\n", port.devicePath.c_str());
            fmtx_printf("    Devinstpath  : %s\n", port.instanceId.c_str());
            if (!port.hwDevinstpath.empty())
                fmtx_printf("    HwDevinstpath: %s\n", port.hwDevinstpath.c_str());
        }
        if (ovrixPort)
            CheckSymlink(port);
    }
    if (print)
        fmtx_printf("Total %d VCOM devices found.\n\n", static_cast<int>(ports.size()));
    if (ports.empty() || !print || !prompt)
        return;
    if (ports.size() == 1)
        fmtx_printf("Want to view VCOM device property dialog(input number 1)? ");
    else
        fmtx_printf("Want to view VCOM device property dialog(input number %d-%d)? ", 1,
                    static_cast<int>(ports.size()));
    std::fflush(stdout);
    char line[8] = {};
    ConsoleReadLine(line, sizeof line);
    const long chosen = std::strtol(line, nullptr, 10);
    if (chosen >= 1 && chosen <= static_cast<long>(ports.size()))
        ShowDeviceProperties(ports[static_cast<size_t>(chosen - 1)]);
}

}  // namespace vantrel::app
