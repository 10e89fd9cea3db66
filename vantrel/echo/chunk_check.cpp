#include "chunk_check.h"

HeaderCheck CheckChunkHeader(const EchoChunkHeader& header, uint32_t expectedId,
                             uint32_t chunkMax) {
    HeaderCheck check;
    check.idMatches = header.chunkid == expectedId;
    // A maximum below the header size admits no body at all.
    const uint32_t bodyMax = chunkMax > kEchoHeadSize ? chunkMax - kEchoHeadSize : 0;
    check.lengthFits = header.echolen <= bodyMax;
    return check;
}
