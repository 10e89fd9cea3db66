// Shared pieces of the ovrixd tests: a temporary runtime namespace, fake USB
// scanner endpoints made of real ptys, raw control requests over the socket.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/ovrix_ioctl.h"
#include "driver/ovrix_wire.h"
#include "ovrix/daemon.h"
#include "platform/runtime_namespace.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace ovrix_test {

namespace fs = std::filesystem;

// Polls a condition for a generous while; the machine may be loaded.
inline bool Eventually(const std::function<bool()>& condition, int seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

inline std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void MakeRaw(int fd) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}

inline void WriteText(int fd, const std::string& text) {
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Reads until `size` bytes came or the time is up.
inline std::string ReadBytes(int fd, size_t size, int seconds = 10) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[512];
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, size - got.size()));
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return got;
}

// Opens a virtual port (or any tty) the way a serial program does.
class TtyHandle {
  public:
    explicit TtyHandle(const fs::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ >= 0)
            MakeRaw(fd_);
    }
    ~TtyHandle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TtyHandle(const TtyHandle&) = delete;
    TtyHandle& operator=(const TtyHandle&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// The device side of a USB scanner endpoint: a pty whose slave is linked as
// usb/<name>; the test writes the scanner's bytes to the master.
class FakeEndpoint {
  public:
    explicit FakeEndpoint(std::string name) : name_(std::move(name)) {
        int slave = -1;
        char path[128];
        if (::openpty(&master_, &slave, path, nullptr, nullptr) != 0)
            return;
        MakeRaw(slave);
        ::close(slave);
        slavePath_ = path;
        platform::AddEntry(platform::kUsbFolder, name_, slavePath_);
    }
    ~FakeEndpoint() { Unplug(); }
    FakeEndpoint(const FakeEndpoint&) = delete;
    FakeEndpoint& operator=(const FakeEndpoint&) = delete;

    // Removes the usb/ link and closes the device side, as a pulled cable does.
    void Unplug() {
        if (master_ < 0)
            return;
        platform::RemoveEntry(platform::kUsbFolder, name_);
        ::close(master_);
        master_ = -1;
    }
    // Only one half of a removal: the entry goes, or the device side hangs up.
    void RemoveLink() { platform::RemoveEntry(platform::kUsbFolder, name_); }
    void HangUp() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    int master() const { return master_; }
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    int master_ = -1;
    std::string slavePath_;
};

// A temporary runtime namespace for one test.
class RuntimeDirFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        runtime_.emplace("ovrix-test");
        dir_ = runtime_->Path();
    }
    void TearDown() override { runtime_.reset(); }
    fs::path Path(const std::string& relative) const { return dir_ / relative; }
    fs::path ComLink(unsigned number) const {
        return Path("dosdevices/COM" + std::to_string(number));
    }
    bool ComLive(unsigned number) const { return platform::ResolveComPort(number).has_value(); }

    std::optional<support::RuntimeDir> runtime_;
    fs::path dir_;
};

// The bus of the daemon library running in the test's namespace.
class BusFixture : public RuntimeDirFixture {
  protected:
    // A fatal test failure when it does not start.
    void StartBus(ovrix::DaemonOptions options = {}) {
        daemon_ = std::make_unique<ovrix::Daemon>(std::move(options));
        std::string error;
        ASSERT_TRUE(daemon_->Start(&error)) << error;
    }
    void TearDown() override {
        daemon_.reset();
        RuntimeDirFixture::TearDown();
    }
    // The port of a USB endpoint, waited for until it is online or
    // `seconds` are up; none when there is no port at all.
    std::optional<ovrix::PortInfo> OnlinePort(const std::string& usbName, int seconds = 10) {
        std::optional<ovrix::PortInfo> port;
        Eventually(
            [&] {
                port = daemon_->PortForUsb(usbName);
                return port && port->usbOnline;
            },
            seconds);
        return port;
    }

