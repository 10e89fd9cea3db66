// Shows Quillon's windows on the X server of DISPLAY in one language at the
// scale Qt was started with (QT_SCALE_FACTOR), saves a screenshot of each
// and reports every text that does not fit the room it was given.
//
//   quillon_layout_probe en|cn OUTPUT-FOLDER
//
// Needs KTR_RUNTIME_DIR pointing at a private folder (a simulated scanner is
// started there). Output lines:
//   shot NAME WIDTHxHEIGHT     a screenshot OUTPUT-FOLDER/NAME.png (pixels)
//   cut WHERE: WHAT            a text that is cut or elided
//   text WHERE: TEXT           a text the caller may check (buttons, label)
// Exit status 0 when nothing is cut, 1 when something is, 2 for a usage
// error or a window that did not come up.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "about_dialog.h"
#include "main_dialog.h"
#include "main_window.h"
#include "scansim/scanner.h"
#include "settings.h"
#include "string_table.h"
#include "support/qt_wait.h"
#include "window_wiring.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

int g_cuts = 0;

void Say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Shown, laid out and drawn on the server.
bool WaitShown(QWidget& widget) {
    return WaitUntil([&] {
        return widget.isVisible() && widget.windowHandle() != nullptr &&
               widget.windowHandle()->isExposed();
    });
}

void Cut(const QString& where, const QString& what) {
    ++g_cuts;
    Say(QStringLiteral("cut %1: %2").arg(where, what));
}

QString SizeText(const QSize& size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// Every label and button of the window shows its whole text: its size hint
// (the room the text needs; for a wrapping label the height at its width)
// fits the geometry the layout gave it.
void CheckTexts(QWidget& window, const QString& where) {
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) {
            continue;
        }
        // A wrapping label needs the height of its text at its width.
        const QSize need = label->wordWrap()
                               ? QSize(label->width(), label->heightForWidth(label->width()))
                               : label->sizeHint();
        if (need.width() > label->width() || need.height() > label->height()) {
            Cut(where, QStringLiteral("label \"%1\" needs %2, has %3")
                           .arg(label->text(), SizeText(need), SizeText(label->size())));
        }
    }
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty()) {
            continue;
        }
        const QSize need = button->sizeHint();
        if (need.width() > button->width() || need.height() > button->height()) {
            Cut(where, QStringLiteral("button \"%1\" needs %2, has %3")
                           .arg(button->text(), SizeText(need), SizeText(button->size())));
        }
    }
}

void Shot(QWidget& widget, const fs::path& folder, const QString& name) {
    QScreen* screen = widget.screen();
    const QPixmap pixmap = screen->grabWindow(widget.winId());
    const QString file = QString::fromStdString((folder / (name.toStdString() + ".png")).string());
    if (pixmap.isNull() || !pixmap.save(file, "PNG")) {
        Cut(name, QStringLiteral("no screenshot could be saved"));
        return;
    }
    Say(QStringLiteral("shot %1 %2").arg(name, SizeText(pixmap.size())));
}

