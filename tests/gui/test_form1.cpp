// The window driven through its real widgets and dialogs.
#include <QApplication>
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

#include "app/form1.h"
#include "app/picture_box.h"
#include "app/web_panel.h"
#include "core/run_summary.h"
#include "dialog_script.h"
#include "workbook/io.h"

using namespace qm;

namespace {

QString S(const std::string& s) {
  return QString::fromStdString(s);
}

// Creates empty files: the listing looks at names only.
void Touch(const QString& folder, const QStringList& names) {
  for (const QString& n : names) {
    QFile f(folder + "/" + n);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
}

QStringList Entries(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

struct Recorded {
  std::vector<DispatchChoice> runs;
  std::vector<std::string> opened;
  std::vector<std::string> folders_seen;
  std::vector<std::vector<std::string>> lists_seen;
  bool opener_works = true;
};

// A window whose engines and result viewer are stand-ins that record their calls.
std::unique_ptr<Form1> MakeWindow(Recorded& rec, const QString& program_folder,
                                  std::function<RunResult(MergeContext&)> body = {}) {
  Form1Hooks hooks;
  hooks.program_folder = program_folder.toStdString();
  hooks.run_engine = [&rec, body](const DispatchChoice& c, MergeContext& ctx) {
    rec.runs.push_back(c);
    rec.folders_seen.push_back(ctx.port.SourceFolder());
    rec.lists_seen.push_back(ctx.port.FileList());
    return body ? body(ctx) : RunResult{Outcome::kDone, std::nullopt};
  };
  hooks.open_result = [&rec](const std::string& p) {
    rec.opened.push_back(p);
    return rec.opener_works;
  };
  return std::make_unique<Form1>(std::move(hooks));
}

FileOutcome Reported(size_t index, const std::string& name, FileStatus status) {
  FileOutcome o;
  o.index = index;
  o.name = name;
  o.status = status;
  return o;
}

QStringList LogLines(Form1& w) {
  return S(w.LogText()).split("\r\n");
}

// Writes small .xlsx tables keyed on column 1: a header row 工号 / <title>, then the rows.
bool WriteTables(const QString& folder, const QStringList& names) {
  for (int f = 0; f < names.size(); ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    ws.SetText(1, 1, "工号");
    ws.SetText(1, 2, "列" + std::to_string(f + 1));
    for (int r = 2; r <= 4; ++r) {
      ws.SetNumber(r, 1, r - 1);
      ws.SetNumber(r, 2, f * 100 + r);
    }
    if (!SaveWorkbookFile(wb, (folder + "/" + names[f]).toStdString()).ok()) return false;
  }
  return true;
}

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void controlsArePlacedFromTwips();
  void startUpListsTheFolderAndWritesInstructions();
  void startUpWithoutWorkbooksSaysSoOnce();
  void addListsTheWholeFolderOfTheChosenFile();
  void addDialogNamesTheFileTypeWithoutItsPatterns();
  void deleteRemovesTheSelectedEntries();
  void deleteWithTheCaretOffTheOnlySelectedEntryRemovesTheSelectedOne();
  void deleteDoesNothingWithoutACurrentEntry();
  void doubleClickMovesAnEntryToTheTop();
  void optionCaptionsFollowTheKind();
  void everyRowOfTheTableStartsItsEngine();
  void smartMergeLeavesTheTemplateAsTheCurrentEntry();
  void portDialogsShowExactTextsAndButtons();
  void runRepaintsButIgnoresInputAndReentry();
  void logKeepsLineBreaksAndUserEdits();
  void resultIsOpenedOnlyWhenItExists();
  void errorPageOnTheMainPanelTurnsBlank();
  void wholeMergeThroughTheRealDialogs();
  void summaryFollowsADoneRunAndNamesTheFolderWhenTheResultCannotBeOpened();
  void noSummaryAfterARunThatDidNotSave();
  void startWithAnEmptyListSaysThereIsNothingToMerge();
  void typedFolderIsListedOnEnterAndBeforeAMerge();
  void addDialogOpensInTheListedFolder();
  void sortedSmartMergeShowsItsStatusLinesInTheLog();
  void safeMergeKeepsItsStatusLinesOffTheLog();
  void screenshot();
  void summaryScreenshot();
};

void Form1Test::controlsArePlacedFromTwips() {
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
      {w->Label1, {144, 16, 505, 25}},        {w->Text1, {8, 64, 233, 25}},
      {w->List1, {8, 88, 233, 326}},          {w->Command1, {248, 64, 81, 33}},
      {w->Command2, {248, 112, 81, 33}},      {w->Frame1, {248, 152, 81, 89}},
      {w->Frame2, {248, 248, 81, 65}},        {w->Command7, {248, 328, 81, 33}},
      {w->Command6, {248, 376, 81, 33}},      {w->Text2, {336, 64, 401, 81}},
      {w->Picture1, {336, 64, 401, 81}},      {w->ProgressBar1, {336, 160, 401, 25}},
      {w->WebBrowser2, {336, 192, 401, 217}}, {w->WebBrowser1, {8, 424, 729, 113}},
      {w->Picture2, {0, 544, 817, 25}},
  };
  for (const auto& e : expected) QCOMPARE(e.widget->geometry(), e.rect);
  // Option buttons keep left, width and centre; they may only grow taller for their font.
  for (int i = 0; i < 3; ++i) {
    const QRect g = w->Option1[i]->geometry();
    QCOMPARE(g.left(), 6);
    QCOMPARE(g.width(), 73);
    QVERIFY(qAbs((g.top() + g.height() / 2) - (16 + 24 * i + 6)) <= 1);
    QVERIFY(g.bottom() < w->Frame1->height());
  }
  // Faces missing on this system fall back to one that has the glyphs.
  for (QWidget* c : {static_cast<QWidget*>(w->Label1), static_cast<QWidget*>(w->Text2),
                     static_cast<QWidget*>(w->List1)})
    QVERIFY(QFontMetrics(c->font()).inFont(QChar(0x5408)));  // 合
}

void Form1Test::startUpListsTheFolderAndWritesInstructions() {
  QTemporaryDir dir;
  Touch(dir.path(), {"b.xlsx", "二月.xls", "A.xls", "notes.txt", "~$A.xls", "c.XLSM"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  DialogScript dialogs;
  w->Load();
  QCOMPARE(dialogs.seen.size(), size_t(0));
  QCOMPARE(Entries(w->List1), QStringList({"A.xls", "b.xlsx", "c.XLSM", "二月.xls"}));
  QCOMPARE(w->List1->currentRow(), 0);
  QCOMPARE(w->Text1->text(), dir.path() + "/");

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
  QCOMPARE(w->Text2->toPlainText(), lines.join("\n"));

  QVERIFY(!w->Picture1->isVisible() && w->Picture1->isHidden());
  QCOMPARE(w->Picture2->Lines().size(), qsizetype(1));
  QCOMPARE(w->WebBrowser1->source(), QUrl("qrc:/web/hebing.htm"));
  QCOMPARE(w->WebBrowser2->source(), QUrl("qrc:/web/hebing1.htm"));
  QVERIFY(w->WebBrowser1->toPlainText().contains("纵向拼接"));
  QVERIFY(w->WebBrowser2->toPlainText().contains("技巧"));

  // 使用说明 after a run brings the instructions back in place of the log.
  w->SetLogText("开始合并...");
  w->Picture1->Print("x");
  QTest::mouseClick(w->Command6, Qt::LeftButton);
  QCOMPARE(S(w->LogText()).split("\r\n").size(), 17);
  QVERIFY(w->Picture1->Lines().isEmpty());
}

void Form1Test::startUpWithoutWorkbooksSaysSoOnce() {
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
  QCOMPARE(w->List1->count(), 0);
  QCOMPARE(w->Text1->text(), QString());

  // A later empty folder empties the list but keeps the folder shown before.
  Touch(other.path(), {"x.xls"});
  w->LoadFolder(other.path());
  dialogs.Press("确定");
  w->LoadFolder(program.path());
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(w->List1->count(), 0);
  QCOMPARE(w->Text1->text(), other.path() + "/");
  QCOMPARE(w->FileNames, std::vector<std::string>{"x.xls"});
}

void Form1Test::addListsTheWholeFolderOfTheChosenFile() {
  QTemporaryDir program, chosen;
  Touch(program.path(), {"p.xls"});
  Touch(chosen.path(), {"c.xls", "a.xls", "b.xlsx"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();

  DialogScript dialogs;
  dialogs.Press("确定").Pick(chosen.path() + "/c.xls");
  QTest::mouseClick(w->Command1, Qt::LeftButton);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[0].text,
           QString("将要合并的EXCEL文件放在同一个文件夹下，选择一个打开就能添加全部。"));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(dialogs.seen[1].kind, QString("file"));
  QCOMPARE(Entries(w->List1), QStringList({"a.xls", "b.xlsx", "c.xls"}));
  QCOMPARE(w->Text1->text(), chosen.path() + "/");

  // Cancelling the dialog changes nothing.
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->Command1, Qt::LeftButton);
  QCOMPARE(Entries(w->List1), QStringList({"a.xls", "b.xlsx", "c.xls"}));
  QCOMPARE(w->Text1->text(), chosen.path() + "/");
}

void Form1Test::addDialogNamesTheFileTypeWithoutItsPatterns() {
  QTemporaryDir program;
  Touch(program.path(), {"p.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();
  DialogScript dialogs;
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->Command1, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].kind, QString("file"));
  QCOMPARE(dialogs.seen[1].text, QString("Excel文件"));
  QCOMPARE(dialogs.seen[1].default_text, QDir(program.path()).absolutePath());
}

void Form1Test::deleteRemovesTheSelectedEntries() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls", "4.xls", "5.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->List1;

  // One entry selected: that one goes.
  list->setCurrentRow(1);
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "3.xls", "4.xls", "5.xls"}));

  // Three selected with the current one among them: all three go.
  list->setCurrentRow(0);
  list->setCurrentRow(2, QItemSelectionModel::Select);
  list->setCurrentRow(3, QItemSelectionModel::Select);
  QCOMPARE(list->selectedItems().size(), qsizetype(3));
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"3.xls"}));
}

