// The window driven through its real widgets and dialogs: its controls, the file list, the
// option groups and the dialogs it shows.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/main_window.h"
#include "app/picture_box.h"
#include "app/web_panel.h"
#include "core/run_summary.h"
#include "dialog_script.h"
#include "main_window_test.h"
#include "workbook/io.h"

using namespace qm;

void MainWindowTest::initTestCase() {
#ifdef Q_OS_WIN
  // Windows' own file dialog runs a modal loop of its own, out of the tests' reach; there the
  // tests drive Qt's dialog, which the window's code sets up the same way.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
#endif
}

void MainWindowTest::controlsArePlacedFromTwips() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  if (w->logicalDpiX() != 96 || w->logicalDpiY() != 96) {
    // The offscreen platform of CI is always at 96 DPI; anything else there is a broken setup.
    if (qEnvironmentVariable("CI") == "true") QFAIL("the platform is not at 96 DPI");
    QSKIP("the platform is not at 96 DPI");
  }
  QCOMPARE(w->size(), QSize(746, 568));
  QCOMPARE(w->windowTitle(), QString("ExcelQuillmere"));
  QVERIFY(!w->windowIcon().isNull());
  // Twips / 15 at 96 DPI.
  const struct {
    QWidget* widget;
    QRect rect;
  } expected[] = {
      {w->titleLabel, {144, 16, 505, 25}},   {w->folderEdit, {8, 64, 233, 25}},
      {w->fileList, {8, 88, 233, 326}},      {w->addButton, {248, 64, 81, 33}},
      {w->removeButton, {248, 112, 81, 33}}, {w->kindGroup, {248, 152, 81, 89}},
      {w->variantGroup, {248, 248, 81, 78}}, {w->startButton, {248, 328, 81, 33}},
      {w->helpButton, {248, 376, 81, 33}},   {w->logBox, {336, 64, 401, 81}},
      {w->statusBox, {336, 64, 401, 81}},    {w->progressBar, {336, 160, 401, 25}},
      {w->tipsPanel, {336, 192, 401, 217}},  {w->diagramPanel, {8, 424, 729, 113}},
      {w->taglineBox, {0, 544, 817, 25}},    {w->sourceColumnBox, {248, 41, 89, 23}},
  };
  for (const auto& e : expected) QCOMPARE(e.widget->geometry(), e.rect);
  // Option buttons keep left, width and centre; they may only grow taller for their font.
  for (int i = 0; i < 3; ++i) {
    const QRect g = w->kindOptions[i]->geometry();
    QCOMPARE(g.left(), 6);
    QCOMPARE(g.width(), 73);
    QVERIFY(qAbs((g.top() + g.height() / 2) - (16 + 24 * i + 6)) <= 1);
    QVERIFY(g.bottom() < w->kindGroup->height());
  }
  // Faces missing on this system fall back to one that has the glyphs.
  for (QWidget* c : {static_cast<QWidget*>(w->titleLabel), static_cast<QWidget*>(w->logBox),
                     static_cast<QWidget*>(w->fileList)})
    QVERIFY(QFontMetrics(c->font()).inFont(QChar(0x5408)));  // 合
}

// Tests and anyone walking the widget tree find the controls by these names, whatever the
// members are called.
void MainWindowTest::controlsKeepTheirObjectNames() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  QCOMPARE(w->objectName(), QString("Form1"));
  const struct {
    QWidget* widget;
    const char* name;
  } expected[] = {
      {w->titleLabel, "Label1"},     {w->folderEdit, "Text1"},
      {w->fileList, "List1"},        {w->addButton, "Command1"},
      {w->removeButton, "Command2"}, {w->kindGroup, "Frame1"},
      {w->variantGroup, "Frame2"},   {w->startButton, "Command7"},
      {w->helpButton, "Command6"},   {w->logBox, "Text2"},
      {w->statusBox, "Picture1"},    {w->progressBar, "ProgressBar1"},
      {w->tipsPanel, "WebBrowser2"}, {w->diagramPanel, "WebBrowser1"},
      {w->taglineBox, "Picture2"},   {w->sourceColumnBox, "SourceColumn"},
      {w->stopButton, "StopButton"}, {w->accountPanel, "RunAccount"},
      {w->sheetLabel, "SheetLabel"}, {w->sheetBox, "SheetChoice"},
  };
  for (const auto& e : expected) {
    QCOMPARE(e.widget->objectName(), QString(e.name));
    QCOMPARE(w->findChild<QWidget*>(e.name), e.widget);
  }
  for (int i = 0; i < 3; ++i) {
    const QString name = QString("Option1_%1").arg(i);
    QCOMPARE(w->kindOptions[i]->objectName(), name);
    QCOMPARE(w->kindGroup->findChild<QRadioButton*>(name), w->kindOptions[i]);
  }
  for (int i = 0; i < 2; ++i) {
    const QString name = QString("Option2_%1").arg(i);
    QCOMPARE(w->variantOptions[i]->objectName(), name);
    QCOMPARE(w->variantGroup->findChild<QRadioButton*>(name), w->variantOptions[i]);
  }
}

