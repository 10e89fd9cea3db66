// The export boundary: whatever a body throws ends as the export's failure
// value and one error line, never as an exception in the caller.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "export_guard.h"

namespace {

struct Captured {
    std::mutex mutex;
    std::vector<std::string> lines;
};

class ExportGuard : public ::testing::Test {
  protected:
    void SetUp() override {
        qvds_set_log_hook(
            [](int level, const char* source, int, const char* text, void* user) {
                auto* c = static_cast<Captured*>(user);
                std::lock_guard<std::mutex> lock(c->mutex);
                c->lines.push_back(std::to_string(level) + " " + source + " " + text);
            },
            &captured_);
    }
    void TearDown() override { qvds_set_log_hook(nullptr, nullptr); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(captured_.mutex);
        return captured_.lines;
    }
    Captured captured_;
};

TEST_F(ExportGuard, EveryKindOfExceptionEndsAsTheFailureValueAndOneLine) {
    struct Case {
        const char* what;
        std::function<int()> body;
        int result;
        std::string line;  // empty: nothing logged
    };
    const Case cases[] = {
        {"no exception", [] { return 7; }, 7, ""},
        {"a standard exception", []() -> int { throw std::runtime_error("stoul"); }, -1,
         "2 Ferrolink Export stoul"},
        {"an allocation failure", []() -> int { throw std::bad_alloc(); }, -1,
         "2 Ferrolink Export out of memory"},
        {"anything else", []() -> int { throw 42; }, -1, "2 Ferrolink Export unknown exception"},
    };
    for (const Case& c : cases) {
        const size_t before = Lines().size();
        EXPECT_EQ(ferrolink_guard::Guarded("Export", -1, c.body), c.result) << c.what;
        const std::vector<std::string> lines = Lines();
        if (c.line.empty()) {
            EXPECT_EQ(lines.size(), before) << c.what;
        } else {
            ASSERT_EQ(lines.size(), before + 1) << c.what;
            EXPECT_EQ(lines.back(), c.line) << c.what;
        }
    }
    bool ran = false;
    ferrolink_guard::GuardedVoid("Export", [&] {
        ran = true;
        throw std::out_of_range("index");
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(Lines().back(), "2 Ferrolink Export index");
}

}  // namespace
