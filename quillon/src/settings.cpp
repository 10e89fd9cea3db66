#include "settings.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/ini_file.h"
#include "string_table.h"

#include "xdg_dirs.h"

namespace quillon {
namespace {

constexpr char kSection[] = "init";
// Values are read into a 260-unit buffer: longer ones keep 259 units.
constexpr qsizetype kValueUnits = 259;

QString ReadValue(const std::filesystem::path& iniFile, const char* key, const QString& fallback) {
    std::string value = platform::IniReadString(iniFile, kSection, key, fallback.toStdString());
    return QString::fromStdString(value).left(kValueUnits);
}

// The C library's text-to-integer rule: optional blanks and sign, leading
// decimal digits, 0 when there are none.
int LeadingNumber(const QString& text) {
    return static_cast<int>(std::strtol(text.toStdString().c_str(), nullptr, 10));
}

// A file written on Windows may hold backslashes; both separate directories.
QString FileNamePart(const QString& path) {
    qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? path : path.mid(cut + 1);
}

bool DirectoryWritable(const std::filesystem::path& directory) {
    return !directory.empty() && access(directory.c_str(), W_OK) == 0;
}

}  // namespace

AppSettings& Settings() {
    static AppSettings settings;
    return settings;
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& programDirectory) {
    if (DirectoryWritable(programDirectory)) {
        return programDirectory / "ktr.ini";
    }
    std::filesystem::path directory = ConfigHome() / "quillon";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory / "ktr.ini";
}

void LoadSettings(AppSettings& settings, const std::filesystem::path& iniFile,
                  const std::filesystem::path& programDirectory) {
    const AppSettings defaults;
    settings.title = ReadValue(iniFile, "title", defaults.title);
    QString image = ReadValue(iniFile, "image", QStringLiteral("imageico.ico"));
    settings.iconPath =
        QString::fromStdString(programDirectory.string()) + QLatin1Char('/') + image;
    settings.WorkMode = ReadValue(iniFile, "WorkMode", defaults.WorkMode);
    settings.Enter = ReadValue(iniFile, "Enter", defaults.Enter);
    settings.url = ReadValue(iniFile, "url", defaults.url);
    settings.timeout = ReadValue(iniFile, "timeout", defaults.timeout);
    settings.CodePage = LeadingNumber(ReadValue(iniFile, "CodePage", QStringLiteral("0")));
    settings.HexOut = LeadingNumber(ReadValue(iniFile, "HexOut", QStringLiteral("0")));
    QString lang = ReadValue(iniFile, "lang", QStringLiteral("cn"));
    settings.languageId = lang == QStringLiteral("cn") ? kLanguageChinese : kLanguageEnglish;
    SetUiLanguage(settings.languageId);
}

bool SaveSettings(const AppSettings& settings, const std::filesystem::path& iniFile) {
    auto write = [&](const char* key, const QString& value) {
        return platform::IniWriteString(iniFile, kSection, key, value.toStdString());
    };
    bool ok = write("title", settings.title);
    ok = write("image", FileNamePart(settings.iconPath)) && ok;
    ok = write("WorkMode", settings.WorkMode) && ok;
    ok = write("Enter", settings.Enter) && ok;
    ok = write("url", settings.url) && ok;
    ok = write("timeout", settings.timeout) && ok;
    ok = write("CodePage", QString::number(settings.CodePage)) && ok;
    return ok;
}

bool WriteDirectOutput(const std::filesystem::path& iniFile, bool on) {
    return platform::IniWriteString(iniFile, kSection, "Directoutput", on ? "1" : "0");
}

}  // namespace quillon
