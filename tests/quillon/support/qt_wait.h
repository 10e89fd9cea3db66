// A wait that keeps Qt's events going, for the GUI tests and the layout probe.
#pragma once

#include <functional>

// Processes events until the condition holds; false after `seconds`.
bool WaitUntil(const std::function<bool()>& condition, int seconds = 15);
