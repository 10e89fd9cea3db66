#include <windows.h>

#include <algorithm>
#include <string>

#include "com_ports.h"
#include "platform/com_name.h"

namespace tidestream {

std::vector<unsigned> ListSerialCommPorts() {
    std::vector<unsigned> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        // A value too long for a COM name is no COM name.
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        std::string text;
        for (size_t i = 0; i < dataSize / sizeof(wchar_t) && data[i] != L'\0'; ++i)
            text.push_back(data[i] < 0x80 ? static_cast<char>(data[i]) : '?');
        if (auto number = platform::ParseComName(text))
            ports.push_back(*number);
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

}  // namespace tidestream
