#include "main_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSemaphore>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "code_pages.h"
#include "delivery/delivery_text.h"
#include "delivery/paste_keys.h"
#include "device_paths.h"
#include "device_probe.h"
#include "display_text.h"
#include "ferrolink/discovery.h"
#include "ferrolink/notify.h"
#include "qt_language.h"
#include "string_table.h"
#include "trace.h"
#include "version_text.h"

namespace quillon {
namespace {

// The limits of the tray icon record's texts.
constexpr qsizetype kTipUnits = 127;
constexpr qsizetype kBalloonTitleUnits = 63;
constexpr qsizetype kBalloonTextUnits = 255;

// A text field of the scanner's record, as shown: its control characters
// are escaped.
template <size_t N>
QString FieldText(const char (&field)[N]) {
    return EscapeControlCharacters(
        QString::fromLocal8Bit(field, static_cast<qsizetype>(strnlen(field, N))));
}

}  // namespace

CAutoTabAppDlg::CAutoTabAppDlg(AppSettings& settings, std::filesystem::path iniFile,
                               std::filesystem::path programFile, StatusSurface& surface)
    : m_settings(settings),
      m_iniFile(std::move(iniFile)),
      m_programFile(std::move(programFile)),
      m_surface(surface) {
    m_watchTimer.setInterval(kWatchPeriodMs);
    connect(&m_watchTimer, &QTimer::timeout, this, &CAutoTabAppDlg::OnWatchTimer);
    connect(&m_collectTimer, &QTimer::timeout, this, &CAutoTabAppDlg::DeliverPending);
    m_pasteRetryTimer.setSingleShot(true);
    connect(&m_pasteRetryTimer, &QTimer::timeout, this, &CAutoTabAppDlg::DeliverPending);
    connect(&m_deviceEvents, &DeviceEvents::DeviceChange, this, &CAutoTabAppDlg::OnDeviceChange,
            Qt::QueuedConnection);
}

CAutoTabAppDlg::~CAutoTabAppDlg() {
    m_delivery.Stop();
    if (m_clipboardKeeper) {
        m_clipboardKeeper->GiveBackNow();
    }
    if (m_pendingText.Held()) {
        QUILLON_EVENT("%zu units not pasted at exit", m_pendingText.Size());
    }
    m_watchTimer.stop();
    m_collectTimer.stop();
    ResetDevices();
}

void CAutoTabAppDlg::OnInitDialog() {
    SetUiLanguage(m_settings.languageId);
    InstallQtTranslations(m_settings.languageId);
    RegisterDeviceInterfaces();
    m_surface.SetWindowIconFile(m_settings.iconPath);
    m_surface.SetCaption(BuildCaption(m_settings.title, GetFileVersionText(m_programFile, false),
                                      m_settings.HexOut));
    m_bTrayIconAdded = m_surface.AddTrayIcon(m_settings.iconPath, m_settings.title.left(kTipUnits));
    StartDelivery();
    if (!ConnectDevices() && m_promptShown) {
        // The form that cannot ask shows the lost state and keeps looking.
        UpdateStatus(0);
    }
    m_nCollectDelay = 100;
    m_watchTimer.start();
    m_nCollectTimer = 0;
}

// Unregisters and closes the scanner's connection; the library's thread is
// joined, so a status report it is making must not wait for this thread.
void CAutoTabAppDlg::ReleaseScanner() {
    // Unregistering opens the stream of a record that has none; a record
    // that was never registered is left alone.
    if (!m_scannerRegistered) {
        return;
    }
    m_scannerRegistered = false;
    ++m_releasing;
    ktr_unregister_notify(&m_devices[0], 1, 1);
    m_devices[0].Close(0);
    --m_releasing;
}

void CAutoTabAppDlg::ResetDevices() {
    ReleaseScanner();
    for (_QVDeviceInfo& device : m_devices) {
        // Back to the empty state of a new record: the library's own
        // destructor closes and frees the record's connection object.
        device.~_QVDeviceInfo();
        new (&device) _QVDeviceInfo();
    }
    m_nDeviceCount = 0;
}

void CAutoTabAppDlg::DiscoverDevices() {
    ResetDevices();
    m_nDeviceCount = qv_GetDevice(m_devices.data(), kMaxDevices);
    FillDevicePaths();
}

void CAutoTabAppDlg::RegisterScanner() {
    ktr_register_notify_all(&m_devices[0], &CAutoTabAppDlg::OnDeviceStatus,
                            &CAutoTabAppDlg::NotifyRecvData, this);
    m_scannerRegistered = true;
    m_bConnected = 1;
    m_promptShown = false;
}

bool CAutoTabAppDlg::RegisterDeviceInterfaces() {
    if (m_deviceEvents.Register()) {
        return true;
    }
    m_surface.ShowWarning(QStringLiteral("Can't register device notification: ") +
                          m_deviceEvents.RegisterError());
    return false;
}

bool CAutoTabAppDlg::ConnectDevices() {
    DiscoverDevices();
    QString refusal = OpenableScannerRefusal();
    while (m_nDeviceCount <= 0 || !refusal.isEmpty()) {
        // The form that cannot ask says it once per loss and looks again
        // at the next watch period.
        if (m_promptShown) {
            return false;
        }
        QString text = LoadText(IDS_INSERT_DEVICE);
        if (!refusal.isEmpty()) {
            text = refusal + QLatin1Char('\n') + text;
        }
        m_prompting = true;
        const int prompt = m_surface.PromptForDevice(text);
        m_prompting = false;
        if (prompt < 0) {
            m_promptShown = true;
            return false;
        }
        if (prompt == 0) {
            emit DialogEnded();
            return false;
        }
        DiscoverDevices();
        refusal = OpenableScannerRefusal();
    }
    RegisterScanner();
    // The data-stream library reports losses only, so the window learns of
    // the connection here.
    UpdateStatus(1);
    return true;
}

QString CAutoTabAppDlg::OpenableScannerRefusal() {
    if (m_nDeviceCount <= 0 || !IdentityMissing(m_devices[0])) {
        return {};
    }
    // Discovery could not ask the scanner: registering it would show a
    // connection that receives nothing. The virtual COM bus reads the
    // endpoint of a USB scanner it made a port for, so the answers go there.
    QString reason;
    if (m_devices[0].nPortType != FERROLINK_PORT_COM) {
        const int port = VirtualPortOfUsbDevice(m_szDevicePaths[0]);
        if (port > 0) {
            reason =
                QStringLiteral("the virtual COM-port bus (ovrixd) holds it as COM%1").arg(port);
        }
    }
    if (reason.isEmpty()) {
        reason = OpenRefusal(m_devices[0]);
    }
    if (reason.isEmpty()) {
        return {};
    }
    QString name = m_szDevicePaths[0];
    if (m_devices[0].nPortType == FERROLINK_PORT_COM) {
        ComPortSettings port{};
        std::memcpy(&port, m_devices[0].connInfo, sizeof port);
        name = QStringLiteral("COM%1").arg(port.wPort);
    }
    QUILLON_EVENT("cannot open %s: %s", name.toUtf8().constData(), reason.toUtf8().constData());
    return LoadText(IDS_OPEN_FAILED).arg(name, reason);
}

void CAutoTabAppDlg::FillDevicePaths() {
    for (int i = 0; i < m_nDeviceCount && i < kMaxDevices; ++i) {
        _QVDeviceInfo& device = m_devices[static_cast<size_t>(i)];
        if (device.nPortType == FERROLINK_PORT_COM) {
            ComPortSettings port{};
            std::memcpy(&port, device.connInfo, sizeof port);
            FindPortDevicePath(port.wPort, m_szDevicePaths[static_cast<size_t>(i)]);
        } else {
            const auto* units = reinterpret_cast<const char16_t*>(device.connInfo);
            size_t length = 0;
            while (length < 256 && units[length] != 0) {
                ++length;
            }
            m_szDevicePaths[static_cast<size_t>(i)] =
                QString::fromUtf16(units, static_cast<qsizetype>(length));
        }
    }
}

int CAutoTabAppDlg::OnDeviceChange(int event, int deviceType, const QString& name) {
    if (event != kDeviceArrival && event != kDeviceRemoveComplete) {
        return 0;
    }
    if (event == kDeviceArrival && m_prompting) {
        // A device came while the user is asked to insert one: the prompt
        // answers itself with OK and the scanner is looked for again.
        m_surface.EndDevicePrompt();
    }
    const std::u16string units = name.toStdU16String();
    QUILLON_TRACE("wParam=0x%x dbcc_name=%ls", static_cast<unsigned>(event), units.c_str());
    if (deviceType != kDeviceTypeInterface) {
        return 0;
    }
    // The name without its "\\?\" prefix, lower-cased and cut to the
    // 250-unit buffer it was compared in.
    const QString rest = name.toLower().left(250).mid(4);
    if (!rest.startsWith(QStringLiteral("usb")) || m_nDeviceCount < 1) {
        return 0;
    }
    for (int i = 0; i < m_nDeviceCount && i < kMaxDevices; ++i) {
        const QString& path = m_szDevicePaths[static_cast<size_t>(i)];
        if (!path.isEmpty() && m_devices[static_cast<size_t>(i)].nPortType == FERROLINK_PORT_COM &&
            rest.startsWith(path)) {
            OnDeviceStatusMsg(event == kDeviceArrival ? 1 : 0, 1);
            break;
        }
    }
    return 0;
}

void CAutoTabAppDlg::OnWatchTimer() {
    if (m_bConnected != 0) {
        return;
    }
    m_watchTimer.stop();
    ResetDevices();
    if (!ConnectDevices()) {
        // Cancelled: the dialog ends. The form that cannot ask looks again
        // at the next period.
        if (m_promptShown) {
            m_watchTimer.start();
        }
        return;
    }
    m_watchTimer.start();
}

int CAutoTabAppDlg::OnDeviceStatus(int nState, void* pUser) {
    auto* dialog = static_cast<CAutoTabAppDlg*>(pUser);
    if (dialog == nullptr) {
        return 0;
    }
    if (QThread::currentThread() == dialog->thread()) {
        return dialog->OnDeviceStatusMsg(nState - 1, 0);
    }
    // Handed to the window thread; this thread waits until it was handled,
    // unless the window thread is busy releasing the connection.
    auto handled = std::make_shared<QSemaphore>(0);
    QMetaObject::invokeMethod(
        dialog,
        [dialog, nState, handled] {
            dialog->OnDeviceStatusMsg(nState - 1, 0);
            handled->release();
        },
        Qt::QueuedConnection);
    while (!handled->tryAcquire(1, 50)) {
        if (dialog->m_releasing.load() != 0) {
            break;
        }
    }
    return 0;
}

void CAutoTabAppDlg::ArmCollectTimer() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_collectTimer.isActive()) {
                m_collectTimer.start(m_nCollectDelay);
                m_nCollectTimer = TIMER_COLLECT;
            }
        },
        Qt::QueuedConnection);
}

