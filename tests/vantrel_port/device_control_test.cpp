// Control requests to the virtual bus daemon, against a small in-test server
// on the namespace's control socket.
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/ovrix_wire.h"
#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;

// Answers every request with the configured error and output, and keeps
// what it was sent.
class FakeBusDaemon {
  public:
    explicit FakeBusDaemon(const std::filesystem::path& runtime) {
        auto dir = runtime / "vbus";
        std::filesystem::create_directories(dir);
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, (dir / "control").c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listener_, 8), 0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeBusDaemon() { Stop(); }
    void Stop() {
        if (listener_ < 0)
            return;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        listener_ = -1;
        std::lock_guard guard(lock_);
        for (int fd : clients_)
            ::close(fd);
        clients_.clear();
    }
    void Answer(DWORD error, std::vector<uint8_t> output) {
        std::lock_guard guard(lock_);
        error_ = error;
        output_ = std::move(output);
    }
    struct Seen {
        ovrix::RequestHeader header;
        std::vector<uint8_t> input;
    };
    std::vector<Seen> Requests() {
        std::lock_guard guard(lock_);
        return seen_;
    }

  private:
    void Serve() {
        std::vector<std::thread> sessions;
        for (;;) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            {
                std::lock_guard guard(lock_);
                clients_.push_back(fd);
            }
            sessions.emplace_back([this, fd] { Session(fd); });
        }
        {
            std::lock_guard guard(lock_);
            for (int fd : clients_)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& s : sessions)
            s.join();
    }
    void Session(int fd) {
        std::vector<uint8_t> buf(sizeof(ovrix::RequestHeader) + ovrix::kMaxPayload);
        for (;;) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n < static_cast<ssize_t>(sizeof(ovrix::RequestHeader)))
                return;
            Seen seen{};
            std::memcpy(&seen.header, buf.data(), sizeof seen.header);
            seen.input.assign(buf.begin() + sizeof seen.header, buf.begin() + n);
            std::vector<uint8_t> reply(sizeof(ovrix::ReplyHeader));
            {
                std::lock_guard guard(lock_);
                seen_.push_back(seen);
                ovrix::ReplyHeader header{ovrix::kWireMagic, error_,
                                          static_cast<uint32_t>(output_.size()), 0};
                std::memcpy(reply.data(), &header, sizeof header);
                reply.insert(reply.end(), output_.begin(), output_.end());
            }
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }
    int listener_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::vector<int> clients_;
    DWORD error_ = 0;
    std::vector<uint8_t> output_;
    std::vector<Seen> seen_;
};

std::u16string PortNameOf(const ovrix::RequestHeader& h) {
    return std::u16string(h.portName);
}

constexpr DWORD kGetVersion = 0x16123004;
constexpr DWORD kQueryFdoPdo = 0x1612706C;
constexpr DWORD kUnplugAll = 0x1612B020;
constexpr DWORD kGetDeviceState = 0x16127410;

HANDLE OpenBus(const char* path, bool readOnly) {
    DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    return CreateFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                      nullptr);
}

