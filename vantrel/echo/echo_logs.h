// The echo logs: one entry per chunk, each a stamped title line and a hex
// dump of the chunk's bytes addressed by their offset in the stream.
#pragma once

#include <cstdint>

#include "log_file.h"

namespace vantrel::echo {

inline constexpr int32_t kEchoLogBufferBytes = 8192;
inline constexpr int32_t kPartialLogBufferBytes = 4096;
inline constexpr char kPartialLogName[] = "echo_in.partial.log";

struct EchoLogs {
    log::LogFile out;
    log::LogFile in;

    // Opens the out log, then the in log; on failure answers the name of the
    // first one that failed (and leaves neither open), else nullptr.
    const char* Open(const char* outName, const char* inName, bool append);
    void FlushBoth();
    void CloseBoth();
};

// One log entry: "#index: size bytes: note" and the dump of `bytes`.
void LogChunkEntry(log::LogFile& file, uint64_t index, uint32_t size, const char* note,
                   uint64_t streamOffset, int32_t rowWidth, const uint8_t* bytes);

// Hex dump of `count` bytes on the console, rows addressed from `streamOffset`.
void PrintDump(uint64_t streamOffset, int32_t rowWidth, uint32_t count, const uint8_t* bytes);

// Writes the dump of a failed receive to kPartialLogName (truncated).
bool WritePartialDump(uint32_t chunkId, uint32_t requested, uint32_t received,
                      uint64_t streamOffset, int32_t rowWidth, const uint8_t* bytes);

}  // namespace vantrel::echo
