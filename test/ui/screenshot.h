#pragma once
// Writes a window's picture into <build>/screenshots/<name>.png for a person to look at.

#include <QString>
#include <QWidget>

namespace palvoro::test {

// Lays the window out, grabs it and saves it; returns the file's path ("" on failure).
QString saveScreenshot(QWidget& window, const QString& name);

}  // namespace palvoro::test
