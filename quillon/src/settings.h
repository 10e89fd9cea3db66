// The program's settings: section "init" of ktr.ini, read once before the
// window exists and written back when the program ends.
#pragma once

#include <QHash>
#include <QString>
#include <filesystem>

#include "delivery/scan_delivery.h"
#include "string_table.h"

namespace quillon {

struct AppSettings {
    QString title = QStringLiteral("Quillon");
    // The program directory, a separator and the "image" value.
    QString iconPath;
    QString WorkMode = QStringLiteral("0");
    QString Enter = QStringLiteral("1");
    QString url = QStringLiteral("http://127.0.0.1:8080/");
    QString timeout = QStringLiteral("3000");
    // Network output: 1 = the server's certificate must name its host;
    // "sha256//<base64>" pins the server's public key; 1 = failed scans are
    // kept in the outbox and posted again.
    int TlsVerifyHost = 0;
    QString TlsPinnedKey;
    int Outbox = 0;
    int CodePage = 0;
    int HexOut = 0;
    int languageId = kLanguageChinese;
    // Values longer than the 259 units that are read, as the file holds
    // them, by key: a value still as it was read is written back whole, so
    // a long url does not lose its end at every exit.
    QHash<QString, QString> uncutValues;
};

// The work mode the "WorkMode" value names ("0" at the cursor, "1" network).
quillon::WorkMode WorkModeOf(const AppSettings& settings);

// The one settings record of the process.
AppSettings& Settings();

// Where ktr.ini lives: beside the program when its directory is writable and
// not one of the system's (/usr/..., /bin, /sbin), otherwise
// $XDG_CONFIG_HOME/quillon (~/.config/quillon).
std::filesystem::path SettingsFilePath(const std::filesystem::path& programDirectory);

// Reads every key (missing ones give their defaults) and selects the
// language of the user interface.
void LoadSettings(AppSettings& settings, const std::filesystem::path& iniFile,
                  const std::filesystem::path& programDirectory);
// Writes the keys back; HexOut and lang are left as the file has them. A
// value holding a line break is not written (a line on standard error says
// so) and the file keeps the old one.
bool SaveSettings(const AppSettings& settings, const std::filesystem::path& iniFile);

// Writes Directoutput into section init at once (window commands 1147/1148).
bool WriteDirectOutput(const std::filesystem::path& iniFile, bool on);

}  // namespace quillon
