// A picture box that only ever shows printed lines of text: each Print goes on the line below
// the previous one, starting at the top left; Clear empties it.
#pragma once

#include <QStringList>
#include <QWidget>

namespace qm {

class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  void Clear();
  void Print(const QString& line);
  const QStringList& Lines() const { return lines_; }

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QStringList lines_;
};

}  // namespace qm
