#include "app.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "autorun.h"
#include "console_surface.h"
#include "instance_lock.h"
#include "main_dialog.h"
#include "main_window.h"
#include "platform/module_path.h"
#include "quit_signals.h"
#include "settings.h"
#include "window_wiring.h"

namespace quillon {
namespace {

constexpr char kInstanceName[] = "Quillon";

std::vector<const char*> ArgumentPointers(const std::vector<std::string>& arguments) {
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    return pointers;
}

// Wires what every form shares: window commands from other processes and
// the orderly end on a quit signal.
void ConnectCommon(CAutoTabAppDlg& dialog, InstanceLock& lock, QuitSignals& quitSignals) {
    QObject::connect(&lock, &InstanceLock::CommandReceived, &dialog, &CAutoTabAppDlg::OnCommand);
    // exit(), not quit(): quit() asks the windows first, and the main window
    // refuses to close (closing hides it).
    QObject::connect(
        &dialog, &CAutoTabAppDlg::DialogEnded, QCoreApplication::instance(),
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    QObject::connect(&quitSignals, &QuitSignals::QuitRequested, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(0); });
}

}  // namespace

int CAutoTabAppApp::Run(const std::vector<std::string>& arguments) {
    InitInstance(arguments);
    return ExitInstance();
}

bool CAutoTabAppApp::InitInstance(const std::vector<std::string>& arguments) {
    m_programFile = platform::ModuleFilePath();
    const std::filesystem::path programDirectory = platform::ModuleDirectory();
    m_iniFile = SettingsFilePath(programDirectory);
    LoadSettings(Settings(), m_iniFile, programDirectory);

    const std::vector<const char*> argv = ArgumentPointers(arguments);
    if (!IsAutorunStart(static_cast<int>(argv.size()), argv.data())) {
        RegisterAutorun(m_programFile);
    }

    InstanceLock lock(QString::fromLatin1(kInstanceName));
    if (!lock.Acquire()) {
        // Another copy runs: end silently, the settings are still written.
        return false;
    }
    QuitSignals quitSignals;
    if (m_headless) {
        ConsoleSurface surface(stdout, m_json ? ConsoleFormat::kJson : ConsoleFormat::kText);
        CAutoTabAppDlg dialog(Settings(), m_iniFile, m_programFile, surface);
        ConnectCommon(dialog, lock, quitSignals);
        QObject::connect(&dialog, &CAutoTabAppDlg::CodePageDialogRequested, [&surface] {
            surface.ShowNotice(
                QStringLiteral("The code page dialog needs a window; CodePage stays %1.")
                    .arg(Settings().CodePage));
        });
        dialog.OnInitDialog();
        QCoreApplication::exec();
    } else {
        MainWindow window;
        CAutoTabAppDlg dialog(Settings(), m_iniFile, m_programFile, window);
        ConnectCommon(dialog, lock, quitSignals);
        ConnectMainWindow(window, dialog, Settings());
        dialog.OnInitDialog();
        window.show();
        QApplication::exec();
    }
    return false;
}

int CAutoTabAppApp::ExitInstance() {
    SaveSettings(Settings(), m_iniFile);
    return 0;
}

}  // namespace quillon
