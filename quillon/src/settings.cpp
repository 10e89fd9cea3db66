#include "settings.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/ini_file.h"
#include "string_table.h"

#include "xdg_dirs.h"

namespace quillon {
namespace {

constexpr char kSection[] = "init";
// Values are read into a 260-unit buffer: longer ones keep 259 units.
constexpr qsizetype kValueUnits = 259;

// A value that is cut is kept whole in `uncut` (when given) for the save.
QString ReadValue(const std::filesystem::path& iniFile, const char* key, const QString& fallback,
                  QHash<QString, QString>* uncut = nullptr) {
    std::string value = platform::IniReadString(iniFile, kSection, key, fallback.toStdString());
    QString whole = QString::fromStdString(value);
    if (uncut != nullptr && whole.size() > kValueUnits) {
        uncut->insert(QString::fromLatin1(key), whole);
    }
    return whole.left(kValueUnits);
}

// The text to write for a key: the whole value of the file when the setting
// is still the cut form that was read from it.
QString ValueToWrite(const AppSettings& settings, const char* key, const QString& value,
                     QString (*form)(const QString&)) {
    const auto whole = settings.uncutValues.constFind(QString::fromLatin1(key));
    if (whole != settings.uncutValues.cend() && form(whole->left(kValueUnits)) == value) {
        return form(*whole);
    }
    return value;
}

QString AsItIs(const QString& value) {
    return value;
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

// A program installed in the system's folders (/usr/bin, /usr/local/bin, /bin)
// never keeps its settings beside itself, not even when root can write there.
bool SystemProgramDirectory(const std::filesystem::path& directory) {
    const std::filesystem::path normal = directory.lexically_normal();
    auto part = normal.begin();
    if (!normal.is_absolute() || ++part == normal.end())
        return false;
    return *part == "usr" || *part == "bin" || *part == "sbin";
}

}  // namespace

WorkMode WorkModeOf(const AppSettings& settings) {
    return WorkModeFromText(settings.WorkMode.toStdString());
}

AppSettings& Settings() {
    static AppSettings settings;
    return settings;
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& programDirectory) {
    if (DirectoryWritable(programDirectory) && !SystemProgramDirectory(programDirectory)) {
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
    QHash<QString, QString>* uncut = &settings.uncutValues;
    uncut->clear();
    settings.title = ReadValue(iniFile, "title", defaults.title, uncut);
    QString image = ReadValue(iniFile, "image", QStringLiteral("imageico.ico"), uncut);
    settings.iconPath =
        QString::fromStdString(programDirectory.string()) + QLatin1Char('/') + image;
    settings.WorkMode = ReadValue(iniFile, "WorkMode", defaults.WorkMode, uncut);
    settings.Enter = ReadValue(iniFile, "Enter", defaults.Enter, uncut);
    settings.url = ReadValue(iniFile, "url", defaults.url, uncut);
    settings.timeout = ReadValue(iniFile, "timeout", defaults.timeout, uncut);
    settings.CodePage = LeadingNumber(ReadValue(iniFile, "CodePage", QStringLiteral("0")));
    settings.HexOut = LeadingNumber(ReadValue(iniFile, "HexOut", QStringLiteral("0")));
    QString lang = ReadValue(iniFile, "lang", QStringLiteral("cn"));
    settings.languageId = lang == QStringLiteral("cn") ? kLanguageChinese : kLanguageEnglish;
    SetUiLanguage(settings.languageId);
    settings.TlsVerifyHost =
        LeadingNumber(ReadValue(iniFile, "TlsVerifyHost", QStringLiteral("0")));
    settings.TlsPinnedKey = ReadValue(iniFile, "TlsPinnedKey", QString());
    settings.Outbox = LeadingNumber(ReadValue(iniFile, "Outbox", QStringLiteral("0")));
}

bool SaveSettings(const AppSettings& settings, const std::filesystem::path& iniFile) {
    auto write = [&](const char* key, const QString& setting,
                     QString (*form)(const QString&) = AsItIs) {
        const QString value = ValueToWrite(settings, key, form(setting), form);
        if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))) {
            std::fprintf(stderr,
                         "quillon: %s keeps its old value in %s: the new one holds a line break\n",
                         key, iniFile.c_str());
            return false;
        }
        return platform::IniWriteString(iniFile, kSection, key, value.toStdString());
    };
    bool ok = write("title", settings.title);
    ok = write("image", settings.iconPath, FileNamePart) && ok;
    ok = write("WorkMode", settings.WorkMode) && ok;
    ok = write("Enter", settings.Enter) && ok;
    ok = write("url", settings.url) && ok;
    ok = write("timeout", settings.timeout) && ok;
    ok = write("CodePage", QString::number(settings.CodePage)) && ok;
    ok = write("TlsVerifyHost", QString::number(settings.TlsVerifyHost)) && ok;
    ok = write("TlsPinnedKey", settings.TlsPinnedKey) && ok;
    ok = write("Outbox", QString::number(settings.Outbox)) && ok;
    return ok;
}

bool WriteDirectOutput(const std::filesystem::path& iniFile, bool on) {
    return platform::IniWriteString(iniFile, kSection, "Directoutput", on ? "1" : "0");
}

}  // namespace quillon
