// The choice of the sheets each workbook gives (工作表：), kept apart from the other controls: it
// sits in the band beside 添加来源列, above the log, where no control of the layout stood.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <iterator>

#include "app/main_window.h"

namespace qm {

namespace {

// The fixed choices in the order the box lists them; anything else typed is a sheet's name.
constexpr const char* kFixedChoices[] = {"第一个", "第一个可见的", "全部可见的"};
constexpr SheetMode kFixedModes[] = {SheetMode::kFirst, SheetMode::kFirstVisible,
                                     SheetMode::kAllVisible};

}  // namespace

SheetChoice SheetChoiceOfText(const QString& text) {
  const QString typed = text.trimmed().isEmpty() ? QString() : text;
  if (typed.isEmpty()) return {};
  for (size_t i = 0; i < std::size(kFixedChoices); ++i)
    if (typed == QString::fromUtf8(kFixedChoices[i])) return {kFixedModes[i], {}};
  return {SheetMode::kNamed, typed.toStdString()};
}

void MainWindow::BuildSheetChoice() {
  sheetLabel = new QLabel(QStringLiteral("工作表："), this);
  sheetLabel->setObjectName(QStringLiteral("SheetLabel"));
  sheetBox = new QComboBox(this);
  sheetBox->setObjectName(QStringLiteral("SheetChoice"));
  sheetBox->setEditable(true);
  // A typed name stays what was typed: it is not added to the fixed choices.
  sheetBox->setInsertPolicy(QComboBox::NoInsert);
  for (const char* choice : kFixedChoices) sheetBox->addItem(QString::fromUtf8(choice));
  sheetBox->setCurrentIndex(0);
  sheetBox->lineEdit()->setPlaceholderText(QStringLiteral("或输入工作表名称"));
  const QString tip = QStringLiteral(
      "每个工作簿合并哪些工作表：第一个；第一个可见的；全部可见的（隐藏的不合并）；"
      "或输入一个工作表的名称，没有这个工作表的工作簿不合并");
  sheetBox->setToolTip(tip);
  sheetLabel->setToolTip(tip);
  sheetLabel->setBuddy(sheetBox);
}

void MainWindow::PlaceSheetChoice(int wider_list) {
  // The band between the title and the log, right of 添加来源列; in a narrow window the box ends
  // where the log does.
  sheetLabel->setGeometry(Twips(5070, 615, 840, 345).translated(wider_list, 0));
  QRect box = Twips(5940, 615, 2400, 345).translated(wider_list, 0);
  box.setRight(std::min(box.right(), width() - Twips(0, 0, 135, 0).width() - 1));
  sheetBox->setGeometry(box);
}

void MainWindow::EnableSheetChoice(bool enabled) {
  sheetLabel->setEnabled(enabled);
  sheetBox->setEnabled(enabled);
}

SheetChoice MainWindow::SheetsChosen() const {
  return SheetChoiceOfText(sheetBox->currentText());
}

}  // namespace qm
