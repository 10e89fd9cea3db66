// One last error per thread, as Windows keeps it.
#include "port/win_error.h"

namespace win {

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD code) {
    t_lastError = code;
}

}  // namespace win
