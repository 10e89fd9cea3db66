/* The console's printf-style formatting engine. Usable from C and C++.
 *
 * Output goes to a callback, a bounded buffer, or both (an FmtxSink). Every
 * entry point returns the full length the format produces, whether or not it
 * fitted. The engine allocates nothing and is re-entrant. Besides the usual
 * conversions it knows %w (nested format), %F (call-out), digit grouping
 * (%t %_ %T %D %U), repetition (%n) and a hex dump (%m %M shaped by %k %K %R
 * %r %v %t). */
#ifndef VANTREL_FMTX_FMTX_H
#define VANTREL_FMTX_FMTX_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Receives `length` characters at `text` (not NUL-terminated). Called with
 * length 0 for directives that only change settings; the result is ignored. */
typedef int (*FmtxOutputFn)(void* user, const char* text, int32_t length);

typedef struct FmtxSink {
    FmtxOutputFn output; /* may be null */
    void* user;          /* passed back to output */
    char* buffer;        /* may be null */
    int32_t capacity;    /* characters the buffer may take, NUL included */
} FmtxSink;

#define FMTX_VA_REC_MAGIC 0xEF160913u
#define FMTX_FN_REC_MAGIC 0xEF170321u

/* A format with its argument list, printed by %w. The engine reads the list
 * through a copy, so a record can be printed any number of times. */
typedef struct FmtxVaRec {
    uint32_t magic;
    const char* format;
    va_list* args;
} FmtxVaRec;

/* Writes its text with fmtx_sink_printf on `sink` and returns the count. */
typedef int32_t (*FmtxFnRecFn)(uint64_t user, FmtxSink* sink);

/* A call-out printed by %F. */
typedef struct FmtxFnRec {
    uint32_t magic;
    FmtxFnRecFn fn;
    uint64_t user;
} FmtxFnRec;

void fmtx_va_rec_init(FmtxVaRec* rec, const char* format, va_list* args);
void fmtx_fn_rec_init(FmtxFnRec* rec, FmtxFnRecFn fn, uint64_t user);

int32_t fmtx_vformat(FmtxSink* sink, const char* format, va_list args);
int32_t fmtx_sink_printf(FmtxSink* sink, const char* format, ...);
int32_t fmtx_cb_printf(FmtxOutputFn output, void* user, const char* format, ...);
int32_t fmtx_snprintf(char* buffer, int32_t capacity, const char* format, ...);
int32_t fmtx_vsnprintf(char* buffer, int32_t capacity, const char* format, va_list args);
/* Appends to the text already in `buffer`; returns the total length. */
int32_t fmtx_strcat(char* buffer, int32_t capacity, const char* format, ...);
int32_t fmtx_printf(const char* format, ...);
/* Line end between dump rows: 1 "\r\n", 2 "\r", anything else "\n". */
void fmtx_set_line_end(int style);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_FMTX_FMTX_H */