// The field shows the longest name whole, and the open list shows every
// entry whole.
void CheckComboBox(QComboBox& combo, const fs::path& folder, const QString& name) {
    const QString where = name + QStringLiteral(" list");
    const QFontMetrics metrics(combo.font());
    int longest = 0;
    for (int i = 0; i < combo.count(); ++i) {
        longest = std::max(longest, metrics.horizontalAdvance(combo.itemText(i)));
    }
    if (combo.isEditable() && combo.lineEdit()->width() < longest) {
        Cut(name, QStringLiteral("the field is %1 pixels wide, the longest name needs %2")
                      .arg(combo.lineEdit()->width())
                      .arg(longest));
    }
    QAbstractItemView* view = combo.view();
    QWidget* popup = view->window();
    // A popup that opens while the X server still delivers the pointer
    // grab of an earlier one may close at once: it is opened again then.
    for (int attempt = 0; attempt < 5 && !(popup->isVisible() && WaitShown(*popup)); ++attempt) {
        combo.showPopup();
        WaitUntil([&] { return popup->isVisible() && view->viewport()->width() > 0; }, 2);
    }
    if (!popup->isVisible()) {
        Cut(where,
            QStringLiteral("the list did not open (visible %1, exposed %2)")
                .arg(popup->isVisible())
                .arg(popup->windowHandle() != nullptr && popup->windowHandle()->isExposed()));
        return;
    }
    const int room = view->viewport()->width();
    for (int i = 0; i < combo.count(); ++i) {
        const int need = view->sizeHintForIndex(combo.model()->index(i, 0)).width();
        if (need > room) {
            Cut(where, QStringLiteral("entry \"%1\" needs %2 pixels, the list has %3")
                           .arg(combo.itemText(i))
                           .arg(need)
                           .arg(room));
        }
    }
    Shot(*popup, folder, where.split(' ').join('_'));
    combo.hidePopup();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "en" && std::string(argv[1]) != "cn")) {
        std::fprintf(stderr, "usage: quillon_layout_probe en|cn OUTPUT-FOLDER\n");
        return 2;
    }
    const bool chinese = std::string(argv[1]) == "cn";
    const fs::path folder = argv[2];
    fs::create_directories(folder);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    scansim::ScannerOptions options;
    options.identity.productName = "KTR-7000 Industrial";
    options.identity.serialNumber = "SN-4711-0815";
    options.identity.firmwareVersion = "V2.3.4";
    std::string error;
    std::unique_ptr<scansim::Scanner> scanner = scansim::Scanner::Start(options, &error);
    if (!scanner) {
        std::fprintf(stderr, "quillon_layout_probe: no scanner: %s\n", error.c_str());
        return 2;
    }

    AppSettings settings;
    settings.languageId = chinese ? kLanguageChinese : kLanguageEnglish;
    settings.WorkMode = "1";
    settings.url = QStringLiteral("http://127.0.0.1:8080/scans/receive");
    settings.iconPath = QString::fromStdString(
        (fs::path(std::getenv("SUITE_SOURCE_DIR")) / "quillon/resources/imageico.ico").string());
    SetUiLanguage(settings.languageId);
    const fs::path runtime = std::getenv("KTR_RUNTIME_DIR");
    MainWindow window;
    CAutoTabAppDlg dialog(settings, runtime / "ktr.ini",
                          fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon", window);
    ConnectMainWindow(window, dialog, settings);
    dialog.OnInitDialog();
    window.show();
    if (!WaitShown(window) || !dialog.IsConnected()) {
        std::fprintf(stderr, "quillon_layout_probe: the main window did not come up\n");
        return 2;
    }
    CheckTexts(window, QStringLiteral("main_window"));
    Shot(window, folder, QStringLiteral("main_window"));

    // The tray menu, opened where the tray icon is.
    QMenu* menu = window.TrayIcon().contextMenu();
    menu->popup(window.geometry().center());
    if (!WaitShown(*menu)) {
        std::fprintf(stderr, "quillon_layout_probe: the tray menu did not open\n");
        return 2;
    }
    if (menu->width() < menu->sizeHint().width()) {
        Cut(QStringLiteral("tray_menu"), QStringLiteral("needs %1 pixels, has %2")
                                             .arg(menu->sizeHint().width())
                                             .arg(menu->width()));
    }
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            Say(QStringLiteral("text tray_menu: ") + action->text());
        }
    }
    Shot(*menu, folder, QStringLiteral("tray_menu"));
    menu->hide();

    // The code page dialog, with the longest name chosen.
    settings.CodePage = 936;
    CAboutDlg about(settings, &window);
    about.show();
    about.activateWindow();
    if (!WaitShown(about)) {
        std::fprintf(stderr, "quillon_layout_probe: the code page dialog did not come up\n");
        return 2;
    }
    CheckTexts(about, QStringLiteral("code_page_dialog"));
    for (QLabel* label : about.findChildren<QLabel*>()) {
        Say(QStringLiteral("text code_page_dialog label: ") + label->text());
    }
    for (QAbstractButton* button : about.findChildren<QAbstractButton*>()) {
        Say(QStringLiteral("text code_page_dialog button: ") + button->text());
    }
    Shot(about, folder, QStringLiteral("code_page_dialog"));
    CheckComboBox(about.ComboBox(), folder, QStringLiteral("code_page_dialog"));
    about.reject();

    // The insert prompt: its buttons speak the language of its text.
    bool prompted = false;
    QTimer::singleShot(0, &window, [&] {
        auto* box = window.findChild<QMessageBox*>(QStringLiteral("insert_device_prompt"));
        if (box == nullptr || !WaitShown(*box)) {
            window.EndDevicePrompt();
            return;
        }
        prompted = true;
        CheckTexts(*box, QStringLiteral("insert_prompt"));
        for (QAbstractButton* button : box->buttons()) {
            Say(QStringLiteral("text insert_prompt button: ") + button->text());
        }
        Shot(*box, folder, QStringLiteral("insert_prompt"));
        window.EndDevicePrompt();
    });
    window.PromptForDevice(LoadText(IDS_INSERT_DEVICE));
    if (!prompted) {
        std::fprintf(stderr, "quillon_layout_probe: the insert prompt did not come up\n");
        return 2;
    }
    return g_cuts == 0 ? 0 : 1;
}
