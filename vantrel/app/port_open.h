// Opening the console's port, with the read-only fallback and the hint for
// names that need the device prefix.
#pragma once

#include "port/win_types.h"

namespace vantrel::app {

// Opens Settings().portPath; prints the failure lines and answers
// INVALID_HANDLE_VALUE when the port cannot be had. Sets the read-only flag
// when only reading was granted.
win::HANDLE OpenPort();
void SuggestPrefix(const char* path);

}  // namespace vantrel::app
