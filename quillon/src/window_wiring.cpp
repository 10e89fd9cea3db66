#include "window_wiring.h"

#include "about_dialog.h"
#include "main_dialog.h"
#include "main_window.h"
#include "string_table.h"

namespace quillon {

void ConnectMainWindow(MainWindow& window, CAutoTabAppDlg& dialog, AppSettings& settings) {
    window.SetMenuTexts(LoadText(IDS_CONFIG), LoadText(IDS_EXIT));
    QObject::connect(&window, &MainWindow::SysCommand, &dialog, &CAutoTabAppDlg::OnSysCommand);
    QObject::connect(&window, &MainWindow::TrayActivated, &dialog,
                     &CAutoTabAppDlg::OnTrayActivated);
    QObject::connect(&window, &QDialog::finished, &dialog, &CAutoTabAppDlg::DialogEnded);
    // Queued: a command's sender gets its answer while the dialog is open.
    QObject::connect(
        &dialog, &CAutoTabAppDlg::CodePageDialogRequested, &window,
        [&window, &dialog, &settings] {
            CAboutDlg about(settings, &window);
            if (about.exec() == QDialog::Accepted) {
                dialog.OnCodePageChanged();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace quillon
