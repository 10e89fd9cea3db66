// Dialog templates give sizes in dialog units: a quarter of the average
// character width across, an eighth of the character height down.
#pragma once

#include <QFontMetrics>
#include <QRect>

namespace quillon {

inline QRect DialogUnitsToPixels(const QFontMetrics& metrics, int x, int y, int width, int height) {
    const int unitX = metrics.averageCharWidth();
    const int unitY = metrics.height();
    return QRect(x * unitX / 4, y * unitY / 8, width * unitX / 4, height * unitY / 8);
}

}  // namespace quillon
