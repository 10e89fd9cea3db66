// The program's settings: section "init" of ktr.ini, read once before the
// window exists and written back when the program ends.
#pragma once

#include <QString>
#include <filesystem>

namespace quillon {

inline constexpr int kLanguageEnglish = 1033;
inline constexpr int kLanguageChinese = 2052;

struct AppSettings {
    QString title = QStringLiteral("Quillon");
    // The program directory, a separator and the "image" value.
    QString iconPath;
    QString WorkMode = QStringLiteral("0");
    QString Enter = QStringLiteral("1");
    QString url = QStringLiteral("http://127.0.0.1:8080/");
    QString timeout = QStringLiteral("3000");
    int CodePage = 0;
    int HexOut = 0;
    int languageId = kLanguageChinese;
};

// The one settings record of the process.
AppSettings& Settings();

// Where ktr.ini lives: beside the program when its directory is writable,
// otherwise $XDG_CONFIG_HOME/quillon (~/.config/quillon).
std::filesystem::path SettingsFilePath(const std::filesystem::path& programDirectory);

// Reads every key (missing ones give their defaults) and selects the
// language of the user interface.
void LoadSettings(AppSettings& settings, const std::filesystem::path& iniFile,
                  const std::filesystem::path& programDirectory);
// Writes the keys back; HexOut and lang are left as the file has them.
bool SaveSettings(const AppSettings& settings, const std::filesystem::path& iniFile);

// Writes Directoutput into section init at once (window commands 1147/1148).
bool WriteDirectOutput(const std::filesystem::path& iniFile, bool on);

}  // namespace quillon
