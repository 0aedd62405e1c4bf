#include "ui/widgets/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <functional>

namespace palvoro {
namespace {

using Draw = std::function<void(QPainter&)>;

// A transparent image of `size` pixels on which `draw` paints in a 16 x 16 design space.
QImage paintImage(QSize size, const Draw& draw) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size.width() / 16.0, size.height() / 16.0);
  draw(painter);
  return image;
}

QPixmap paintPixmap(int size, const Draw& draw) {
  return QPixmap::fromImage(paintImage(QSize(size, size), draw));
}

QPen pen(const QColor& colour, qreal width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A drive seen from the front: a shaded box with a slot and an activity light.
void drawDriveFront(QPainter& p, const QRectF& r, const QColor& body, const QColor& light,
                    const QColor& outline = QColor(70, 70, 70)) {
  QLinearGradient shade(r.topLeft(), r.bottomLeft());
  shade.setColorAt(0, body.lighter(135));
  shade.setColorAt(1, body.darker(120));
  p.setPen(pen(outline, 0.8));
  p.setBrush(shade);
  p.drawRoundedRect(r, 1.2, 1.2);
  p.setPen(pen(body.darker(170), 0.7));
  const qreal slotY = r.top() + r.height() * 0.45;
  p.drawLine(QPointF(r.left() + 1.5, slotY), QPointF(r.right() - r.width() * 0.35, slotY));
  p.setPen(Qt::NoPen);
  p.setBrush(light);
  const qreal d = std::max<qreal>(1.6, r.height() * 0.28);
  p.drawEllipse(QPointF(r.right() - d * 1.1, r.bottom() - d * 0.9), d / 2, d / 2);
}

// A platter seen from above, with a hub, inside the unit box (16 design units).
void drawPlatter(QPainter& p, const QPointF& centre, qreal radius) {
  QRadialGradient metal(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
  metal.setColorAt(0, QColor(250, 250, 252));
  metal.setColorAt(1, QColor(150, 158, 170));
  p.setPen(pen(QColor(90, 95, 105), 0.6));
  p.setBrush(metal);
  p.drawEllipse(centre, radius, radius);
  p.setBrush(QColor(110, 115, 125));
  p.drawEllipse(centre, radius * 0.22, radius * 0.22);
}

// An opened hard drive: case, platter, head arm.
void drawOpenDrive(QPainter& p, const QRectF& r) {
  p.setPen(pen(QColor(60, 60, 70), 0.6));
  QLinearGradient caseShade(r.topLeft(), r.bottomRight());
  caseShade.setColorAt(0, QColor(120, 130, 145));
  caseShade.setColorAt(1, QColor(70, 78, 92));
  p.setBrush(caseShade);
  p.drawRoundedRect(r, r.width() * 0.08, r.width() * 0.08);
  const qreal radius = std::min(r.width(), r.height()) * 0.38;
  const QPointF centre(r.left() + r.width() * 0.45, r.top() + r.height() * 0.45);
  drawPlatter(p, centre, radius);
  // Head arm from the pivot at the bottom-right to the middle of the platter.
  const QPointF pivot(r.right() - r.width() * 0.14, r.bottom() - r.height() * 0.14);
  p.setPen(pen(QColor(40, 40, 45), r.width() * 0.07));
  p.drawLine(pivot, centre + QPointF(radius * 0.35, radius * 0.55));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 160, 60));
  p.drawEllipse(pivot, r.width() * 0.07, r.width() * 0.07);
}

