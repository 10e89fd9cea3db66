// A bench for running the library's exports against a misbehaving simulated
// scanner: a private runtime namespace and working directory, one scanner on
// USB or a COM port, the files a failed export may leave behind, and a clock.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ferrolink/record.h"
#include "ops_fixture.h"
#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace faults_test {

namespace fs = std::filesystem;

// The longest single wait on a reply the command sender allows: a reading
// stops after 3 s, nothing at all after 5 s, and a stalled reply after 10 s.
inline constexpr std::chrono::seconds kReplyGuard{10};
// Slack for a loaded machine on top of the guards.
inline constexpr std::chrono::seconds kSlack{5};

inline constexpr unsigned kComPort = 6;
inline constexpr char kUsbSerial[] = "flt01";

// Every file a test puts into the working directory, and the only ones that
// may be there after an export.
inline constexpr char kOfficeFile[] = "Office.xml";
inline constexpr char kConfigSetFile[] = "test.xml";
inline constexpr char kDownloadFile[] = "set.xml";
inline constexpr char kFirmwareFile[] = "firmware.bin";

// Moves into a fresh working directory (the configuration exports write into
// the current directory) and back again.
class WorkingDir {
  public:
    WorkingDir();
    ~WorkingDir();
    const fs::path& Path() const { return dir_.Path(); }

  private:
    support::TempDir dir_{"ferrolink-faults-cwd"};
    fs::path previous_;
};

std::unique_ptr<scansim::Scanner> StartScanner(scansim::Attachment attachment);
_QVDeviceInfo RecordFor(scansim::Attachment attachment);

// A configuration set file with `count` settings the simulator knows.
void WriteDownloadSet(const fs::path& file, int count);

// A whole XML document standing for the file of an earlier, successful export.
void WritePreviousDocument(const fs::path& file);

// Problems with the files in `dir`: names outside `allowed` (temporaries,
// partial copies) and XML files that are not whole documents. Empty when fine.
std::vector<std::string> FileProblems(const fs::path& dir, const std::vector<std::string>& allowed);

// Whether a plain command gets its acknowledged reply: the library and the
// scanner both work again after a fault.
bool AnswersAgain(scansim::Attachment attachment);

// Reads and drops what the scanner still sends until it has been quiet for a
// moment; false when it keeps talking for 30 s.
bool DrainUntilQuiet(const fs::path& link);

// Elapsed wall time of `call`.
template <typename Call>
std::chrono::milliseconds TimeOf(Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

// Work in a child process of its own, handing a plain outcome back through a
// pipe: exports wait out their reply guards side by side, a crash or a hang
// shows as that work's own, and each child's peak memory is its own.
template <typename Outcome>
class ChildRun {
  public:
    explicit ChildRun(const std::function<Outcome()>& work) {
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            const Outcome outcome = work();
            const ssize_t written = ::write(ends[1], &outcome, sizeof outcome);
            ::_exit(written == static_cast<ssize_t>(sizeof outcome) ? 0 : 1);
        }
        ::close(ends[1]);
        fd_ = ends[0];
    }
    ~ChildRun() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ChildRun(const ChildRun&) = delete;
    ChildRun& operator=(const ChildRun&) = delete;

    // The outcome, or why there is none (crash, hang, no process).
    std::optional<Outcome> Collect(std::chrono::steady_clock::time_point deadline,
                                   std::string& why) {
        if (pid_ <= 0) {
            why = "no child process";
            return std::nullopt;
        }
        Outcome outcome;
        size_t got = 0;
        auto* bytes = reinterpret_cast<char*>(&outcome);
        while (got < sizeof outcome) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd wait{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                why = "hung";
                return std::nullopt;
            }
            const ssize_t n = ::read(fd_, bytes + got, sizeof outcome - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        if (WIFSIGNALED(status)) {
            why = "crashed with signal " + std::to_string(WTERMSIG(status));
            return std::nullopt;
        }
        if (got < sizeof outcome) {
            why = "ended without an outcome";
            return std::nullopt;
        }
        return outcome;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// Runs `run` on every row (each with a `name`) in a child process of its
// own, all side by side, then `check` on each row's outcome under the row's
// name. A row whose child crashed, hung (100 s for all together) or gave no
// outcome is a test failure saying which.
template <typename Outcome, typename Row, typename Run, typename Check>
void RunRowsApart(const std::vector<Row>& rows, const Run& run, const Check& check) {
    std::vector<std::unique_ptr<ChildRun<Outcome>>> children;
    for (const Row& row : rows)
        children.push_back(std::make_unique<ChildRun<Outcome>>([&run, &row] { return run(row); }));
    // Far beyond every row's own bound: only a hang runs into it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        std::string why;
        const std::optional<Outcome> outcome = children[i]->Collect(deadline, why);
        if (!outcome) {
            ADD_FAILURE() << why;
            continue;
        }
        check(rows[i], *outcome);
    }
}

}  // namespace faults_test
