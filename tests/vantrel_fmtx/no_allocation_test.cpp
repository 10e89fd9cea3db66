// The engine formats without touching the heap: this program replaces malloc
// and friends with counting versions and formats everything once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "fmtx.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {
thread_local bool t_counting = false;
std::atomic<int> g_allocations{0};

void Count() {
    if (t_counting)
        ++g_allocations;
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}
void free(void* pointer) {
    __libc_free(pointer);
}
}

namespace {

int32_t Stamp(uint64_t user, FmtxSink* sink) {
    return fmtx_sink_printf(sink, "%04llu", static_cast<unsigned long long>(user));
}

int Discard(void*, const char*, int32_t) {
    return 0;
}

int32_t FormatEverything(char* buffer, int32_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FmtxVaRec rec;
    fmtx_va_rec_init(&rec, format, &args);
    FmtxFnRec stamp;
    fmtx_fn_rec_init(&stamp, Stamp, 12);
    unsigned char bytes[300];
    for (int i = 0; i < 300; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    int32_t total = fmtx_snprintf(
        buffer, capacity,
        "%d %5.3u %-#10x %+lld %D %U %p %#P %c %05s %.2s %e %08.3f %g %G %3n %i %% %w %w [%F] "
        "%t%_%llX %T%D %K%k%8.2R%t%4.0v%*M %r%*m",
        -5, 7u, 255u, -9LL, 1234567, 89u, buffer, buffer, 'x', "ab", "abc", 1.5, -2.25, 1e-5, 3e9,
        "ab", &rec, &rec, &stamp, ":", 4, 0xDEADBEEFULL, ".", 7654321, "<>", " ", 16, ".",
        uint64_t{0x1FFF0}, 300, bytes, 0, 5, bytes);
    total += fmtx_cb_printf(Discard, nullptr, "%0300d %w", 1, &rec);
    va_end(args);
    return total;
}

TEST(FmtxNoAllocation, EveryConversionFormatsWithoutTheHeap) {
    static char buffer[8192];
    // Warm up the C library's lazy set-up (locale data) outside the count.
    FormatEverything(buffer, sizeof buffer, "%s %d %f", "x", 1, 0.25);
    t_counting = true;
    int32_t length = FormatEverything(buffer, sizeof buffer, "%s %d %f", "x", 1, 0.25);
    t_counting = false;
    EXPECT_GT(length, 1000);
    EXPECT_EQ(g_allocations.load(), 0);
    // The counter itself works: a plain allocation is seen.
    t_counting = true;
    void* probe = malloc(16);
    t_counting = false;
    free(probe);
    EXPECT_EQ(g_allocations.load(), 1);
}

}  // namespace
