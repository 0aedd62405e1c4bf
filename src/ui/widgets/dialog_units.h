#pragma once
// Dialog units to pixels, in the two ways the windows use them.

#include <QFontMetrics>
#include <QRect>
#include <QWidget>
#include <cmath>

namespace palvoro {

// At the usual 8-point dialog font: 1.5 pixels across, 1.625 pixels down, whatever font
// the desktop uses (for windows whose pixel-sized parts must keep their places).
inline int duX(int units) { return static_cast<int>(std::lround(units * 1.5)); }
inline int duY(int units) { return static_cast<int>(std::lround(units * 1.625)); }
inline QRect du(int x, int y, int w, int h) { return QRect(duX(x), duY(y), duX(w), duY(h)); }

// As Windows converts them for the dialog's own font: a horizontal unit is a quarter of
// its average character width, a vertical unit an eighth of its height, so a template
// keeps its proportions at whatever font the desktop uses.
inline QRect dluRect(const QWidget& dialog, int x, int y, int width, int height) {
  const QFontMetrics metrics(dialog.font());
  const int average =
      (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
  const int tall = metrics.height();
  return QRect(x * average / 4, y * tall / 8, width * average / 4, height * tall / 8);
}

}  // namespace palvoro
