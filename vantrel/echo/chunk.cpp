#include "chunk.h"

#include "crc32.h"

namespace {

void PutLe32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutBe32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

uint32_t GetLe32(const uint8_t* in) {
    return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

}  // namespace

void WriteChunkHeader(const EchoChunkHeader& header, uint8_t* out) {
    PutLe32(out, header.chunkid);
    PutLe32(out + 4, header.echolen);
    PutLe32(out + 8, header.crc32);
}

EchoChunkHeader ReadChunkHeader(const uint8_t* in) {
    return {GetLe32(in), GetLe32(in + 4), GetLe32(in + 8)};
}

EchoChunkMaker::EchoChunkMaker(uint32_t chunk_min, uint32_t chunk_max, uint32_t srand_seed,
                               std::optional<uint32_t> start_seq)
    : chunk_min_(chunk_min), chunk_max_(chunk_max), seq_(start_seq) {
    rand_.Seed(srand_seed);
}

uint32_t EchoChunkMaker::NextChunkSize() {
    const uint32_t r = rand_.Next();
    const uint32_t span = chunk_max_ - chunk_min_ + 1;
    const uint32_t size = chunk_min_ + ((previous_ << 16) | r) % span;
    previous_ = r;
    return size;
}

void EchoChunkMaker::FillBody(uint8_t* body, uint32_t length) {
    const uint32_t words = length / 4;
    for (uint32_t w = 0; w < words; ++w) {
        if (seq_) {
            PutBe32(body + 4 * w, (*seq_)++);
        } else {
            PutLe32(body + 4 * w, rand_.Next());
        }
    }
    for (uint32_t i = words * 4; i < length; ++i)
        body[i] = 0xFF;
}

void EchoChunkMaker::BuildChunk(uint32_t chunkid, uint32_t size, uint8_t* out) {
    const uint32_t echolen = size - kEchoHeadSize;
    FillBody(out + kEchoHeadSize, echolen);
    WriteChunkHeader({chunkid, echolen, Crc32(out + kEchoHeadSize, echolen)}, out);
}
