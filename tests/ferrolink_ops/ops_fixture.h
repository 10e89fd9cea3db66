// Shared pieces of the operation tests: simulated
// scanners, device records pointing at them, a scripted device on a raw pty,
// firmware files and a capture of the library's log lines.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ferrolink/record.h"
#include "scansim/scanner.h"
#include "support/pty_pair.h"

namespace ops_test {

std::unique_ptr<scansim::Scanner> StartUsbScanner(const std::string& serial,
                                                  const scansim::Identity& identity = {});
std::unique_ptr<scansim::Scanner> StartComScanner(unsigned port, unsigned baud = 115200);

// Zeroed records addressing a USB endpoint or a COM port.
_QVDeviceInfo UsbRecord(const std::string& usbSerial, const std::string& serialNumber = "SIM0001",
                        const std::string& firmwareVersion = "V1.0.0");
_QVDeviceInfo ComRecord(unsigned port, unsigned baud = 115200);

// The framed commands the scanner received, as text without header and end.
std::vector<std::string> ReceivedCommands(const scansim::Scanner& scanner);

// A device on a raw pty, linked as dosdevices/COM<port>: after every complete
// command frame it writes `answer`.
class ScriptedDevice {
  public:
    ScriptedDevice(unsigned port, std::string answer);
    ~ScriptedDevice();
    bool Ready() const { return !link_.empty(); }

  private:
    void Serve();
    support::PtyPair device_;
    std::string link_;
    std::string answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A firmware file: header of the data-stream format (kind, version) and an image.
void WriteFirmwareFile(const std::filesystem::path& file, int kind, const std::string& version,
                       size_t imageSize = 4096);

struct LogLine {
    int level;
    int line;
    std::string text;
};

// Collects every log line the library writes while the object lives.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    std::vector<LogLine> Lines() const;
    bool Has(int level, int line, const std::string& text) const;

  private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
    static void Hook(int level, const char* source, int line, const char* text, void* user);
};

}  // namespace ops_test