void MainWindowTest::startUpListsTheFolderAndWritesInstructions() {
  QTemporaryDir dir;
  Touch(dir.path(), {"b.xlsx", "二月.xls", "A.xls", "notes.txt", "~$A.xls", "c.XLSM"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  DialogScript dialogs;
  w->Load();
  QCOMPARE(dialogs.seen.size(), size_t(0));
  QCOMPARE(Entries(w->fileList), QStringList({"A.xls", "b.xlsx", "c.XLSM", "二月.xls"}));
  QCOMPARE(w->fileList->currentRow(), 0);
  QCOMPARE(w->folderEdit->text(), Shown(dir.path()));

  const QStringList lines = S(w->LogText()).split("\r\n");
  QCOMPARE(lines.size(), 17);
  QCOMPARE(lines[0], QString("             软件介绍"));
  QCOMPARE(lines[1], QString());
  QCOMPARE(lines[2], QString());
  QCOMPARE(lines[5], QString("覆盖合并：将同类表格纵向连接在一起，对于重复记录(关键字值相同)，"
                             "则总是用新记录覆盖原记录。要求同上。"));
  QCOMPARE(lines[10], QString("             操作步骤"));
  QCOMPARE(lines[15], QString("             注意事项"));
  QVERIFY(
      lines[16].startsWith("智能合并模式如果数据量大可能费时很长，请耐心等待，所以，"
                           "建议你先尝试将少量表格合并，以测试合并速度。"));
  QVERIFY(lines[16].size() > 50);
  QCOMPARE(w->logBox->toPlainText(), lines.join("\n"));

  QVERIFY(!w->statusBox->isVisible() && w->statusBox->isHidden());
  QCOMPARE(w->taglineBox->Lines().size(), qsizetype(1));
  QCOMPARE(w->diagramPanel->source(), QUrl("qrc:/web/hebing.htm"));
  QCOMPARE(w->tipsPanel->source(), QUrl("qrc:/web/hebing1.htm"));
  QVERIFY(w->diagramPanel->toPlainText().contains("纵向拼接"));
  QVERIFY(w->tipsPanel->toPlainText().contains("技巧"));

  // 使用说明 after a run brings the instructions back in place of the log.
  w->SetLogText("开始合并...");
  w->statusBox->Print("x");
  QTest::mouseClick(w->helpButton, Qt::LeftButton);
  QCOMPARE(S(w->LogText()).split("\r\n").size(), 17);
  QVERIFY(w->statusBox->Lines().isEmpty());
}

void MainWindowTest::startUpWithoutWorkbooksSaysSoOnce() {
  QTemporaryDir program, other;
  Touch(program.path(), {"readme.txt"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  DialogScript dialogs;
  dialogs.Press("确定");
  w->Load();
  QCOMPARE(dialogs.seen.size(), size_t(1));
  QCOMPARE(dialogs.seen[0].text, QString("在程序所在文件夹下没有找到EXCEL文件"));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(dialogs.seen[0].buttons, QStringList({"确定"}));
  QCOMPARE(w->fileList->count(), 0);
  QCOMPARE(w->folderEdit->text(), QString());

  // A later empty folder empties the list but keeps the folder shown before.
  Touch(other.path(), {"x.xls"});
  w->LoadFolder(other.path());
  dialogs.Press("确定");
  w->LoadFolder(program.path());
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(w->fileList->count(), 0);
  QCOMPARE(w->folderEdit->text(), Shown(other.path()));
  QCOMPARE(w->listedNames, std::vector<std::string>{"x.xls"});
}

void MainWindowTest::addListsTheWholeFolderOfTheChosenFile() {
  QTemporaryDir program, chosen;
  Touch(program.path(), {"p.xls"});
  Touch(chosen.path(), {"c.xls", "a.xls", "b.xlsx"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();

  DialogScript dialogs;
  dialogs.Press("确定").Pick(chosen.path() + "/c.xls");
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[0].text,
           QString("将要合并的EXCEL文件放在同一个文件夹下，选择一个打开就能添加全部。"));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(dialogs.seen[1].kind, QString("file"));
  QCOMPARE(Entries(w->fileList), QStringList({"a.xls", "b.xlsx", "c.xls"}));
  QCOMPARE(w->folderEdit->text(), Shown(chosen.path()));

  // Cancelling the dialog changes nothing.
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(Entries(w->fileList), QStringList({"a.xls", "b.xlsx", "c.xls"}));
  QCOMPARE(w->folderEdit->text(), Shown(chosen.path()));
}

void MainWindowTest::addDialogNamesTheFileTypeWithoutItsPatterns() {
  QTemporaryDir program;
  Touch(program.path(), {"p.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();
  DialogScript dialogs;
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].kind, QString("file"));
  QCOMPARE(dialogs.seen[1].text, QString("表格文件"));
  QCOMPARE(dialogs.seen[1].default_text, QDir(program.path()).absolutePath());
}

void MainWindowTest::deleteRemovesTheSelectedEntries() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls", "4.xls", "5.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->fileList;

  // One entry selected: that one goes.
  list->setCurrentRow(1);
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "3.xls", "4.xls", "5.xls"}));

  // Three selected with the current one among them: all three go.
  list->setCurrentRow(0);
  list->setCurrentRow(2, QItemSelectionModel::Select);
  list->setCurrentRow(3, QItemSelectionModel::Select);
  QCOMPARE(list->selectedItems().size(), qsizetype(3));
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"3.xls"}));
}

