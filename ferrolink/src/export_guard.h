// The boundary of every export: nothing thrown inside the library leaves it.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include "ferrolink/tidestream/tidestream.h"
#include "log_source.h"

namespace ferrolink_guard {

// Logs why an export gave up (level 2, the export's name and the reason).
inline void LogEscaped(const char* exportName, const char* reason) noexcept {
    logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", exportName, reason);
}

// Runs an export's body; an exception ends the call with `failure` and a log
// line instead of crossing the C interface.
template <typename Result, typename Body>
Result Guarded(const char* exportName, Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        LogEscaped(exportName, "out of memory");
    } catch (const std::exception& error) {
        LogEscaped(exportName, error.what());
    } catch (...) {
        LogEscaped(exportName, "unknown exception");
    }
    return failure;
}

// The same for exports without a result.
template <typename Body>
void GuardedVoid(const char* exportName, Body&& body) noexcept {
    Guarded(exportName, 0, [&body] {
        std::forward<Body>(body)();
        return 0;
    });
}

}  // namespace ferrolink_guard
