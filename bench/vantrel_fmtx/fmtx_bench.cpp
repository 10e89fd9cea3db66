// The engine against the C library's snprintf over the same mixed formats,
// and the hex dump of 1 MiB in rows of 16. Compare Mixed/Fmtx with
// Mixed/Glibc in one run: the engine should stay within 1.5 times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "fmtx.h"

namespace {

// Formats both implementations understand the same way.
template <typename Print>
void MixedFormats(char* buffer, int size, int i, Print print) {
    print(buffer, size, "%d", i);
    print(buffer, size, "%5.3d|%-8s|%#x", i, "name", static_cast<unsigned>(i) * 2654435761u);
    print(buffer, size, "port %s opened at %u baud, %d bytes", "COM3", 115200u, i & 4095);
    print(buffer, size, "%08X %llu %c", static_cast<unsigned>(i), 1ULL << 40 | i, 'A' + (i & 15));
    print(buffer, size, "[%10s] [%-10s] %.3s", "right", "left", "truncate");
    print(buffer, size, "%lld", -1234567890123LL - i);
    print(buffer, size, "%o %+d % d", static_cast<unsigned>(i), i, -i);
    print(buffer, size, "%.2f MB/s", i * 0.001);
    print(buffer, size, "plain text line without any directives, of a typical length");
}

void Mixed_Fmtx(benchmark::State& state) {
    char buffer[256];
    int i = 0;
    for (auto _ : state) {
        MixedFormats(buffer, sizeof buffer, i++, [](char* b, int n, const char* f, auto... args) {
            benchmark::DoNotOptimize(fmtx_snprintf(b, n, f, args...));
        });
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Mixed_Fmtx);

void Mixed_Glibc(benchmark::State& state) {
    char buffer[256];
    int i = 0;
    for (auto _ : state) {
        MixedFormats(buffer, sizeof buffer, i++, [](char* b, int n, const char* f, auto... args) {
            benchmark::DoNotOptimize(std::snprintf(b, static_cast<size_t>(n), f, args...));
        });
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Mixed_Glibc);

constexpr int kDumpBytes = 1 << 20;

void HexDump_1MiB_Rows16(benchmark::State& state) {
    std::vector<unsigned char> bytes(kDumpBytes);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131);
    std::vector<char> out(5 * kDumpBytes);
    for (auto _ : state) {
        int32_t length =
            fmtx_snprintf(out.data(), static_cast<int32_t>(out.size()), "%k%0.*R%t%4.0v%*m", " ", 0,
                          16, ".", uint64_t{0}, kDumpBytes, bytes.data());
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kDumpBytes});
}
BENCHMARK(HexDump_1MiB_Rows16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