// Ctrl-click can leave the caret on an entry that is not selected; the selected entry is the
// one the user means, and the one that goes.
void Form1Test::deleteWithTheCaretOffTheOnlySelectedEntryRemovesTheSelectedOne() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->List1;
  list->setCurrentRow(2);
  list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  QCOMPARE(list->currentRow(), 0);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "2.xls"}));
}

void Form1Test::deleteDoesNothingWithoutACurrentEntry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QListWidget* list = w->List1;
  list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  QCOMPARE(list->currentRow(), -1);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(list->count(), 2);
}

void Form1Test::doubleClickMovesAnEntryToTheTop() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls", "4.xls", "5.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QWidget* vp = w->List1->viewport();
  const QPoint at = w->List1->visualItemRect(w->List1->item(2)).center();
  QTest::mouseClick(vp, Qt::LeftButton, {}, at);
  QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
  QCOMPARE(Entries(w->List1), QStringList({"3.xls", "1.xls", "2.xls", "4.xls", "5.xls"}));
  QCOMPARE(w->List1->currentRow(), 0);
  QCOMPARE(w->FileList().front(), std::string("3.xls"));
}

void Form1Test::optionCaptionsFollowTheKind() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  auto captions = [&] { return QStringList({w->Option2[0]->text(), w->Option2[1]->text()}); };
  QVERIFY(w->Option1[0]->isChecked() && w->Option2[0]->isChecked());
  QCOMPARE(captions(), QStringList({"安全合并", "快速合并"}));

  w->Option1[2]->click();
  QCOMPARE(captions(), QStringList({"横向合并", "纵横合并"}));
  QVERIFY(w->Option2[1]->isChecked());

  w->Option1[1]->click();
  QCOMPARE(captions(), QStringList({"安全合并", "快速合并"}));
  QVERIFY(w->Option2[0]->isChecked());

  // Clicking the kind already chosen resets the variant too.
  w->Option2[1]->click();
  w->Option1[1]->click();
  QVERIFY(w->Option2[0]->isChecked());
}

