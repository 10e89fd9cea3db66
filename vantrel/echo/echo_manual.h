// Manual intervention after an echo error: a framed notice, then the
// console waits for key '0'.
#pragma once

#include "echo_config.h"

namespace vantrel::echo {

inline constexpr char kInterventionRow[] =
    "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!";
static_assert(sizeof kInterventionRow == 57);

// Reads keys until '0' comes (or the input ends).
void WaitForZeroKey(const ConsoleHooks& hooks);

}  // namespace vantrel::echo
