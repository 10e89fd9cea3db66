// Echo throughput over ovrixd's linked pair, against a raw copy loop over the
// same kind of link in the same run. Both count the bytes that cross the
// link in either direction per second of wall time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "echo_client.h"
#include "ovrix_pair.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

using namespace vantrel::echo;

namespace {

constexpr int64_t kBytesPerRun = 4 * 1000 * 1000;
constexpr size_t kRawBlock = 16000;  // the echo test's largest default chunk

double g_echoRate = 0;
double g_rawRate = 0;
double g_portRate = 0;

win::HANDLE OpenEnd(const std::string& path) {
    return win::CreateFile(path.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                           win::OPEN_EXISTING, win::FILE_FLAG_OVERLAPPED, nullptr);
}

// The echo test prints progress lines; they would drown the report.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

  private:
    int saved_;
};

std::string ProgramDir() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
    return path.substr(0, path.rfind('/') + 1);
}

// The echo server as it is used: a console of its own, here started with key
// S on one end of the link and stopped with 0 and ESC.
class ServerConsole {
  public:
    explicit ServerConsole(const std::string& port) {
        const std::string program = ProgramDir() + "vantrel";
        if (access(program.c_str(), X_OK) != 0)
            return;
        int keys[2];
        int lines[2];
        if (pipe(keys) != 0 || pipe(lines) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(keys[0], 0);
            dup2(lines[1], 1);
            for (int fd : {keys[0], keys[1], lines[0], lines[1]})
                close(fd);
            setenv("VANTREL_PRINT_LESS", "1", 1);
            execl(program.c_str(), "vantrel", port.c_str(), "--first-key=S",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(keys[0]);
        close(lines[1]);
        keys_ = keys[1];
        lines_ = lines[0];
        ready_ = WaitForLine("waiting client");
    }
    ~ServerConsole() {
        if (pid_ <= 0)
            return;
        [[maybe_unused]] const ssize_t put = write(keys_, "0\x1b", 2);
        close(keys_);
        WaitForLine("\x01");  // drains the output until the console ends
        close(lines_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    bool Ready() const { return ready_; }

  private:
    // Reads the console's output until `text` shows or the output ends.
    bool WaitForLine(const std::string& text) {
        std::string seen;
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(lines_, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            seen.append(buffer, static_cast<size_t>(got));
            if (seen.find(text) != std::string::npos)
                return true;
            if (seen.size() > 65536)
                seen.erase(0, seen.size() - text.size());
        }
    }

    pid_t pid_ = -1;
    int keys_ = -1;
    int lines_ = -1;
    bool ready_ = false;
};

void BM_EchoClientAndServer(benchmark::State& state) {
    OvrixPair link;
    ServerConsole server(link.PathB());
    if (!server.Ready()) {
        state.SkipWithError("the server console did not start");
        return;
    }
    win::HANDLE client = OpenEnd(link.PathA());
    EchoConfig config;  // default chunk sizes 12..16000
    config.maxBytes = kBytesPerRun;
    ConsoleHooks noKeys;
    noKeys.keyWaiting = [] { return false; };
    int64_t moved = 0;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            if (!Do_Echo_cli(client, config, false, noKeys, nullptr)) {
                state.SkipWithError("echo run failed");
                break;
            }
            moved += 2 * kBytesPerRun;  // every byte goes out and comes back
        }
    }
    win::CloseHandle(client);
    state.SetBytesProcessed(moved);
    state.counters["both_ways_Bps"] =
        benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kIsRate);
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t put = write(fd, bytes, count);
        if (put <= 0)
            return false;
        bytes += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

// The same traffic without the port layer: a writer and a reader on one
// end, a plain read-and-write-back loop on the other.
void BM_RawCopyLoop(benchmark::State& state) {
    OvrixPair link;
    int64_t moved = 0;
    for (auto _ : state) {
        std::thread echoer([&] {
            std::vector<uint8_t> buffer(kRawBlock);
            for (int64_t done = 0; done < kBytesPerRun;) {
                const ssize_t got = read(link.RawB(), buffer.data(), buffer.size());
                if (got <= 0 || !WriteAll(link.RawB(), buffer.data(), static_cast<size_t>(got)))
                    return;
                done += got;
            }
        });
        std::thread writer([&] {
            std::vector<uint8_t> block(kRawBlock, 0x5A);
            for (int64_t done = 0; done < kBytesPerRun; done += kRawBlock)
                WriteAll(link.RawA(), block.data(),
                         static_cast<size_t>(std::min<int64_t>(kRawBlock, kBytesPerRun - done)));
        });
        std::vector<uint8_t> buffer(kRawBlock);
        for (int64_t done = 0; done < kBytesPerRun;) {
            const ssize_t got = read(link.RawA(), buffer.data(), buffer.size());
            if (got <= 0)
                break;
            done += got;
        }
        writer.join();
        echoer.join();
        moved += 2 * kBytesPerRun;
    }
    state.SetBytesProcessed(moved);
    state.counters["both_ways_Bps"] =
        benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kIsRate);
}

// One overlapped request through the port layer, waited for to its end.
win::DWORD PortRequest(win::HANDLE port, bool write, uint8_t* bytes, win::DWORD count,
                       win::HANDLE event) {
    win::OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    win::DWORD done = 0;
    const win::BOOL ok = write ? win::WriteFile(port, bytes, count, &done, &overlapped)
                               : win::ReadFile(port, bytes, count, &done, &overlapped);
    if (!ok && win::GetLastError() == win::ERROR_IO_PENDING)
        win::GetOverlappedResult(port, &overlapped, &done, win::TRUE);
    return done;
}

// The raw loop's traffic through the port layer on both ends (reads end 1 ms
// after their bytes stop): the ceiling the port layer leaves any protocol.
void BM_PortLayerCopyLoop(benchmark::State& state) {
    OvrixPair link;
    win::HANDLE a = OpenEnd(link.PathA());
    win::HANDLE b = OpenEnd(link.PathB());
    win::COMMTIMEOUTS timeouts{1, 0, 0, 0, 0};
    for (win::HANDLE port : {a, b}) {
        win::SetCommTimeouts(port, &timeouts);
        win::SetupComm(port, 2 * kRawBlock, 2 * kRawBlock);
    }
    int64_t moved = 0;
    for (auto _ : state) {
        std::thread echoer([&] {
            win::HANDLE event = win::CreateEvent(nullptr, win::TRUE, win::FALSE, nullptr);
            std::vector<uint8_t> buffer(kRawBlock);
            for (int64_t done = 0; done < kBytesPerRun;) {
                const win::DWORD got = PortRequest(b, false, buffer.data(), kRawBlock, event);
                if (got > 0)
                    PortRequest(b, true, buffer.data(), got, event);
                done += got;
            }
            win::CloseHandle(event);
        });
        std::thread writer([&] {
            win::HANDLE event = win::CreateEvent(nullptr, win::TRUE, win::FALSE, nullptr);
            std::vector<uint8_t> block(kRawBlock, 0x5A);
            for (int64_t done = 0; done < kBytesPerRun; done += kRawBlock)
                PortRequest(
                    a, true, block.data(),
                    static_cast<win::DWORD>(std::min<int64_t>(kRawBlock, kBytesPerRun - done)),
                    event);
            win::CloseHandle(event);
        });
        win::HANDLE event = win::CreateEvent(nullptr, win::TRUE, win::FALSE, nullptr);
        std::vector<uint8_t> buffer(kRawBlock);
        for (int64_t done = 0; done < kBytesPerRun;)
            done += PortRequest(a, false, buffer.data(), kRawBlock, event);
        win::CloseHandle(event);
        writer.join();
        echoer.join();
        moved += 2 * kBytesPerRun;
    }
    win::CloseHandle(a);
    win::CloseHandle(b);
    state.SetBytesProcessed(moved);
    state.counters["both_ways_Bps"] =
        benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kIsRate);
}