TEST(PortDeviceControl, AbsentDaemonLooksLikeAMissingDriver) {
    RuntimeDirScope runtime;
    EXPECT_EQ(OpenBus("\\\\.\\KTR_OVRIX_VBUS", false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(VbusInterfacePath(), "");
    // A port the daemon does not serve knows none of the driver's codes.
    Pty pty;
    PublishCom(7, pty);
    HANDLE port = OpenOverlapped("COM7");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    uint8_t state[1072];
    DWORD returned = 99;
    EXPECT_FALSE(DeviceIoControl(port, kGetDeviceState, nullptr, 0, state, sizeof state, &returned,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);
    CloseHandle(port);
}

TEST(PortDeviceControl, RequestsCarryTargetCodeInputAndAnswerOutput) {
    RuntimeDirScope runtime;
    FakeBusDaemon daemon(runtime.Path());
    Pty pty;
    PublishCom(7, pty);
    std::string interfacePath = VbusInterfacePath();
    ASSERT_FALSE(interfacePath.empty());
    HANDLE bus = OpenBus("\\\\.\\KTR_OVRIX_VBUS", false);
    HANDLE iface = OpenBus(interfacePath.c_str(), true);
    HANDLE port = OpenOverlapped(pty.SlavePath());  // found as COM7 through its link
    ASSERT_NE(bus, INVALID_HANDLE_VALUE);
    ASSERT_NE(iface, INVALID_HANDLE_VALUE);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    struct Case {
        HANDLE handle;
        DWORD code;
        std::vector<uint8_t> input;
        DWORD outSize;
        ovrix::Target target;
        uint32_t forWrite;
        std::u16string portName;
        std::vector<uint8_t> output;
        DWORD error;
    };
    const std::vector<uint8_t> version{1, 0, 0, 0, 7, 0, 0, 0, 12, 0, 0, 0};
    const Case cases[] = {
        {bus, kUnplugAll, {}, 0, ovrix::Target::Bus, 1, u"", {}, 0},
        {iface, kGetVersion, {}, 180, ovrix::Target::Interface, 0, u"", version, 0},
        {bus, kQueryFdoPdo, std::vector<uint8_t>(256, 0x41), 272, ovrix::Target::Bus, 1, u"",
         version, 0},
        {port, kGetDeviceState, {}, 1072, ovrix::Target::Port, 1, u"COM7", version, 0},
        // An answer longer than the caller's buffer is cut to it.
        {iface, kGetVersion, {}, 4, ovrix::Target::Interface, 0, u"", version, ERROR_MORE_DATA},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto& output = c.output;
        daemon.Answer(0, output);
        std::vector<uint8_t> out(c.outSize + 1, 0xEE);
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(c.handle, c.code, c.input.empty() ? nullptr : c.input.data(),
                                  static_cast<DWORD>(c.input.size()), out.data(), c.outSize,
                                  &returned, nullptr);
        EXPECT_EQ(ok != FALSE, c.error == 0) << i;
        if (!ok) {
            EXPECT_EQ(GetLastError(), c.error) << i;
        }
        auto seen = daemon.Requests().back();
        EXPECT_EQ(seen.header.magic, ovrix::kWireMagic) << i;
        EXPECT_EQ(seen.header.controlCode, c.code) << i;
        EXPECT_EQ(seen.header.target, static_cast<uint32_t>(c.target)) << i;
        EXPECT_EQ(seen.header.openedForWrite, c.forWrite) << i;
        EXPECT_EQ(seen.header.outputCapacity, c.outSize) << i;
        EXPECT_EQ(PortNameOf(seen.header), c.portName) << i;
        EXPECT_EQ(seen.input, c.input) << i;
        DWORD expected = std::min<DWORD>(c.outSize, static_cast<DWORD>(output.size()));
        EXPECT_EQ(returned, expected) << i;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + expected, output.begin())) << i;
        EXPECT_EQ(out[expected], 0xEE) << i;  // nothing beyond the answer is written
    }

    // Given an OVERLAPPED record, the request still ends within the call and
    // reports through the record and its event.
    {
        daemon.Answer(0, version);
        OverlappedCall call;
        uint8_t out[180];
        DWORD returned = 0, transferred = 0;
        EXPECT_TRUE(
            DeviceIoControl(iface, kGetVersion, nullptr, 0, out, sizeof out, &returned, &call.ov));
        EXPECT_EQ(WaitForSingleObject(call.event, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(GetOverlappedResult(iface, &call.ov, &transferred, FALSE));
        EXPECT_EQ(transferred, version.size());
    }

    // The daemon's error becomes the caller's last error.
    daemon.Answer(ERROR_INVALID_FUNCTION, {});
    DWORD returned = 5;
    uint8_t reply[272];
    EXPECT_FALSE(DeviceIoControl(bus, kQueryFdoPdo, reply, 256, reply, 272, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);

    // A code that needs write access never leaves a read-only handle.
    size_t before = daemon.Requests().size();
    EXPECT_FALSE(DeviceIoControl(iface, kUnplugAll, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(daemon.Requests().size(), before);

    // The daemon stops: open handles fail their requests.
    daemon.Stop();
    EXPECT_FALSE(DeviceIoControl(bus, kUnplugAll, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    for (HANDLE h : {bus, iface, port})
        EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
}  // namespace porttest
