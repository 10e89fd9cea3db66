#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <zlib.h>
#endif

#include <random>
#include <vector>

#include "chunk.h"
#include "chunk_check.h"
#include "crc32.h"

#ifdef _WIN32
// Windows' own CRC-32 of the same polynomial as zlib's, in place of zlib.
extern "C" DWORD NTAPI RtlComputeCrc32(DWORD initial, const BYTE* data, INT length);
static uint32_t crc32(uint32_t initial, const uint8_t* data, unsigned length) {
    return RtlComputeCrc32(initial, data, static_cast<INT>(length));
}
using uInt = unsigned;
#endif

TEST(Crc32, CheckValueAndAgreesWithZlib) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    std::mt19937 gen(7);
    for (size_t len : {1u, 3u, 255u, 4096u}) {
        std::vector<uint8_t> buf(len);
        for (auto& b : buf)
            b = static_cast<uint8_t>(gen());
        EXPECT_EQ(Crc32(buf.data(), len), crc32(0, buf.data(), static_cast<uInt>(len)));
    }
}

TEST(EchoChunk, BareHeadersTailBytesAndSequenceAcrossChunks) {
    EchoChunkMaker bare(12, 12, 1, std::nullopt);
    uint8_t head[12];
    bare.BuildChunk(5, bare.NextChunkSize(), head);
    auto h = ReadChunkHeader(head);
    EXPECT_EQ(h.chunkid, 5u);
    EXPECT_EQ(h.echolen, 0u);
    EXPECT_EQ(h.crc32, 0u);

    EchoChunkMaker seq(20, 20, 1, 0x11233344u);
    std::vector<uint8_t> a(20), b(20);
    seq.BuildChunk(0, 20, a.data());
    seq.BuildChunk(1, 15, b.data());
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 12, a.end()),
              (std::vector<uint8_t>{0x11, 0x23, 0x33, 0x44, 0x11, 0x23, 0x33, 0x45}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 12, b.begin() + 15),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ReadChunkHeader(a.data()).crc32, Crc32(a.data() + 12, 8));
}

TEST(EchoChunk, HeaderCheckNamesEachFault) {
    struct Case {
        EchoChunkHeader header;
        uint32_t expectedId, chunkMax;
        bool idMatches, lengthFits;
    } cases[] = {
        {{3, 0, 0}, 3, 12, true, true},       // bare header at the smallest maximum
        {{3, 1, 0}, 3, 12, true, false},      // any body exceeds a 12-byte maximum
        {{4, 0, 0}, 3, 12, false, true},      // wrong id is caught without a body too
        {{0, 988, 0}, 0, 1000, true, true},   // the largest body that fits
        {{0, 989, 0}, 0, 1000, true, false},  // one byte over
        {{9, 0xFFFFFFFF, 0}, 0, 16000, false, false},
        {{0, 0, 0}, 0, 5, true, true},  // a maximum below the header admits no body
        {{0, 1, 0}, 0, 5, true, false},
    };
    for (const auto& c : cases) {
        const HeaderCheck check = CheckChunkHeader(c.header, c.expectedId, c.chunkMax);
        EXPECT_EQ(check.idMatches, c.idMatches) << c.header.chunkid << "/" << c.header.echolen;
        EXPECT_EQ(check.lengthFits, c.lengthFits) << c.header.chunkid << "/" << c.header.echolen;
        EXPECT_EQ(check.Good(), c.idMatches && c.lengthFits);
    }
}
