// The headless form: no window and no tray; status texts and balloons are
// printed to standard output as lines.
#pragma once

#include <cstdio>

#include "status_surface.h"

namespace quillon {

class ConsoleSurface : public StatusSurface {
  public:
    explicit ConsoleSurface(std::FILE* out = stdout) : m_out(out) {}

    // Status texts always go to the output, as to a window that is shown.
    bool IsWindowVisible() const override { return true; }
    void SetStatusText(const QString& text) override;
    void FocusStatusText() override {}
    void SetCaption(const QString& caption) override;
    void SetWindowIconFile(const QString&) override {}
    void ShowNormal() override {}
    void HideWindow() override {}
    bool AddTrayIcon(const QString&, const QString&) override { return true; }
    bool ModifyTrayIcon(StateIcon, const QString*) override { return true; }
    bool ShowTrayBalloon(const QString& title, const QString& text, int timeoutMs) override;
    int PromptForDevice(const QString& text) override;
    void ShowWarning(const QString& text) override { PrintLines(text); }

  private:
    void PrintLines(const QString& text);

    std::FILE* m_out;
};

}  // namespace quillon
