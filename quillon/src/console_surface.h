// The headless form: no window and no tray; status texts and balloons are
// printed to standard output, as lines of text or as one JSON object a line.
#pragma once

#include <cstdio>

#include "status_surface.h"

class QJsonObject;

namespace quillon {

enum class ConsoleFormat {
    kText,  // the texts as they would show, line by line
    kJson,  // one JSON object per text (NDJSON), with a timestamp
};

class ConsoleSurface : public StatusSurface {
  public:
    explicit ConsoleSurface(std::FILE* out = stdout, ConsoleFormat format = ConsoleFormat::kText)
        : m_out(out), m_format(format) {}

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
    void EndDevicePrompt() override {}
    void ShowWarning(const QString& text) override;
    // A remark of the program that is none of the above.
    void ShowNotice(const QString& text);

  private:
    void PrintLines(const QString& text);
    // `kind` with its text (and title): one line of text or one JSON object.
    void Print(const char* kind, const QString& text, const QString& title = QString());
    void PrintJson(const QJsonObject& object);

    std::FILE* m_out;
    ConsoleFormat m_format;
};

}  // namespace quillon
