#include "string_table.h"

#include <QStringList>
#include <array>
#include <atomic>

namespace quillon {
namespace {

struct TextRow {
    int id;
    const char* english;
    const char* chinese;
};

// "%hs" marks where the identity texts go (8-bit texts in the original).
constexpr std::array<TextRow, 26> kTexts{{
    {IDS_CONFIG, "Config", "设置"},
    {IDS_PRODUCT_NAME, "Product Name: ", "产品名称:"},
    {IDS_EXIT, "Exit", "退出"},
    {IDS_SERIAL_NUMBER, "Serial Nubmer: ", "序列号:"},
    {IDS_FIRMWARE_VERSION, "Firmware Version: ", "固件版本号:"},
    {IDS_DEVICE_IDENTITY, "Product Name:  %hs\nSerial Number: %hs\nFirmware Version: %hs\n\n",
     "产品名称：%hs\n序列号：%hs\n固件版本号：%hs\n\n"},
    {IDS_DEVICE_CONNECTED, "Device is Connected\n\n", "设备已连接！\n\n"},
    {IDS_INSERT_DEVICE,
     "Please insert the scanning device and press OK to continue or Cancel to exit!",
     "请插入扫描设备,按'确定'继续，或按'取消'退出！"},
    {IDS_WORK_MODE, "Work Mode: ", "工作模式："},
    {IDS_OUTPUT_AT_CURSOR, "Output at cursor\n", "光标处输出\n"},
    {IDS_NETWORK_OUTPUT, "Network output\n", "网络输出\n"},
    {IDS_SERVER_ADDRESS, "Server Address: ", "服务器地址："},
    {IDS_DEVICE_NOT_CONNECTED, "Device not connected", "设备未连接"},
    {IDS_INTERFACE_ERROR, "Interface communication error!", "接口通讯错误！ "},
    {IDS_CHECK_CONFIGURATION,
     "Please check the configuration, and scan the configuration if necessary!\n",
     "请检查配置,如需修改请扫码配置！\n"},
    {IDS_TIMEOUT, "Timeout: ", "超时时间："},
    {IDS_EXTENDED_FIELDS, "Extended fields: ", "扩展字段："},
    {IDS_SCANS_WAITING, "Scans waiting to be sent: %1", "待发送的扫描：%1"},
    {IDS_SCAN_REFUSED, "Scan refused!", "扫描被拒绝！"},
    {IDS_QUEUE_FULL, "%1 scans are already waiting to be sent.", "已有 %1 条扫描等待发送。"},
    {IDS_PASTE_FAILED, "Scan not pasted", "扫描未能粘贴"},
    {IDS_PASTE_KEPT, "The text is kept for the next paste.", "文本已保留，待下次粘贴。"},
    {IDS_TIP_CONNECTED, "connected: %1", "已连接：%1"},
    {IDS_TIP_NOT_CONNECTED, "not connected", "未连接"},
    {IDS_OPEN_FAILED, "Could not open the device %1: %2", "无法打开设备 %1：%2"},
    {IDS_CODE_PAGE_LABEL, "CodePage", "代码页"},
}};

// Set by the window thread at start; read by any thread afterwards.
std::atomic<int> g_languageId{kLanguageChinese};

constexpr qsizetype kIdentityBufferUnits = 255;

}  // namespace

void SetUiLanguage(int languageId) {
    g_languageId = languageId;
}

int UiLanguage() {
    return g_languageId;
}

QString LoadText(int id) {
    for (const TextRow& row : kTexts) {
        if (row.id == id) {
            return QString::fromUtf8(UiLanguage() == kLanguageChinese ? row.chinese : row.english);
        }
    }
    return {};
}

QString FormatDeviceIdentity(const QString& productName, const QString& serialNumber,
                             const QString& firmwareVersion) {
    const std::array<const QString*, 3> values{&productName, &serialNumber, &firmwareVersion};
    QStringList pieces = LoadText(IDS_DEVICE_IDENTITY).split(QStringLiteral("%hs"));
    QString text = pieces.value(0);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        if (i - 1 < static_cast<qsizetype>(values.size())) {
            text += *values[static_cast<size_t>(i - 1)];
        }
        text += pieces[i];
    }
    return text.left(kIdentityBufferUnits);
}

}  // namespace quillon
