// Network output: what one scan costs from the scanner to the web server with
// Quillon in between, against a bare libcurl POST of the same bytes to the
// same server. Both run in this process's one run, so the machine's load
// affects them alike.
//
//   BM_BarePost           a fresh libcurl handle per POST (as Quillon uses)
//   BM_ClientPost         Quillon's HTTP client, in this process
//   BM_QuillonScanToPost  scansim sends a scan, the real program (headless)
//                         hands it to its delivery thread, which posts it;
//                         the server's receipt ends the iteration
//
// Unless told otherwise each runs nine times, the repetitions interleaved at
// random so that both meet the same moments of a shared machine, and the
// closing line gives the ratio of their medians (scan-to-POST / bare POST).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "delivery/http_client.h"
#include "scansim/scanner.h"

namespace fs = std::filesystem;

namespace {

// A minimal HTTP server: reads one request per connection, answers
// "succes", counts the bodies it got.
class Receiver {
  public:
    Receiver() {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listen, 64);
        socklen_t length = sizeof address;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Receiver() {
        m_stop = true;
        shutdown(m_listen, SHUT_RDWR);
        close(m_listen);
        m_thread.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/scan"; }
    long Received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    bool WaitForCount(long count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30),
                                  [&] { return m_received >= count; });
    }

  private:
    void Serve() {
        while (!m_stop) {
            int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            Answer(client);
            close(client);
        }
    }
    void Answer(int client) {
        std::string request;
        char buffer[4096];
        size_t bodyStart = std::string::npos;
        size_t contentLength = 0;
        for (;;) {
            ssize_t n = read(client, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            request.append(buffer, static_cast<size_t>(n));
            if (bodyStart == std::string::npos &&
                (bodyStart = request.find("\r\n\r\n")) != std::string::npos) {
                bodyStart += 4;
                const size_t header = request.find("Content-Length: ");
                contentLength = header == std::string::npos
                                    ? 0
                                    : std::strtoul(request.c_str() + header + 16, nullptr, 10);
            }
            if (bodyStart != std::string::npos && request.size() >= bodyStart + contentLength) {
                break;
            }
        }
        static constexpr char kReply[] =
            "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsucces";
        [[maybe_unused]] ssize_t written = write(client, kReply, sizeof kReply - 1);
        {
            std::lock_guard lock(m_mutex);
            ++m_received;
        }
        m_changed.notify_all();
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    long m_received = 0;
};

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

void BM_BarePost(benchmark::State& state) {
    Receiver receiver;
    const std::string body("SCAN-0123456789\r\0", 17);
    for (auto _ : state) {
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, receiver.Url().c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
        if (curl_easy_perform(curl) != CURLE_OK) {
            state.SkipWithError("POST failed");
        }
        curl_easy_cleanup(curl);
    }
    state.SetItemsProcessed(state.iterations());
}

// Quillon's own client alone: what the client adds to a bare POST.
void BM_ClientPost(benchmark::State& state) {
    Receiver receiver;
    const std::string scan("SCAN-0123456789\r", 16);
    for (auto _ : state) {
        if (quillon::PostScan(receiver.Url(), scan) != "succes") {
            state.SkipWithError("POST failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// The real program in a directory of its own, headless, network output.
class QuillonProcess {
  public:
    QuillonProcess(const fs::path& dir, const std::string& url) {
        const fs::path bin = std::getenv("SUITE_BIN_DIR") != nullptr
                                 ? fs::path(std::getenv("SUITE_BIN_DIR"))
                                 : fs::canonical("/proc/self/exe").parent_path();
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        fs::copy_file(bin / "quillon", dir / "quillon", fs::copy_options::overwrite_existing);
        std::ofstream(dir / "ktr.ini") << "[init]\nlang=en\nWorkMode=1\nurl=" << url << "\n";
        const std::string program = (dir / "quillon").string();
        const std::string runtime = "XDG_RUNTIME_DIR=" + (dir / "run").string();
        const std::string config = "XDG_CONFIG_HOME=" + (dir / "config").string();
        const std::string libraries = "LD_LIBRARY_PATH=" + bin.string();
        m_pid = fork();
        if (m_pid == 0) {
            int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            putenv(const_cast<char*>(runtime.c_str()));
            putenv(const_cast<char*>(config.c_str()));
            putenv(const_cast<char*>(libraries.c_str()));
            unsetenv("DISPLAY");
            execl(program.c_str(), program.c_str(), "--headless", "-autorun", nullptr);
            _exit(127);
        }
    }
    ~QuillonProcess() {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }

  private:
    pid_t m_pid = -1;
};

void BM_QuillonScanToPost(benchmark::State& state) {
    char pattern[] = "/tmp/quillon-bench-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    setenv("KTR_RUNTIME_DIR", (dir / "ktr").c_str(), 1);
    Receiver receiver;
    std::string error;
    auto scanner = scansim::Scanner::Start({}, &error);
    if (!scanner) {
        state.SkipWithError(error.c_str());
        return;
    }
    {
        QuillonProcess quillon(dir, receiver.Url());
        // Connected once the first scan goes through.
        long expected = 0;
        for (int attempt = 0; attempt < 50 && receiver.Received() == 0; ++attempt) {
            scanner->SendScan("WARM-UP\r");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        expected = receiver.Received();
        if (expected == 0) {
            state.SkipWithError("the program did not connect");
        }
        for (auto _ : state) {
            scanner->SendScan("SCAN-0123456789\r");
            if (!receiver.WaitForCount(++expected)) {
                state.SkipWithError("a scan did not arrive");
                break;
            }
        }
    }
    scanner.reset();
    fs::remove_all(dir);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BarePost)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ClientPost)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_QuillonScanToPost)->UseRealTime()->MinTime(1.0);

double g_bareNs = 0;
double g_quillonNs = 0;

// Keeps the median time per POST of each for the closing ratio (a stall of
// the machine in one repetition moves the mean far more).
class TimeKeeper : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") {
                continue;
            }
            if (run.iterations <= 0) {
                continue;
            }
            const double ns = run.GetAdjustedRealTime();
            if (run.benchmark_name().find("BM_BarePost") != std::string::npos) {
                g_bareNs = ns;
            } else if (run.benchmark_name().find("BM_QuillonScanToPost") != std::string::npos) {
                g_quillonNs = ns;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::vector<char*> WithDefaultRepetitions(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=9";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    auto given = [&](const char* flag) {
        for (int i = 1; i < argc; ++i) {
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
                return true;
            }
        }
        return false;
    };
    if (!given("--benchmark_repetitions")) {
        args.push_back(repetitions);
    }
    if (!given("--benchmark_enable_random_interleaving")) {
        args.push_back(interleaving);
    }
    args.push_back(nullptr);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<char*> args = WithDefaultRepetitions(argc, argv);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    TimeKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (g_bareNs > 0 && g_quillonNs > 0) {
        std::printf("scan-to-POST / bare POST: %.2f (medians: %.0f us and %.0f us per POST)\n",
                    g_quillonNs / g_bareNs, g_quillonNs / 1000, g_bareNs / 1000);
    }
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