void Form1Test::everyRowOfTheTableStartsItsEngine() {
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
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(rec.runs.size(), size_t(1));
  QVERIFY((rec.runs[0] == DispatchChoice{Engine::kSafeMerge, VerticalMode::kAppend}));
  for (const auto& row : rows) {
    rec.runs.clear();
    w->Option1[row.kind]->click();
    w->Option2[row.variant]->click();
    QTest::mouseClick(w->Command7, Qt::LeftButton);
    QCOMPARE(rec.runs.size(), size_t(1));
    QVERIFY2(rec.runs[0] == row.expected,
             qPrintable(QString("kind %1 variant %2").arg(row.kind).arg(row.variant)));
  }
  // The engine reads the folder and the list as the window shows them.
  QCOMPARE(S(rec.folders_seen.back()), dir.path() + "/");
  QCOMPARE(rec.lists_seen.back(), (std::vector<std::string>{"a.xls", "b.xls"}));
  QVERIFY(w->LastRun().has_value());
}

void Form1Test::smartMergeLeavesTheTemplateAsTheCurrentEntry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"1.xls", "2.xls", "3.xls"});
  Recorded rec;
  // A stand-in that, like the smart engines, asks for the template as the current entry.
  bool smart = false;
  auto w = MakeWindow(rec, dir.path(), [&smart](MergeContext& ctx) {
    if (smart) ctx.port.SetCurrentEntry(0);
    return RunResult{Outcome::kStopped, std::nullopt};
  });
  w->Load();
  QListWidget* list = w->List1;
  list->setCurrentRow(2);

  // The vertical merges leave the caret where the user put it.
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(list->currentRow(), 2);

  // A smart merge, even one stopped at the key prompt, ends with entry 0 current; the
  // selection stays the user's, so 删除 still removes what the user chose.
  w->Option1[2]->click();
  smart = true;
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QVERIFY(rec.runs.back().engine == Engine::kSmartMerge);
  QCOMPARE(list->currentRow(), 0);
  QCOMPARE(list->selectedItems().size(), qsizetype(1));
  QCOMPARE(list->selectedItems().front()->text(), QString("3.xls"));
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(Entries(list), QStringList({"1.xls", "2.xls"}));
}

