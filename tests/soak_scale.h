// How much longer the soak tests run than in the test command: the factor in
// SUITE_SOAK_SCALE (bench/soak/run-long.sh sets it), 1 when unset or bad.
#pragma once

#include <cstdlib>

inline int SoakScale() {
    const char* text = std::getenv("SUITE_SOAK_SCALE");
    const long scale = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return scale >= 1 && scale <= 1000 ? static_cast<int>(scale) : 1;
}