// Ctrl-click can leave the caret on an entry that is not selected; the selected entry is the
// one the user means, and the one that goes.
void MainWindowTest::deleteWithTheCaretOffTheOnlySelectedEntryRemovesTheSelectedOne() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->fileList;
  list->setCurrentRow(2);
  list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  QCOMPARE(list->currentRow(), 0);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "2.xls"}));
}

void MainWindowTest::deleteDoesNothingWithoutACurrentEntry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->fileList;
  list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  QCOMPARE(list->currentRow(), -1);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(list->count(), 2);
}

void MainWindowTest::doubleClickMovesAnEntryToTheTop() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls", "4.xls", "5.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QWidget* vp = w->fileList->viewport();
  const QPoint at = w->fileList->visualItemRect(w->fileList->item(2)).center();
  QTest::mouseClick(vp, Qt::LeftButton, {}, at);
  QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
  QCOMPARE(Entries(w->fileList), QStringList({"3.xls", "1.xls", "2.xls", "4.xls", "5.xls"}));
  QCOMPARE(w->fileList->currentRow(), 0);
  QCOMPARE(w->FileList().front(), std::string("3.xls"));
}

void MainWindowTest::optionCaptionsFollowTheKind() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  auto captions = [&] {
    return QStringList({w->variantOptions[0]->text(), w->variantOptions[1]->text()});
  };
  QVERIFY(w->kindOptions[0]->isChecked() && w->variantOptions[0]->isChecked());
  QCOMPARE(captions(), QStringList({"安全合并", "快速合并"}));

  w->kindOptions[2]->click();
  QCOMPARE(captions(), QStringList({"横向合并", "纵横合并"}));
  QVERIFY(w->variantOptions[1]->isChecked());

  w->kindOptions[1]->click();
  QCOMPARE(captions(), QStringList({"安全合并", "快速合并"}));
  QVERIFY(w->variantOptions[0]->isChecked());

  // Clicking the kind already chosen resets the variant too.
  w->variantOptions[1]->click();
  w->kindOptions[1]->click();
  QVERIFY(w->variantOptions[0]->isChecked());
}

