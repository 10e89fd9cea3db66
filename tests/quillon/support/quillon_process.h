// The real quillon program in a home of its own: a copy of the program file
// in a directory of its own (where its ktr.ini goes), and private runtime,
// configuration and device namespace directories.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class QuillonHome {
  public:
    QuillonHome();
    QuillonHome(const QuillonHome&) = delete;
    QuillonHome& operator=(const QuillonHome&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path Program() const { return m_root / "bin" / "quillon"; }
    std::filesystem::path IniFile() const { return m_root / "bin" / "ktr.ini"; }
    std::filesystem::path ConfigHome() const { return m_root / "config"; }
    std::filesystem::path RuntimeDir() const { return m_root / "run"; }
    std::filesystem::path DeviceNamespace() const { return m_root / "ktr"; }
    std::filesystem::path AutorunEntry() const {
        return ConfigHome() / "autostart" / "quillon.desktop";
    }

    // The environment of a run: the home's directories, the suite's
    // libraries, and DISPLAY when `display` is given (otherwise none).
    std::vector<std::string> Environment(const std::string& display) const;

  private:
    support::TempDir m_folder;
    std::filesystem::path m_root;
};

// A run of the program that goes on while the test watches its output.
class QuillonRun {
  public:
    QuillonRun(const QuillonHome& home, const std::vector<std::string>& arguments,
               const std::string& display = {});
    // Any program with the given environment.
    QuillonRun(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment);
    ~QuillonRun();
    QuillonRun(const QuillonRun&) = delete;
    QuillonRun& operator=(const QuillonRun&) = delete;

    pid_t Pid() const { return m_pid; }
    // Reads output until `text` appears after what earlier waits consumed;
    // false when it does not within `seconds`.
    bool WaitFor(const std::string& text, int seconds = 30);
    // Waits for the end (killing the program after `seconds`); the exit
    // status, or -1 when it had to be killed or died by a signal.
    int Wait(int seconds = 30);
    // SIGTERM, then Wait.
    int Stop(int seconds = 30);
    const std::string& Output() const { return m_output; }

  private:
    bool ReadSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_outputFd = -1;
    std::string m_output;
    size_t m_consumed = 0;
    int m_status = -1;
};

// The scansim program as a USB scanner in the home's device namespace, fed
// through its standard input: each line a scan, or ":unplug", ":plug".
class ScannerProcess {
  public:
    // `suffix` follows every scan (scansim's escapes: "\\r", "\\r\\n", "").
    explicit ScannerProcess(const QuillonHome& home, const std::string& suffix = "\\r",
                            const std::string& serial = "sim0001");
    ~ScannerProcess();
    ScannerProcess(const ScannerProcess&) = delete;
    ScannerProcess& operator=(const ScannerProcess&) = delete;

    // Waits until the scanner's entry is in the namespace.
    bool WaitPresent(int seconds = 10) const;
    void Send(const std::string& line);

  private:
    std::filesystem::path m_entry;
    pid_t m_pid = -1;
    int m_input = -1;
};

std::string ReadTextFile(const std::filesystem::path& file);
