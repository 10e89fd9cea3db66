// Repeated open and close of the port, each timed (key T at the exit).
#pragma once

namespace vantrel::app {

void TimeOpenClose(const char* path, int count);
// Asks how many times, starting from `count`; an empty line keeps it.
int AskRepeatCount(int count);

}  // namespace vantrel::app