void MainWindowTest::everyRowOfTheTableStartsItsEngine() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  const struct {
    int kind, variant;
    DispatchChoice expected;
  } rows[] = {
      {0, 0, {Engine::kSafeMerge, VerticalMode::kAppend}},
      {1, 0, {Engine::kSafeMerge, VerticalMode::kOverwrite}},
      {0, 1, {Engine::kFastMerge, VerticalMode::kAppend}},
      {1, 1, {Engine::kFastMerge, VerticalMode::kOverwrite}},
      {2, 0, {Engine::kSmartMerge, SmartMode::kHorizontal}},
      {2, 1, {Engine::kSmartMerge, SmartMode::kBoth}},
  };
  // A fresh window starts the safe vertical merge.
  StartAndWait(*w);
  QCOMPARE(rec.runs.size(), size_t(1));
  QVERIFY((rec.runs[0] == DispatchChoice{Engine::kSafeMerge, VerticalMode::kAppend}));
  for (const auto& row : rows) {
    rec.runs.clear();
    w->kindOptions[row.kind]->click();
    w->variantOptions[row.variant]->click();
    StartAndWait(*w);
    QCOMPARE(rec.runs.size(), size_t(1));
    QVERIFY2(rec.runs[0] == row.expected,
             qPrintable(QString("kind %1 variant %2").arg(row.kind).arg(row.variant)));
  }
  // The engine reads the folder and the list as the window shows them.
  QCOMPARE(S(rec.folders_seen.back()), dir.path() + "/");
  QCOMPARE(rec.lists_seen.back(), (std::vector<std::string>{"a.xls", "b.xls"}));
  QVERIFY(w->LastRun().has_value());
}

void MainWindowTest::smartMergeLeavesTheTemplateAsTheCurrentEntry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls"});
  Recorded rec;
  // A stand-in that, like the smart engines, asks for the template as the current entry.
  bool smart = false;
  auto w = MakeWindow(rec, dir.path(), [&smart](StandIn& in) {
    if (smart) in.view.SetCurrentEntry(0);
    return RunResult{Outcome::kStopped, std::nullopt};
  });
  w->Load();
  QListWidget* list = w->fileList;
  list->setCurrentRow(2);

  // The vertical merges leave the caret where the user put it.
  StartAndWait(*w);
  QCOMPARE(list->currentRow(), 2);

  // A smart merge, even one stopped at the key prompt, ends with entry 0 current; the
  // selection stays the user's, so 删除 still removes what the user chose.
  w->kindOptions[2]->click();
  smart = true;
  StartAndWait(*w);
  QVERIFY(rec.runs.back().engine == Engine::kSmartMerge);
  QCOMPARE(list->currentRow(), 0);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QCOMPARE(list->selectedItems().front()->text(), QString("3.xls"));
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "2.xls"}));
}

void MainWindowTest::portDialogsShowExactTextsAndButtons() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  DialogScript dialogs;
  dialogs.Press("取消").Press("确定").Press("否(&N)").Press("是(&Y)");
  QVERIFY(!w->Confirm({"你确定吗？", "合并提示"}));
  QVERIFY(w->Confirm({"好", ""}));
  QVERIFY(!w->AnswerSorted({"排序了吗", ""}));
  QVERIFY(w->AnswerSorted({"排序了吗", ""}));
  QCOMPARE(dialogs.seen[0].title, QString("合并提示"));
  QCOMPARE(dialogs.seen[0].buttons, QStringList({"确定", "取消"}));
  QCOMPARE(dialogs.seen[1].title, QString("合并"));
  QCOMPARE(dialogs.seen[2].buttons, QStringList({"是(&Y)", "否(&N)"}));

  // A lone carriage return in a prompt breaks the line; the entry comes pre-filled.
  dialogs.Type("3列").Type(QString(), true).Type("");
  QCOMPARE(w->AnswerKeyColumn(
               {PromptKind::kKeyColumn, " 1:A| 2:B|\r请输入关键字列列号！", "输入提示", "1"}),
           std::string("3列"));
  QCOMPARE(w->AnswerHeaderRows({PromptKind::kHeaderRows,
                                "快速合并要求表头必须从第一行开始，请问表头占几行？", "", "1"}),
           std::nullopt);
  QCOMPARE(w->AnswerHeaderRows({PromptKind::kHeaderRows, "x", "", "1"}), std::string());
  QCOMPARE(dialogs.seen[4].text, QString(" 1:A| 2:B|\n请输入关键字列列号！"));
  QCOMPARE(dialogs.seen[4].title, QString("输入提示"));
  QCOMPARE(dialogs.seen[4].default_text, QString("1"));
  QCOMPARE(dialogs.seen[5].title, QString("合并"));
  QCOMPARE(dialogs.unexpected, 0);
}