    std::unique_ptr<ovrix::Daemon> daemon_;
};

// The ovrixd program, built beside the test program (SUITE_BIN_DIR names the
// folder when the test runs from elsewhere).
inline fs::path OvrixdPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr && *bin != '\0')
        return fs::path(bin) / "ovrixd";
    return fs::read_symlink("/proc/self/exe").parent_path() / "ovrixd";
}

// ovrixd running with `args` in the test's namespace, its standard output and
// error read by the test; stopped with `endSignal` if still running at the end.
inline std::unique_ptr<support::ChildProcess> StartOvrixd(const std::vector<std::string>& args,
                                                          int endSignal = SIGKILL) {
    support::ChildOptions options;
    options.endSignal = endSignal;
    return std::make_unique<support::ChildProcess>(OvrixdPath().string(), args, options);
}

// A raw control request and its answer, as the port layer sends them.
struct Reply {
    bool received = false;
    ovrix::ReplyHeader header{};
    std::vector<uint8_t> output;
};

struct Request {
    uint32_t code = 0;
    ovrix::Target target = ovrix::Target::Bus;
    bool forWrite = true;
    std::string portName;
    std::vector<uint8_t> input;
    uint32_t outputCapacity = 0;
};

inline std::vector<uint8_t> Wide(const std::string& text, size_t totalBytes = 0) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
    for (size_t i = 0; i < text.size(); ++i)
        bytes[2 * i] = static_cast<uint8_t>(text[i]);
    if (totalBytes > bytes.size())
        bytes.resize(totalBytes, 0);
    return bytes;
}

template <size_t N>
std::string Narrow(const char16_t (&field)[N]) {
    std::string text;
    for (size_t i = 0; i < N && field[i] != 0; ++i)
        text += static_cast<char>(field[i]);
    return text;
}

// A client of the control socket; -1 when it cannot connect.
inline int ConnectControl(const fs::path& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

inline Reply SendRaw(const fs::path& socketPath, const std::vector<uint8_t>& message) {
    Reply reply;
    const int fd = ConnectControl(socketPath);
    if (fd >= 0) {
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        std::vector<uint8_t> buffer(sizeof(ovrix::ReplyHeader) + ovrix::kMaxPayload);
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n >= static_cast<ssize_t>(sizeof reply.header)) {
            reply.received = true;
            std::memcpy(&reply.header, buffer.data(), sizeof reply.header);
            reply.output.assign(buffer.begin() + sizeof reply.header, buffer.begin() + n);
        }
        ::close(fd);
    }
    return reply;
}

inline std::vector<uint8_t> Encode(const Request& request) {
    ovrix::RequestHeader header{};
    header.magic = ovrix::kWireMagic;
    header.controlCode = request.code;
    header.target = static_cast<uint32_t>(request.target);
    header.openedForWrite = request.forWrite ? 1 : 0;
    for (size_t i = 0; i < request.portName.size() && i < 31; ++i)
        header.portName[i] = static_cast<char16_t>(request.portName[i]);
    header.inputLength = static_cast<uint32_t>(request.input.size());
    header.outputCapacity = request.outputCapacity;
    std::vector<uint8_t> message(sizeof header + request.input.size());
    std::memcpy(message.data(), &header, sizeof header);
    // Byte by byte: GCC 12 takes a memcpy of an empty input past the header
    // for an out-of-bounds write once this is inlined with a constant request.
    for (size_t i = 0; i < request.input.size(); ++i)
        message[sizeof header + i] = request.input[i];
    return message;
}

inline Reply Send(const fs::path& socketPath, const Request& request) {
    return SendRaw(socketPath, Encode(request));
}

template <typename T>
T As(const Reply& reply) {
    T value{};
    EXPECT_EQ(reply.output.size(), sizeof value);
    std::memcpy(&value, reply.output.data(), std::min(sizeof value, reply.output.size()));
    return value;
}

}  // namespace ovrix_test
