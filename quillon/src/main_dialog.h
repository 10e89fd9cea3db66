// The main window's logic: start-up of the window, the status display in the
// window or the tray, the window commands, and the scanner it shows.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "clipboard_keeper.h"
#include "delivery/pending_text.h"
#include "delivery/scan_delivery.h"
#include "device_events.h"

#include "ferrolink/record.h"
#include "settings.h"
#include "status_surface.h"

namespace quillon {

// Window commands that other programs send.
inline constexpr int kCommandDirectOutputOff = 1147;
inline constexpr int kCommandDirectOutputOn = 1148;
inline constexpr int kCommandCodePageDialog = 1149;
// System-menu items.
inline constexpr int kSysCommandConfig = 16;
inline constexpr int kSysCommandExit = 32;

inline constexpr int kMaxDevices = 20;
inline constexpr int kBalloonTimeoutMs = 5000;
inline constexpr int TIMER_WATCH = 2;
inline constexpr int TIMER_COLLECT = 3;
inline constexpr int kWatchPeriodMs = 1000;
inline constexpr int kPasteRetryFirstMs = 1000;
inline constexpr int kPasteRetryMaxMs = 30000;

class CAutoTabAppDlg : public QObject {
    Q_OBJECT
  public:
    CAutoTabAppDlg(AppSettings& settings, std::filesystem::path iniFile,
                   std::filesystem::path programFile, StatusSurface& surface);
    ~CAutoTabAppDlg() override;

    // The window's initialisation, in its fixed order.
    void OnInitDialog();

    bool SetTrayIcon(StateIcon icon, const QString* tip);
    bool ShowBalloon(const QString& title, const QString& text);
    bool UpdateStatus(int state);

    // WM_COMMAND and WM_SYSCOMMAND of the window.
    void OnCommand(int command);
    void OnSysCommand(int command);
    // WM_DEVICE_STATUS: wParam nonzero = connected; lParam nonzero when a
    // device event (not the library) reported it.
    int OnDeviceStatusMsg(int wParam, int lParam);
    // The tray icon was clicked or double-clicked.
    void OnTrayActivated();

    // Device watch and connection.
    bool RegisterDeviceInterfaces();
    bool ConnectDevices();
    void FillDevicePaths();
    int OnDeviceChange(int event, int deviceType, const QString& name);
    void OnWatchTimer();
    // The library's callbacks; user is the dialog.
    static int OnDeviceStatus(int nState, void* pUser);
    static void NotifyRecvData(const unsigned char* pData, int nLength, void* pUser);

    // Delivery at the cursor: the collect timer's branch.
    void DeliverPending();
    // The collect timer's take of the pending text: bytes still held for an
    // incomplete character are decoded as they stand first.
    std::u16string TakePendingText();
    // The code page dialog changed CodePage: later scans use it.
    void OnCodePageChanged();
    // Puts the text on the clipboard, keeping the user's contents for later;
    // false with the reason when there is no clipboard.
    bool CopyToClipboardUnicode(const std::u16string& text, QString* reason = nullptr);

    bool IsConnected() const { return m_bConnected != 0; }
    bool IsTrayIconAdded() const { return m_bTrayIconAdded; }
    const _QVDeviceInfo& Device(int index) const { return m_devices.at(index); }
    int DeviceCount() const { return m_nDeviceCount; }
    const QString& DevicePath(int index) const { return m_szDevicePaths.at(index); }
    bool IsWatchTimerActive() const { return m_watchTimer.isActive(); }
    // The user's clipboard contents wait to be given back after a paste.
    bool KeepingClipboard() const { return m_clipboardKeeper && m_clipboardKeeper->Keeping(); }

  signals:
    // The dialog ends, and the program with it.
    void DialogEnded();
    // The code page dialog is to be shown (modally, by whoever can).
    void CodePageDialogRequested();

  private:
    void DiscoverDevices();
    void ResetDevices();
    void RegisterScanner();
    void ReleaseScanner();
    void ArmCollectTimer();
    void ReceiveData(std::string_view bytes);
    void StartDelivery();
    // On the window thread: the balloon (or line) of a delivery notice.
    void ShowDeliveryNotice(DeliveryNotice notice, size_t waiting);
    // A paste that cannot be made: the text is held for the next scan or
    // the next retry, and the first failure of a row is reported.
    void PasteFailed(const std::u16string& pending, const QString& reason);
    QString ConnectedStatusText() const;
    QString DeviceIdentityText() const;
    // The tray tip of a state: the title, and the product when connected.
    QString TrayTipText(int state) const;
    // Empty when no scanner was found or the first one can be opened;
    // otherwise the line that says which device could not be opened and why.
    QString OpenableScannerRefusal();

    AppSettings& m_settings;
    std::filesystem::path m_iniFile;
    std::filesystem::path m_programFile;
    StatusSurface& m_surface;

    std::array<_QVDeviceInfo, kMaxDevices> m_devices{};
    int m_nDeviceCount = 0;
    int m_bConnected = 0;
    bool m_bTrayIconAdded = false;
    bool m_bStatusShown = false;

    std::array<QString, kMaxDevices> m_szDevicePaths;
    DeviceEvents m_deviceEvents;
    QTimer m_watchTimer;
    QTimer m_collectTimer;
    int m_nCollectDelay = 0;
    int m_nCollectTimer = 0;
    quillon::PendingText m_pendingText;
    // Keeps the user's clipboard around each paste; made at the first paste
    // (there is no clipboard without a display).
    std::unique_ptr<ClipboardKeeper> m_clipboardKeeper;
    // After a failed paste the held text is tried again after this delay,
    // doubled after each failure up to kPasteRetryMaxMs, and at every scan.
    QTimer m_pasteRetryTimer;
    int m_pasteRetryMs = kPasteRetryFirstMs;
    bool m_pasteFailureReported = false;
    // Decodes or queues what the reader thread hands over; posts from a
    // thread of its own.
    ScanDelivery m_delivery{m_pendingText};
    // Set while the window thread waits for the library's thread (an
    // unregistration joins it): a status report must not wait for us then.
    std::atomic<int> m_releasing{0};
    bool m_scannerRegistered = false;
    // The headless form shows the insert prompt once per loss.
    bool m_promptShown = false;
    // The insert prompt is up: a device arrival answers it.
    bool m_prompting = false;
};

}  // namespace quillon