void CAutoTabAppDlg::NotifyRecvData(const unsigned char* pData, int nLength, void* pUser) {
    if (nLength < 1 || pUser == nullptr || pData == nullptr) {
        return;
    }
    static_cast<CAutoTabAppDlg*>(pUser)->ReceiveData(
        std::string_view(reinterpret_cast<const char*>(pData), static_cast<size_t>(nLength)));
}

void CAutoTabAppDlg::ReceiveData(std::string_view bytes) {
    const std::string copy(bytes);
    QUILLON_TRACE("%s=%s", "NotifyRecvData", copy.c_str());
    if (m_pendingText.Empty()) {
        ArmCollectTimer();
    }
    // Text that lands in an emptied buffer needs the timer too.
    if (m_delivery.Receive(bytes)) {
        ArmCollectTimer();
    }
}

void CAutoTabAppDlg::StartDelivery() {
    DeliverySettings delivery;
    delivery.mode = WorkModeOf(m_settings);
    delivery.codePage = static_cast<unsigned>(m_settings.CodePage);
    delivery.url = m_settings.url.toStdString();
    delivery.http.verifyHost = m_settings.TlsVerifyHost != 0;
    delivery.http.pinnedKey = m_settings.TlsPinnedKey.toStdString();
    delivery.outbox = m_settings.Outbox != 0;
    delivery.outboxFile = OutboxFileBeside(m_iniFile);
    m_delivery.Start(std::move(delivery), [this](DeliveryNotice notice, size_t waiting) {
        QMetaObject::invokeMethod(
            this, [this, notice, waiting] { ShowDeliveryNotice(notice, waiting); },
            Qt::QueuedConnection);
    });
}

