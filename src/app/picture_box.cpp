#include "app/picture_box.h"

#include <QPaintEvent>
#include <QPainter>

namespace qm {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
}

void PictureBox::Clear() {
  lines_.clear();
  update();
}

void PictureBox::Print(const QString& line) {
  lines_.append(line);
  update();
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  p.setPen(palette().color(QPalette::WindowText));
  const QFontMetrics fm(font());
  int y = fm.ascent();
  // Lines below the bottom edge are kept but not visible, as on a real picture box.
  for (const QString& line : lines_) {
    if (y - fm.ascent() > height()) break;
    p.drawText(0, y, line);
    y += fm.height();
  }
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

}  // namespace qm
