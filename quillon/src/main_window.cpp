#include "main_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>

#include "dialog_units.h"
#include "main_dialog.h"

namespace quillon {
namespace {

// Resource ids 132, 131, 130 and 129, in this order.
constexpr std::array<const char*, kStateIconCount> kStateIconFiles{
    ":/icons/state_132_disconnected.png", ":/icons/state_131_connected.png",
    ":/icons/state_130_unused.png", ":/icons/state_129_unused.png"};

}  // namespace

MainWindow::MainWindow() {
    setWindowTitle(QStringLiteral("Quillon"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const QFontMetrics metrics(font());
    // The window's first size; the layout makes it larger when a status
    // text needs more room (a long product name, the Chinese texts).
    resize(DialogUnitsToPixels(metrics, 0, 0, 261, 94).size());

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status_1000"));
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_status->setFocusPolicy(Qt::StrongFocus);
    m_status->setTextFormat(Qt::PlainText);

    // Kept from the original window: never written or read.
    m_unusedEdit = new QPlainTextEdit(this);
    m_unusedEdit->setObjectName(QStringLiteral("edit_1010"));
    m_unusedEdit->setReadOnly(true);
    m_unusedEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_unusedEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QRect editSize = DialogUnitsToPixels(metrics, 0, 0, 31, 12);
    m_unusedEdit->setFixedSize(editSize.size());

    auto* layout = new QGridLayout(this);
    const QRect margin = DialogUnitsToPixels(metrics, 0, 0, 11, 11);
    layout->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    layout->addWidget(m_status, 0, 0);
    layout->addWidget(m_unusedEdit, 0, 1, Qt::AlignTop | Qt::AlignRight);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(0, 1);

    for (size_t i = 0; i < kStateIconFiles.size(); ++i) {
        m_hStateIcons[i] = QIcon(QString::fromLatin1(kStateIconFiles[i]));
    }
    BuildMenus();
    connect(&m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit TrayActivated();
                }
            });
}

MainWindow::~MainWindow() {
    m_tray.hide();
}

void MainWindow::BuildMenus() {
    m_exitAction = m_menu.addAction(QString());
    m_menu.addSeparator();
    m_configAction = m_menu.addAction(QString());
    connect(m_configAction, &QAction::triggered, this,
            [this] { emit SysCommand(kSysCommandConfig); });
    connect(m_exitAction, &QAction::triggered, this, [this] { emit SysCommand(kSysCommandExit); });
    m_tray.setContextMenu(&m_menu);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &MainWindow::ShowContextMenu);
}

void MainWindow::SetMenuTexts(const QString& config, const QString& exit) {
    m_configAction->setText(config);
    m_configAction->setVisible(!config.isEmpty());
    m_exitAction->setText(exit);
    m_exitAction->setVisible(!exit.isEmpty());
}

void MainWindow::ShowContextMenu(const QPoint& position) {
    m_menu.popup(mapToGlobal(position));
}

bool MainWindow::IsWindowVisible() const {
    return isVisible();
}

void MainWindow::SetStatusText(const QString& text) {
    m_status->setText(text);
}

void MainWindow::FocusStatusText() {
    m_status->setFocus();
}

void MainWindow::SetCaption(const QString& caption) {
    setWindowTitle(caption);
}

void MainWindow::SetWindowIconFile(const QString& iconFile) {
    setWindowIcon(QIcon(iconFile));
}

void MainWindow::ShowNormal() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::HideWindow() {
    hide();
}

bool MainWindow::AddTrayIcon(const QString& iconFile, const QString& tip) {
    m_tray.setIcon(QIcon(iconFile));
    m_tray.setToolTip(tip);
    m_tray.show();
    return QSystemTrayIcon::isSystemTrayAvailable() && m_tray.isVisible();
}

bool MainWindow::ModifyTrayIcon(StateIcon icon, const QString* tip) {
    m_tray.setIcon(m_hStateIcons.at(static_cast<size_t>(icon)));
    if (tip != nullptr) {
        m_tray.setToolTip(*tip);
    }
    return true;
}

bool MainWindow::ShowTrayBalloon(const QString& title, const QString& text, int timeoutMs) {
    m_tray.showMessage(title, text, QSystemTrayIcon::Warning, timeoutMs);
    return true;
}

int MainWindow::PromptForDevice(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quillon"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("insert_device_prompt"));
    m_prompt = &box;
    const int answer = box.exec();
    m_prompt = nullptr;
    return answer == QMessageBox::Ok ? 1 : 0;
}

void MainWindow::EndDevicePrompt() {
    if (m_prompt != nullptr) {
        m_prompt->done(QMessageBox::Ok);
    }
}

void MainWindow::ShowWarning(const QString& text) {
    QMessageBox::warning(this, QStringLiteral("Quillon"), text);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing only hides: the program goes on in the tray.
    hide();
    event->ignore();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace quillon
