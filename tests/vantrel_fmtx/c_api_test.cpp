// The header compiles as C, and records made in C print like those of C++.
#include <gtest/gtest.h>

#include "fmtx.h"

extern "C" int32_t fmtx_c_api_sample(char* buffer, int32_t capacity);

namespace {

TEST(FmtxCApi, RecordsBuiltInCPrintTwice) {
    char buffer[64];
    EXPECT_EQ(fmtx_c_api_sample(buffer, sizeof buffer), 26);
    EXPECT_STREQ(buffer, "1 234 567:[t3] c007 / c007");
}

}  // namespace
