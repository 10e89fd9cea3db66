// Discovery with 1, 5 and 20 simulated USB scanners (time per device), and a
// framed command round trip through the sender against the same round trip
// made with the data-stream calls alone, on the same simulated scanner.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cmd_send.h"
#include "ferrolink/ferrolink.h"
#include "scansim/scanner.h"

namespace {

class Namespace {
  public:
    Namespace() {
        char pattern[] = "/tmp/ferrolink-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        setenv("KTR_RUNTIME_DIR", dir_.c_str(), 1);
    }
    ~Namespace() { std::filesystem::remove_all(dir_); }

  private:
    std::string dir_;
};

std::vector<std::unique_ptr<scansim::Scanner>> StartScanners(int count) {
    std::vector<std::unique_ptr<scansim::Scanner>> scanners;
    for (int i = 0; i < count; ++i) {
        scansim::ScannerOptions options;
        options.usbSerial = "bench" + std::to_string(i);
        scanners.push_back(scansim::Scanner::Start(options));
    }
    return scanners;
}

void BM_Discovery(benchmark::State& state) {
    Namespace space;
    const int count = static_cast<int>(state.range(0));
    auto scanners = StartScanners(count);
    std::vector<_QVDeviceInfo> table(20);
    for (auto _ : state) {
        for (auto& record : table)
            std::memset(static_cast<void*>(&record), 0, sizeof record);
        if (qv_GetDevice(table.data(), 20) != count)
            state.SkipWithError("not every scanner was found");
    }
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Discovery)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

// One open connection to a simulated scanner, for both round trips.
struct OpenScanner {
    OpenScanner() : scanners(StartScanners(1)) {
        std::vector<_QVDeviceInfo> table(1);
        std::memset(static_cast<void*>(table.data()), 0, sizeof table[0]);
        qv_GetDevice(table.data(), 1);
        CopyPortSettings(table[0], connection);
        OpenConnection(&connection);
    }
    Namespace space;
    std::vector<std::unique_ptr<scansim::Scanner>> scanners;
    __STRUCT_DEVICE_ONLINE connection;
};

constexpr char kCommand[] = "QRYESN";

void BM_SendFramed(benchmark::State& state) {
    OpenScanner scanner;
    CCmdSend sender;
    for (auto _ : state) {
        int count = 0;
        sender.SendFramed(&scanner.connection, kCommand, &count);
        if (sender.m_dwCurrentSize == 0)
            state.SkipWithError("no reply");
    }
}

void BM_DataStreamRoundTrip(benchmark::State& state) {
    OpenScanner scanner;
    const std::string frame = std::string(
                                  "\x7E\x01"
                                  "0000@",
                                  7) +
                              kCommand + ";\x03";
    std::vector<unsigned char> reply(10240);
    for (auto _ : state) {
        const QVDS_HANDLE h = scanner.connection.hStream;
        qvds_clean(h, 0);
        qvds_write(h, frame.data(), static_cast<uint32_t>(frame.size()));
        int error = 0;
        if (qvds_read_until(h, reply.data(), 10240, 3000, -2, ";\x03", 2, &error) <= 0)
            state.SkipWithError("no reply");
    }
}
// Wall time: a round trip is mostly waiting for the scanner. The data-stream
// round trip runs before and after the sender's, so a drift of the machine
// shows as a difference between its two runs. The sender's bounds (reply
// limit, capped growth, drain after a reply given up on) must not show.
BENCHMARK(BM_DataStreamRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SendFramed)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DataStreamRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
