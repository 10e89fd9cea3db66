// Names of Windows error codes and the size, rate and time-out renderers.
#include <cstdint>

#include "port/win_port_errors.h"
#include "texts.h"

namespace vantrel::log {

namespace {

struct NamedCode {
    uint32_t code;
    const char* name;
};

constexpr NamedCode kWinErrNames[] = {
    {win::ERROR_SUCCESS, "ERROR_SUCCESS"},
    {win::ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION"},
    {win::ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {win::ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
    {win::ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {win::ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {win::ERROR_NOT_READY, "ERROR_NOT_READY"},
    {win::ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED"},
    {win::ERROR_IO_PENDING, "ERROR_IO_PENDING"},
    {win::ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
    {win::ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY"},
    {win::ERROR_BAD_COMMAND, "ERROR_BAD_COMMAND"},
    {win::ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {win::ERROR_TIMEOUT, "ERROR_TIMEOUT"},
    {win::ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED"},
    {win::ERROR_DEV_NOT_EXIST, "ERROR_DEV_NOT_EXIST"},
    {win::ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
    {win::ERROR_NOACCESS, "ERROR_NOACCESS"},
    {win::ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE"},
    {win::ERROR_SEM_TIMEOUT, "ERROR_SEM_TIMEOUT"},
    {win::ERROR_INVALID_NAME, "ERROR_INVALID_NAME"},
};

}  // namespace

const char* WinErrName(uint32_t code) {
    for (const NamedCode& entry : kWinErrNames)
        if (entry.code == code)
            return entry.name;
    return "UnknownWinErrCode";
}

std::string SizeText(uint64_t value, const char* unit) {
    char text[64];
    if (value >= 1000000000u)
        fmtx_snprintf(text, sizeof text, "%.2f G%s", static_cast<double>(value) / 1e9, unit);
    else if (value >= 1000000u)
        fmtx_snprintf(text, sizeof text, "%.2f M%s", static_cast<double>(value) / 1e6, unit);
    else if (value < 1000u)
        fmtx_snprintf(text, sizeof text, "%d %s", static_cast<int>(value), unit);
    else
        fmtx_snprintf(text, sizeof text, "%.2f K%s", static_cast<double>(value) / 1000, unit);
    return text;
}

std::string RateText(uint64_t bytes, uint64_t milliseconds) {
    // A zero duration would divide by zero; and bytes * 1000 must not wrap.
    if (milliseconds == 0)
        milliseconds = 1;
    unsigned __int128 perSecond = static_cast<unsigned __int128>(bytes) * 1000 / milliseconds;
    uint64_t rate = perSecond > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(perSecond);
    return SizeText(rate, "B/s");
}

std::string TimeoutText(uint32_t value) {
    switch (value) {
        case 0xFFFFFFFFu:
            return "MAXDWORD";
        case 0xFFFFFFFEu:
            return "MAXDWORD-1";
        case 0xFFFFFFFDu:
            return "MAXDWORD-2";
        default: {
            char text[16];
            fmtx_snprintf(text, sizeof text, "%u", value);
            return text;
        }
    }
}

}  // namespace vantrel::log
