#include "crc32.h"

#include <array>
#include <mutex>

namespace {

std::array<uint32_t, 256> g_table{};
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
}

}  // namespace

void BuildCrc32Table() {
    std::call_once(g_built, FillTable);
}

uint32_t Crc32(const void* bytes, size_t length) {
    BuildCrc32Table();
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc = (crc >> 8) ^ g_table[(crc ^ p[i]) & 0xFFu];
    }
    return crc ^ 0xFFFFFFFFu;
}
