#include "core_fixture.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>

#include "platform/runtime_namespace.h"

void CoreTest::SetUp() {
    runtime_ = std::make_unique<support::RuntimeDir>("ferrolink-core");
    runtimeDir_ = runtime_->Path();
    ASSERT_FALSE(runtimeDir_.empty());
}

void CoreTest::TearDown() {
    scanners_.clear();
    devices_.clear();
    runtime_.reset();
}

scansim::Scanner* CoreTest::StartUsb(const std::string& serial, const std::string& product) {
    scansim::ScannerOptions options;
    options.usbSerial = serial;
    options.identity.productName = product;
    options.identity.serialNumber = "SN-" + serial;
    std::string error;
    auto scanner = scansim::Scanner::Start(options, &error);
    EXPECT_NE(scanner, nullptr) << error;
    scanners_.push_back(std::move(scanner));
    return scanners_.back().get();
}

scansim::Scanner* CoreTest::StartCom(unsigned port, unsigned baud) {
    scansim::ScannerOptions options;
    options.attachment = scansim::Attachment::kCom;
    options.comPort = port;
    options.baudRate = baud;
    options.identity.productName = "COMSCAN";
    std::string error;
    auto scanner = scansim::Scanner::Start(options, &error);
    EXPECT_NE(scanner, nullptr) << error;
    scanners_.push_back(std::move(scanner));
    return scanners_.back().get();
}

int CoreTest::StartPtyDevice(const std::string& usbName) {
    auto device = std::make_unique<support::PtyPair>();
    if (device->master() < 0)
        return -1;
    // The library is the slave's only user: closing it must reach the master.
    device->CloseSlave();
    platform::AddEntry(platform::kUsbFolder, usbName, device->node().string());
    devices_.push_back(std::move(device));
    return devices_.back()->master();
}

std::vector<_QVDeviceInfo> ZeroedTable(size_t count) {
    std::vector<_QVDeviceInfo> table(count);
    for (auto& record : table)
        std::memset(static_cast<void*>(&record), 0, sizeof record);
    return table;
}

_QVDeviceInfo UsbRecord(const std::string& usbName) {
    _QVDeviceInfo record;
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    const std::u16string path = platform::UsbDevicePathFromName(usbName);
    std::memcpy(record.connInfo, path.c_str(), (path.size() + 1) * sizeof(char16_t));
    record.nPortType = FERROLINK_PORT_USB;
    return record;
}

std::string ReadMaster(int master, int timeoutMs) {
    std::string bytes;
    pollfd fd{master, POLLIN, 0};
    int wait = timeoutMs;
    while (poll(&fd, 1, wait) > 0) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
        wait = 100;
    }
    return bytes;
}
