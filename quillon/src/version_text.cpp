#include "version_text.h"

#include <QStringList>
#include <array>
#include <cstdlib>

#include "version_record.h"

namespace quillon {
namespace {

int LeadingNumber(const QString& text) {
    return static_cast<int>(std::strtol(text.toStdString().c_str(), nullptr, 10));
}

}  // namespace

QString GetFileVersionText(const std::filesystem::path& file, bool buildOnly) {
    std::optional<VersionRecord> record = ReadVersionRecord(file);
    if (!record) {
        return QStringLiteral("1.0.0.5");
    }
    const unsigned major = record->fileVersionMS >> 16;
    const unsigned minor = record->fileVersionMS & 0xFFFF;
    const unsigned build = record->fileVersionLS >> 16;
    const unsigned revision = record->fileVersionLS & 0xFFFF;
    if (buildOnly) {
        return QString::number(build);
    }
    return QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(build).arg(revision);
}

QString BuildCaption(const QString& title, const QString& versionText, int hexOut) {
    std::array<int, 4> numbers{};
    const QStringList parts = versionText.split(QLatin1Char('.'));
    for (size_t i = 0; i < numbers.size() && i < static_cast<size_t>(parts.size()); ++i) {
        numbers[i] = LeadingNumber(parts[static_cast<qsizetype>(i)]);
    }
    // The title is joined, not substituted: it may contain '%' itself.
    QString caption =
        title + QStringLiteral(" V%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
    if (numbers[3] != 0) {
        caption += QStringLiteral(".B%1").arg(numbers[3]);
    }
    if (hexOut != 0) {
        caption += QStringLiteral("(Harlowe)");
    }
    return caption;
}

}  // namespace quillon