void Form1Test::portDialogsShowExactTextsAndButtons() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  DialogScript dialogs;
  dialogs.Press("取消").Press("确定").Press("否(&N)").Press("是(&Y)");
  QCOMPARE(w->Message("你确定吗？", "合并提示", Buttons::kOkCancel), Answer::kCancel);
  QCOMPARE(w->Message("好", "", Buttons::kOkCancel), Answer::kOk);
  QCOMPARE(w->Message("排序了吗", "", Buttons::kYesNo), Answer::kNo);
  QCOMPARE(w->Message("排序了吗", "", Buttons::kYesNo), Answer::kYes);
  QCOMPARE(dialogs.seen[0].title, QString("合并提示"));
  QCOMPARE(dialogs.seen[0].buttons, QStringList({"确定", "取消"}));
  QCOMPARE(dialogs.seen[1].title, QString("合并"));
  QCOMPARE(dialogs.seen[2].buttons, QStringList({"是(&Y)", "否(&N)"}));

  // A lone carriage return in a prompt breaks the line; the entry comes pre-filled.
  dialogs.Type("3列").Type(QString(), true).Type("");
  QCOMPARE(w->Input(PromptKind::kKeyColumn, " 1:A| 2:B|\r请输入关键字列列号！", "输入提示", "1"),
           std::string("3列"));
  QCOMPARE(w->Input(PromptKind::kHeaderRows, "快速合并要求表头必须从第一行开始，请问表头占几行？",
                    "", "1"),
           std::nullopt);
  QCOMPARE(w->Input(PromptKind::kHeaderRows, "x", "", "1"), std::string());
  QCOMPARE(dialogs.seen[4].text, QString(" 1:A| 2:B|\n请输入关键字列列号！"));
  QCOMPARE(dialogs.seen[4].title, QString("输入提示"));
  QCOMPARE(dialogs.seen[4].default_text, QString("1"));
  QCOMPARE(dialogs.seen[5].title, QString("合并"));
  QCOMPARE(dialogs.unexpected, 0);
}

void Form1Test::runRepaintsButIgnoresInputAndReentry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls", "c.xls"});
  Recorded rec;
  Form1* self = nullptr;
  int clicks_seen = 0;
  Answer answer = Answer::kOk;
  DialogScript dialogs;
  dialogs.Press("取消");
  auto w = MakeWindow(rec, dir.path(), [&](MergeContext& ctx) {
    ctx.port.SetProgressMax(4);
    ctx.port.SetProgressValue(1);
    ctx.port.ReplaceLog("开始合并...");
    // A second press of the start button while running starts nothing.
    self->Command7->click();
    // Clicks and keys aimed at the window are dropped, not queued for later.
    self->List1->setCurrentRow(0);
    QTest::mouseClick(self->Command2, Qt::LeftButton);
    QTest::keyClick(self->List1, Qt::Key_Delete);
    QTest::qWait(80);  // long enough for a repaint pass
    // The run's own dialogs still take clicks.
    answer = ctx.port.Message("继续吗？", "合并提示", Buttons::kOkCancel);
    ctx.port.SetProgressValue(3);
    clicks_seen = self->List1->count();
    ctx.port.PrintStatus("已退出合并操作！");
    return RunResult{Outcome::kDone, std::nullopt};
  });
  self = w.get();
  w->Load();
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(rec.runs.size(), size_t(1));
  QCOMPARE(clicks_seen, 3);
  QCOMPARE(answer, Answer::kCancel);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(w->List1->count(), 3);
  QCOMPARE(w->ProgressMax(), 4.0);
  QCOMPARE(w->ProgressValue(), 3.0);
  QCOMPARE(w->ProgressBar1->value(), 750);
  QCOMPARE(w->Picture1->Lines(), QStringList({"已退出合并操作！"}));
  QVERIFY(!w->IsRunning());

  // After the run the window answers again.
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(w->List1->count(), 2);
}

