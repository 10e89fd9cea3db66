// Texts that come from a device (product name, serial number, scans) before
// they are shown or printed: a device must not be able to send terminal
// control sequences or reshape a status line.
#pragma once

#include <QString>

namespace quillon {

// The text with every control character (C0, DEL, C1) written as "\xNN".
QString EscapeControlCharacters(const QString& text);

}  // namespace quillon
