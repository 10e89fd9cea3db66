// The desktop window, the tray icon with its balloons and the code page
// dialog on a real X server (Xvfb) with a real tray host (trayer).
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "about_dialog.h"
#include "main_dialog.h"
#include "main_window.h"
#include "scansim/scanner.h"
#include "settings.h"
#include "string_table.h"
#include "support/qt_x_environment.h"
#include "support/temp_dir.h"
#include "window_wiring.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

// The balloon window that shows `title`, if one is on screen.
QWidget* VisibleBalloon(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->inherits("QDialog")) {
            continue;
        }
        for (QLabel* label : widget->findChildren<QLabel*>()) {
            if (label->text() == title) {
                return widget;
            }
        }
    }
    return nullptr;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        m_dir = m_folder.Path();
        ASSERT_FALSE(m_dir.empty());
        m_settings.iconPath = QString::fromStdString(
            (fs::path(std::getenv("SUITE_SOURCE_DIR")) / "quillon/resources/imageico.ico")
                .string());
    }
    void TearDown() override {
        m_dialog.reset();
        m_window.reset();
        m_scanner.reset();
    }

    void StartScanner() {
        scansim::ScannerOptions options;
        options.identity.productName = "KTR-7000";
        options.identity.serialNumber = "SN-4711";
        options.identity.firmwareVersion = "V2.3.4";
        std::string error;
        m_scanner = scansim::Scanner::Start(options, &error);
        ASSERT_NE(m_scanner, nullptr) << error;
    }

    // The window as the program makes it: initialised while still hidden,
    // then shown.
    void OpenWindow() {
        if (!m_scanner) {
            StartScanner();
        }
        SetUiLanguage(m_settings.languageId);  // as reading the settings does
        m_window = std::make_unique<MainWindow>();
        m_dialog = std::make_unique<CAutoTabAppDlg>(
            m_settings, m_dir / "ktr.ini", fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon",
            *m_window);
        ConnectMainWindow(*m_window, *m_dialog, m_settings);
        m_dialog->OnInitDialog();
        m_window->show();
        ASSERT_TRUE(WaitUntil([&] { return m_window->isVisible(); }));
    }

    QString StatusText() { return m_window->findChild<QLabel*>("status_1000")->text(); }

    support::TempDir m_folder{"quillon-gui"};
    support::RuntimeDir m_runtime{"quillon-gui-ns"};
    fs::path m_dir;
    AppSettings m_settings;
    std::unique_ptr<scansim::Scanner> m_scanner;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<CAutoTabAppDlg> m_dialog;
};

TEST_F(WindowTest, ShowsTheScannerInEitherLanguageAndMode) {
    struct Case {
        int language;
        const char* workMode;
        const char* text;
    };
    const Case cases[] = {
        {kLanguageEnglish, "0",
         "Device is Connected\n\nProduct Name:  KTR-7000\nSerial Number: SN-4711\n"
         "Firmware Version: V2.3.4\n\nWork Mode: Output at cursor\n"},
        {kLanguageEnglish, "1",
         "Device is Connected\n\nProduct Name:  KTR-7000\nSerial Number: SN-4711\n"
         "Firmware Version: V2.3.4\n\nWork Mode: Network output\n"
         "Server Address: http://127.0.0.1:8080/\n\n"},
        {kLanguageChinese, "0",
         "设备已连接！\n\n产品名称：KTR-7000\n序列号：SN-4711\n固件版本号：V2.3.4\n\n"
         "工作模式：光标处输出\n"},
    };
    for (const Case& c : cases) {
        m_settings.languageId = c.language;
        m_settings.WorkMode = c.workMode;
        OpenWindow();
        EXPECT_TRUE(m_dialog->IsConnected());
        EXPECT_EQ(StatusText(), QString::fromUtf8(c.text));
        EXPECT_EQ(m_window->windowTitle(), "Quillon V1.0.0.B2");
        m_dialog.reset();
        m_window.reset();
    }
}

