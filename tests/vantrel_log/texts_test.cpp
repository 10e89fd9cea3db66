// Size, rate and time-out texts, error names and the time-stamp call-outs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include "texts.h"

namespace vantrel::log {
namespace {

#ifdef _WIN32
// The C runtime's names for the POSIX calls the time-zone fixture uses.
int setenv(const char* name, const char* value, int) {
    return _putenv_s(name, value);
}
int unsetenv(const char* name) {
    return _putenv_s(name, "");
}
void tzset() {
    _tzset();
}
std::tm* gmtime_r(const std::time_t* time, std::tm* result) {
    return gmtime_s(result, time) == 0 ? result : nullptr;
}
#endif

TEST(LogTexts, SizesUseDecimalUnits) {
    struct Case {
        uint64_t value;
        const char* unit;
        const char* text;
    };
    for (const Case& c : {Case{0, "B", "0 B"}, Case{999, "B", "999 B"}, Case{1000, "B", "1.00 KB"},
                          Case{999999, "B", "1000.00 KB"}, Case{1000000, "B", "1.00 MB"},
                          Case{1234567, "B", "1.23 MB"}, Case{1000000000, "B", "1.00 GB"},
                          Case{UINT64_MAX, "B", "18446744073.71 GB"}, Case{1500, "x", "1.50 Kx"}})
        EXPECT_EQ(SizeText(c.value, c.unit), c.text) << c.value;
}

TEST(LogTexts, RatesAreBytesPerSecond) {
    EXPECT_EQ(RateText(5000, 1000), "5.00 KB/s");
    EXPECT_EQ(RateText(999, 1000), "999 B/s");
    EXPECT_EQ(RateText(3000000, 1500), "2.00 MB/s");
    // A product that does not fit 64 bits still gives the true rate.
    EXPECT_EQ(RateText(UINT64_MAX / 10, 100000), SizeText(UINT64_MAX / 10 / 100, "B/s"));
    EXPECT_EQ(RateText(5, 0), "5.00 KB/s");
}

TEST(LogTexts, TimeoutsNameTheTopValues) {
    EXPECT_EQ(TimeoutText(0xFFFFFFFFu), "MAXDWORD");
    EXPECT_EQ(TimeoutText(0xFFFFFFFEu), "MAXDWORD-1");
    EXPECT_EQ(TimeoutText(0xFFFFFFFDu), "MAXDWORD-2");
    EXPECT_EQ(TimeoutText(0xFFFFFFFCu), "4294967292");
    EXPECT_EQ(TimeoutText(0), "0");
}

TEST(LogTexts, ErrorNames) {
    EXPECT_STREQ(WinErrName(5), "ERROR_ACCESS_DENIED");
    EXPECT_STREQ(WinErrName(1460), "ERROR_TIMEOUT");
    EXPECT_STREQ(WinErrName(123), "ERROR_INVALID_NAME");
    EXPECT_STREQ(WinErrName(14), "ERROR_OUTOFMEMORY");
    EXPECT_STREQ(WinErrName(1234), "UnknownWinErrCode");
    EXPECT_STREQ(WinErrName(0xFFFFFFFFu), "UnknownWinErrCode");
}

std::string CallOut(FmtxFnRecFn fn, uint64_t user, int32_t capacity = 64) {
    char buffer[64];
    FmtxFnRec rec;
    fmtx_fn_rec_init(&rec, fn, user);
    int32_t length = fmtx_snprintf(buffer, capacity, "<%F>", &rec);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(buffer)));
    return buffer;
}

class LocalTimeInUtc : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved_;
    bool hadTz_ = false;
};

TEST_F(LocalTimeInUtc, EpochMillisecondsInLocalTime) {
    EXPECT_EQ(CallOut(EpochMsecText, 1528366142123ull), "<2018-06-07_10:09:02.123>");
    EXPECT_EQ(CallOut(EpochMsecText, 0), "<(none)>");
    EXPECT_EQ(CallOut(EpochMsecText, 999), "<1970-01-01_00:00:00.999>");
}

TEST_F(LocalTimeInUtc, StampsOfTheCurrentTime) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char year[16];
    std::snprintf(year, sizeof year, "%04d", utc.tm_year + 1900);
    std::string clock = CallOut(LocalTimeText, 0);
    EXPECT_TRUE(std::regex_match(clock, std::regex(R"(<\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d>)")))
        << clock;
    EXPECT_EQ(clock.substr(1, 4), year);
    std::string clockMs = CallOut(LocalTimeText, 1);
    EXPECT_TRUE(std::regex_match(clockMs, std::regex(R"(<\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d\.\d{3}>)")))
        << clockMs;
    std::string stamp = CallOut(LogStampText, 0);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(<\d{8}\.\d{6}\.\d{3}>)"))) << stamp;
    // Cut by a small buffer, the full length is still counted.
    char small[6];
    FmtxFnRec rec;
    fmtx_fn_rec_init(&rec, LogStampText, 0);
    EXPECT_EQ(fmtx_snprintf(small, sizeof small, "<%F>", &rec), 21);
    EXPECT_EQ(std::string(small), "<" + std::string(year));
}

}  // namespace
}  // namespace vantrel::log