void Form1Test::logKeepsLineBreaksAndUserEdits() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  w->SetLogText("开始合并...");
  w->SetLogText(w->LogText() + "\r\n" + "检测表1:a.xls");
  w->SetLogText(w->LogText() + "\r\n" + "检测表2:b.xls");
  w->ScrollLogToEnd();
  QCOMPARE(w->LogText(), std::string("开始合并...\r\n检测表1:a.xls\r\n检测表2:b.xls"));
  QCOMPARE(w->Text2->toPlainText(), QString("开始合并...\n检测表1:a.xls\n检测表2:b.xls"));
  QCOMPARE(w->Text2->textCursor().position(), w->Text2->toPlainText().size());
  // Replacing the whole text is not mistaken for an append.
  w->SetLogText("已退出合并操作！");
  QCOMPARE(w->Text2->toPlainText(), QString("已退出合并操作！"));
  // What the user typed into the box is what the log holds afterwards.
  QTest::keyClicks(w->Text2, "x");
  QCOMPARE(w->LogText(), std::string("x已退出合并操作！"));
}

void Form1Test::resultIsOpenedOnlyWhenItExists() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "result.xls"});
  const std::string there = (dir.path() + "/result.xls").toStdString();
  const std::string missing = (dir.path() + "/gone.xls").toStdString();
  Recorded rec;
  std::string announce;
  bool opened_during_run = false;
  auto w = MakeWindow(rec, dir.path(), [&](MergeContext& ctx) {
    if (!announce.empty()) ctx.port.ShowResult(announce);
    opened_during_run = !rec.opened.empty();
    return RunResult{Outcome::kDone, announce};
  });
  w->Load();
  QTest::mouseClick(w->Command7, Qt::LeftButton);  // nothing announced
  announce = missing;
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QVERIFY(rec.opened.empty());
  announce = there;
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(rec.opened, std::vector<std::string>{there});
  QVERIFY(!opened_during_run);
}

void Form1Test::errorPageOnTheMainPanelTurnsBlank() {
  QTemporaryDir dir;
  auto page = [&](const QString& name, const QString& title) {
    QFile f(dir.path() + "/" + name);
    if (!f.open(QIODevice::WriteOnly)) return QUrl();
    f.write(("<html><head><title>" + title + "</title></head><body>x</body></html>").toUtf8());
    return QUrl::fromLocalFile(f.fileName());
  };
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  for (const char* title : {"找不到服务器", "没有可显示的页", "无法显示网页"}) {
    w->WebBrowser1->Navigate(page("e.htm", QString::fromUtf8(title)));
    QCOMPARE(w->WebBrowser1->source(), QUrl("about:blank"));
  }
  const QUrl ok = page("ok.htm", "无法显示网页 ");  // compared exactly: not an error title
  w->WebBrowser1->Navigate(ok);
  QCOMPARE(w->WebBrowser1->source(), ok);
  // The second panel has no such check.
  const QUrl err = page("e2.htm", "无法显示网页");
  w->WebBrowser2->Navigate(err);
  QCOMPARE(w->WebBrowser2->source(), err);
}

void Form1Test::wholeMergeThroughTheRealDialogs() {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("合并结果");
  const QStringList names = {"一月.xls", "二月.xls"};
  for (int f = 0; f < names.size(); ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    ws.SetText(1, 1, "姓名");
    ws.SetText(1, 2, "数量");
    for (int r = 2; r <= 4; ++r) {
      ws.SetText(r, 1, "员工" + std::to_string(f * 10 + r));
      ws.SetNumber(r, 2, r * 1.5);
    }
    auto saved = SaveWorkbookFile(wb, (dir.path() + "/" + names[f]).toStdString());
    QVERIFY2(saved.ok(), saved.ok() ? "" : saved.error().detail.c_str());
  }
  auto back = ReadWorkbookFile((dir.path() + "/" + names[0]).toStdString());
  QVERIFY2(back.ok(), back.ok() ? "" : back.error().detail.c_str());

  std::vector<std::string> opened;
  Form1Hooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [&](const std::string& p) {
    opened.push_back(p);
    return true;
  };
  Form1 w(hooks);
  w.Load();
  DialogScript dialogs;
  dialogs.Press("确定");
  dialogs.AnswerTheRestWithDefaults();
  QTest::mouseClick(w.Command7, Qt::LeftButton);  // 纵向拼接, 安全合并

  QVERIFY(!dialogs.seen.empty());
  QVERIFY(dialogs.seen[0].text.startsWith("执行此操作，合并每一个工作表前均会检查表头是否规范"));
  QCOMPARE(dialogs.seen[0].title, QString("合并提示"));
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QVERIFY(w.LastRun()->result_path.has_value());
  QVERIFY(QFile::exists(S(*w.LastRun()->result_path)));
  QCOMPARE(opened, std::vector<std::string>{*w.LastRun()->result_path});
  // The engine's closing line, then the window's account of the run.
  const QStringList lines = LogLines(w);
  QCOMPARE(lines[lines.size() - 2], QString("合并操作结束！"));
  QCOMPARE(lines.back(), S(SummaryLine(Summarize(w.Outcomes()), *w.LastRun()->result_path)));
  if (!w.Outcomes().empty()) QCOMPARE(Summarize(w.Outcomes()).merged, 2);
  QCOMPARE(w.ProgressValue(), w.ProgressMax());
}

