#include "ops_fixture.h"

#include <poll.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ferrolink/tidestream/tidestream.h"
#include "platform/runtime_namespace.h"

namespace ops_test {

std::unique_ptr<scansim::Scanner> StartUsbScanner(const std::string& serial,
                                                  const scansim::Identity& identity) {
    scansim::ScannerOptions options;
    options.usbSerial = serial;
    options.identity = identity;
    return scansim::Scanner::Start(options);
}

std::unique_ptr<scansim::Scanner> StartComScanner(unsigned port, unsigned baud) {
    scansim::ScannerOptions options;
    options.attachment = scansim::Attachment::kCom;
    options.comPort = port;
    options.baudRate = baud;
    return scansim::Scanner::Start(options);
}

namespace {

template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

_QVDeviceInfo UsbRecord(const std::string& usbSerial, const std::string& serialNumber,
                        const std::string& firmwareVersion) {
    _QVDeviceInfo record;
    std::memset(static_cast<void*>(&record), 0, sizeof(record));
    CopyText(record.szSerialNumber, serialNumber);
    CopyText(record.szFirmwareVersion, firmwareVersion);
    CopyText(record.szProductName, "KTR Sim Scanner");
    const std::string path =
        "\\\\?\\usb#vid_1eab&pid_0d10#" + usbSerial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    char16_t wide[256] = {};
    for (size_t i = 0; i < path.size() && i < 255; ++i)
        wide[i] = static_cast<char16_t>(path[i]);
    std::memcpy(record.connInfo, wide, sizeof(wide));
    record.nPortType = 0;
    return record;
}

_QVDeviceInfo ComRecord(unsigned port, unsigned baud) {
    _QVDeviceInfo record;
    std::memset(static_cast<void*>(&record), 0, sizeof(record));
    ComPortSettings settings{};
    settings.wPort = static_cast<uint16_t>(port);
    settings.dwBaudRate = baud;
    settings.byDataBits = 8;
    std::memcpy(record.connInfo, &settings, sizeof(settings));
    record.nPortType = 1;
    return record;
}

std::vector<std::string> ReceivedCommands(const scansim::Scanner& scanner) {
    std::vector<std::string> commands;
    for (const scansim::Received& entry : scanner.Log()) {
        if (entry.kind != scansim::Received::Kind::kFrame)
            continue;
        std::string text = entry.bytes;
        if (text.size() >= 8)
            text = text.substr(6, text.size() - 8);  // header, ';' ETX
        if (!text.empty() && text[0] == '@')
            text.erase(0, 1);
        commands.push_back(text);
    }
    return commands;
}

ScriptedDevice::ScriptedDevice(unsigned port, std::string answer) : answer_(std::move(answer)) {
    if (device_.master() < 0)
        return;
    link_ = "COM" + std::to_string(port);
    if (!platform::AddEntry(platform::kComFolder, link_, device_.node())) {
        ADD_FAILURE() << "dosdevices/" << link_ << " cannot be made";
        link_.clear();
        return;
    }
    thread_ = std::thread([this] { Serve(); });
}

ScriptedDevice::~ScriptedDevice() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (!link_.empty())
        (void)platform::RemoveEntry(platform::kComFolder, link_);
}

void ScriptedDevice::Serve() {
    std::string pending;
    while (!stop_) {
        const int master = device_.master();
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 50) <= 0 || (fd.revents & POLLIN) == 0)
            continue;
        char chunk[512];
        const ssize_t n = read(master, chunk, sizeof(chunk));
        if (n <= 0)
            continue;
        pending.append(chunk, static_cast<size_t>(n));
        if (pending.size() >= 2 && pending.compare(pending.size() - 2, 2, ";\x03") == 0) {
            pending.clear();
            if (!answer_.empty() && write(master, answer_.data(), answer_.size()) < 0)
                return;
        }
    }
}

namespace {

void PutLe(std::string& out, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void WriteFirmwareFile(const std::filesystem::path& file, int kind, const std::string& version,
                       size_t imageSize) {
    std::string image(imageSize, '\0');
    for (size_t i = 0; i < imageSize; ++i)
        image[i] = static_cast<char>(i * 13 + 5);
    const std::string fwver = "FWVER=" + version;
    image.replace(0, fwver.size() + 1, fwver + '\0');
    std::string header(sizeof(KernelInfo), '\0');
    header.replace(0, 4, "KTRF");
    PutLe(header, 4, 1);
    PutLe(header, 8, static_cast<uint32_t>(kind));
    PutLe(header, 12, static_cast<uint32_t>(imageSize));
    PutLe(header, 16,
          static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                      reinterpret_cast<const Bytef*>(image.data()),
                                      static_cast<uInt>(image.size()))));
    header.replace(44, version.size(), version);
    header.replace(108, 15, "KTR Sim Scanner");
    std::ofstream(file, std::ios::binary) << header << image;
}

LogCapture::LogCapture() {
    qvds_set_log_hook(&LogCapture::Hook, this);
}

LogCapture::~LogCapture() {
    qvds_set_log_hook(nullptr, nullptr);
}

void LogCapture::Hook(int level, const char*, int line, const char* text, void* user) {
    auto* self = static_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({level, line, text != nullptr ? text : ""});
}

std::vector<LogLine> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool LogCapture::Has(int level, int line, const std::string& text) const {
    for (const LogLine& entry : Lines()) {
        if (entry.level == level && entry.line == line &&
            entry.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace ops_test
