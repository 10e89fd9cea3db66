#include "console_surface.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <string_view>

namespace quillon {
namespace {

// The text without the empty lines that end it.
QString WithoutTrailingBlankLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) {
        lines.removeLast();
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

void ConsoleSurface::PrintLines(const QString& text) {
    const QString shown = WithoutTrailingBlankLines(text);
    if (shown.isEmpty()) {
        return;
    }
    for (const QString& line : shown.split(QLatin1Char('\n'))) {
        std::fprintf(m_out, "%s\n", line.toUtf8().constData());
    }
    std::fflush(m_out);
}

void ConsoleSurface::PrintJson(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fprintf(m_out, "%s\n", line.constData());
    std::fflush(m_out);
}

void ConsoleSurface::Print(const char* kind, const QString& text, const QString& title) {
    if (m_format == ConsoleFormat::kText) {
        if (std::string_view(kind) == "balloon") {
            const QString detail = text.trimmed();
            PrintLines(QStringLiteral("[balloon] ") + title.trimmed() +
                       (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
        } else {
            PrintLines(text);
        }
        return;
    }
    QJsonObject object;
    object.insert(QStringLiteral("time"),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("kind"), QString::fromLatin1(kind));
    if (!title.isNull()) {
        object.insert(QStringLiteral("title"), title.trimmed());
    }
    object.insert(QStringLiteral("text"), WithoutTrailingBlankLines(text).trimmed());
    PrintJson(object);
}

void ConsoleSurface::SetStatusText(const QString& text) {
    Print("status", text);
}

void ConsoleSurface::SetCaption(const QString& caption) {
    Print("caption", caption);
}

bool ConsoleSurface::ShowTrayBalloon(const QString& title, const QString& text, int /*timeoutMs*/) {
    Print("balloon", text, title);
    return true;
}

int ConsoleSurface::PromptForDevice(const QString& text) {
    Print("prompt", text);
    return -1;
}

void ConsoleSurface::ShowWarning(const QString& text) {
    Print("warning", text);
}

void ConsoleSurface::ShowNotice(const QString& text) {
    Print("notice", text);
}

}  // namespace quillon
