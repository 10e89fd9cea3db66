// ovrixd's version, as its --version line and the driver's version request
// report it.
#pragma once

#include <cstdint>

namespace ovrix {

inline constexpr uint32_t kVersionMajor = 1;
inline constexpr uint32_t kVersionMinor = 0;
inline constexpr uint32_t kVersionPatch = 0;

}  // namespace ovrix
