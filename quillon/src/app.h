// The application: start-up in its fixed order, the main window, and the
// settings written back at the end - also by a copy that found another one
// running.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillon {

class CAutoTabAppApp {
  public:
    // `json`: the headless form prints JSON lines instead of texts.
    explicit CAutoTabAppApp(bool headless, bool json = false)
        : m_headless(headless), m_json(json) {}

    // Runs the program with its arguments (the program name first); the
    // exit status.
    int Run(const std::vector<std::string>& arguments);

  private:
    bool InitInstance(const std::vector<std::string>& arguments);
    void RunMainWindow();
    void RunHeadless();
    int ExitInstance();

    bool m_headless;
    bool m_json;
    std::filesystem::path m_programFile;
    std::filesystem::path m_iniFile;
};

}  // namespace quillon
