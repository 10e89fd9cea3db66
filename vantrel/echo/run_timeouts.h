// The port time-outs a run asks for, in milliseconds as the command line gives
// them (-1 stands for MAXDWORD): the console's run settings hold them, and an
// echo run takes them over.
#pragma once

#include <cstdint>

namespace vantrel::echo {

struct RunTimeouts {
    int32_t rtoInterval = 0;
    int32_t rtoMultiplier = 0;
    int32_t rtoConstant = 0;
    int32_t wtoMultiplier = 0;
    int32_t wtoConstant = 0;
    bool wtocGiven = false;  // the write constant applies only when given
};

}  // namespace vantrel::echo
