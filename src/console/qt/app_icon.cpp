// The drawn application icon: a blue rounded square with a white "V" and a flash stripe.
#include "console/qt/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vornex {
namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 90, 170));
  painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

  QPainterPath v;
  v.moveTo(s * 0.18, s * 0.20);
  v.lineTo(s * 0.34, s * 0.20);
  v.lineTo(s * 0.50, s * 0.64);
  v.lineTo(s * 0.66, s * 0.20);
  v.lineTo(s * 0.82, s * 0.20);
  v.lineTo(s * 0.58, s * 0.82);
  v.lineTo(s * 0.42, s * 0.82);
  v.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(v);

  painter.setBrush(QColor(0, 191, 255));
  painter.drawRect(QRectF(s * 0.14, s * 0.88, s * 0.72, s * 0.05));
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

}  // namespace vornex