void Form1Test::summaryFollowsADoneRunAndNamesTheFolderWhenTheResultCannotBeOpened() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls", "c.xls", "d.xls", "e.xls"});
  QDir(dir.path()).mkdir("合并结果");
  Touch(dir.path() + "/合并结果", {"合并结果.xls"});
  const std::string result = (dir.path() + "/合并结果/合并结果.xls").toStdString();
  Recorded rec;
  bool report_all = true;
  auto w = MakeWindow(rec, dir.path(), [&](MergeContext& ctx) {
    ctx.port.ReplaceLog("开始合并...");
    ctx.port.AppendLog("合并操作结束！");
    ctx.port.ReportFile(Reported(0, "a.xls", FileStatus::kTemplate));
    if (report_all) {
      ctx.port.ReportFile(Reported(1, "b.xls", FileStatus::kMerged));
      ctx.port.ReportFile(Reported(2, "c.xls", FileStatus::kHeaderMismatch));
      ctx.port.ReportFile(Reported(3, "d.xls", FileStatus::kUnreadable));
      ctx.port.ReportFile(Reported(4, "e.xls", FileStatus::kMerged));
    }
    ctx.port.ShowResult(result);
    return RunResult{Outcome::kDone, result};
  });
  w->Load();
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(w->Outcomes().size(), size_t(5));
  QCOMPARE(LogLines(*w),
           QStringList(
               {"开始合并...", "合并操作结束！",
                "合并完成：已合并3个文件，表头不符跳过1个，无法读取跳过1个。结果：" + S(result)}));
  QCOMPARE(rec.opened, std::vector<std::string>{result});
  // The account is the last thing the user sees.
  QCOMPARE(w->Text2->textCursor().position(), w->Text2->toPlainText().size());

  // A desktop that cannot open the result: the user is told which folder holds it. Each run
  // counts only its own files.
  rec.opener_works = false;
  report_all = false;
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(w->Outcomes().size(), size_t(1));
  QCOMPARE(
      LogLines(*w),
      QStringList({"开始合并...", "合并操作结束！",
                   "合并完成：已合并1个文件，表头不符跳过0个，无法读取跳过0个。结果：" + S(result),
                   "无法自动打开结果文件，请到此文件夹中查看：" +
                       QDir::toNativeSeparators(dir.path() + "/合并结果")}));
  QCOMPARE(rec.opened.size(), size_t(2));
}

void Form1Test::noSummaryAfterARunThatDidNotSave() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  Outcome outcome = Outcome::kCancelled;
  auto w = MakeWindow(rec, dir.path(), [&](MergeContext& ctx) {
    ctx.port.ReplaceLog("开始合并...");
    ctx.port.ReportFile(Reported(0, "a.xls", FileStatus::kTemplate));
    ctx.port.ReportFile(Reported(1, "b.xls", FileStatus::kNotReached));
    return RunResult{outcome, std::nullopt};
  });
  w->Load();
  for (Outcome o : {Outcome::kCancelled, Outcome::kStopped, Outcome::kFailed, Outcome::kEmpty}) {
    outcome = o;
    QTest::mouseClick(w->Command7, Qt::LeftButton);
    QCOMPARE(w->LogText(), std::string("开始合并..."));
  }
  QCOMPARE(rec.runs.size(), size_t(4));
  QVERIFY(rec.opened.empty());
}

void Form1Test::startWithAnEmptyListSaysThereIsNothingToMerge() {
  QTemporaryDir dir, none;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  w->List1->selectAll();
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(w->List1->count(), 0);
  const std::string log_before = w->LogText();

  DialogScript dialogs;
  dialogs.Press("确定");
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(1));
  QCOMPARE(dialogs.seen[0].text, QString("列表中没有要合并的文件"));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(dialogs.seen[0].buttons, QStringList({"确定"}));
  QVERIFY(rec.runs.empty());
  QCOMPARE(w->LogText(), log_before);

  // Also when nothing was ever listed: the program folder held no workbooks.
  Recorded rec2;
  auto empty = MakeWindow(rec2, none.path());
  dialogs.Press("确定").Press("确定");
  empty->Load();
  QTest::mouseClick(empty->Command7, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(3));
  QCOMPARE(dialogs.seen[1].text, QString("在程序所在文件夹下没有找到EXCEL文件"));
  QCOMPARE(dialogs.seen[2].text, QString("列表中没有要合并的文件"));
  QVERIFY(rec2.runs.empty());
  QCOMPARE(dialogs.unexpected, 0);
}

