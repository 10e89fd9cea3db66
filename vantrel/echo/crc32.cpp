#include "crc32.h"

#include <array>
#include <mutex>

namespace {

std::array<uint32_t, 256> g_table{};
// g_slices[k][b]: the CRC change of byte b followed by k zero bytes, so eight
// bytes are folded in one step (the echo test checks every chunk three times).
std::array<std::array<uint32_t, 256>, 8> g_slices{};
std::once_flag g_built;

uint32_t Reflect(uint32_t value, int bits) {
    uint32_t out = 0;
    for (int i = 0; i < bits; ++i) {
        if (value & (1u << i))
            out |= 1u << (bits - 1 - i);
    }
    return out;
}

// Each entry comes from the unreflected polynomial, working from the most
// significant bit, on the bit-reversed byte; the result is reversed back so
// the table serves the least-significant-bit-first byte order of the wire.
void FillTable() {
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t reg = Reflect(byte, 8) << 24;
        for (int step = 0; step < 8; ++step) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        }
        g_table[byte] = Reflect(reg, 32);
    }
    g_slices[0] = g_table;
    for (size_t k = 1; k < g_slices.size(); ++k)
        for (uint32_t byte = 0; byte < 256; ++byte) {
            const uint32_t previous = g_slices[k - 1][byte];
            g_slices[k][byte] = (previous >> 8) ^ g_table[previous & 0xFFu];
        }
}

uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

void BuildCrc32Table() {
    std::call_once(g_built, FillTable);
}

uint32_t Crc32(const void* bytes, size_t length) {
    BuildCrc32Table();
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t crc = 0xFFFFFFFFu;
    for (; length >= 8; p += 8, length -= 8) {
        const uint32_t low = crc ^ LoadLe32(p);
        const uint32_t high = LoadLe32(p + 4);
        crc = g_slices[7][low & 0xFFu] ^ g_slices[6][(low >> 8) & 0xFFu] ^
              g_slices[5][(low >> 16) & 0xFFu] ^ g_slices[4][low >> 24] ^
              g_slices[3][high & 0xFFu] ^ g_slices[2][(high >> 8) & 0xFFu] ^
              g_slices[1][(high >> 16) & 0xFFu] ^ g_slices[0][high >> 24];
    }
    for (size_t i = 0; i < length; ++i) {
        crc = (crc >> 8) ^ g_table[(crc ^ p[i]) & 0xFFu];
    }
    return crc ^ 0xFFFFFFFFu;
}
