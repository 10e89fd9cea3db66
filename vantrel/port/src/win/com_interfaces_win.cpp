// The port listing on Windows: COM-port device interfaces through SetupAPI,
// DOS names through QueryDosDevice, and the virtual bus's interface path.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The SetupAPI headers follow <windows.h>.
#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/ovrix_ioctl.h"
#include "port/com_interfaces.h"
#include "port/win_port.h"

namespace win {
namespace {

// GUID_DEVINTERFACE_COMPORT.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

std::string Narrow(const wchar_t* text) {
    if (text == nullptr || *text == L'\0')
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

// A device-interface set of one class, present devices only; closed on scope exit.
class InterfaceSet {
  public:
    explicit InterfaceSet(const GUID& guid)
        : guid_(guid),
          set_(SetupDiGetClassDevsW(&guid, nullptr, nullptr,
                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~InterfaceSet() {
        if (set_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set_);
    }
    InterfaceSet(const InterfaceSet&) = delete;
    InterfaceSet& operator=(const InterfaceSet&) = delete;

    // The index-th interface's path and device; false past the last one.
    bool Get(DWORD index, std::string& path, SP_DEVINFO_DATA& device) const {
        if (set_ == INVALID_HANDLE_VALUE)
            return false;
        SP_DEVICE_INTERFACE_DATA entry{};
        entry.cbSize = sizeof entry;
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &guid_, index, &entry))
            return false;
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set_, &entry, nullptr, 0, &size, nullptr);
        path.clear();
        device = SP_DEVINFO_DATA{};
        device.cbSize = sizeof device;
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            return true;
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(set_, &entry, detail, size, nullptr, &device))
            path = Narrow(detail->DevicePath);
        return true;
    }

    std::string InstanceId(SP_DEVINFO_DATA& device) const {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (!SetupDiGetDeviceInstanceIdW(set_, &device, id, MAX_DEVICE_ID_LEN + 1, nullptr))
            return {};
        return Narrow(id);
    }

    std::string Service(SP_DEVINFO_DATA& device) const {
        wchar_t text[256] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_SERVICE, nullptr,
                                               reinterpret_cast<BYTE*>(text), sizeof text - 2,
                                               nullptr))
            return {};
        return Narrow(text);
    }

    // A string value of the device's hardware key (PortName, the virtual port's
    // HardwareDevinstpath); empty when missing.
    std::string DeviceValue(SP_DEVINFO_DATA& device, const wchar_t* name) const {
        HKEY key = SetupDiOpenDevRegKey(set_, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            return {};
        wchar_t text[512] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        DWORD type = 0;
        const LSTATUS status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        if (status != 0 || type != REG_SZ)
            return {};
        return Narrow(text);
    }

  private:
    GUID guid_;
    HDEVINFO set_;
};

GUID BusInterfaceGuid() {
    GUID guid{};
    std::wstring text;
    for (const char* c = ovrix::kBusInterfaceClass; *c != '\0'; ++c)
        text.push_back(static_cast<wchar_t>(*c));
    if (CLSIDFromString(text.c_str(), &guid) != NOERROR)
        return GUID{};
    return guid;
}

}  // namespace

std::vector<ComInterface> ListComInterfaces() {
    std::vector<ComInterface> found;
    const InterfaceSet set(kComPortInterface);
    std::string path;
    SP_DEVINFO_DATA device{};
    for (DWORD index = 0; set.Get(index, path, device); ++index) {
        ComInterface port;
        port.instanceId = set.InstanceId(device);
        port.portName = set.DeviceValue(device, L"PortName");
        port.service = set.Service(device);
        port.devicePath = path;
        port.hwDevinstpath = set.DeviceValue(device, L"HardwareDevinstpath");
        found.push_back(port);
    }
    std::sort(found.begin(), found.end(), [](const ComInterface& a, const ComInterface& b) {
        return a.instanceId < b.instanceId;
    });
    return found;
}

std::string QueryDosDeviceTarget(const std::string& name) {
    if (name.empty())
        return {};
    // The first target of the list; the buffer grows while the answer does not fit.
    std::vector<char> buffer(1024);
    for (;;) {
        const DWORD got =
            QueryDosDeviceA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got != 0)
            return std::string(buffer.data());
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 65536)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

const char* VbusInterfacePath() {
    // The text stays valid until this thread asks again.
    static thread_local std::string path;
    path.clear();
    const InterfaceSet set(BusInterfaceGuid());
    SP_DEVINFO_DATA device{};
    set.Get(0, path, device);
    return path.c_str();
}

}  // namespace win