TEST_F(WindowTest, WithoutAScannerThePromptAsksAndCancelEndsTheDialog) {
    m_settings.languageId = kLanguageEnglish;
    m_window = std::make_unique<MainWindow>();
    m_dialog = std::make_unique<CAutoTabAppDlg>(m_settings, m_dir / "ktr.ini",
                                                fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon",
                                                *m_window);
    bool ended = false;
    QObject::connect(m_dialog.get(), &CAutoTabAppDlg::DialogEnded, [&] { ended = true; });
    QString prompt;
    int prompts = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        prompt = box->text();
        // OK once with nothing plugged in asks again; then Cancel.
        box->button(++prompts == 1 ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    answer.start(20);
    m_dialog->OnInitDialog();
    EXPECT_EQ(prompt,
              "Please insert the scanning device and press OK to continue or Cancel to exit!");
    EXPECT_EQ(prompts, 2);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(m_dialog->IsConnected());
}

// A scanner's texts reach the screen with their control characters escaped:
// a product name cannot send terminal sequences or reshape the status.
TEST_F(WindowTest, ControlCharactersOfTheScannersTextsAreShownEscaped) {
    scansim::ScannerOptions options;
    options.identity.productName = "KTR\x1b[2J\x07";
    options.identity.serialNumber =
        "SN\x7f"
        "1";
    std::string error;
    m_scanner = scansim::Scanner::Start(options, &error);
    ASSERT_NE(m_scanner, nullptr) << error;
    m_settings.languageId = kLanguageEnglish;
    OpenWindow();
    EXPECT_TRUE(StatusText().contains("Product Name:  KTR\\x1B[2J\\x07\n"))
        << StatusText().toStdString();
    EXPECT_TRUE(StatusText().contains("Serial Number: SN\\x7F1\n")) << StatusText().toStdString();
    EXPECT_EQ(m_window->TrayIcon().toolTip(), "Quillon \u2014 connected: KTR\\x1B[2J\\x07");
}

// A scanner that another program holds is not shown as connected with empty
// texts: the prompt says which device could not be opened and why. Held by
// a program that locked its node, or read by the virtual COM bus that made a
// port for it (the scanner's answers go there, so discovery hears nothing).
TEST_F(WindowTest, AScannerHeldByAnotherProgramIsNamedWithTheReason) {
    struct Case {
        bool locked;  // else: bound to a port of the bus
        const char* reason;
    };
    const Case cases[] = {
        {true, ": another program holds it\n"},
        {false, ": the virtual COM-port bus (ovrixd) holds it as COM7\n"},
    };
    m_settings.languageId = kLanguageEnglish;
    for (const Case& c : cases) {
        StartScanner();
        int held = -1;
        const fs::path port = m_runtime.Path() / "vbus" / "Ktr_vcom" / "0001";
        if (c.locked) {
            held = open(m_scanner->LinkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(held, 0) << m_scanner->LinkPath();
            ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
        } else {
            // The values the bus writes for its port, and a scanner whose
            // answers the bus takes.
            fs::create_directories(port);
            std::ofstream(port / "PortName") << "COM7";
            std::ofstream(port / "HardwareDevinstpath") << "USB\\VID_1EAB&PID_0D10\\SIM0001";
            scansim::Fault silence;
            silence.kind = scansim::Fault::Kind::kSilence;
            m_scanner->SetFault(silence);
        }
        m_window = std::make_unique<MainWindow>();
        m_dialog = std::make_unique<CAutoTabAppDlg>(
            m_settings, m_dir / "ktr.ini", fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon",
            *m_window);
        QString prompt;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->isVisible()) {
                prompt = box->text();
                box->button(QMessageBox::Cancel)->click();
            }
        });
        answer.start(20);
        m_dialog->OnInitDialog();
        if (held >= 0) {
            close(held);
        }
        fs::remove_all(port);
        EXPECT_FALSE(m_dialog->IsConnected()) << c.reason;
        EXPECT_TRUE(
            prompt.startsWith("Could not open the device \\\\?\\usb#vid_1eab&pid_0d10#sim0001"))
            << prompt.toStdString();
        EXPECT_TRUE(
            prompt.contains(QString::fromUtf8(c.reason) + "Please insert the scanning device"))
            << prompt.toStdString();
        m_dialog.reset();
        m_window.reset();
        m_scanner.reset();
    }
}

