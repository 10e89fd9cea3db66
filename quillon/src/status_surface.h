// What the main window's logic needs from the screen: the window with its
// status text, and the tray icon with its balloons. The desktop form draws
// them with Qt widgets; the headless form prints them.
#pragma once

#include <QString>

namespace quillon {

// Entries of the state icons: 132 (not connected), 131 (connected), 130, 129.
enum StateIcon : int {
    kStateIconNotConnected = 0,
    kStateIconConnected = 1,
    kStateIconCount = 4,
};

class StatusSurface {
  public:
    virtual ~StatusSurface() = default;

    virtual bool IsWindowVisible() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void FocusStatusText() = 0;
    virtual void SetCaption(const QString& caption) = 0;
    // The icon file of the settings, as window icon; a file that cannot be
    // loaded leaves the window without that image.
    virtual void SetWindowIconFile(const QString& iconFile) = 0;
    virtual void ShowNormal() = 0;
    virtual void HideWindow() = 0;

    // The tray icon with the icon file and the tip; true when the platform
    // took it.
    virtual bool AddTrayIcon(const QString& iconFile, const QString& tip) = 0;
    // Changes the tray icon, and the tip when one is given.
    virtual bool ModifyTrayIcon(StateIcon icon, const QString* tip) = 0;
    // A warning balloon at the tray icon.
    virtual bool ShowTrayBalloon(const QString& title, const QString& text, int timeoutMs) = 0;

    // Asks the user to insert the scanner: 1 for OK, 0 for Cancel, -1 when
    // this form cannot ask (it then shows the text once and goes on).
    virtual int PromptForDevice(const QString& text) = 0;
    // Ends an open insert prompt as if OK had been pressed; nothing when
    // none is open.
    virtual void EndDevicePrompt() = 0;
    // A warning the user has to acknowledge.
    virtual void ShowWarning(const QString& text) = 0;
};

}  // namespace quillon
