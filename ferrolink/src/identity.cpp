// Rewriting a scanner's product name, serial numbers and device information.
#include "ferrolink/identity.h"
#include "export_guard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "command_link.h"
#include "ferrolink/commands.h"
#include "ferrolink/discovery.h"
#include "identity_parts.h"
#include "split_text.h"

using ferrolink_ops::PerCallLink;

namespace {

void SendText(CCmdSend& sender, PerCallLink& link, const std::string& command) {
    char text[1024] = {};
    std::snprintf(text, sizeof(text), "%s", command.c_str());
    int count = 0;
    sender.SendFramed(link.Get(), text, &count);
}

// PINFEN1 enables editing, then the edit command with the new text. The
// replies are not examined, but a device that went away before the edit
// command could go out has not been sent the commands.
int EditIdentity(const _QVDeviceInfo* pDevice, const char* editCommand, const char* text) {
    if (text == nullptr)  // no new text: the device keeps its own
        return 0;
    PerCallLink link(pDevice);
    if (!link.Made() || !link.Open())
        return 0;
    CCmdSend sender;
    SendText(sender, link, "PINFEN1");
    const bool editSent = IsUsable(link.Get());
    SendText(sender, link, std::string(editCommand) + text);
    link.Close(100);
    return editSent ? 1 : 0;
}

// Runs discovery; the single attached scanner, or false when none or several.
bool FindSingleScanner(_QVDeviceInfo* devices, int count) {
    std::memset(static_cast<void*>(devices), 0, sizeof(_QVDeviceInfo) * 10);
    return qv_GetDevice(devices, count) == 1;
}

}  // namespace

// The serial part of an identification text: after "Serial Number:" up to two
// characters before "OEM Serial Number:" (its line end). Empty when a label is
// missing or the labels leave no room; at most 259 characters.
std::string SerialPartOf(const std::string& identification) {
    const size_t serial = identification.find("Serial Number:");
    const size_t oem = identification.find("OEM Serial Number:");
    if (serial == std::string::npos || oem == std::string::npos)
        return {};
    const size_t begin = serial + 14;
    if (oem < begin + 2)
        return {};
    return identification.substr(begin, std::min<size_t>(oem - begin - 2, 259));
}

// Makes the new device information from a QRYESN reply and the mode: the first
// piece without its first 13 characters, the second piece and the mode. Empty
// when the reply does not split into exactly three pieces at ':'.
std::string DeviceInfoWithMode(const std::string& reply, const std::string& mode) {
    const std::vector<std::string> pieces = SplitText(reply, ":");
    if (pieces.size() != 3)
        return {};
    const std::string first = pieces[0].size() > 13 ? pieces[0].substr(13) : std::string();
    return first + ":" + pieces[1] + ":" + mode;
}

extern "C" {

static int SetDevicePDNBody(const _QVDeviceInfo* pDevice, const char* szProductName) {
    return EditIdentity(pDevice, "PDNEDT", szProductName);
}

static int SetDeviceSNBody(const _QVDeviceInfo* pDevice, const char* szSerialNumber) {
    return EditIdentity(pDevice, "PSNEDT", szSerialNumber);
}

static int SetDeviceBSNBody(const _QVDeviceInfo* pDevice) {
    PerCallLink link(pDevice);
    if (!link.Made() || !link.Open())
        return 0;
    CCmdSend sender;
    // The identification text is asked for here, so the serial part is read
    // from this device's own answer rather than from an empty buffer.
    SendText(sender, link, "@QRYSYS,PDN,PSN");
    const std::string identification = ferrolink_ops::ReplyText(sender);
    if (identification.find("OEM Serial Number:") == std::string::npos) {
        link.Close(100);  // no identification: nothing sensible to write
        return 0;
    }
    const std::string serial = SerialPartOf(identification);
    if (!serial.empty() && serial.back() == 'D') {
        link.Close(100);
        return 2;
    }
    SendText(sender, link, "BPINFE1");
    SendText(sender, link, "BSNEDT" + serial + "D");
    link.Close(100);
    return 1;
}

static int setDeviceInfoBody(const char* szFirst, const char* szSecond, const char* szThird) {
    // A missing part would write a damaged value over the device's own.
    if (szFirst == nullptr || szSecond == nullptr || szThird == nullptr)
        return 0;
    const std::string value = std::string(szFirst) + ":" + szSecond + ":" + szThird;
    _QVDeviceInfo devices[10];
    if (!FindSingleScanner(devices, 9))
        return 0;
    return SendCmdClave(&devices[0], value.c_str());
}

static int changeDevModeBody(const char* szMode) {
    if (szMode == nullptr)
        return 0;
    _QVDeviceInfo devices[10];
    if (!FindSingleScanner(devices, 10))
        return 0;
    std::string reply;
    {
        PerCallLink link(&devices[0]);
        if (!link.Made() || !link.Open())
            return 0;
        CCmdSend sender;
        SendText(sender, link, "QRYESN");
        reply = ferrolink_ops::ReplyText(sender);
        link.Close(100);
    }
    const std::string value = DeviceInfoWithMode(reply, szMode);
    if (value.empty())
        return 0;
    return SendCmdClave(&devices[0], value.c_str());
}

static const char* GetSNBody(void) {
    static _QVDeviceInfo* devices = [] {
        auto* array = new _QVDeviceInfo[10];
        std::memset(static_cast<void*>(array), 0, sizeof(_QVDeviceInfo) * 10);
        return array;
    }();
    static std::mutex discoveryMutex;
    std::lock_guard<std::mutex> lock(discoveryMutex);
    std::memset(static_cast<void*>(devices), 0, sizeof(_QVDeviceInfo) * 10);
    if (qv_GetDevice(devices, 10) != 1)
        return "";
    devices[0].szSerialNumber[sizeof(devices[0].szSerialNumber) - 1] = '\0';
    return devices[0].szSerialNumber;
}

}  // extern "C"

extern "C" int SetDevicePDN(const _QVDeviceInfo* pDevice, const char* szProductName) {
    return ferrolink_guard::Guarded("SetDevicePDN", 0,
                                    [&] { return SetDevicePDNBody(pDevice, szProductName); });
}

extern "C" int SetDeviceSN(const _QVDeviceInfo* pDevice, const char* szSerialNumber) {
    return ferrolink_guard::Guarded("SetDeviceSN", 0,
                                    [&] { return SetDeviceSNBody(pDevice, szSerialNumber); });
}

extern "C" int SetDeviceBSN(const _QVDeviceInfo* pDevice) {
    return ferrolink_guard::Guarded("SetDeviceBSN", 0, [&] { return SetDeviceBSNBody(pDevice); });
}

extern "C" int setDeviceInfo(const char* szFirst, const char* szSecond, const char* szThird) {
    return ferrolink_guard::Guarded("setDeviceInfo", 0,
                                    [&] { return setDeviceInfoBody(szFirst, szSecond, szThird); });
}

extern "C" int changeDevMode(const char* szMode) {
    return ferrolink_guard::Guarded("changeDevMode", 0, [&] { return changeDevModeBody(szMode); });
}

extern "C" const char* GetSN(void) {
    return ferrolink_guard::Guarded("GetSN", static_cast<const char*>(""),
                                    [&] { return GetSNBody(); });
}
