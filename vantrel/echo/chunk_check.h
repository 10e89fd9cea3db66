// Checks of a received chunk header against what the receiver expects.
#pragma once

#include <cstdint>

#include "chunk.h"

struct HeaderCheck {
    bool idMatches = false;
    bool lengthFits = false;
    bool Good() const { return idMatches && lengthFits; }
};

// The id must be the expected one and the body must fit a chunk of at most
// `chunkMax` bytes, header included. Both checks always run.
HeaderCheck CheckChunkHeader(const EchoChunkHeader& header, uint32_t expectedId, uint32_t chunkMax);
