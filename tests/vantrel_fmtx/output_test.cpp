// Where text goes: truncation, sinks that append, callback pieces, nested
// formats, call-outs, appending to a buffer and standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "format_helpers.h"
#include "support/stdout_capture.h"

namespace {

struct Recorder {
    std::vector<std::string> pieces;
    std::string Joined() const {
        std::string all;
        for (const std::string& piece : pieces)
            all += piece;
        return all;
    }
};

int Record(void* user, const char* text, int32_t length) {
    static_cast<Recorder*>(user)->pieces.emplace_back(text, static_cast<size_t>(length));
    return 0;
}

TEST(FmtxOutput, TruncationKeepsTheFullLengthAndTerminates) {
    struct Case {
        int32_t capacity;
        const char* stored;  // null: buffer untouched
    };
    for (const Case& c : {Case{4, "abc"}, Case{1, ""}, Case{7, "abcdef"}, Case{6, "abcde"},
                          Case{0, nullptr}, Case{-5, nullptr}}) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(fmtx_snprintf(buffer, c.capacity, "abcdef"), 6) << c.capacity;
        if (c.stored) {
            EXPECT_STREQ(buffer, c.stored) << c.capacity;
        } else {
            EXPECT_EQ(buffer[0], '#') << c.capacity;
        }
        EXPECT_EQ(buffer[c.capacity > 0 ? c.capacity : 0], '#') << "wrote past the capacity";
    }
    // Cut inside fill runs, zeros, nested output and dumps alike.
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(fmtx_snprintf(buffer, 5, "%08d", 42), 8);
    EXPECT_STREQ(buffer, "0000");
    const unsigned char bytes[] = {1, 2, 3, 4};
    EXPECT_EQ(fmtx_snprintf(buffer, 5, "%k%*m", " ", 4, bytes), 11);
    EXPECT_STREQ(buffer, "01 0");
    EXPECT_EQ(buffer[5], '#');
}

TEST(FmtxOutput, SinkAdvancesSoCallsAppend) {
    char buffer[10];
    FmtxSink sink{nullptr, nullptr, buffer, sizeof buffer};
    EXPECT_EQ(fmtx_sink_printf(&sink, "%d", 1234), 4);
    EXPECT_EQ(fmtx_sink_printf(&sink, "-%s", "abc"), 4);
    EXPECT_EQ(sink.buffer, buffer + 8);
    EXPECT_EQ(sink.capacity, 2);
    EXPECT_STREQ(buffer, "1234-abc");
    EXPECT_EQ(fmtx_sink_printf(&sink, "xyz"), 3);
    EXPECT_EQ(sink.capacity, -1);
    EXPECT_STREQ(buffer, "1234-abcx");
    EXPECT_EQ(fmtx_sink_printf(&sink, "more"), 4);
    EXPECT_STREQ(buffer, "1234-abcx");
}

TEST(FmtxOutput, CallbackGetsPiecesAndEmptyNoticesForSettings) {
    Recorder recorder;
    char buffer[64];
    FmtxSink sink{Record, &recorder, buffer, sizeof buffer};
    int32_t length = fmtx_sink_printf(&sink, "a%tb%6dc%n%k", ",", 1234, "", " ");
    EXPECT_EQ(length, 9);
    EXPECT_STREQ(buffer, "ab 1,234c");
    EXPECT_EQ(recorder.Joined(), "ab 1,234c");
    std::vector<std::string> expected = {"a", "", "b", " ", "1,234", "c", "", ""};
    EXPECT_EQ(recorder.pieces, expected);

    // Fill runs reach the callback in pieces of at most 100 characters.
    Recorder runs;
    EXPECT_EQ(fmtx_cb_printf(Record, &runs, "%250d%0250d", 1, 2), 500);
    EXPECT_EQ(runs.Joined(), std::string(249, ' ') + "1" + std::string(249, '0') + "2");
    for (const std::string& piece : runs.pieces)
        EXPECT_LE(piece.size(), 100u);
    EXPECT_GE(runs.pieces.size(), 8u);
}

std::string ViaRecord(const char* outer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FmtxVaRec rec;
    fmtx_va_rec_init(&rec, format, &args);
    std::string text = Format(outer, &rec, &rec);
    va_end(args);
    return text;
}

// Hands a record of the given format and arguments to `use`.
template <typename Use>
std::string WithRecord(Use use, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FmtxVaRec rec;
    fmtx_va_rec_init(&rec, format, &args);
    std::string text = use(&rec);
    va_end(args);
    return text;
}

std::string ViaFormatAndList(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Format("<%w>%d", format, &args, 9);
    va_end(args);
    return text;
}

