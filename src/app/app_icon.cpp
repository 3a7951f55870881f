#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace qm {

namespace {

// Two small sheets joined by an arrow into one larger sheet, on a transparent ground.
QPixmap Draw(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, size > 16);
  p.scale(size / 16.0, size / 16.0);
  const QColor green(33, 115, 70), light(220, 240, 225), red(192, 64, 0);
  auto sheet = [&](QRectF r) {
    p.setPen(QPen(green, 1));
    p.setBrush(light);
    p.drawRect(r);
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
    p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
  };
  sheet(QRectF(0.5, 0.5, 5, 5));
  sheet(QRectF(0.5, 10.5, 5, 5));
  sheet(QRectF(9.5, 3.5, 6, 9));
  p.setPen(QPen(red, 1.5));
  p.drawLine(QPointF(6, 3), QPointF(8.5, 7));
  p.drawLine(QPointF(6, 13), QPointF(8.5, 9));
  return pm;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace qm
