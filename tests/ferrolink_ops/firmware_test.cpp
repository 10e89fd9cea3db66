// Firmware update over real ptys, with its entries in the operation log.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ferrolink/firmware.h"
#include "ferrolink/tidestream/tidestream.h"
#include "ops_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof(text), "%Y-%m-%d", &tm);
    return text;
}

std::string Slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    std::erase(content, '\r');  // the ini writer may end lines with CR LF
    return content;
}

// The update runs in a copy of the helper program so that the log folder
// beside it belongs to this test.
class OpsFirmware : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        binDir = bin;
        fs::copy_file(binDir / "ferrolink_ops_host", dir.Path() / "ferrolink_ops_host");
        fs::create_directory(dir.Path() / "log");
    }

    std::string Update(const fs::path& firmware, const std::string& usbSerial) {
        const std::string command = "LD_LIBRARY_PATH='" + binDir.string() + "' '" +
                                    (dir.Path() / "ferrolink_ops_host").string() + "' update '" +
                                    firmware.string() + "' " + usbSerial + " 2>/dev/null";
        std::string output;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return output;
        std::array<char, 256> chunk{};
        size_t n = 0;
        while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            output.append(chunk.data(), n);
        pclose(pipe);
        return output;
    }

    fs::path DayFile() const { return dir.Path() / "log" / (Today() + ".ini"); }

    support::RuntimeDir ns{"ferrolink-ops-ns"};
    support::TempDir dir{"ferrolink-ops-fwhost"};
    fs::path binDir;
};

TEST_F(OpsFirmware, SuccessfulUpdateLoadsTheImageAndLogsIt) {
    auto scanner = ops_test::StartUsbScanner("fw01");
    ASSERT_NE(scanner, nullptr);
    const fs::path firmware = dir.Path() / "app-v2.bin";
    ops_test::WriteFirmwareFile(firmware, 2, "V2.0.0", 5000);
    EXPECT_EQ(Update(firmware, "fw01"), "result=1\n");
    EXPECT_EQ(scanner->FirmwareUpdates(), 1u);
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V2.0.0");
    const std::string log = Slurp(DayFile());
    EXPECT_NE(log.find("DevSn=fw01\nOpeCommand=Update\nOpeFile=" + firmware.string() +
                       "\nErrorInfo=0\nstrError=\n"),
              std::string::npos)
        << log;
}

TEST_F(OpsFirmware, FailedUpdateStillLogsItsErrorCode) {
    auto scanner = ops_test::StartUsbScanner("fw02");
    ASSERT_NE(scanner, nullptr);
    const fs::path missing = dir.Path() / "missing.bin";
    EXPECT_EQ(Update(missing, "fw02"), "result=0\n");
    const std::string log = Slurp(DayFile());
    EXPECT_NE(log.find("OpeCommand=Update\nOpeFile=" + missing.string() +
                       "\nErrorInfo=" + std::to_string(QVDS_ERR_FILE) + "\n"),
              std::string::npos)
        << log;
}

TEST_F(OpsFirmware, DeviceThatCannotBeOpenedLeavesNoEntry) {
    const fs::path firmware = dir.Path() / "app.bin";
    ops_test::WriteFirmwareFile(firmware, 2, "V2.0.0");
    EXPECT_EQ(Update(firmware, "absent"), "result=0\n");
    EXPECT_FALSE(fs::exists(DayFile()));
}

TEST(OpsFirmwarePort, UpdatesOverTheNumberedPortAtTheGivenSpeed) {
    support::RuntimeDir ns{"ferrolink-ops-ns"};
    support::TempDir dir("ferrolink-ops-fwport");
    // The simulated port answers only at 9600 baud: a wrong speed fails.
    auto scanner = ops_test::StartComScanner(5, 9600);
    ASSERT_NE(scanner, nullptr);
    const fs::path firmware = dir.Path() / "kernel.bin";
    ops_test::WriteFirmwareFile(firmware, 1, "K3.0", 2000);
    std::string name = firmware.string();
    int error = -12345;
    EXPECT_TRUE(qv_UpdateKernelDevicePort(name.data(), 5, 9600, 0, &error));
    EXPECT_EQ(error, -12345) << "not written on success";
    EXPECT_EQ(scanner->FirmwareUpdates(), 1u);
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "K3.0");

    std::string missing = (dir.Path() / "missing.bin").string();
    EXPECT_FALSE(qv_UpdateKernelDevicePort(missing.data(), 5 + 0x50000, 9600, 0, &error));
    EXPECT_EQ(error, QVDS_ERR_FILE);
    error = -12345;
    EXPECT_FALSE(qv_UpdateKernelDevicePort(name.data(), 6, 9600, 0, &error));
    EXPECT_EQ(error, -12345) << "a port that cannot be opened reports no transfer error";
}

TEST(OpsFirmwareRecord, UpdateOneHandsTheTransferInfoBack) {
    support::RuntimeDir ns{"ferrolink-ops-ns"};
    support::TempDir dir("ferrolink-ops-fw1");
    auto scanner = ops_test::StartUsbScanner("fw03");
    ASSERT_NE(scanner, nullptr);
    const fs::path firmware = dir.Path() / "dec.bin";
    ops_test::WriteFirmwareFile(firmware, 3, "D9.9", 3000);
    std::string name = firmware.string();
    const _QVDeviceInfo record = ops_test::UsbRecord("fw03");
    FirmwareUploadInfo info;
    std::memset(&info, 0xAB, sizeof(info));
    EXPECT_TRUE(qv_UpdateKernelDevice1(name.data(), &record, &info));
    EXPECT_EQ(info.dwTotalBytes, 3000u);
    EXPECT_EQ(info.dwBytesSent, 3000u);
}

}  // namespace