TEST(FmtxOutput, NestedFormatsReadTheirListThroughACopy) {
    EXPECT_EQ(ViaRecord("%w|%w", "x=%d %s", 5, "five"), "x=5 five|x=5 five");
    EXPECT_EQ(ViaRecord("[%w][%.0w]", "%t%d %f", ",", 1234567, 0.5),
              "[1,234,567 0.500000][1,234,567 0.500000]");
    EXPECT_EQ(ViaFormatAndList("%s-%d", "a", 7), "<a-7>9");
    // Settings of the outer call do not reach the nested one, nor back.
    EXPECT_EQ(WithRecord([](FmtxVaRec* rec) { return Format("%t%w %d", ",", rec, 7654321); }, "%d",
                         1234567),
              "1234567 7,654,321");
    EXPECT_EQ(WithRecord([](FmtxVaRec* rec) { return Format("%w %d", rec, 7654321); }, "%t%d", ",",
                         1234567),
              "1,234,567 7654321");
    // A short format string in place of a record is not mistaken for one.
    EXPECT_EQ(ViaFormatAndList(""), "<>9");
}

int32_t IntoBuffer(char* buffer, int32_t capacity, const char* outer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FmtxVaRec rec;
    fmtx_va_rec_init(&rec, format, &args);
    int32_t length = fmtx_snprintf(buffer, capacity, outer, &rec);
    va_end(args);
    return length;
}

TEST(FmtxOutput, NestedOutputIsCutByTheOuterBuffer) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(IntoBuffer(buffer, 6, "ab%wcd", "123%s", "456"), 10);
    EXPECT_STREQ(buffer, "ab123");
    EXPECT_EQ(buffer[6], '#');
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(IntoBuffer(buffer, 4, "abcde%wf", "1%d3", 2), 9);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');
}

int32_t PrintUser(uint64_t user, FmtxSink* sink) {
    // The text before the call-out is already terminated in the buffer.
    if (sink->buffer && sink->capacity > 0) {
        EXPECT_EQ(sink->buffer[0], '\0');
    }
    return fmtx_sink_printf(sink, "<%llu>", static_cast<unsigned long long>(user));
}

int32_t Negative(uint64_t, FmtxSink*) {
    return -4;
}

TEST(FmtxOutput, CallOutsPrintThroughTheSubSink) {
    FmtxFnRec rec;
    fmtx_fn_rec_init(&rec, PrintUser, 77);
    EXPECT_EQ(Format("a%Fb", &rec), "a<77>b");
    char small[5];
    EXPECT_EQ(fmtx_snprintf(small, sizeof small, "ab%Fcd", &rec), 8);
    EXPECT_STREQ(small, "ab<7");

    FmtxFnRec negative;
    fmtx_fn_rec_init(&negative, Negative, 0);
    EXPECT_EQ(Format("a%Fb", &negative), "ab");
    FmtxFnRec wrongMagic = rec;
    wrongMagic.magic ^= 1;
    FmtxFnRec noFunction;
    fmtx_fn_rec_init(&noFunction, nullptr, 1);
    // The argument is consumed either way.
    EXPECT_EQ(Format("%F%d%F%d", &wrongMagic, 1, &noFunction, 2), "12");
}

TEST(FmtxOutput, StrcatAppendsAndReturnsTheTotal) {
    char buffer[10] = "abc";
    EXPECT_EQ(fmtx_strcat(buffer, sizeof buffer, "%d", 12345), 8);
    EXPECT_STREQ(buffer, "abc12345");
    EXPECT_EQ(fmtx_strcat(buffer, sizeof buffer, "%s", "xyz"), 11);
    EXPECT_STREQ(buffer, "abc12345x");
    // A buffer without a terminator is read only up to its capacity.
    char full[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(fmtx_strcat(full, sizeof full, "!"), 5);
    EXPECT_EQ(std::string(full), "wxy");
}

TEST(FmtxOutput, PrintfWritesToStandardOutput) {
    int32_t length = 0;
    const std::string text = support::CaptureStdout(
        [&] { length = fmtx_printf("%s=%D;%*m", "n", 1234567, 2, "\x01\x02"); });
    EXPECT_EQ(text, "n=1 234 567;0102");
    EXPECT_EQ(length, 16);
}

TEST(FmtxOutput, ThreadsFormatAtTheSameTime) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                char buffer[64];
                char expected[64];
                fmtx_snprintf(buffer, sizeof buffer, "%_%t%d|%k%*m", t + 1, ",", i * 1000 + t, "-",
                              2, "\x10\x20");
                std::string digits = std::to_string(i * 1000 + t);
                std::string grouped;
                for (size_t k = 0; k < digits.size(); ++k) {
                    if (k > 0 && (digits.size() - k) % static_cast<size_t>(t + 1) == 0)
                        grouped += ',';
                    grouped += digits[k];
                }
                std::snprintf(expected, sizeof expected, "%s|10-20", grouped.c_str());
                if (std::strcmp(buffer, expected) != 0)
                    ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
