// The public entry points around the engine.
#include <cstdio>
#include <cstring>

#include "fmtx.h"

extern "C" {

void fmtx_va_rec_init(FmtxVaRec* rec, const char* format, va_list* args) {
    rec->magic = FMTX_VA_REC_MAGIC;
    rec->format = format;
    rec->args = args;
}

void fmtx_fn_rec_init(FmtxFnRec* rec, FmtxFnRecFn fn, uint64_t user) {
    rec->magic = FMTX_FN_REC_MAGIC;
    rec->fn = fn;
    rec->user = user;
}

int32_t fmtx_sink_printf(FmtxSink* sink, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int32_t produced = fmtx_vformat(sink, format, args);
    va_end(args);
    return produced;
}

int32_t fmtx_cb_printf(FmtxOutputFn output, void* user, const char* format, ...) {
    FmtxSink sink{output, user, nullptr, 0};
    va_list args;
    va_start(args, format);
    int32_t produced = fmtx_vformat(&sink, format, args);
    va_end(args);
    return produced;
}

int32_t fmtx_vsnprintf(char* buffer, int32_t capacity, const char* format, va_list args) {
    FmtxSink sink{nullptr, nullptr, buffer, capacity};
    return fmtx_vformat(&sink, format, args);
}

int32_t fmtx_snprintf(char* buffer, int32_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int32_t produced = fmtx_vsnprintf(buffer, capacity, format, args);
    va_end(args);
    return produced;
}

int32_t fmtx_strcat(char* buffer, int32_t capacity, const char* format, ...) {
    // The existing text is bounded by the capacity so that a buffer without a
    // terminator is never read past its end.
    int existing = (buffer && capacity > 0) ? static_cast<int>(strnlen(buffer, capacity)) : 0;
    va_list args;
    va_start(args, format);
    FmtxVaRec rec;
    fmtx_va_rec_init(&rec, format, &args);
    int32_t produced = fmtx_snprintf(buffer, capacity, "%.*s%w", existing, buffer, &rec);
    va_end(args);
    return produced;
}

static int PrintPiece(void*, const char* text, int32_t length) {
    return std::printf("%.*s", static_cast<int>(length), text);
}

int32_t fmtx_printf(const char* format, ...) {
    FmtxSink sink{PrintPiece, nullptr, nullptr, 0};
    va_list args;
    va_start(args, format);
    int32_t produced = fmtx_vformat(&sink, format, args);
    va_end(args);
    return produced;
}

}  // extern "C"
