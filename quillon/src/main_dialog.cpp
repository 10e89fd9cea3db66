#include "main_dialog.h"

#include <cstring>

#include "code_pages.h"
#include "ferrolink/discovery.h"
#include "string_table.h"
#include "version_text.h"

namespace quillon {
namespace {

// The limits of the tray icon record's texts.
constexpr qsizetype kTipUnits = 127;
constexpr qsizetype kBalloonTitleUnits = 63;
constexpr qsizetype kBalloonTextUnits = 255;

template <size_t N>
QString FieldText(const char (&field)[N]) {
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(strnlen(field, N)));
}

}  // namespace

CAutoTabAppDlg::CAutoTabAppDlg(AppSettings& settings, std::filesystem::path iniFile,
                               std::filesystem::path programFile, StatusSurface& surface)
    : m_settings(settings),
      m_iniFile(std::move(iniFile)),
      m_programFile(std::move(programFile)),
      m_surface(surface) {}

CAutoTabAppDlg::~CAutoTabAppDlg() = default;

void CAutoTabAppDlg::OnInitDialog() {
    SetUiLanguage(m_settings.languageId);
    m_surface.SetWindowIconFile(m_settings.iconPath);
    m_surface.SetCaption(BuildCaption(m_settings.title, GetFileVersionText(m_programFile, false),
                                      m_settings.HexOut));
    m_bTrayIconAdded = m_surface.AddTrayIcon(m_settings.iconPath, m_settings.title.left(kTipUnits));
    DiscoverDevices();
    UpdateStatus(m_nDeviceCount > 0 ? 1 : 0);
}

void CAutoTabAppDlg::ResetDevices() {
    for (_QVDeviceInfo& device : m_devices) {
        device.Close(0);
        delete device.pOpenStream;
        device = _QVDeviceInfo();
    }
    m_nDeviceCount = 0;
}

void CAutoTabAppDlg::DiscoverDevices() {
    ResetDevices();
    m_nDeviceCount = qv_GetDevice(m_devices.data(), kMaxDevices);
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
    if (m_settings.WorkMode == QStringLiteral("0")) {
        text += LoadText(IDS_OUTPUT_AT_CURSOR);
    } else {
        text += LoadText(IDS_NETWORK_OUTPUT);
        text += LoadText(IDS_SERVER_ADDRESS) + m_settings.url + QStringLiteral("\n\n");
    }
    return text;
}

bool CAutoTabAppDlg::UpdateStatus(int state) {
    if (!m_surface.IsWindowVisible() && m_bStatusShown) {
        if (state != 0) {
            const QString tip = LoadText(IDS_DEVICE_CONNECTED);
            SetTrayIcon(kStateIconConnected, &tip);
            ShowBalloon(LoadText(IDS_DEVICE_CONNECTED), DeviceIdentityText());
        } else {
            const QString tip = LoadText(IDS_DEVICE_NOT_CONNECTED);
            SetTrayIcon(kStateIconNotConnected, &tip);
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

int CAutoTabAppDlg::OnDeviceStatusMsg(int wParam, int /*lParam*/) {
    UpdateStatus(wParam);
    return 0;
}

void CAutoTabAppDlg::OnTrayActivated() {
    m_surface.ShowNormal();
}

}  // namespace quillon
