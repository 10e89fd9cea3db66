#include "display_text.h"

namespace quillon {

QString EscapeControlCharacters(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {
            escaped += QStringLiteral("\\x") +
                       QString::number(unit, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace quillon