void CAutoTabAppDlg::ShowDeliveryNotice(DeliveryNotice notice, size_t waiting) {
    const QString waitingText = LoadText(IDS_SCANS_WAITING).arg(waiting);
    switch (notice) {
        case DeliveryNotice::PostFailed: {
            // Which server, and why: the reply or the network's reason.
            const QString failure =
                m_settings.url + QStringLiteral(": ") +
                EscapeControlCharacters(QString::fromStdString(m_delivery.LastFailure()));
            ShowBalloon(LoadText(IDS_INTERFACE_ERROR),
                        waiting > 0 ? failure + QLatin1Char('\n') + waitingText : failure);
            break;
        }
        case DeliveryNotice::QueueFull:
            ShowBalloon(LoadText(IDS_SCAN_REFUSED), LoadText(IDS_QUEUE_FULL).arg(waiting));
            break;
        case DeliveryNotice::OutboxChanged:
            ShowBalloon(waitingText, QStringLiteral(" "));
            break;
    }
}

void CAutoTabAppDlg::OnCodePageChanged() {
    m_delivery.SetCodePage(static_cast<unsigned>(m_settings.CodePage));
}

std::u16string CAutoTabAppDlg::TakePendingText() {
    return m_delivery.TakePending();
}

bool CAutoTabAppDlg::CopyToClipboardUnicode(const std::u16string& text, QString* reason) {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (application == nullptr || QGuiApplication::clipboard() == nullptr) {
        QUILLON_TRACE("OpenClipboard Error");
        if (reason != nullptr) {
            *reason = QStringLiteral("no display, so no clipboard to paste from");
        }
        return false;
    }
    if (!m_clipboardKeeper) {
        m_clipboardKeeper = std::make_unique<ClipboardKeeper>(*QGuiApplication::clipboard());
    }
    // The program owns the clipboard and serves the paste itself; the
    // user's contents go back once the paste was taken.
    m_clipboardKeeper->SetPasteText(QString::fromStdU16String(text));
    QUILLON_TRACE("%s %s", "CopyToClipboardUnicode", "SUCCESS");
    return true;
}