TEST_F(WindowTest, CaptionAndMenusFollowTheSettings) {
    m_settings.languageId = kLanguageChinese;
    m_settings.HexOut = 1;
    OpenWindow();
    EXPECT_EQ(m_window->windowTitle(), "Quillon V1.0.0.B2(Harlowe)");
    QStringList items;
    for (QAction* action : m_window->TrayIcon().contextMenu()->actions()) {
        if (!action->isSeparator()) {
            items << action->text();
        }
    }
    EXPECT_EQ(items, QStringList({QString::fromUtf8("退出"), QString::fromUtf8("设置")}));
}

TEST_F(WindowTest, EscapeAndCloseHideTheWindowAndATrayClickShowsIt) {
    m_settings.languageId = kLanguageEnglish;
    OpenWindow();
    ASSERT_TRUE(m_dialog->IsTrayIconAdded()) << "the tray host did not take the icon";

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &escape);
    EXPECT_TRUE(WaitUntil([&] { return !m_window->isVisible(); }));

    // A real click of the X server's pointer on the icon in the tray host.
    bool clicked = false;
    ASSERT_TRUE(WaitUntil([&] {
        clicked = ClickTrayIconOf(QtXEnvironment::Session()->DisplayName(), getpid());
        return clicked;
    }));
    EXPECT_TRUE(WaitUntil([&] { return m_window->isVisible(); }));

    m_window->close();
    EXPECT_TRUE(WaitUntil([&] { return !m_window->isVisible(); }));
    QApplication::processEvents();
    EXPECT_NE(m_window->findChild<QLabel*>("status_1000"), nullptr) << "the window still exists";
}

TEST_F(WindowTest, TheTrayIconShowsTheStateFromTheStartAndBalloonsOnlyWhileHidden) {
    struct Case {
        int language;
        const char* connectedTip;
        const char* notConnectedTip;
    };
    const Case cases[] = {
        {kLanguageEnglish, "Quillon \u2014 connected: KTR-7000", "Quillon \u2014 not connected"},
        {kLanguageChinese, "Quillon \u2014 已连接：KTR-7000", "Quillon \u2014 未连接"},
    };
    for (const Case& c : cases) {
        m_settings.languageId = c.language;
        OpenWindow();
        ASSERT_TRUE(m_dialog->IsTrayIconAdded()) << "the tray host did not take the icon";
        const QSystemTrayIcon& tray = m_window->TrayIcon();
        // Connected at start: the connected icon and tip at once, no reconnect needed.
        EXPECT_EQ(tray.icon().cacheKey(), m_window->StateIconAt(kStateIconConnected).cacheKey());
        EXPECT_EQ(tray.toolTip(), QString::fromUtf8(c.connectedTip));

        // Shown: the window text and the tray follow, no balloon.
        m_dialog->OnDeviceStatusMsg(0, 0);
        EXPECT_EQ(StatusText(), LoadText(IDS_DEVICE_NOT_CONNECTED));
        EXPECT_EQ(tray.icon().cacheKey(), m_window->StateIconAt(kStateIconNotConnected).cacheKey());
        EXPECT_EQ(tray.toolTip(), QString::fromUtf8(c.notConnectedTip));
        QApplication::processEvents();
        EXPECT_EQ(VisibleBalloon(LoadText(IDS_DEVICE_NOT_CONNECTED)), nullptr);

        // Hidden: a warning balloon as well.
        m_window->HideWindow();
        m_dialog->OnDeviceStatusMsg(1, 0);
        EXPECT_EQ(tray.toolTip(), QString::fromUtf8(c.connectedTip));
        EXPECT_EQ(tray.icon().cacheKey(), m_window->StateIconAt(kStateIconConnected).cacheKey());
        EXPECT_TRUE(
            WaitUntil([] { return VisibleBalloon(LoadText(IDS_DEVICE_CONNECTED)) != nullptr; }));
        m_dialog->OnDeviceStatusMsg(0, 0);
        EXPECT_EQ(tray.toolTip(), QString::fromUtf8(c.notConnectedTip));
        EXPECT_TRUE(WaitUntil(
            [] { return VisibleBalloon(LoadText(IDS_DEVICE_NOT_CONNECTED)) != nullptr; }));
        EXPECT_EQ(StatusText(), LoadText(IDS_DEVICE_NOT_CONNECTED));
        m_dialog.reset();
        m_window.reset();
    }
}