// 工作表： stands beside 添加来源列 above the log without moving or covering a control; its fixed
// choices and a typed name are what the engine gets, and the first sheet when nothing is typed.
void MainWindowTest::sheetChoiceReachesTheEngineAndOverlapsNoControl() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  std::vector<SheetChoice> seen;
  auto w = MakeWindow(rec, dir.path(), [&seen](StandIn& in) {
    seen.push_back(in.request.sheets);
    return RunResult{Outcome::kDone, std::nullopt};
  });
  w->Load();
  QCOMPARE(w->sheetLabel->text(), QString("工作表："));
  QVERIFY(w->sheetBox->isEditable());
  QCOMPARE(w->sheetBox->count(), 3);
  QCOMPARE(w->sheetBox->currentText(), QString("第一个"));
  for (QWidget* mine : {static_cast<QWidget*>(w->sheetLabel), static_cast<QWidget*>(w->sheetBox)}) {
    const QRect box = mine->geometry();
    QVERIFY(QRect(QPoint(0, 0), w->size()).contains(box));
    for (QWidget* other : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (other == w->sheetLabel || other == w->sheetBox || other == w->taglineBox ||
          !other->isVisibleTo(w.get()))
        continue;
      QVERIFY2(!box.intersects(other->geometry()), qPrintable(other->objectName()));
    }
  }
  QVERIFY(w->sheetLabel->width() >= w->sheetLabel->sizeHint().width());

  StartAndWait(*w);
  w->sheetBox->setCurrentIndex(1);
  StartAndWait(*w);
  w->sheetBox->setCurrentIndex(2);
  StartAndWait(*w);
  w->sheetBox->setEditText(QString("明细"));
  StartAndWait(*w);
  // Typing a name does not add it to the fixed choices.
  QCOMPARE(w->sheetBox->count(), 3);
  w->sheetBox->setEditText(QString("  "));
  StartAndWait(*w);
  const std::vector<SheetChoice> want = {{SheetMode::kFirst, ""},
                                         {SheetMode::kFirstVisible, ""},
                                         {SheetMode::kAllVisible, ""},
                                         {SheetMode::kNamed, "明细"},
                                         {SheetMode::kFirst, ""}};
  QCOMPARE(seen.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    QCOMPARE(seen[i].mode, want[i].mode);
    QCOMPARE(seen[i].name, want[i].name);
  }
}

QTEST_MAIN(MainWindowTest)

// The box sits where no other control is, starts off, and its state is what the engine gets.
void MainWindowTest::sourceColumnBoxReachesTheEngineAndOverlapsNoControl() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  std::vector<bool> seen;
  auto w = MakeWindow(rec, dir.path(), [&seen](StandIn& in) {
    seen.push_back(in.request.source_column);
    return RunResult{Outcome::kDone, std::nullopt};
  });
  w->Load();
  QCOMPARE(w->sourceColumnBox->text(), QString("添加来源列"));
  QVERIFY(!w->sourceColumnBox->isChecked());
  const QRect box = w->sourceColumnBox->geometry();
  QVERIFY(QRect(QPoint(0, 0), w->size()).contains(box));
  QVERIFY(box.height() >= QFontMetrics(w->sourceColumnBox->font()).height() + 4);
  QVERIFY(box.width() >= w->sourceColumnBox->sizeHint().width());
  for (QWidget* other : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    // The tagline is drawn wider than the window along its bottom edge, below everything.
    if (other == w->sourceColumnBox || other == w->taglineBox || !other->isVisibleTo(w.get()))
      continue;
    QVERIFY2(!box.intersects(other->geometry()), qPrintable(other->objectName()));
  }

  StartAndWait(*w);
  QTest::mouseClick(w->sourceColumnBox, Qt::LeftButton);
  QVERIFY(w->sourceColumnBox->isChecked());
  StartAndWait(*w);
  w->kindOptions[2]->click();
  StartAndWait(*w);
  QCOMPARE(seen, (std::vector<bool>{false, true, true}));
}
