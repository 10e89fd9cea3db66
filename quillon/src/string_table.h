// Every text the program shows, in English (1033) and Chinese (2052).
#pragma once

#include <QString>

namespace quillon {

// The two languages of the texts, by Windows language id.
inline constexpr int kLanguageEnglish = 1033;
inline constexpr int kLanguageChinese = 2052;

enum TextId : int {
    IDS_CONFIG = 101,
    IDS_PRODUCT_NAME = 102,
    IDS_EXIT = 103,
    IDS_SERIAL_NUMBER = 104,
    IDS_FIRMWARE_VERSION = 105,
    IDS_DEVICE_IDENTITY = 106,
    IDS_DEVICE_CONNECTED = 107,
    IDS_INSERT_DEVICE = 108,
    IDS_WORK_MODE = 109,
    IDS_OUTPUT_AT_CURSOR = 110,
    IDS_NETWORK_OUTPUT = 111,
    IDS_SERVER_ADDRESS = 112,
    IDS_DEVICE_NOT_CONNECTED = 113,
    IDS_INTERFACE_ERROR = 114,
    IDS_CHECK_CONFIGURATION = 115,
    IDS_TIMEOUT = 116,
    IDS_EXTENDED_FIELDS = 117,
    // Network output's queue and outbox; "%1" is a count.
    IDS_SCANS_WAITING = 140,
    IDS_SCAN_REFUSED = 141,
    IDS_QUEUE_FULL = 142,
    // A paste at the cursor that could not be made.
    IDS_PASTE_FAILED = 150,
    IDS_PASTE_KEPT = 151,
    // The tray icon's tip after the title: "%1" is the product name.
    IDS_TIP_CONNECTED = 160,
    IDS_TIP_NOT_CONNECTED = 161,
    // A scanner that was found but could not be opened: "%1" names the
    // device, "%2" gives the reason.
    IDS_OPEN_FAILED = 162,
    // The label of the code page dialog.
    IDS_CODE_PAGE_LABEL = 170,
};

// The language that lookups use; any id other than 2052 means English.
void SetUiLanguage(int languageId);
int UiLanguage();

// The text of an id in the current language; empty for an unknown id.
QString LoadText(int id);

// Text 106 filled with the scanner's product name, serial number and
// firmware version, cut to 255 UTF-16 units like the 256-unit buffer it was
// made for.
QString FormatDeviceIdentity(const QString& productName, const QString& serialNumber,
                             const QString& firmwareVersion);

}  // namespace quillon