// Opens the code page dialog as command 1149 does and hands it to `act`
// once it is on screen.
void WithCodePageDialog(CAutoTabAppDlg& dialog, const std::function<void(CAboutDlg&)>& act) {
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (about != nullptr && about->isVisible() && !acted) {
            acted = true;
            act(*about);
        }
    });
    poll.start(20);
    dialog.OnCommand(kCommandCodePageDialog);
    ASSERT_TRUE(WaitUntil([&] { return acted && QApplication::activeModalWidget() == nullptr; }));
}

TEST_F(WindowTest, CodePageDialogShowsTheCurrentNameAndOkTakesTheText) {
    OpenWindow();
    struct Case {
        int codePage;
        const char* shown;
        const char* typed;  // null: OK on what is shown; "<cancel>": Cancel
        int after;
    };
    const Case cases[] = {
        {936, "Chinese Simplified (GB2312)", nullptr, 936},
        {65001, "ANSI", nullptr, 0},
        {1252, "Western European (Windows)", "Korean", 949},
        {1252, "Western European (Windows)", "Klingon (Windows)", 0},
        {950, "Chinese Traditional (Big5)", "<cancel>", 950},
    };
    for (const Case& c : cases) {
        m_settings.CodePage = c.codePage;
        WithCodePageDialog(*m_dialog, [&](CAboutDlg& about) {
            EXPECT_EQ(about.ComboBox().currentText(), c.shown) << c.codePage;
            EXPECT_EQ(about.ComboBox().count(), 15);
            EXPECT_EQ(about.ComboBox().itemText(0), "ANSI");
            EXPECT_EQ(about.ComboBox().itemText(14), "Korean");
            if (c.typed != nullptr && std::string(c.typed) == "<cancel>") {
                about.reject();
                return;
            }
            if (c.typed != nullptr) {
                about.ComboBox().lineEdit()->setText(c.typed);
            }
            about.findChild<QWidget*>("button_1")->setFocus();
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&about, &enter);
        });
        EXPECT_EQ(m_settings.CodePage, c.after) << c.codePage << " " << (c.typed ? c.typed : "");
    }
}

// The code page chosen in the dialog decodes the scans that come after it
// (the reader thread works from its own copy of the setting).
TEST_F(WindowTest, TheCodePageChosenInTheDialogDecodesLaterScans) {
    m_settings.CodePage = 1252;
    OpenWindow();
    const unsigned char scan[] = {0xDC};
    CAutoTabAppDlg::NotifyRecvData(scan, 1, m_dialog.get());
    EXPECT_EQ(m_dialog->TakePendingText(), u"\u00DC");
    WithCodePageDialog(*m_dialog, [&](CAboutDlg& about) {
        about.ComboBox().lineEdit()->setText("Cyrillic (Windows)");
        about.accept();
    });
    ASSERT_EQ(m_settings.CodePage, 1251);
    CAutoTabAppDlg::NotifyRecvData(scan, 1, m_dialog.get());
    EXPECT_EQ(m_dialog->TakePendingText(), u"\u042C");
}

TEST_F(WindowTest, ExitFromTheMenuEndsTheDialog) {
    OpenWindow();
    bool ended = false;
    QObject::connect(m_dialog.get(), &CAutoTabAppDlg::DialogEnded, [&] { ended = true; });
    QAction* exit = m_window->TrayIcon().contextMenu()->actions().first();
    exit->trigger();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(m_window->isVisible());
}

// A focused text field of the test's own that records every paste it gets.
class PasteField : public QPlainTextEdit {
  public:
    QString pasted;

  protected:
    void insertFromMimeData(const QMimeData* source) override {
        pasted += source->text();
        QPlainTextEdit::insertFromMimeData(source);
    }
};

