// The program's one window.
#pragma once

#include <QWidget>

namespace qm {

class Form1 : public QWidget {
  Q_OBJECT

 public:
  explicit Form1(QWidget* parent = nullptr);
};

}  // namespace qm
