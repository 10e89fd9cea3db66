#include "driver_keys.h"

#include <string>

#include "console_log.h"
#include "driver/ovrix_ioctl.h"
#include "fmtx.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "texts.h"

namespace vantrel::app {

using namespace win;

namespace {

const char* LifemodeName(uint32_t value) {
    static const char* const kNames[] = {"Temporal", "Friendly", "Persistent"};
    return value < 3 ? kNames[value] : "Unknown";
}

// Wide text of the driver as narrow text; characters outside ASCII become '?'.
std::string Narrow(const char16_t* wide, size_t capacity) {
    std::string text;
    for (size_t index = 0; index < capacity && wide[index]; ++index)
        text += wide[index] < 0x80 ? static_cast<char>(wide[index]) : '?';
    return text;
}

}  // namespace

uint32_t VbusIoctl(uint32_t code, bool readOnly) {
    const DWORD access = readOnly ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE);
    HANDLE bus = CreateFile("\\\\.\\KTR_OVRIX_VBUS", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
    if (bus == INVALID_HANDLE_VALUE)
        return ERROR_DEVICE_NOT_CONNECTED;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(bus, code, nullptr, 0, nullptr, 0, &returned, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(bus);
    return error;
}

void VbusTest(bool write) {
    const char* name = write ? "IOCTL_OVRIX_VbusWriteTest" : "IOCTL_OVRIX_VbusReadTest";
    const uint32_t result = VbusIoctl(
        write ? ovrix::IOCTL_OVRIX_VbusWriteTest : ovrix::IOCTL_OVRIX_VbusReadTest, !write);
    if (result == 0) {
        log::PrintClockLine("%s returns success.", name);
        return;
    }
    SetLastError(result);
    log::PrintClockLineWinErr(0, "%s fail.", name);
}

void LifemodeKey(HANDLE port, int key) {
    DWORD returned = 0;
    if (key == '|') {
        const char* name = "IOCTL_VCOM_OneTimeTemporalLifemode_Query";
        uint8_t flag = 0;
        if (DeviceIoControl(port, ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Query, nullptr, 0,
                            &flag, 1, &returned, nullptr))
            log::PrintClockLine("%s success. onetime_temporal=%s", name, flag ? "true" : "false");
        else
            log::PrintClockLineWinErr(0, "%s exec fail.", name);
        return;
    }
    const bool enable = key == '<';
    const char* name = enable ? "IOCTL_VCOM_OneTimeTemporalLifemode_Enable"
                              : "IOCTL_VCOM_OneTimeTemporalLifemode_Disable";
    const uint32_t code = enable ? ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable
                                 : ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Disable;
    if (DeviceIoControl(port, code, nullptr, 0, nullptr, 0, &returned, nullptr))
        log::PrintClockLine("%s success.", name);
    else
        log::PrintClockLineWinErr(0, "%s exec fail.", name);
}

void PrintDeviceState(HANDLE port) {
    log::PrintLine("IOCTL_VCOM_GetDeviceState query result:");
    ovrix::DeviceState state{};
    DWORD returned = 0;
    if (!DeviceIoControl(port, ovrix::IOCTL_VCOM_GetDeviceState, nullptr, 0, &state, sizeof state,
                         &returned, nullptr)) {
        log::PrintTickLineWinErr(0, "IOCTL_VCOM_GetDeviceState fails.");
        return;
    }
    FmtxFnRec online;
    FmtxFnRec offline;
    fmtx_fn_rec_init(&online, log::EpochMsecText, state.uemsecUsbdLastOnline);
    fmtx_fn_rec_init(&offline, log::EpochMsecText, state.uemsecUsbdLastOffline);
    log::PrintLine("  .lifemode : %s(%d)", LifemodeName(state.lifemode),
                   static_cast<int>(state.lifemode));
    log::PrintLine("  .isUsbdOnline: %s", state.isUsbdOnline ? "yes" : "no");
    log::PrintLine("  .uemsecUsbdLastOnline : %F", &online);
    log::PrintLine("  .uemsecUsbdLastOffline: %F", &offline);
    log::PrintLine("  .szVcomDevinstpath: %s",
                   Narrow(state.szVcomDevinstpath, ovrix::kDevinstpathChars).c_str());
    log::PrintLine("  .szUsbdDevinstpath: %s",
                   Narrow(state.szUsbdDevinstpath, ovrix::kDevinstpathChars).c_str());
}

}  // namespace vantrel::app