void Form1Test::typedFolderIsListedOnEnterAndBeforeAMerge() {
  QTemporaryDir first, second, third, bare;
  Touch(first.path(), {"1.xls", "2.xls"});
  Touch(second.path(), {"x.xlsx", "y.xls", "z.xls"});
  Touch(third.path(), {"t.xls"});
  Touch(bare.path(), {"notes.txt"});
  Recorded rec;
  auto w = MakeWindow(rec, first.path());
  w->Load();
  DialogScript dialogs;

  // Enter lists the folder typed.
  w->Text1->setText(second.path());
  QTest::keyClick(w->Text1, Qt::Key_Return);
  QCOMPARE(Entries(w->List1), QStringList({"x.xlsx", "y.xls", "z.xls"}));
  QCOMPARE(w->Text1->text(), second.path() + "/");

  // Moving on to another control lists a changed folder; without a change the list stays as
  // the user arranged it.
  w->show();
  w->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(w.get()));
  w->Text1->setFocus();
  w->Text1->setText(first.path());
  w->List1->setFocus();
  QCOMPARE(Entries(w->List1), QStringList({"1.xls", "2.xls"}));
  QTest::mouseClick(w->Command2, Qt::LeftButton);
  QCOMPARE(w->List1->count(), 1);
  w->Text1->setFocus();
  w->List1->setFocus();
  QCOMPARE(w->List1->count(), 1);
  w->hide();

  // A folder typed but not confirmed is listed before the merge starts: the engine never sees
  // the old list beside the new folder.
  w->Text1->setText(third.path());
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(rec.runs.size(), size_t(1));
  QCOMPARE(S(rec.folders_seen.back()), third.path() + "/");
  QCOMPARE(rec.lists_seen.back(), std::vector<std::string>{"t.xls"});

  // A typed folder without workbooks: the listing's message, the box back on the folder
  // listed before, an empty list and no run.
  w->Text1->setText(bare.path());
  dialogs.Press("确定");
  QTest::mouseClick(w->Command7, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(1));
  QCOMPARE(dialogs.seen[0].text, QString("在程序所在文件夹下没有找到EXCEL文件"));
  QCOMPARE(rec.runs.size(), size_t(1));
  QCOMPARE(w->Text1->text(), third.path() + "/");
  QCOMPARE(w->List1->count(), 0);

  // Enter on the same folder lists it again; an emptied box goes back to the folder listed.
  QTest::keyClick(w->Text1, Qt::Key_Return);
  QCOMPARE(Entries(w->List1), QStringList({"t.xls"}));
  w->Text1->clear();
  QTest::keyClick(w->Text1, Qt::Key_Return);
  QCOMPARE(w->Text1->text(), third.path() + "/");
  QCOMPARE(Entries(w->List1), QStringList({"t.xls"}));
  QCOMPARE(dialogs.unexpected, 0);
}

void Form1Test::addDialogOpensInTheListedFolder() {
  QTemporaryDir program, other;
  Touch(program.path(), {"p.xls"});
  Touch(other.path(), {"o.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();
  w->LoadFolder(other.path());
  DialogScript dialogs;
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->Command1, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].default_text, QDir(other.path()).absolutePath());
}

// The sorted path of 横向合并 reports on the status lines alone; they were printed on a hidden
// box while the log went on showing the instructions or the previous run.
void Form1Test::sortedSmartMergeShowsItsStatusLinesInTheLog() {
  QTemporaryDir dir;
  if (!WriteTables(dir.path(), {"a.xlsx", "b.xlsx"})) QSKIP("the .xlsx writer is not there yet");
  Recorded rec;
  Form1Hooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [&](const std::string& p) {
    rec.opened.push_back(p);
    return true;
  };
  Form1 w(hooks);
  w.Load();
  w.Option1[2]->click();
  w.Option2[0]->click();  // 横向合并
  // A bar left full by an earlier run.
  w.SetProgressMax(2);
  w.SetProgressValue(2);

  DialogScript dialogs;
  dialogs.Press("是(&Y)").Type("1");
  QTest::mouseClick(w.Command7, Qt::LeftButton);
  QCOMPARE(dialogs.unexpected, 0);
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  const QStringList lines = LogLines(w);
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[0], QString("开始智能合并..."));
  QCOMPARE(lines[1], QString("智能合并操作完成！"));
  QCOMPARE(lines[2], S(SummaryLine(Summarize(w.Outcomes()), *w.LastRun()->result_path)));
  QCOMPARE(w.Picture1->Lines(), QStringList({"开始智能合并...", "智能合并操作完成！"}));
  QCOMPARE(w.ProgressValue(), w.ProgressMax());

  // Stopped at the key prompt: the log is this run's, not the last one's.
  dialogs.Press("是(&Y)").Type("0").Press("确定");
  QTest::mouseClick(w.Command7, Qt::LeftButton);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kStopped));
  QCOMPARE(LogLines(w), QStringList({"开始智能合并...", "已退出合并操作！"}));
  QCOMPARE(dialogs.unexpected, 0);

  // Clearing the status area empties the log and the bar before the first line comes.
  Recorded rec2;
  std::string log_at_clear = "?";
  int bar_at_clear = -1;
  Form1* self = nullptr;
  auto stand_in = MakeWindow(rec2, dir.path(), [&](MergeContext& ctx) {
    ctx.port.ClearStatus();
    log_at_clear = self->LogText();
    bar_at_clear = self->ProgressBar1->value();
    return RunResult{Outcome::kStopped, std::nullopt};
  });
  self = stand_in.get();
  stand_in->Load();
  stand_in->SetProgressValue(100);
  QTest::mouseClick(stand_in->Command7, Qt::LeftButton);
  QCOMPARE(log_at_clear, std::string());
  QCOMPARE(bar_at_clear, 0);
}

