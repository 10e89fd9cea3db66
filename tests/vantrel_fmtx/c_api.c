/* The engine's header used from C: records built with C's own va_list. */
#include <stdarg.h>
#include <string.h>

#include "fmtx.h"

static int32_t Stamp(uint64_t user, FmtxSink* sink) {
    return fmtx_sink_printf(sink, "t%u", (unsigned)user);
}

static int32_t NestedInC(char* buffer, int32_t capacity, const char* format, ...) {
    va_list args;
    FmtxVaRec rec;
    FmtxFnRec stamp;
    int32_t length;
    va_start(args, format);
    fmtx_va_rec_init(&rec, format, &args);
    fmtx_fn_rec_init(&stamp, Stamp, 3);
    length = fmtx_snprintf(buffer, capacity, "[%F] %w / %w", &stamp, &rec, &rec);
    va_end(args);
    return length;
}

int32_t fmtx_c_api_sample(char* buffer, int32_t capacity) {
    FmtxSink sink;
    int32_t total;
    memset(&sink, 0, sizeof sink);
    sink.buffer = buffer;
    sink.capacity = capacity;
    total = fmtx_sink_printf(&sink, "%D:", 1234567);
    total += NestedInC(sink.buffer, sink.capacity, "%s%03d", "c", 7);
    return total;
}
