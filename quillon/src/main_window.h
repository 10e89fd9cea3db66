// The desktop form of the main window: the window with the status text
// (control 1000) and the unused read-only edit (1010), and the tray icon with
// its menu and balloons.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <array>

#include "status_surface.h"

class QLabel;
class QMessageBox;
class QPlainTextEdit;

namespace quillon {

class MainWindow : public QDialog, public StatusSurface {
    Q_OBJECT
  public:
    MainWindow();
    ~MainWindow() override;

    bool IsWindowVisible() const override;
    void SetStatusText(const QString& text) override;
    void FocusStatusText() override;
    void SetCaption(const QString& caption) override;
    void SetWindowIconFile(const QString& iconFile) override;
    void ShowNormal() override;
    void HideWindow() override;
    bool AddTrayIcon(const QString& iconFile, const QString& tip) override;
    bool ModifyTrayIcon(StateIcon icon, const QString* tip) override;
    bool ShowTrayBalloon(const QString& title, const QString& text, int timeoutMs) override;
    int PromptForDevice(const QString& text) override;
    void EndDevicePrompt() override;
    void ShowWarning(const QString& text) override;

    // The "Config" and "Exit" items, in the tray menu and the window's
    // context menu; their texts come with the language.
    void SetMenuTexts(const QString& config, const QString& exit);

    QSystemTrayIcon& TrayIcon() { return m_tray; }
    const QIcon& StateIconAt(StateIcon icon) const {
        return m_hStateIcons.at(static_cast<size_t>(icon));
    }

  signals:
    void SysCommand(int command);
    void TrayActivated();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildMenus();
    void ShowContextMenu(const QPoint& position);

    QLabel* m_status = nullptr;
    QPlainTextEdit* m_unusedEdit = nullptr;
    // The insert prompt while it is open.
    QMessageBox* m_prompt = nullptr;
    QSystemTrayIcon m_tray;
    QMenu m_menu;
    QAction* m_configAction = nullptr;
    QAction* m_exitAction = nullptr;
    std::array<QIcon, kStateIconCount> m_hStateIcons;
};

}  // namespace quillon