void drawTick(QPainter& p, const QColor& colour, qreal width) {
  QPainterPath path;
  path.moveTo(2.5, 8.5);
  path.lineTo(6.3, 12.3);
  path.lineTo(13.5, 3.5);
  p.setPen(pen(colour, width));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

void drawCross(QPainter& p, const QColor& colour, qreal width) {
  p.setPen(pen(colour, width));
  p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
  p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

// A filled disc with a white symbol: the success and failure icons and the outcomes.
void drawBadge(QPainter& p, const QColor& colour, const std::function<void(QPainter&)>& symbol) {
  QRadialGradient fill(QPointF(6, 5), 10);
  fill.setColorAt(0, colour.lighter(150));
  fill.setColorAt(1, colour);
  p.setPen(pen(colour.darker(150), 0.6));
  p.setBrush(fill);
  p.drawEllipse(QPointF(8, 8), 7.2, 7.2);
  p.save();
  p.translate(8, 8);
  p.scale(0.7, 0.7);
  p.translate(-8, -8);
  symbol(p);
  p.restore();
}

// The upright stroke of an exclamation or information mark, on the middle line.
void drawStroke(QPainter& p, const QColor& ink, qreal width, qreal top, qreal bottom) {
  p.setPen(pen(ink, width));
  p.drawLine(QPointF(8, top), QPointF(8, bottom));
}

// The dot of such a mark, or of a question mark.
void drawDot(QPainter& p, const QColor& ink, qreal y, qreal radius) {
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawEllipse(QPointF(8, y), radius, radius);
}

void drawWarningTriangle(QPainter& p) {
  QPainterPath triangle;
  triangle.moveTo(8, 1.2);
  triangle.lineTo(15.2, 14.5);
  triangle.lineTo(0.8, 14.5);
  triangle.closeSubpath();
  p.setPen(pen(QColor(150, 110, 0), 0.8));
  p.setBrush(QColor(255, 210, 0));
  p.drawPath(triangle);
  drawStroke(p, Qt::black, 1.8, 5.5, 9.8);
  drawDot(p, Qt::black, 12.3, 1.0);
}

void drawQuestionMark(QPainter& p) {
  p.setPen(pen(QColor(120, 120, 120), 0.8));
  p.setBrush(QColor(215, 215, 215));
  p.drawEllipse(QPointF(8, 8), 7, 7);
  QPainterPath hook;
  hook.moveTo(5.5, 6);
  hook.cubicTo(5.5, 2.5, 10.5, 2.5, 10.5, 5.8);
  hook.cubicTo(10.5, 8, 8, 7.8, 8, 10);
  p.setPen(pen(QColor(80, 80, 80), 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawPath(hook);
  drawDot(p, QColor(80, 80, 80), 12.6, 1.1);
}

void drawInformation(QPainter& p) {
  p.setPen(pen(QColor(20, 70, 160), 0.8));
  p.setBrush(QColor(60, 120, 220));
  p.drawEllipse(QPointF(8, 8), 7, 7);
  drawStroke(p, Qt::white, 2, 7, 12);
  drawDot(p, Qt::white, 4.3, 1.2);
}

// The USB trident: a stem with an arrow, a round branch and a square branch.
void drawUsbSymbol(QPainter& p) {
  const QColor ink(20, 60, 150);
  p.setPen(pen(ink, 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(8, 3.5), QPointF(8, 13));
  p.drawPolyline(QPolygonF({QPointF(8, 10), QPointF(4, 7.5), QPointF(4, 6)}));
  p.drawPolyline(QPolygonF({QPointF(8, 11.5), QPointF(12, 9), QPointF(12, 7.5)}));
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawPolygon(QPolygonF({QPointF(8, 0.8), QPointF(10.2, 4), QPointF(5.8, 4)}));
  p.drawEllipse(QPointF(4, 5.2), 1.4, 1.4);
  p.drawRect(QRectF(10.8, 5.6, 2.4, 2.4));
  p.drawEllipse(QPointF(8, 13.4), 1.8, 1.8);
}

// The FireWire mark: three rounded prongs meeting at a hub.
void drawFireWireSymbol(QPainter& p) {
  const QColor ink(210, 90, 10);
  p.setPen(pen(ink, 1.6));
  p.setBrush(Qt::NoBrush);
  const QPointF hub(8, 9.5);
  for (int angle : {-90, 30, 150}) {
    const qreal rad = angle * M_PI / 180.0;
    const QPointF end = hub + QPointF(std::cos(rad) * 5.5, std::sin(rad) * 5.5);
    p.drawLine(hub, end);
    p.drawEllipse(end, 1.3, 1.3);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawEllipse(hub, 2.0, 2.0);
}

// A SCSI connector: a trapezoid shell with two rows of pins.
void drawScsiSymbol(QPainter& p) {
  QPolygonF shell({QPointF(1, 4), QPointF(15, 4), QPointF(13, 12), QPointF(3, 12)});
  p.setPen(pen(QColor(20, 80, 70), 0.9));
  p.setBrush(QColor(60, 150, 130));
  p.drawPolygon(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(235, 215, 120));
  for (int i = 0; i < 6; ++i) p.drawRect(QRectF(3 + i * 1.8, 5.8, 1.0, 1.6));
  for (int i = 0; i < 5; ++i) p.drawRect(QRectF(3.9 + i * 1.8, 8.8, 1.0, 1.6));
}

void drawOpticalDisc(QPainter& p) {
  QConicalGradient shine(QPointF(8, 8), 45);
  shine.setColorAt(0, QColor(235, 235, 245));
  shine.setColorAt(0.25, QColor(180, 210, 240));
  shine.setColorAt(0.5, QColor(240, 220, 240));
  shine.setColorAt(0.75, QColor(190, 235, 200));
  shine.setColorAt(1, QColor(235, 235, 245));
  p.setPen(pen(QColor(110, 110, 120), 0.6));
  p.setBrush(shine);
  p.drawEllipse(QPointF(8, 8), 7, 7);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(8, 8), 1.8, 1.8);
}

void drawRemovable(QPainter& p) {
  p.setPen(pen(QColor(20, 30, 80), 0.7));
  p.setBrush(QColor(50, 70, 150));
  p.drawRoundedRect(QRectF(2, 1.5, 12, 13), 1, 1);
  p.setBrush(QColor(200, 200, 210));
  p.drawRect(QRectF(5, 1.5, 6, 4.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4, 8.5, 8, 6));
}

void drawStop(QPainter& p) {
  QPolygonF octagon;
  for (int i = 0; i < 8; ++i) {
    const qreal rad = (22.5 + 45 * i) * M_PI / 180.0;
    octagon << QPointF(8 + 7 * std::cos(rad), 8 + 7 * std::sin(rad));
  }
  p.setPen(pen(QColor(120, 0, 0), 0.7));
  p.setBrush(QColor(210, 30, 30));
  p.drawPolygon(octagon);
  p.setPen(pen(Qt::white, 2.2));
  p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
}

void drawHourglass(QPainter& p) {
  p.setPen(pen(QColor(90, 60, 20), 1.2));
  p.drawLine(QPointF(3.5, 1.5), QPointF(12.5, 1.5));
  p.drawLine(QPointF(3.5, 14.5), QPointF(12.5, 14.5));
  QPolygonF glass({QPointF(4.5, 2), QPointF(11.5, 2), QPointF(8.6, 8), QPointF(11.5, 14),
                   QPointF(4.5, 14), QPointF(7.4, 8)});
  p.setPen(pen(QColor(100, 100, 120), 0.6));
  p.setBrush(QColor(220, 235, 250));
  p.drawPolygon(glass);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 180, 80));
  p.drawPolygon(QPolygonF({QPointF(5.6, 3.5), QPointF(10.4, 3.5), QPointF(8, 7)}));
  p.drawPolygon(QPolygonF({QPointF(8, 11), QPointF(10.8, 13.6), QPointF(5.2, 13.6)}));
}

void drawRaidPair(QPainter& p) {
  drawDriveFront(p, QRectF(1, 1.5, 14, 5.5), QColor(170, 170, 175), QColor(40, 200, 60));
  drawDriveFront(p, QRectF(1, 9, 14, 5.5), QColor(170, 170, 175), QColor(40, 200, 60));
}

// A page of text, for the SMART picture and the view-result option.
void drawPage(QPainter& p, const QRectF& r, bool highlighted) {
  const qreal fold = r.width() * 0.3;
  QPainterPath page;
  page.moveTo(r.topLeft());
  page.lineTo(r.right() - fold, r.top());
  page.lineTo(r.right(), r.top() + fold);
  page.lineTo(r.bottomRight());
  page.lineTo(r.bottomLeft());
  page.closeSubpath();
  p.setPen(pen(highlighted ? QColor(0, 90, 220) : QColor(110, 110, 110), 0.8));
  p.setBrush(highlighted ? QColor(255, 250, 190) : QColor(255, 255, 255));
  p.drawPath(page);
  p.drawPolyline(QPolygonF({QPointF(r.right() - fold, r.top()),
                            QPointF(r.right() - fold, r.top() + fold),
                            QPointF(r.right(), r.top() + fold)}));
  p.setPen(pen(highlighted ? QColor(0, 70, 200) : QColor(120, 120, 130), 0.8));
  for (qreal y = r.top() + fold + 1.5; y < r.bottom() - 1; y += 2.2) {
    p.drawLine(QPointF(r.left() + 1.8, y), QPointF(r.right() - 1.8, y));
  }
}

void drawLightning(QPainter& p) {
  p.setPen(pen(QColor(160, 100, 0), 0.6));
  p.setBrush(QColor(255, 200, 20));
  p.drawPolygon(QPolygonF({QPointF(10, 0.5), QPointF(5, 8), QPointF(8, 8), QPointF(6, 15.5),
                           QPointF(12, 6.5), QPointF(9, 6.5)}));
}

void drawMagnifier(QPainter& p) {
  p.setPen(pen(QColor(90, 60, 30), 2.2));
  p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
  p.setPen(pen(QColor(60, 60, 70), 1.1));
  p.setBrush(QColor(200, 230, 255, 200));
  p.drawEllipse(QPointF(7, 7), 4.2, 4.2);
}

void drawEraser(QPainter& p) {
  p.save();
  p.translate(8, 9);
  p.rotate(-35);
  p.setPen(pen(QColor(120, 40, 60), 0.6));
  p.setBrush(QColor(240, 120, 150));
  p.drawRoundedRect(QRectF(-6, -2.6, 7, 5.2), 0.8, 0.8);
  p.setBrush(QColor(80, 120, 210));
  p.drawRoundedRect(QRectF(1, -2.6, 5, 5.2), 0.8, 0.8);
  p.restore();
}

void drawDriveImage(QPainter& p, int index) {
  switch (index) {
    case kDriveImageAtaDrive:
      drawOpenDrive(p, QRectF(1.5, 1, 13, 14));
      break;
    case kDriveImageGenericDrive:
      drawDriveFront(p, QRectF(0.8, 4.5, 14.4, 7), QColor(175, 175, 180), QColor(40, 200, 60));
      break;
    case kDriveImageOpticalDisc:
      drawOpticalDisc(p);
      break;
    case kDriveImageRemovable:
      drawRemovable(p);
      break;
    case kDriveImageSataDrive:
      drawDriveFront(p, QRectF(0.8, 4.5, 14.4, 7), QColor(120, 140, 180), QColor(60, 160, 255));
      break;
    case kDriveImagePass:
      drawTick(p, QColor(0, 160, 0), 2.6);
      break;
    case kDriveImageFail:
      drawCross(p, QColor(220, 0, 0), 2.6);
      break;
    case kDriveImageInformation:
      drawInformation(p);
      break;
    case kDriveImageUnknown:
      drawQuestionMark(p);
      break;
    case kDriveImageFireWire:
      drawFireWireSymbol(p);
      break;
    case kDriveImageUsb:
      drawUsbSymbol(p);
      break;
    case kDriveImageScsi:
      drawScsiSymbol(p);
      break;
    case kDriveImageWarning:
      drawWarningTriangle(p);
      break;
    case kDriveImageRaid:
      drawRaidPair(p);
      break;
    case kDriveImageStop:
      drawStop(p);
      break;
    case kDriveImageBusy:
      drawHourglass(p);
      break;
    default:
      break;
  }
}

// A drive with a small symbol in front of its lower-right corner.
void drawDriveWith(QPainter& p, const Draw& symbol) {
  drawOpenDrive(p, QRectF(0.5, 0.5, 11, 11));
  p.save();
  p.translate(6.5, 6.5);
  p.scale(9.5 / 16, 9.5 / 16);
  symbol(p);
  p.restore();
}

void drawOptionImage(QPainter& p, int index) {
  switch (index) {
    case kOptionImageQuickTest:
      drawDriveWith(p, drawLightning);
      break;
    case kOptionImageExtendedTest:
      drawDriveWith(p, drawMagnifier);
      break;
    case kOptionImageErase:
      drawDriveWith(p, drawEraser);
      break;
    case kOptionImageViewResult:
      drawPage(p, QRectF(2.5, 1, 11, 14), false);
      break;
    case kOptionImagePass:
      drawBadge(p, QColor(30, 160, 50), [](QPainter& q) { drawTick(q, Qt::white, 2.6); });
      break;
    case kOptionImageFail:
      drawBadge(p, QColor(210, 30, 30), [](QPainter& q) { drawCross(q, Qt::white, 2.6); });
      break;
    case kOptionImageAbort:
      drawStop(p);
      break;
    case kOptionImageComplete:
      drawBadge(p, QColor(30, 90, 200), [](QPainter& q) { drawTick(q, Qt::white, 2.6); });
      break;
    default:
      break;
  }
}

QImage paintStrip(int count, int size, void (*draw)(QPainter&, int)) {
  QImage strip(count * size, size, QImage::Format_ARGB32_Premultiplied);
  strip.fill(Qt::transparent);
  QPainter painter(&strip);
  for (int i = 0; i < count; ++i) {
    painter.drawImage(i * size, 0,
                      paintImage(QSize(size, size), [&](QPainter& p) { draw(p, i); }));
  }
  return strip;
}

QList<QPixmap> cutStrip(const QImage& strip, int size) {
  QList<QPixmap> images;
  for (int x = 0; x + size <= strip.width(); x += size) {
    images.append(QPixmap::fromImage(strip.copy(x, 0, size, size)));
  }
  return images;
}

}  // namespace

QPixmap bannerPicture(QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, size.width(), size.height());
  sky.setColorAt(0, QColor(10, 40, 110));
  sky.setColorAt(0.6, QColor(25, 90, 185));
  sky.setColorAt(1, QColor(80, 160, 230));
  p.fillRect(image.rect(), sky);
  // Sweeping arcs like a platter's tracks.
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  const QPointF hub(size.width() * 0.95, size.height() * 1.4);
  for (int i = 1; i <= 6; ++i) {
    const qreal r = size.height() * (0.5 + 0.25 * i);
    p.drawEllipse(hub, r * 1.6, r);
  }
  // The drive, opened, on the left.
  const qreal side = size.height() * 0.78;
  p.save();
  p.translate(size.height() * 0.12, (size.height() - side) / 2);
  p.scale(side / 16, side / 16);
  drawOpenDrive(p, QRectF(0, 0, 16, 16));
  p.restore();
  // The product name and the maker.
  const qreal textLeft = size.height() * 0.12 + side + size.height() * 0.18;
  QFont title(QStringLiteral("Sans Serif"));
  title.setBold(true);
  title.setPixelSize(static_cast<int>(size.height() * 0.36));
  title.setLetterSpacing(QFont::PercentageSpacing, 110);
  p.setFont(title);
  p.setPen(QColor(0, 0, 40, 120));
  const QRectF titleRect(textLeft, size.height() * 0.12, size.width() - textLeft, size.height() * 0.45);
  p.drawText(titleRect.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("PALVORO"));
  p.setPen(Qt::white);
  p.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("PALVORO"));
  QFont subtitle(QStringLiteral("Sans Serif"));
  subtitle.setPixelSize(static_cast<int>(size.height() * 0.13));
  p.setFont(subtitle);
  p.setPen(QColor(220, 235, 255));
  p.drawText(QRectF(textLeft + 2, size.height() * 0.58, size.width() - textLeft, size.height() * 0.18),
             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Varnholt Steadwell Diagnostics"));
  p.setPen(QColor(255, 215, 90));
  p.drawText(QRectF(textLeft + 2, size.height() * 0.76, size.width() - textLeft, size.height() * 0.16),
             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Drive health and test utility"));
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap logoPicture(int size) {
  return paintPixmap(size, [](QPainter& p) {
    QRadialGradient fill(QPointF(6, 5), 11);
    fill.setColorAt(0, QColor(70, 130, 220));
    fill.setColorAt(1, QColor(10, 45, 120));
    p.setPen(pen(QColor(200, 160, 40), 0.9));
    p.setBrush(fill);
    p.drawEllipse(QPointF(8, 8), 7.3, 7.3);
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setPixelSize(7);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("VS"));
  });
}

QPixmap runTestsPicture(bool hover) {
  QImage image(20, 16, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor outline = hover ? QColor(255, 210, 0) : QColor(80, 80, 80);
  const QColor light = hover ? QColor(230, 20, 20) : QColor(30, 200, 50);
  if (hover) {
    p.setPen(pen(outline, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1, 3, 18, 10), 2, 2);
  }
  drawDriveFront(p, QRectF(2, 4, 16, 8), QColor(165, 165, 170), light,
                 hover ? outline.darker(130) : outline);
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap smartPicture(bool hover) {
  return paintPixmap(16, [hover](QPainter& p) {
    if (hover) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(255, 220, 60, 150));
      p.drawRoundedRect(QRectF(0.5, 0.2, 15, 15.6), 2, 2);
    }
    drawPage(p, QRectF(2.5, 1, 11, 14), hover);
  });
}

QImage driveImageStrip() { return paintStrip(kDriveImageCount, kDriveImageSize, drawDriveImage); }

QList<QPixmap> driveImages() { return cutStrip(driveImageStrip(), kDriveImageSize); }

QImage programIconImage(int size) {
  return paintImage(QSize(size, size), [](QPainter& p) {
    drawOpenDrive(p, QRectF(0.5, 0.5, 15, 15));
    // A green pulse line across the drive: the drive's health being checked.
    p.setPen(pen(QColor(40, 230, 80), 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(1.5, 11), QPointF(5, 11), QPointF(6.5, 7.5), QPointF(8.5, 14),
                              QPointF(10, 9.5), QPointF(11, 11), QPointF(14.5, 11)}));
  });
}

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(QPixmap::fromImage(programIconImage(size)));
  return icon;
}