// Delivery at the cursor into a field of this process: the paste keys go
// through the X server, the paste text through the clipboard.
class CursorTest : public WindowTest {
  protected:
    void OpenWithTarget() {
        m_settings.languageId = kLanguageEnglish;
        OpenWindow();
        m_target = std::make_unique<PasteField>();
        m_target->setGeometry(300, 200, 300, 150);
        m_target->show();
        m_target->activateWindow();
        m_target->setFocus();
        ASSERT_TRUE(WaitUntil([&] {
            return QApplication::activeWindow() == m_target.get() && m_target->hasFocus();
        }));
    }
    void TearDown() override {
        m_target.reset();
        WindowTest::TearDown();
    }
    void Scan(const std::string& bytes) { ASSERT_TRUE(m_scanner->SendScan(bytes)); }
    bool Pasted(const QString& text) {
        return WaitUntil([&] { return m_target->pasted == text; });
    }
    bool GivenBack() {
        return WaitUntil([&] { return !m_dialog->KeepingClipboard(); });
    }

    std::unique_ptr<PasteField> m_target;
};

TEST_F(CursorTest, TheUsersClipboardInAllItsFormatsComesBackAfterEachPaste) {
    OpenWithTarget();
    const QByteArray userBytes("\x00\x01\xfe user", 8);
    auto* user = new QMimeData;
    user->setText(QStringLiteral("the user's text"));
    user->setHtml(QStringLiteral("<b>the user's</b> text"));
    user->setData(QStringLiteral("application/x-user-thing"), userBytes);
    QApplication::clipboard()->setMimeData(user);

    QString expected;
    for (const char* scan : {"111\r", "222\r", "333\r"}) {
        Scan(scan);
        expected += QString::fromLatin1(scan);
        ASSERT_TRUE(Pasted(expected)) << m_target->pasted.toStdString();
        ASSERT_TRUE(GivenBack());
        const QMimeData* now = QApplication::clipboard()->mimeData();
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(now->text(), "the user's text") << scan;
        EXPECT_EQ(now->html(), "<b>the user's</b> text") << scan;
        EXPECT_EQ(now->data(QStringLiteral("application/x-user-thing")), userBytes) << scan;
    }
}

TEST_F(CursorTest, ACopyMadeBeforeTheClipboardComesBackIsLeftAlone) {
    OpenWithTarget();
    QApplication::clipboard()->setText(QStringLiteral("older copy"));
    Scan("444\r");
    ASSERT_TRUE(Pasted("444\r"));
    // The user copies while the clipboard still holds the scan.
    ASSERT_TRUE(m_dialog->KeepingClipboard());
    QApplication::clipboard()->setText(QStringLiteral("newer copy"));
    ASSERT_TRUE(GivenBack());
    EXPECT_EQ(QApplication::clipboard()->text(), "newer copy");
    // The next paste keeps and gives back the newer copy.
    Scan("555\r");
    ASSERT_TRUE(Pasted("444\r555\r"));
    ASSERT_TRUE(GivenBack());
    EXPECT_EQ(QApplication::clipboard()->text(), "newer copy");
}

TEST_F(CursorTest, APasteThatCannotBeMadeIsReportedAndItsTextPastedLater) {
    OpenWithTarget();
    QApplication::clipboard()->setText(QStringLiteral("the user's text"));
    const std::string display = std::getenv("DISPLAY");
    // The keys cannot be typed (no such X display, no /dev/uinput here);
    // the program's own connection, and with it the clipboard, stays.
    setenv("DISPLAY", ":4711", 1);
    Scan("A1\r");
    ASSERT_TRUE(WaitUntil([] { return VisibleBalloon("Scan not pasted") != nullptr; }));
    // The balloon gives the reason of the layer that failed.
    bool reasonShown = false;
    for (QLabel* label : VisibleBalloon("Scan not pasted")->findChildren<QLabel*>()) {
        reasonShown = reasonShown || label->text().contains("cannot open the X display \":4711\"");
    }
    EXPECT_TRUE(reasonShown);
    // The clipboard is the user's again at once.
    EXPECT_FALSE(m_dialog->KeepingClipboard());
    EXPECT_EQ(QApplication::clipboard()->text(), "the user's text");
    Scan("B2\r");
    setenv("DISPLAY", display.c_str(), 1);
    Scan("C3\r");
    // Everything received goes out, in order, once the keys can be typed.
    EXPECT_TRUE(Pasted("A1\rB2\rC3\r")) << m_target->pasted.toStdString();
    ASSERT_TRUE(GivenBack());
    EXPECT_EQ(QApplication::clipboard()->text(), "the user's text");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new QtXEnvironment);
    return RUN_ALL_TESTS();
}
