#include "port_setup.h"

#include <cstdio>

#include "console_log.h"
#include "port/win_port.h"
#include "settings.h"

namespace vantrel::app {

using namespace win;

void ApplyCommTimeouts(HANDLE port) {
    const RunSettings& s = Settings();
    // -1 in the settings is MAXDWORD: the conversion to DWORD keeps the bits.
    COMMTIMEOUTS timeouts{
        static_cast<DWORD>(s.timeouts.rtoInterval), static_cast<DWORD>(s.timeouts.rtoMultiplier),
        static_cast<DWORD>(s.timeouts.rtoConstant), static_cast<DWORD>(s.timeouts.wtoMultiplier),
        static_cast<DWORD>(s.timeouts.wtoConstant)};
    log::PrintTickLineWinErr(SetCommTimeouts(port, &timeouts), "SetCommTimeouts fail.");
}

void MySetBaudrate(HANDLE port, int baudrate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        log::PrintTickLineWinErr(0, "In MySetBaudrate(), GetCommState() fail.");
        return;
    }
    dcb.BaudRate = static_cast<DWORD>(baudrate);
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = NOPARITY;
    if (SetCommState(port, &dcb)) {
        std::printf("SetCommState() .Baudrate=%d Success\n", baudrate);
        return;
    }
    log::PrintTickLineWinErr(0, "In MySetBaudrate(), setting baudrate=%d, SetCommState() fails.",
                             baudrate);
}

}  // namespace vantrel::app