void CAutoTabAppDlg::DeliverPending() {
    std::u16string pending = TakePendingText();
    if (pending.empty()) {
        return;
    }
    m_pasteRetryTimer.stop();
    QUILLON_TRACE("%s", FormatLengthLog(pending).c_str());
    const DeliveryText delivery = BuildDeliveryText(pending, m_settings.HexOut != 0);
    if (delivery.hex) {
        QUILLON_TRACE("HEX=%ls", delivery.text.c_str());
    }
    QString reason;
    if (!CopyToClipboardUnicode(delivery.text, &reason)) {
        PasteFailed(pending, reason);
        return;
    }
    m_collectTimer.stop();
    const PasteResult keys = SendPasteKeys(m_settings.Enter == QStringLiteral("1"));
    if (!keys) {
        m_clipboardKeeper->GiveBackNow();
        PasteFailed(pending, QString::fromStdString(keys.reason));
        return;
    }
    m_clipboardKeeper->PasteSent();
    m_pasteFailureReported = false;
    m_pasteRetryMs = kPasteRetryFirstMs;
}

void CAutoTabAppDlg::PasteFailed(const std::u16string& pending, const QString& reason) {
    QUILLON_EVENT("paste not made: %s", reason.toUtf8().constData());
    // No collect timer runs for held text: the next block arms it again.
    m_collectTimer.stop();
    m_pendingText.Hold(pending);
    m_pasteRetryTimer.start(m_pasteRetryMs);
    m_pasteRetryMs = std::min(m_pasteRetryMs * 2, kPasteRetryMaxMs);
    if (m_pasteFailureReported) {
        return;
    }
    m_pasteFailureReported = true;
    const QString title = LoadText(IDS_PASTE_FAILED);
    const QString text = reason + QLatin1Char('\n') + LoadText(IDS_PASTE_KEPT);
    if (!ShowBalloon(title, text)) {
        // No tray icon to show it at: the window says it.
        m_surface.SetStatusText(
            (m_bConnected != 0 ? ConnectedStatusText() : LoadText(IDS_DEVICE_NOT_CONNECTED)) +
            QLatin1Char('\n') + title + QStringLiteral(": ") + text);
    }
}

