// The scanner unplugged in the middle of a longer exchange: discovery of
// several scanners, a configuration download of many frames and a firmware
// transfer of many blocks. The export fails (or, for discovery, reports what
// it found), nothing hangs, and the next call after plugging in again works.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config_download.h"
#include "fault_bench.h"
#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"

namespace {

using namespace std::chrono_literals;
using scansim::Received;

size_t CountReceived(const scansim::Scanner& scanner, Received::Kind kind) {
    size_t count = 0;
    for (const Received& entry : scanner.Log())
        count += entry.kind == kind ? 1 : 0;
    return count;
}

// Unplugs the scanner once it has received `count` entries of `kind`.
class UnplugAfter {
  public:
    UnplugAfter(scansim::Scanner& scanner, Received::Kind kind, size_t count)
        : thread_([this, &scanner, kind, count] {
              while (!stop_) {
                  if (CountReceived(scanner, kind) >= count) {
                      unplugged_ = scanner.Unplug();
                      return;
                  }
                  std::this_thread::sleep_for(2ms);
              }
          }) {}
    ~UnplugAfter() { Unplugged(); }
    // Waits for the watcher and tells whether it pulled the plug.
    bool Unplugged() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return unplugged_;
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> unplugged_{false};
    std::thread thread_;
};

class Disconnect : public ::testing::Test {
  protected:
    faults_test::WorkingDir cwd;
    support::RuntimeDir ns{"ferrolink-faults-ns"};
};

TEST_F(Disconnect, DuringDiscoveryTheOtherScannerIsStillIdentified) {
    auto dropping = ops_test::StartUsbScanner("drop01", {.serialNumber = "DROP01"});
    scansim::Identity steadyIdentity;
    steadyIdentity.serialNumber = "STEADY02";
    auto steady = ops_test::StartUsbScanner("steady02", steadyIdentity);
    ASSERT_NE(dropping, nullptr);
    ASSERT_NE(steady, nullptr);
    dropping->SetFault({scansim::Fault::Kind::kDisconnect, 0, 1});

    _QVDeviceInfo devices[4];
    std::memset(static_cast<void*>(devices), 0, sizeof(devices));
    int found = 0;
    const auto elapsed = faults_test::TimeOf([&] { found = qv_GetDevice(devices, 4); });
    EXPECT_LE(elapsed, 2 * faults_test::kReplyGuard + faults_test::kSlack);
    ASSERT_EQ(found, 2) << "both endpoints existed when the list was taken";
    std::vector<std::string> serials;
    for (int i = 0; i < found; ++i)
        serials.emplace_back(devices[i].szSerialNumber,
                             strnlen(devices[i].szSerialNumber, sizeof devices[i].szSerialNumber));
    EXPECT_TRUE(std::find(serials.begin(), serials.end(), "STEADY02") != serials.end());
    EXPECT_TRUE(std::find(serials.begin(), serials.end(), "DROP01") == serials.end())
        << "half an identification reply gives no serial number";
    EXPECT_FALSE(dropping->IsPlugged());

    dropping->SetFault({});
    ASSERT_TRUE(dropping->Plug());
    std::memset(static_cast<void*>(devices), 0, sizeof(devices));
    ASSERT_EQ(qv_GetDevice(devices, 4), 2);
    serials.clear();
    for (int i = 0; i < 2; ++i)
        serials.emplace_back(devices[i].szSerialNumber);
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string>{"DROP01", "STEADY02"}));
}

struct DownloadCall {
    const char* name;
    scansim::Attachment attachment;
    std::function<bool(char* file, const _QVDeviceInfo&)> call;
};

