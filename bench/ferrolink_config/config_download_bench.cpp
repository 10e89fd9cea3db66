// A configuration download of a 400-setting set into the scanner simulator
// over a real pty: frames sent, and the time spent beyond the fixed pauses
// (500 ms before the buffer query, 100 ms before its connection closes, 30 ms
// before every frame).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "ferrolink/config.h"
#include "scansim/scanner.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSettings = 400;
constexpr unsigned kPort = 21;

std::string SettingName(int i) {
    char name[32];
    std::snprintf(name, sizeof(name), "B%02d%03d", i / 9 % 100, i);
    return name;
}

struct Rig {
    fs::path dir;
    std::unique_ptr<scansim::Scanner> scanner;
    std::string setFile;
    _QVDeviceInfo record;

    Rig() {
        std::string pattern = (fs::temp_directory_path() / "ferrolink-config-bench-XXXXXX");
        dir = ::mkdtemp(pattern.data());
        ::setenv("KTR_RUNTIME_DIR", dir.c_str(), 1);
        scansim::ScannerOptions options;
        options.attachment = scansim::Attachment::kCom;
        options.comPort = kPort;
        scansim::SettingsTable table;
        for (int i = 0; i < kSettings; ++i)
            table.Define(SettingName(i), "0", "*");
        options.settings = table;
        scanner = scansim::Scanner::Start(options);
        if (!scanner)
            std::abort();

        setFile = (dir / "set.xml").string();
        std::ofstream out(setFile);
        out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Tarnwell DeviceType=\"B\">\n";
        for (int i = 0; i < kSettings; ++i) {
            out << "<Command CommandName=\"" << SettingName(i) << "\" Value=\"" << i % 10
                << "\"/>\n";
        }
        out << "</Tarnwell>\n";

        std::memset(static_cast<void*>(&record), 0, sizeof(record));
        std::strcpy(record.szProductName, "Bench");
        ComPortSettings settings{kPort, 115200, 8};
        std::memcpy(&record.connInfo, &settings, sizeof(settings));
        record.nPortType = 1;
    }
    ~Rig() {
        scanner.reset();
        fs::remove_all(dir);
    }
};

void Download(benchmark::State& state, bool unified) {
    Rig rig;
    std::string name = rig.setFile;
    name.push_back('\0');
    double frames = 0, beyondMs = 0;
    for (auto _ : state) {
        rig.scanner->ClearLog();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = unified ? qv_SavetoDeviceAN_U(name.data(), &rig.record)
                                : qv_SavetoDeviceAN(name.data(), &rig.record);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (!ok) {
            state.SkipWithError("download failed");
            break;
        }
        // The download's frames: everything after the buffer query.
        int sent = 0;
        for (const auto& r : rig.scanner->Log()) {
            if (r.kind == scansim::Received::Kind::kFrame)
                ++sent;
        }
        sent -= 1;
        frames += sent;
        beyondMs += ms - 500.0 - 100.0 - 30.0 * sent;
    }
    state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kAvgIterations);
    state.counters["ms_beyond_pauses"] =
        benchmark::Counter(beyondMs, benchmark::Counter::kAvgIterations);
}

void BM_Download400_BufferCappedAt300(benchmark::State& state) {
    Download(state, false);
}
void BM_Download400_FullBuffer(benchmark::State& state) {
    Download(state, true);
}

BENCHMARK(BM_Download400_BufferCappedAt300)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Download400_FullBuffer)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
