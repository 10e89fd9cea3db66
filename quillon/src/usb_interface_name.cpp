#include "usb_interface_name.h"

#include <charconv>

#include "platform/runtime_namespace.h"

namespace quillon {
namespace {

bool ParseHexField(std::string_view& text, unsigned& value) {
    const size_t end = text.find('/');
    const std::string_view field = text.substr(0, end);
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value, 16);
    if (field.empty() || result.ec != std::errc() || result.ptr != field.data() + field.size() ||
        value > 0xFFFF) {
        return false;
    }
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return true;
}

}  // namespace

QString UsbInterfaceName(std::string_view product, std::string_view serial) {
    unsigned vendorId = 0;
    unsigned productId = 0;
    if (!ParseHexField(product, vendorId) || !ParseHexField(product, productId)) {
        return {};
    }
    const QString name =
        QStringLiteral("usb#vid_%1&pid_%2#%3")
            .arg(vendorId, 4, 16, QLatin1Char('0'))
            .arg(productId, 4, 16, QLatin1Char('0'))
            .arg(QString::fromUtf8(serial.data(), static_cast<qsizetype>(serial.size())));
    return QString::fromStdU16String(platform::UsbDevicePathFromName(name.toLower().toStdString()));
}

}  // namespace quillon
