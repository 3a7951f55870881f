#include "form1.h"

namespace qm {

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("ExcelQuillmere"));
  resize(746, 568);
}

}  // namespace qm
