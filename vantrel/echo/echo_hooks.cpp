#include "echo_config.h"
#include "echo_manual.h"
#include "port/console_keys.h"
#include "start_thread.h"

#include <cstdio>

namespace vantrel::echo {

ConsoleHooks CompleteHooks(ConsoleHooks hooks) {
    if (!hooks.keyWaiting)
        hooks.keyWaiting = [] { return win::ConsoleKeyWaiting(); };
    if (!hooks.readKey)
        hooks.readKey = [] {
            std::fflush(stdout);
            return win::ConsoleReadKey();
        };
    if (!hooks.clearCommData)
        hooks.clearCommData = [](win::HANDLE, uint32_t) {};
    if (!hooks.setCtsFlow)
        hooks.setCtsFlow = [](win::HANDLE, bool) {};
    if (!hooks.applyCommTimeouts)
        hooks.applyCommTimeouts = [](win::HANDLE) {};
    if (!hooks.startThread)
        hooks.startThread = log::StartThread;
    return hooks;
}

void WaitForZeroKey(const ConsoleHooks& hooks) {
    for (;;) {
        const int key = hooks.readKey();
        if (key == '0' || key < 0)
            return;
    }
}

}  // namespace vantrel::echo