// Keeps each figure for the closing comparison.
class RateKeeper : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With repetitions only the median stands for the benchmark: a
            // stall of the machine in one repetition moves the mean far more.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            const auto found = run.counters.find("both_ways_Bps");
            const double value = found != run.counters.end() ? found->second.value : 0;
            if (run.benchmark_name().find("Echo") != std::string::npos)
                g_echoRate = value;
            else if (run.benchmark_name().find("Raw") != std::string::npos)
                g_rawRate = value;
            else if (run.benchmark_name().find("PortLayer") != std::string::npos)
                g_portRate = value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_RawCopyLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PortLayerCopyLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EchoClientAndServer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Unless told otherwise the benchmarks run fifteen times each, their
// repetitions interleaved at random, so that echo and raw loop meet the same
// moments of the machine (whose speed drifts by a quarter within minutes; the
// median of nine still moved the ratio by ten points from run to run).
std::vector<char*> WithDefaultRepetitions(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=15";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    auto given = [&](const char* flag) {
        for (int i = 1; i < argc; ++i)
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
                return true;
        return false;
    };
    if (!given("--benchmark_repetitions"))
        args.push_back(repetitions);
    if (!given("--benchmark_enable_random_interleaving"))
        args.push_back(interleaving);
    args.push_back(nullptr);
    return args;
}

int main(int argc, char** argv) {
    std::vector<char*> args = WithDefaultRepetitions(argc, argv);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    RateKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (g_rawRate > 0 && g_echoRate > 0)
        std::printf("echo/raw: %.1f%% (medians: echo %.0f B/s, raw %.0f B/s, both ways)\n",
                    100.0 * g_echoRate / g_rawRate, g_echoRate, g_rawRate);
    if (g_portRate > 0 && g_echoRate > 0)
        std::printf("echo/port-layer copy loop: %.1f%% (median of the port-layer loop %.0f B/s)\n",
                    100.0 * g_echoRate / g_portRate, g_portRate);
    benchmark::Shutdown();
    return 0;
}
