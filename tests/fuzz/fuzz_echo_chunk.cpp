// Echo chunks as they arrive: the 12-byte header read from any bytes, checked
// against the body that follows, and the chunks the sender builds.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <cstring>
#include <optional>
#include <vector>

#include "chunk.h"
#include "chunk_check.h"
#include "crc32.h"
#include "fuzz_check.h"

namespace {

uint32_t ZlibCrc(const uint8_t* bytes, size_t length) {
    return static_cast<uint32_t>(crc32(0L, bytes, static_cast<uInt>(length)));
}

// The receiver's header check: the expected id, and a body that fits the
// largest chunk, header included (computed here without wrap-around).
void CheckHeader(const EchoChunkHeader& header, uint32_t expectedId, uint32_t chunkMax) {
    const HeaderCheck check = CheckChunkHeader(header, expectedId, chunkMax);
    FUZZ_CHECK(check.idMatches == (header.chunkid == expectedId));
    FUZZ_CHECK(check.lengthFits == (uint64_t{header.echolen} + kEchoHeadSize <= chunkMax ||
                                    (chunkMax <= kEchoHeadSize && header.echolen == 0)));
    FUZZ_CHECK(check.Good() == (check.idMatches && check.lengthFits));
}

// A received chunk: header, then the body it announces.
void CheckReceived(const uint8_t* data, size_t size) {
    if (size < kEchoHeadSize)
        return;
    const EchoChunkHeader header = ReadChunkHeader(data);
    uint32_t expectedId = 0;
    uint32_t chunkMax = 0;
    if (size >= kEchoHeadSize + 8) {
        std::memcpy(&expectedId, data + size - 8, 4);
        std::memcpy(&chunkMax, data + size - 4, 4);
    }
    CheckHeader(header, expectedId, chunkMax);
    CheckHeader(header, header.chunkid, chunkMax);
    uint8_t written[kEchoHeadSize];
    WriteChunkHeader(header, written);
    FUZZ_CHECK(std::memcmp(written, data, kEchoHeadSize) == 0);
    const size_t body = size - kEchoHeadSize;
    const bool whole = header.echolen == body;
    if (whole)
        FUZZ_CHECK((Crc32(data + kEchoHeadSize, body) == header.crc32) ==
                   (ZlibCrc(data + kEchoHeadSize, body) == header.crc32));
    FUZZ_CHECK(Crc32(data, size) == ZlibCrc(data, size));
}

// The sender's chunks read back as a receiver would.
void CheckMade(FuzzedDataProvider& input) {
    const uint32_t low = input.ConsumeIntegralInRange<uint32_t>(kEchoHeadSize, 4096);
    const uint32_t high = input.ConsumeIntegralInRange<uint32_t>(low, 8192);
    const uint32_t seed = input.ConsumeIntegral<uint32_t>();
    std::optional<uint32_t> start;
    if (input.ConsumeBool())
        start = input.ConsumeIntegral<uint32_t>();
    EchoChunkMaker maker(low, high, seed, start);
    std::vector<uint8_t> chunk;
    for (uint32_t id = 0; id < 4; ++id) {
        const uint32_t size = maker.NextChunkSize();
        FUZZ_CHECK(size >= low && size <= high);
        chunk.assign(size, 0);
        maker.BuildChunk(id, size, chunk.data());
        const EchoChunkHeader header = ReadChunkHeader(chunk.data());
        FUZZ_CHECK(header.chunkid == id);
        FUZZ_CHECK(header.echolen == size - kEchoHeadSize);
        FUZZ_CHECK(header.crc32 == ZlibCrc(chunk.data() + kEchoHeadSize, header.echolen));
        FUZZ_CHECK(CheckChunkHeader(header, id, high).Good());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckReceived(data, size);
    FuzzedDataProvider input(data, size);
    CheckMade(input);
    return 0;
}