QPixmap activityIcon(int frame) {
  const int quarter = ((frame % 4) + 4) % 4;
  return paintPixmap(32, [quarter](QPainter& p) {
    const QPointF centre(8, 8);
    drawPlatter(p, centre, 7.2);
    // A lit sector that turns a quarter each frame.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 110, 230, 200));
    const QRectF disc(centre.x() - 7.2, centre.y() - 7.2, 14.4, 14.4);
    p.drawPie(disc, (90 - quarter * 90) * 16, -60 * 16);
    p.setBrush(QColor(110, 115, 125));
    p.drawEllipse(centre, 1.6, 1.6);
    p.setPen(pen(QColor(40, 40, 45), 1.1));
    p.drawLine(QPointF(15, 15), QPointF(10.5, 9.5));
  });
}

QPixmap successIcon() {
  return paintPixmap(32, [](QPainter& p) {
    drawBadge(p, QColor(30, 160, 50), [](QPainter& q) { drawTick(q, Qt::white, 2.6); });
  });
}

QPixmap failureIcon() {
  return paintPixmap(32, [](QPainter& p) {
    drawBadge(p, QColor(210, 30, 30), [](QPainter& q) { drawCross(q, Qt::white, 2.6); });
  });
}

QPixmap iconResource(int id) {
  if (id >= kIconActivity1 && id <= kIconActivity4) return activityIcon(id - kIconActivity1);
  if (id == kIconSuccess) return successIcon();
  if (id == kIconFailure) return failureIcon();
  return QPixmap();
}

QImage smartRowImageStrip() { return driveImageStrip(); }

QImage optionImageStrip() {
  return paintStrip(kOptionImageCount, kOptionImageSize, drawOptionImage);
}

QList<QPixmap> optionImages() { return cutStrip(optionImageStrip(), kOptionImageSize); }

QPixmap optionDialogPicture() {
  return paintPixmap(64, [](QPainter& p) { drawOpenDrive(p, QRectF(0.5, 0.5, 15, 15)); });
}

}  // namespace palvoro