TEST_F(Disconnect, DuringConfigurationDownloadTheDownloadFailsAndCanBeRepeated) {
    const DownloadCall calls[] = {
        {"qv_SavetoDevice", scansim::Attachment::kCom,
         [](char* file, const _QVDeviceInfo&) {
             return qv_SavetoDevice(file, faults_test::kComPort, 115200);
         }},
        {"qv_SavetoDeviceAN", scansim::Attachment::kUsb,
         [](char* file, const _QVDeviceInfo& record) { return qv_SavetoDeviceAN(file, &record); }},
        {"qv_SavetoDeviceAN_U", scansim::Attachment::kUsb,
         [](char* file, const _QVDeviceInfo& record) {
             return qv_SavetoDeviceAN_U(file, &record);
         }},
    };
    faults_test::WriteDownloadSet(faults_test::kDownloadFile, 80);
    std::string file = (cwd.Path() / faults_test::kDownloadFile).string();
    for (const DownloadCall& c : calls) {
        SCOPED_TRACE(c.name);
        scansim::ScannerOptions options;
        options.attachment = c.attachment;
        options.usbSerial = faults_test::kUsbSerial;
        options.comPort = faults_test::kComPort;
        options.bufferSize = 40;  // many small frames
        auto scanner = scansim::Scanner::Start(options);
        ASSERT_NE(scanner, nullptr);
        g_nDeviceBufSize = 40;
        const _QVDeviceInfo record = faults_test::RecordFor(c.attachment);

        bool ok = true;
        {
            UnplugAfter watcher(*scanner, Received::Kind::kFrame, 4);
            const auto elapsed = faults_test::TimeOf([&] { ok = c.call(file.data(), record); });
            EXPECT_TRUE(watcher.Unplugged()) << "the download ended before the plug was pulled";
            EXPECT_LE(elapsed, 2 * faults_test::kReplyGuard + faults_test::kSlack);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(faults_test::FileProblems(cwd.Path(), {faults_test::kDownloadFile}),
                  std::vector<std::string>{});

        ASSERT_TRUE(scanner->Plug());
        scanner->ClearLog();
        EXPECT_TRUE(c.call(file.data(), record)) << "a repeated download after plugging in";
        EXPECT_GT(CountReceived(*scanner, Received::Kind::kFrame), 4u);
    }
}

struct FirmwareCall {
    const char* name;
    scansim::Attachment attachment;
    std::function<bool(char* file, const _QVDeviceInfo&, int* error)> call;
};

TEST_F(Disconnect, DuringFirmwareTransferTheUpdateFailsAndCanBeRepeated) {
    const FirmwareCall calls[] = {
        {"qv_UpdateKernelDevice", scansim::Attachment::kUsb,
         [](char* file, const _QVDeviceInfo& record, int*) {
             return qv_UpdateKernelDevice(file, &record);
         }},
        {"qv_UpdateKernelDevice1", scansim::Attachment::kUsb,
         [](char* file, const _QVDeviceInfo& record, int*) {
             FirmwareUploadInfo info{};
             const bool ok = qv_UpdateKernelDevice1(file, &record, &info);
             EXPECT_EQ(info.dwTotalBytes, 200u * 1024u);
             return ok;
         }},
        {"qv_UpdateKernelDevicePort", scansim::Attachment::kCom,
         [](char* file, const _QVDeviceInfo&, int* error) {
             return qv_UpdateKernelDevicePort(file, faults_test::kComPort, 115200, 0, error);
         }},
    };
    ops_test::WriteFirmwareFile(faults_test::kFirmwareFile, 2, "V2.0.0", 200 * 1024);
    std::string file = (cwd.Path() / faults_test::kFirmwareFile).string();
    for (const FirmwareCall& c : calls) {
        SCOPED_TRACE(c.name);
        auto scanner = faults_test::StartScanner(c.attachment);
        ASSERT_NE(scanner, nullptr);
        const _QVDeviceInfo record = faults_test::RecordFor(c.attachment);

        bool ok = true;
        int error = 0;
        {
            UnplugAfter watcher(*scanner, Received::Kind::kFirmwareBlock, 3);
            const auto elapsed =
                faults_test::TimeOf([&] { ok = c.call(file.data(), record, &error); });
            EXPECT_TRUE(watcher.Unplugged()) << "the transfer ended before the plug was pulled";
            EXPECT_LE(elapsed, 2 * faults_test::kReplyGuard + faults_test::kSlack);
        }
        EXPECT_FALSE(ok);
        if (c.attachment == scansim::Attachment::kCom) {
            EXPECT_NE(error, 0) << "the port form tells why it failed";
        }
        EXPECT_EQ(scanner->FirmwareUpdates(), 0u);

        ASSERT_TRUE(scanner->Plug());
        EXPECT_TRUE(c.call(file.data(), record, &error)) << "a repeated update after plugging in";
        EXPECT_EQ(scanner->FirmwareUpdates(), 1u);
    }
}

}  // namespace
