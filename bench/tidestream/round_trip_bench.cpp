// One command round trip over a pty: through libtidestream (clean, write the
// frame, read the reply to its terminator) against a bare write/poll/read
// loop on the same pty, with the same responder on the master side.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "ferrolink/tidestream/tidestream.h"
#include "platform/runtime_namespace.h"

namespace {

const std::string kFrame = std::string(
                               "\x7e\x01"
                               "0000@",
                               7) +
                           "QRYSYS,PDN,PSN" + std::string(";\x03", 2);
const std::string kReply = std::string(
                               "\x02\x01"
                               "0000R",
                               7) +
                           "Product Name:SIM\r\nSerial Number:0001\r\n" +
                           std::string("\x06;\x03", 3);

// The device: answers every complete command frame with the reply.
class Responder {
  public:
    explicit Responder(int master) : master_(master), thread_([this] { Run(); }) {}
    ~Responder() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        std::string received;
        char buffer[4096];
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            received.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = received.find(";\x03")) != std::string::npos;) {
                received.erase(0, end + 2);
                [[maybe_unused]] auto w = ::write(master_, kReply.data(), kReply.size());
            }
        }
    }
    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Rig {
    int master = -1;
    int slave = -1;
    std::filesystem::path dir;
    QVDS_HANDLE h = 0;
    Rig() {
        char name[128];
        ::openpty(&master, &slave, name, nullptr, nullptr);
        termios tio{};
        ::tcgetattr(master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master, TCSANOW, &tio);
        std::string pattern = (std::filesystem::temp_directory_path() / "ktr-bench-XXXXXX");
        dir = ::mkdtemp(pattern.data());
        ::setenv("KTR_RUNTIME_DIR", dir.c_str(), 1);
        platform::AddEntry("dosdevices", "COM1", name);
        h = qvds_create();
        ComPortSettings settings{1, 115200, 8};
        int err = 0;
        if (qvds_open_com(h, &settings, &err) == 0) {
            std::abort();
        }
    }
    ~Rig() {
        qvds_destory(h);
        ::close(slave);
        ::close(master);
        std::filesystem::remove_all(dir);
    }
};

Rig& SharedRig() {
    static Rig rig;
    return rig;
}

void BM_LibraryRoundTrip(benchmark::State& state) {
    Rig& rig = SharedRig();
    Responder responder(rig.master);
    char reply[10240];
    for (auto _ : state) {
        qvds_clean(rig.h, 0);
        qvds_write(rig.h, kFrame.data(), static_cast<uint32_t>(kFrame.size()));
        int err = 0;
        const int n = qvds_read_until(rig.h, reply, sizeof reply, 3000, -2, ";\x03", 2, &err);
        if (n != static_cast<int>(kReply.size())) {
            state.SkipWithError("short reply");
            break;
        }
    }
}

void BM_BareLoopRoundTrip(benchmark::State& state) {
    Rig& rig = SharedRig();
    Responder responder(rig.master);
    const int fd = rig.slave;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char reply[10240];
    for (auto _ : state) {
        ::tcflush(fd, TCIFLUSH);
        [[maybe_unused]] auto w = ::write(fd, kFrame.data(), kFrame.size());
        size_t got = 0;
        while (got < 2 || reply[got - 2] != ';' || reply[got - 1] != '\x03') {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 3000) <= 0) {
                break;
            }
            const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
            }
        }
        if (got != kReply.size()) {
            state.SkipWithError("short reply");
            break;
        }
    }
}

BENCHMARK(BM_BareLoopRoundTrip)->UseRealTime();
BENCHMARK(BM_LibraryRoundTrip)->UseRealTime();
BENCHMARK(BM_BareLoopRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
