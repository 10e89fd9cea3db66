#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/module_path.h"

namespace {

// The library exports its C interface and nothing else: no C++ internals and
// no symbols of the static platform library it links.
TEST(Exports, OnlyTheCInterfaceIsExported) {
    // The library sits beside the test program (SUITE_BIN_DIR).
    const char* env = std::getenv("SUITE_BIN_DIR");
    const std::string bin = env != nullptr ? env : platform::ModuleDirectory().string();
    const std::string command = "nm -D --defined-only " + bin + "/libtidestream.so 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    int functions = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char type = 0;
        char name[400] = {};
        if (std::sscanf(line, "%*s %c %399s", &type, name) != 2 || (type != 'T' && type != 'W')) {
            continue;
        }
        const std::string symbol = name;
        EXPECT_TRUE(symbol.rfind("qvds_", 0) == 0 || symbol.rfind("logout_line", 0) == 0) << symbol;
        ++functions;
    }
    ::pclose(pipe);
    EXPECT_EQ(functions, 20);  // the 20 functions of tidestream.h
}

}  // namespace
