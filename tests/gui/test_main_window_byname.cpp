// The window's 按列名合并 button: where it stands, how its caption follows the kind, the engine
// it starts, a whole by-name merge through the real dialogs and the picture for the README.
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "dialog_script.h"
#include "main_window_test.h"
#include "workbook/io.h"

using namespace qm;

void MainWindowTest::byNameButtonFollowsTheKindAndStartsTheByNameMerge() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  QRadioButton* b = w->variantGroup->findChild<QRadioButton*>("ByNameOption");
  QCOMPARE(b, w->byNameOption);
  QCOMPARE(b->text(), QString("按列名合并"));
  QVERIFY(!b->isChecked());
  // Below the other two, inside the group, touching neither, its caption whole: the others
  // are as tall as their size hint asks, this one at least a line of its font.
  QVERIFY(b->geometry().top() > w->variantOptions[1]->geometry().bottom());
  QVERIFY(b->geometry().bottom() < w->variantGroup->height());
  QVERIFY(b->height() >= b->fontMetrics().height());
  QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(QString::number(b->sizeHint().width())));
  QVERIFY(w->variantGroup->geometry().bottom() < w->startButton->geometry().top());

  w->kindOptions[2]->click();  // the smart kind has no by-name variant
  QVERIFY(b->isHidden());
  w->kindOptions[1]->click();
  QVERIFY(!b->isHidden());
  QCOMPARE(b->text(), QString("按列名合并"));
  QVERIFY(w->variantOptions[0]->isChecked());

  const struct {
    int kind;
    DispatchChoice expected;
  } rows[] = {{0, {Engine::kByNameMerge, VerticalMode::kAppend}},
              {1, {Engine::kByNameMerge, VerticalMode::kOverwrite}}};
  for (const auto& row : rows) {
    rec.runs.clear();
    w->kindOptions[row.kind]->click();
    b->click();
    QVERIFY(b->isChecked() && !w->variantOptions[0]->isChecked());
    StartAndWait(*w);
    QCOMPARE(rec.runs.size(), size_t(1));
    QVERIFY(rec.runs[0] == row.expected);
    // A click on a kind resets the variant to 安全合并, the by-name button included.
    w->kindOptions[row.kind]->click();
    QVERIFY(!b->isChecked() && w->variantOptions[0]->isChecked());
  }
}

namespace {

// Two branch reports whose columns stand in another order, one with a totals row.
bool WriteBranches(const QString& folder) {
  const char* names[] = {"北京.xls", "上海.xlsx"};
  for (int f = 0; f < 2; ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    const int name_col = f == 0 ? 1 : 2, amount_col = f == 0 ? 2 : 1;
    (void)ws.SetText(1, name_col, f == 0 ? "姓名" : "姓名 ");
    (void)ws.SetText(1, amount_col, f == 0 ? "金额（元）" : "金额(元)");
    (void)ws.SetText(2, name_col, f == 0 ? "张三" : "李四");
    (void)ws.SetNumber(2, amount_col, 100 + f);
    (void)ws.SetText(3, 1, "合计");
    if (!SaveWorkbookFile(wb, (folder + "/" + names[f]).toStdString()).ok()) return false;
  }
  return true;
}

}  // namespace

void MainWindowTest::byNameMergeThroughTheRealDialogs() {
  QTemporaryDir dir;
  QVERIFY(WriteBranches(dir.path()));
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  QCOMPARE(Entries(w.fileList), QStringList({"上海.xlsx", "北京.xls"}));
  w.byNameOption->click();
  DialogScript dialogs;
  dialogs.Press("确定");
  StartAndWait(w);
  QCOMPARE(dialogs.unexpected, 0);
  QVERIFY(!dialogs.seen.empty());
  QCOMPARE(dialogs.seen[0].text,
           QString("执行此操作，将按表头名称对齐各表的列后纵向合并这2个工作表，你确定吗？"));
  QCOMPARE(dialogs.seen[0].title, QString("合并提示"));
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  const QStringList lines = LogLines(w);
  QCOMPARE(lines.mid(0, 6),
           QStringList({"开始合并...", "检测表1:上海.xlsx", "跳过空行0行、合计行1行",
                        "检测表2:北京.xls", "跳过空行0行、合计行1行", "合并操作结束！"}));
  QCOMPARE(w.ProgressValue(), w.ProgressMax());
  auto result = ReadWorkbookFile(*w.LastRun()->result_path);
  QVERIFY(result.ok());
  const Worksheet& ws = *(*result)->Worksheets(1);
  QCOMPARE(ws.UsedRange().r2, 3);
  // 北京's columns stand in the template's order: 金额(元) first, then 姓名.
  QCOMPARE(ws.Cells(3, 1).number, 100.0);
  QCOMPARE(S(std::string(ws.Cells(3, 2).text)), QString("张三"));
}

// Saves a picture of the window after a by-name merge of examples/branches when QM_BYNAME_SHOT
// names a file.
void MainWindowTest::byNameScreenshot() {
  const QString out = qEnvironmentVariable("QM_BYNAME_SHOT");
  if (out.isEmpty()) QSKIP("set QM_BYNAME_SHOT to save a picture of a by-name merge");
  const QString examples = QString(QM_SOURCE_DIR) + "/examples/branches";
  QTemporaryDir tmp;
  const QString folder = tmp.path() + "/分公司";
  QDir().mkpath(folder);
  for (const QString& n : QDir(examples).entryList(QDir::Files))
    QVERIFY(QFile::copy(examples + "/" + n, folder + "/" + n));
  MainWindowHooks hooks;
  hooks.program_folder = folder.toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.resize(w.DefaultSize() + QSize(260, 160));
  w.byNameOption->click();
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  StartAndWait(w);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QTest::qWait(300);
  QVERIFY(w.grab().save(out));
}