bool CAutoTabAppDlg::SetTrayIcon(StateIcon icon, const QString* tip) {
    if (!m_bTrayIconAdded) {
        return false;
    }
    if (tip == nullptr) {
        return m_surface.ModifyTrayIcon(icon, nullptr);
    }
    const QString cut = tip->left(kTipUnits);
    return m_surface.ModifyTrayIcon(icon, &cut);
}

bool CAutoTabAppDlg::ShowBalloon(const QString& title, const QString& text) {
    if (!m_bTrayIconAdded || title.isEmpty()) {
        return false;
    }
    return m_surface.ShowTrayBalloon(title.left(kBalloonTitleUnits), text.left(kBalloonTextUnits),
                                     kBalloonTimeoutMs);
}

QString CAutoTabAppDlg::DeviceIdentityText() const {
    const _QVDeviceInfo& device = m_devices[0];
    return FormatDeviceIdentity(FieldText(device.szProductName), FieldText(device.szSerialNumber),
                                FieldText(device.szFirmwareVersion));
}

QString CAutoTabAppDlg::ConnectedStatusText() const {
    QString text = LoadText(IDS_DEVICE_CONNECTED) + DeviceIdentityText() + LoadText(IDS_WORK_MODE);
    if (WorkModeOf(m_settings) == WorkMode::Cursor) {
        text += LoadText(IDS_OUTPUT_AT_CURSOR);
    } else {
        text += LoadText(IDS_NETWORK_OUTPUT);
        text += LoadText(IDS_SERVER_ADDRESS) + m_settings.url + QStringLiteral("\n\n");
    }
    return text;
}

QString CAutoTabAppDlg::TrayTipText(int state) const {
    const QString stateText =
        state != 0 ? LoadText(IDS_TIP_CONNECTED).arg(FieldText(m_devices[0].szProductName))
                   : LoadText(IDS_TIP_NOT_CONNECTED);
    return m_settings.title + QStringLiteral(" \u2014 ") + stateText;
}

bool CAutoTabAppDlg::UpdateStatus(int state) {
    // The tray icon and its tip show the state from the first status on,
    // whether the window is shown or not.
    const QString tip = TrayTipText(state);
    SetTrayIcon(state != 0 ? kStateIconConnected : kStateIconNotConnected, &tip);
    if (!m_surface.IsWindowVisible() && m_bStatusShown) {
        if (state != 0) {
            ShowBalloon(LoadText(IDS_DEVICE_CONNECTED), DeviceIdentityText());
        } else {
            ShowBalloon(LoadText(IDS_DEVICE_NOT_CONNECTED), QStringLiteral(" "));
        }
    } else {
        m_bStatusShown = true;
        if (state != 0) {
            m_surface.SetStatusText(ConnectedStatusText());
            m_surface.FocusStatusText();
        } else {
            m_surface.SetStatusText(LoadText(IDS_DEVICE_NOT_CONNECTED));
        }
    }
    m_bConnected = state;
    return true;
}

void CAutoTabAppDlg::OnCommand(int command) {
    switch (command) {
        case kCommandDirectOutputOff:
            WriteDirectOutput(m_iniFile, false);
            break;
        case kCommandDirectOutputOn:
            WriteDirectOutput(m_iniFile, true);
            break;
        case kCommandCodePageDialog:
            emit CodePageDialogRequested();
            break;
        default:
            break;
    }
}

void CAutoTabAppDlg::OnSysCommand(int command) {
    switch (command & ~0xF) {
        case kSysCommandConfig:
            emit CodePageDialogRequested();
            break;
        case kSysCommandExit:
            m_surface.HideWindow();
            emit DialogEnded();
            break;
        default:
            break;
    }
}

int CAutoTabAppDlg::OnDeviceStatusMsg(int wParam, int lParam) {
    if (lParam != 0 && wParam == 0) {
        ReleaseScanner();
    }
    UpdateStatus(wParam);
    return 0;
}

void CAutoTabAppDlg::OnTrayActivated() {
    m_surface.ShowNormal();
}

}  // namespace quillon
