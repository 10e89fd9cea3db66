#include "port_open.h"

#include <cstdio>
#include <cstdlib>

#include "console_log.h"
#include "platform/ascii_case.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "settings.h"

namespace vantrel::app {

using namespace win;

namespace {

HANDLE OpenWith(const char* path, DWORD access) {
    return CreateFile(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

void SuggestPrefix(const char* path) {
    if (!platform::StartsWithNoCase(path, "COM"))
        return;
    if (std::strtol(path + 3, nullptr, 10) > 8)
        std::printf("Did you forget to add extra prefix for %s ? Try \\\\.\\%s instead.\n", path,
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
        log::PrintLineWinErr(0, "CreateFile('%s') fail.", s.portPath);
        if (error == ERROR_FILE_NOT_FOUND)
            SuggestPrefix(s.portPath);
        return INVALID_HANDLE_VALUE;
    }
    port = OpenWith(s.portPath, GENERIC_READ);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD again = GetLastError();
        log::PrintLineWinErr(0, "CreateFile('%s') fail -- even request read-only.", s.portPath);
        if (again == ERROR_ACCESS_DENIED)
            std::printf("Please check whether it is occupied by another program.\n");
        return INVALID_HANDLE_VALUE;
    }
    s.readOnly = true;
    return port;
}

}  // namespace vantrel::app
