// Connects the desktop window's menus and tray icon to the window's logic,
// and opens the code page dialog when the logic asks for it.
#pragma once

namespace quillon {

class MainWindow;
class CAutoTabAppDlg;
struct AppSettings;

void ConnectMainWindow(MainWindow& window, CAutoTabAppDlg& dialog, AppSettings& settings);

}  // namespace quillon
