// A private X server (Xvfb on a display it picks itself) with a tray host
// (trayer), for tests of windows, tray icons, balloons and the clipboard.
#pragma once

#include <sys/types.h>

#include <string>

class XSession {
  public:
    XSession() = default;
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Starts the server and, when asked, the tray host; false with the
    // reason in Error() when either does not come up.
    bool Start(bool withTray);
    const std::string& DisplayName() const { return m_display; }
    const std::string& Error() const { return m_error; }

  private:
    bool StartServer();
    bool StartTray();

    pid_t m_server = -1;
    pid_t m_tray = -1;
    std::string m_display;
    std::string m_error;
};

// Runs `command` through the shell with DISPLAY set; its exit status.
int RunOnDisplay(const std::string& display, const std::string& command);

// Clicks the left button on the smallest visible window of process `pid`
// (a tray icon, once embedded in the tray host); false when there is none.
bool ClickTrayIconOf(const std::string& display, pid_t pid);
