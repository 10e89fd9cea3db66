#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 of IEEE 802.3 / zlib (reflected 0xEDB88320, init and final XOR
// 0xFFFFFFFF). The table is built at program start by BuildCrc32Table, or on
// first use when start-up has not done it.
void BuildCrc32Table();
uint32_t Crc32(const void* bytes, size_t length);
