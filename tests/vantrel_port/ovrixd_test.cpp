// The layer against the real ovrixd program: linked ports, the data pipe and
// a control request, and the hang-up when the daemon stops.
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;

class PortRealDaemon : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        program_ = std::string(bin != nullptr ? bin : ".") + "/ovrixd";
        if (::access(program_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "ovrixd not built";
    }
    // Starts the daemon with `args` and waits until it answers on its control
    // socket and `ready` holds.
    void StartDaemon(std::vector<std::string> args, const std::function<bool()>& ready) {
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            std::vector<char*> argv{program_.data()};
            for (auto& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program_.c_str(), argv.data());
            ::_exit(127);
        }
        // Generous: the daemon publishes its names once it has started.
        auto limit = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < limit &&
               (std::string(VbusInterfacePath()).empty() || !ready()))
            std::this_thread::sleep_for(20ms);
    }
    void TearDown() override { Stop(); }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    std::string ReadAll(HANDLE h, DWORD count) {
        std::string got(count, '\0');
        OverlappedCall call;
        DWORD done = 0;
        if (!ReadFile(h, got.data(), count, &done, &call.ov)) {
            EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
            EXPECT_EQ(WaitForSingleObject(call.event, 10000), WAIT_OBJECT_0);
            EXPECT_TRUE(GetOverlappedResult(h, &call.ov, &done, TRUE)) << GetLastError();
        }
        got.resize(done);
        return got;
    }
    void WriteAll(HANDLE h, const std::string& bytes) {
        OverlappedCall call;
        DWORD done = 0;
        if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &call.ov)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            ASSERT_TRUE(GetOverlappedResult(h, &call.ov, &done, TRUE));
        }
        EXPECT_EQ(done, bytes.size());
    }
    RuntimeDirScope runtime;
    std::string program_;
    pid_t pid_ = -1;
};

TEST_F(PortRealDaemon, LinkedPortsPipeAndControlRequestsWork) {
    StartDaemon({"--pair", "COM20:COM21"}, [&] {
        return platform::ResolveComPort(21) &&
               std::filesystem::exists(runtime.Path() / "vbus" / "datapipe");
    });
    HANDLE a = OpenOverlapped("\\\\.\\COM20");
    HANDLE b = OpenOverlapped("\\\\.\\COM21");
    HANDLE pipe = OpenOverlapped("\\\\.\\KTR_Datapipe");
    ASSERT_NE(a, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_NE(b, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();

    WriteAll(a, "over the link");
    EXPECT_EQ(ReadAll(b, 13), "over the link");
    WriteAll(pipe, "ping");
    EXPECT_EQ(ReadAll(pipe, 4), "ping");

    HANDLE iface = CreateFile(VbusInterfacePath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(iface, INVALID_HANDLE_VALUE);
    uint32_t version[45] = {};
    DWORD returned = 0;
    EXPECT_TRUE(
        DeviceIoControl(iface, 0x16123004, nullptr, 0, version, sizeof version, &returned, nullptr))
        << GetLastError();
    EXPECT_GT(returned, 0u);
    EXPECT_NE(version[0] | version[1] | version[2], 0u);
    uint8_t state[1072] = {};
    EXPECT_TRUE(DeviceIoControl(a, 0x16127410, nullptr, 0, state, sizeof state, &returned, nullptr))
        << GetLastError();
    EXPECT_EQ(returned, sizeof state);

    // The daemon stops: the ports hang up under a pending read.
    OverlappedCall pending;
    char buf[4];
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(a, buf, 4, &done, &pending.ov));
    Stop();
    EXPECT_FALSE(GetOverlappedResult(a, &pending.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    for (HANDLE h : {a, b, pipe, iface})
        EXPECT_TRUE(CloseHandle(h));
}

// A Persistent port keeps its pty while the scanner is away, so nothing hangs
// up under a read that waits without time-outs: the daemon's UsbdOnline value
// has to end it, and keep new requests from waiting for a device that is not
// there, until the scanner returns to the same open port.
TEST_F(PortRealDaemon, KeptPortEndsItsReadsWhileTheScannerIsAway) {
    const std::string scannerName = "usb#vid_1eab&pid_0d10#sim0001";
    auto scanner = std::make_unique<Pty>();
    ASSERT_TRUE(platform::AddEntry(platform::kUsbFolder, scannerName, scanner->SlavePath()));
    StartDaemon({"--lifemode", "persistent"},
                [] { return platform::ResolveComPort(7).has_value(); });
    HANDLE port = OpenOverlapped("\\\\.\\COM7");
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    scanner->Send("scan1");
    EXPECT_EQ(ReadAll(port, 5), "scan1");

    OverlappedCall pending;
    char buffer[8];
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &done, &pending.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(platform::RemoveEntry(platform::kUsbFolder, scannerName));
    scanner.reset();
    ASSERT_EQ(WaitForSingleObject(pending.event, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(port, &pending.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(done, 0u);

    for (bool reading : {true, false}) {
        OverlappedCall refused;
        BOOL ok = reading ? ReadFile(port, buffer, sizeof buffer, &done, &refused.ov)
                          : WriteFile(port, "x", 1, &done, &refused.ov);
        EXPECT_FALSE(ok) << (reading ? "read" : "write");
        EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED) << (reading ? "read" : "write");
    }

    scanner = std::make_unique<Pty>();
    ASSERT_TRUE(platform::AddEntry(platform::kUsbFolder, scannerName, scanner->SlavePath()));
    // The return reaches the port through the daemon; until then reads are refused.
    OverlappedCall again;
    bool waiting = false;
    auto limit = std::chrono::steady_clock::now() + 10s;
    while (!waiting && std::chrono::steady_clock::now() < limit) {
        again.ov = OVERLAPPED{};
        again.ov.hEvent = again.event;
        waiting =
            !ReadFile(port, buffer, 5, &done, &again.ov) && GetLastError() == ERROR_IO_PENDING;
        if (!waiting)
            std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(waiting) << "reads still refused after the scanner returned";
    scanner->Send("scan2");
    ASSERT_EQ(WaitForSingleObject(again.event, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(port, &again.ov, &done, TRUE)) << GetLastError();
    EXPECT_EQ(std::string(buffer, done), "scan2");
    EXPECT_TRUE(CloseHandle(port));
}

}  // namespace
}  // namespace porttest
