#include "console_surface.h"

#include <QStringList>

namespace quillon {

void ConsoleSurface::PrintLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) {
        lines.removeLast();
    }
    for (const QString& line : lines) {
        std::fprintf(m_out, "%s\n", line.toUtf8().constData());
    }
    std::fflush(m_out);
}

void ConsoleSurface::SetStatusText(const QString& text) {
    PrintLines(text);
}

void ConsoleSurface::SetCaption(const QString& caption) {
    PrintLines(caption);
}

bool ConsoleSurface::ShowTrayBalloon(const QString& title, const QString& text, int /*timeoutMs*/) {
    const QString detail = text.trimmed();
    PrintLines(QStringLiteral("[balloon] ") + title.trimmed() +
               (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
    return true;
}

int ConsoleSurface::PromptForDevice(const QString& text) {
    PrintLines(text);
    return -1;
}

}  // namespace quillon