// The safe merge writes its own log; its status line on a stop stays where it always was.
void Form1Test::safeMergeKeepsItsStatusLinesOffTheLog() {
  QTemporaryDir dir;
  if (!WriteTables(dir.path(), {"a.xlsx", "b.xlsx"})) QSKIP("the .xlsx writer is not there yet");
  Recorded rec;
  Form1Hooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  Form1 w(hooks);
  w.Load();
  w.Option1[1]->click();  // 覆盖合并, 安全合并
  DialogScript dialogs;
  dialogs.Press("确定").Type("0").Press("确定");
  QTest::mouseClick(w.Command7, Qt::LeftButton);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kStopped));
  QVERIFY(S(w.LogText()).startsWith("开始合并...\r\n检测表1:a.xlsx"));
  QVERIFY(!S(w.LogText()).contains("已退出合并操作！"));
  QCOMPARE(w.Picture1->Lines(), QStringList({"已退出合并操作！"}));
}

// Saves a picture of the window when QM_WINDOW_SHOT names a file; run it under a real X
// server (xvfb-run) so the fonts are those a user sees.
void Form1Test::screenshot() {
  const QString out = qEnvironmentVariable("QM_WINDOW_SHOT");
  if (out.isEmpty()) QSKIP("set QM_WINDOW_SHOT to save a picture of the window");
  const QString examples = QString(QM_SOURCE_DIR) + "/examples/monthly";
  QTemporaryDir tmp;
  const QString fallback = tmp.path() + "/examples/monthly";
  QDir().mkpath(fallback);
  Touch(fallback, {"一月.xls", "二月.xls", "三月.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  w->Load(QFileInfo::exists(examples) ? examples : fallback);
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QTest::qWait(300);
  QVERIFY(w->grab().save(out));
}

// Saves a picture of the window after a safe merge of the monthly examples when
// QM_SUMMARY_SHOT names a file; run it under xvfb-run as the picture above.
void Form1Test::summaryScreenshot() {
  const QString out = qEnvironmentVariable("QM_SUMMARY_SHOT");
  if (out.isEmpty()) QSKIP("set QM_SUMMARY_SHOT to save a picture of the window after a merge");
  const QString examples = QString(QM_SOURCE_DIR) + "/examples/monthly";
  if (!QFileInfo::exists(examples)) QSKIP("examples/monthly is not there");
  // Merged from a copy, so no result folder is left among the examples.
  QTemporaryDir tmp;
  const QString folder = tmp.path() + "/monthly";
  QDir().mkpath(folder);
  for (const QString& n : QDir(examples).entryList(QDir::Files))
    QVERIFY(QFile::copy(examples + "/" + n, folder + "/" + n));

  // Real folders hold files that are no workbooks: a CSV saved under a workbook's name and an
  // empty file are skipped with their reasons.
  {
    QFile csv(folder + "/四月.xls");
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("日期,收入\r\n2024/4/1,100\r\n");
    QFile empty(folder + "/五月.xlsx");
    QVERIFY(empty.open(QIODevice::WriteOnly));
  }
  Form1Hooks hooks;
  hooks.program_folder = folder.toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  Form1 w(hooks);
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  QTest::mouseClick(w.Command7, Qt::LeftButton);  // 纵向拼接, 安全合并
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QVERIFY(S(w.LogText()).contains("合并完成："));
  QTest::qWait(300);
  QVERIFY(w.grab().save(out));
}

QTEST_MAIN(Form1Test)
#include "test_form1.moc"
