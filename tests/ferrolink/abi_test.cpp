// The library seen from outside: a C program over its header, and its
// dynamic symbol table.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core_fixture.h"

namespace {

std::string BinDir() {
    const char* dir = std::getenv("SUITE_BIN_DIR");
    return dir != nullptr ? dir : ".";
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

TEST_F(CoreTest, PlainCProgramFindsTheScannerThroughTheHeader) {
    StartUsb("cabi1", "CABI");
    const std::string output = RunCommand(BinDir() + "/ferrolink_c_abi");
    EXPECT_NE(output.find("found=1"), std::string::npos) << output;
    EXPECT_NE(output.find("0 0 CABI SN-cabi1 V1.0.0"), std::string::npos) << output;
}

TEST(ExportsTest, DynamicSymbolsAreTheExportsOnly) {
    const std::string symbols = RunCommand("nm -D --defined-only " + BinDir() +
                                           "/libferrolink.so | awk '{print $3}' | c++filt");
    for (const char* exported :
         {"qv_GetDevice", "ktr_register_notify_all", "ktr_register_notify", "ktr_unregister_notify",
          "ktr_register_GetDev", "GetDevBuf", "GetDevBufSized", "SendCommandSized",
          "SendCommandComSized", "SendCommandHEXSized", "qv_GetPicSized", "_QVDeviceInfo::Open()",
          "_QVDeviceInfo::SetOnlineInfo()"})
        EXPECT_NE(symbols.find(exported), std::string::npos) << exported;
    for (const char* internal : {"CCmdSend", "ParseReply", "OpenConnection", "SendOnConnection",
                                 "FirmwareVersionOf", "std::"})
        EXPECT_EQ(symbols.find(internal), std::string::npos) << internal;
}

}  // namespace
