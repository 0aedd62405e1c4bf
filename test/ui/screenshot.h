#pragma once
// Writes a window's picture into <build>/screenshots/<name>.png for a person to look at.

#include <QString>
#include <QWidget>

namespace palvoro::test {

// Lays the window out, grabs it and saves it; returns the file's path ("" on failure).
// A `scale` above 1 draws it with that many pixels to each of its own, as a desktop
// scaled by that much shows it (QT_SCALE_FACTOR is read only when the program starts).
QString saveScreenshot(QWidget& window, const QString& name, qreal scale = 1.0);

}  // namespace palvoro::test
