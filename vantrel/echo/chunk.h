#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

// Wire format of one echo chunk: a 12-byte header of three unsigned 32-bit
// little-endian fields (chunk id, body length, CRC-32 of the body) followed
// by the body.
constexpr uint32_t kEchoHeadSize = 12;

struct EchoChunkHeader {
    uint32_t chunkid = 0;
    uint32_t echolen = 0;
    uint32_t crc32 = 0;
};

void WriteChunkHeader(const EchoChunkHeader& header, uint8_t* out);
EchoChunkHeader ReadChunkHeader(const uint8_t* in);

// The C runtime's rand: each thread keeps its own state, starting at 1.
class EchoRand {
  public:
    void Seed(uint32_t seed) { state_ = seed; }
    uint32_t Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFFu;
    }

  private:
    uint32_t state_ = 1;
};

// Sender side of one run: draws chunk sizes and fills bodies. With a
// sequence start the body words are a big-endian counter continuing across
// chunks; otherwise they are generator values as little-endian words.
class EchoChunkMaker {
  public:
    EchoChunkMaker(uint32_t chunk_min, uint32_t chunk_max, uint32_t srand_seed,
                   std::optional<uint32_t> start_seq);

    // Next chunk size between the minimum and maximum, header included.
    uint32_t NextChunkSize();
    // Builds header and body of `size` bytes (size >= 12) into `out`.
    void BuildChunk(uint32_t chunkid, uint32_t size, uint8_t* out);

  private:
    void FillBody(uint8_t* body, uint32_t length);

    uint32_t chunk_min_;
    uint32_t chunk_max_;
    EchoRand rand_;
    uint32_t previous_ = 0;
    std::optional<uint32_t> seq_;
};
