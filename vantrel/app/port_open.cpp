#include "port_open.h"

#include <cstdio>
#include <cstdlib>

#include "console_log.h"
#include "platform/ascii_case.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "settings.h"
#include "texts.h"

namespace vantrel::app {

using namespace win;

namespace {

// The reason in words, for the open failures a user meets.
const char* Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such port or device";
        case ERROR_ACCESS_DENIED:
            return "permission denied, or the port is in use";
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return "the device is not connected";
        case ERROR_INVALID_NAME:
            return "not a valid port name";
        default:
            return "the port cannot be opened";
    }
}

HANDLE OpenWith(const char* path, DWORD access) {
    return CreateFile(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

void SuggestPrefix(const char* path) {
    if (!platform::StartsWithNoCase(path, "COM"))
        return;
    if (std::strtol(path + 3, nullptr, 10) > 8)
        ErrorLine("Did you forget to add extra prefix for %s ? Try \\\\.\\%s instead.\n", path,
                  path);
}

HANDLE OpenPort() {
    RunSettings& s = Settings();
    const DWORD access = s.readOnly ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE);
    HANDLE port = OpenWith(s.portPath, access);
    if (port != INVALID_HANDLE_VALUE)
        return port;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) {
        ErrorLine("CreateFile('%s') fail. WinErr=%u(%s): %s\n", s.portPath,
                  static_cast<unsigned>(error), log::WinErrName(error), Reason(error));
        if (error == ERROR_FILE_NOT_FOUND)
            SuggestPrefix(s.portPath);
        return INVALID_HANDLE_VALUE;
    }
    port = OpenWith(s.portPath, GENERIC_READ);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD again = GetLastError();
        ErrorLine("CreateFile('%s') fail -- even request read-only. WinErr=%u(%s): %s\n",
                  s.portPath, static_cast<unsigned>(again), log::WinErrName(again), Reason(again));
        if (again == ERROR_ACCESS_DENIED)
            ErrorLine("Please check whether it is occupied by another program.\n");
        return INVALID_HANDLE_VALUE;
    }
    s.readOnly = true;
    return port;
}

}  // namespace vantrel::app
