// The window driven through its real widgets and dialogs: runs, the log, the result and the
// account of a run, the typed folder and the pictures for the README.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
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
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/main_window.h"
#include "app/picture_box.h"
#include "app/run_account.h"
#include "app/web_panel.h"
#include "core/run_summary.h"
#include "dialog_script.h"
#include "main_window_test.h"
#include "workbook/io.h"

using namespace qm;

// While a run goes, a second press of the start button starts nothing and input aimed at the
// controls that would change the run is dropped, not queued for later; the run's own dialogs
// still take clicks.
void MainWindowTest::runIgnoresInputAndReentry() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls", "c.xls"});
  Recorded rec;
  std::atomic<bool> go{false};
  bool answer = true;
  DialogScript dialogs;
  dialogs.Press("取消");
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    in.view.SetProgressMax(4);
    in.view.SetProgressValue(1);
    in.view.ReplaceLog("开始合并...");
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    answer = in.answers.Confirm({"继续吗？", "合并提示"});
    in.view.SetProgressValue(3);
    in.view.PrintStatus("已退出合并操作！");
    return RunResult{Outcome::kDone, std::nullopt};
  });
  w->Load();
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QTest::mouseClick(w->startButton, Qt::LeftButton);
  QVERIFY(w->IsRunning());
  QTRY_COMPARE(w->LogText(), std::string("开始合并..."));
  // The controls that would change the run are off, and 停止 stands where 开始合并 stood.
  const QList<QWidget*> off = {w->folderEdit,   w->fileList,        w->addButton,
                               w->removeButton, w->kindGroup,       w->variantGroup,
                               w->helpButton,   w->sourceColumnBox, w->sheetBox};
  for (QWidget* c : off) QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
  QVERIFY(!w->startButton->isVisible());
  QVERIFY(w->stopButton->isVisible() && w->stopButton->isEnabled());
  QCOMPARE(w->stopButton->text(), QString("停止"));
  QCOMPARE(w->stopButton->geometry(), w->startButton->geometry());
  QVERIFY(w->logBox->isReadOnly());
  w->startButton->click();
  QTest::mouseClick(w->startButton, Qt::LeftButton);
  w->fileList->setCurrentRow(0);
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QTest::keyClick(w->fileList, Qt::Key_Delete);
  QTest::qWait(80);
  QCOMPARE(w->fileList->count(), 3);
  go = true;
  QTRY_VERIFY_WITH_TIMEOUT(!w->IsRunning(), 10000);
  QCOMPARE(rec.runs.size(), size_t(1));
  QVERIFY(!answer);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(w->fileList->count(), 3);
  QCOMPARE(w->ProgressMax(), 4.0);
  QCOMPARE(w->ProgressValue(), 3.0);
  QCOMPARE(w->progressBar->value(), 750);
  QCOMPARE(w->statusBox->Lines(), QStringList({"已退出合并操作！"}));

  // After the run the window answers again.
  for (QWidget* c : off) QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
  QVERIFY(w->startButton->isVisible() && !w->stopButton->isVisible());
  QVERIFY(!w->logBox->isReadOnly());
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(w->fileList->count(), 2);
}

void MainWindowTest::logKeepsLineBreaksAndUserEdits() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  w->SetLogText("开始合并...");
  w->SetLogText(w->LogText() + "\r\n" + "检测表1:a.xls");
  w->SetLogText(w->LogText() + "\r\n" + "检测表2:b.xls");
  w->ScrollLogToEnd();
  QCOMPARE(w->LogText(), std::string("开始合并...\r\n检测表1:a.xls\r\n检测表2:b.xls"));
  QCOMPARE(w->logBox->toPlainText(), QString("开始合并...\n检测表1:a.xls\n检测表2:b.xls"));
  QCOMPARE(w->logBox->textCursor().position(), w->logBox->toPlainText().size());
  // Replacing the whole text is not mistaken for an append.
  w->SetLogText("已退出合并操作！");
  QCOMPARE(w->logBox->toPlainText(), QString("已退出合并操作！"));
  // What the user typed into the box is what the log holds afterwards.
  QTest::keyClicks(w->logBox, "x");
  QCOMPARE(w->LogText(), std::string("x已退出合并操作！"));
}

void MainWindowTest::resultIsOpenedOnlyWhenItExists() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "result.xls"});
  const std::string there = (dir.path() + "/result.xls").toStdString();
  const std::string missing = (dir.path() + "/gone.xls").toStdString();
  Recorded rec;
  std::string announce;
  bool opened_during_run = false;
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    if (!announce.empty()) in.view.ShowResult(announce);
    opened_during_run = !rec.opened.empty();
    return RunResult{Outcome::kDone, announce};
  });
  w->Load();
  StartAndWait(*w);  // nothing announced
  announce = missing;
  StartAndWait(*w);
  QVERIFY(rec.opened.empty());
  announce = there;
  StartAndWait(*w);
  QCOMPARE(rec.opened, std::vector<std::string>{there});
  QVERIFY(!opened_during_run);
}

void MainWindowTest::errorPageOnTheMainPanelTurnsBlank() {
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
    w->diagramPanel->Navigate(page("e.htm", QString::fromUtf8(title)));
    QCOMPARE(w->diagramPanel->source(), QUrl("about:blank"));
  }
  const QUrl ok = page("ok.htm", "无法显示网页 ");  // compared exactly: not an error title
  w->diagramPanel->Navigate(ok);
  QCOMPARE(w->diagramPanel->source(), ok);
  // The second panel has no such check.
  const QUrl err = page("e2.htm", "无法显示网页");
  w->tipsPanel->Navigate(err);
  QCOMPARE(w->tipsPanel->source(), err);
}

void MainWindowTest::wholeMergeThroughTheRealDialogs() {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("合并结果");
  const QStringList names = {"一月.xls", "二月.xls"};
  for (int f = 0; f < names.size(); ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    (void)ws.SetText(1, 1, "姓名");
    (void)ws.SetText(1, 2, "数量");
    for (int r = 2; r <= 4; ++r) {
      (void)ws.SetText(r, 1, "员工" + std::to_string(f * 10 + r));
      (void)ws.SetNumber(r, 2, r * 1.5);
    }
    auto saved = SaveWorkbookFile(wb, (dir.path() + "/" + names[f]).toStdString());
    QVERIFY2(saved.ok(), saved.ok() ? "" : saved.error().detail.c_str());
  }
  auto back = ReadWorkbookFile((dir.path() + "/" + names[0]).toStdString());
  QVERIFY2(back.ok(), back.ok() ? "" : back.error().detail.c_str());

  std::vector<std::string> opened;
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [&](const std::string& p) {
    opened.push_back(p);
    return true;
  };
  MainWindow w(hooks);
  w.Load();
  DialogScript dialogs;
  dialogs.Press("确定");
  dialogs.AnswerTheRestWithDefaults();
  StartAndWait(w);  // 纵向拼接, 安全合并

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
  QCOMPARE(lines.back(), S(SummaryLine(SummarizeTables(w.Outcomes()), *w.LastRun()->result_path)));
  if (!w.Outcomes().empty()) QCOMPARE(SummarizeTables(w.Outcomes()).merged, 2);
  QCOMPARE(w.ProgressValue(), w.ProgressMax());
}

void MainWindowTest::summaryFollowsADoneRunAndNamesTheFolderWhenTheResultCannotBeOpened() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls", "c.xls", "d.xls", "e.xls"});
  QDir(dir.path()).mkdir("合并结果");
  Touch(dir.path() + "/合并结果", {"合并结果.xls"});
  const std::string result = (dir.path() + "/合并结果/合并结果.xls").toStdString();
  Recorded rec;
  bool report_all = true;
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    in.view.ReplaceLog("开始合并...");
    in.view.AppendLog("合并操作结束！");
    in.view.ReportTable(Reported(0, "a.xls", TableStatus::kTemplate));
    if (report_all) {
      in.view.ReportTable(Reported(1, "b.xls", TableStatus::kMerged));
      in.view.ReportTable(Reported(2, "c.xls", TableStatus::kHeaderMismatch));
      in.view.ReportTable(Reported(3, "d.xls", TableStatus::kUnreadable));
      in.view.ReportTable(Reported(4, "e.xls", TableStatus::kMerged));
    }
    in.view.ShowResult(result);
    return RunResult{Outcome::kDone, result};
  });
  w->Load();
  StartAndWait(*w);
  QCOMPARE(w->Outcomes().size(), size_t(5));
  QCOMPARE(LogLines(*w),
           QStringList(
               {"开始合并...", "合并操作结束！",
                "合并完成：已合并3个文件，表头不符跳过1个，无法读取跳过1个。结果：" + S(result)}));
  QCOMPARE(rec.opened, std::vector<std::string>{result});
  // The account is the last thing the user sees.
  QCOMPARE(w->logBox->textCursor().position(), w->logBox->toPlainText().size());

  // A desktop that cannot open the result: the user is told which folder holds it. Each run
  // counts only its own files.
  rec.opener_works = false;
  report_all = false;
  StartAndWait(*w);
  QCOMPARE(w->Outcomes().size(), size_t(1));
  QCOMPARE(
      LogLines(*w),
      QStringList({"开始合并...", "合并操作结束！",
                   "合并完成：已合并1个文件，表头不符跳过0个，无法读取跳过0个。结果：" + S(result),
                   "无法自动打开结果文件，请到此文件夹中查看：" +
                       QDir::toNativeSeparators(dir.path() + "/合并结果")}));
  QCOMPARE(rec.opened.size(), size_t(2));
}

void MainWindowTest::noSummaryAfterARunThatDidNotSave() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  Outcome outcome = Outcome::kCancelled;
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    in.view.ReplaceLog("开始合并...");
    in.view.ReportTable(Reported(0, "a.xls", TableStatus::kTemplate));
    in.view.ReportTable(Reported(1, "b.xls", TableStatus::kNotReached));
    return RunResult{outcome, std::nullopt};
  });
  w->Load();
  for (Outcome o : {Outcome::kCancelled, Outcome::kStopped, Outcome::kFailed, Outcome::kEmpty}) {
    outcome = o;
    StartAndWait(*w);
    QCOMPARE(w->LogText(), std::string("开始合并..."));
  }
  QCOMPARE(rec.runs.size(), size_t(4));
  QVERIFY(rec.opened.empty());
}

void MainWindowTest::startWithAnEmptyListSaysThereIsNothingToMerge() {
  QTemporaryDir dir, none;
  Touch(dir.path(), {"a.xls", "b.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, dir.path());
  w->Load();
  w->fileList->selectAll();
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(w->fileList->count(), 0);
  const std::string log_before = w->LogText();

  DialogScript dialogs;
  dialogs.Press("确定");
  StartAndWait(*w);
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
  QTest::mouseClick(empty->startButton, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(3));
  QCOMPARE(dialogs.seen[1].text, QString("在程序所在文件夹下没有找到EXCEL文件"));
  QCOMPARE(dialogs.seen[2].text, QString("列表中没有要合并的文件"));
  QVERIFY(rec2.runs.empty());
  QCOMPARE(dialogs.unexpected, 0);
}

void MainWindowTest::typedFolderIsListedOnEnterAndBeforeAMerge() {
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
  w->folderEdit->setText(second.path());
  QTest::keyClick(w->folderEdit, Qt::Key_Return);
  QCOMPARE(Entries(w->fileList), QStringList({"x.xlsx", "y.xls", "z.xls"}));
  QCOMPARE(w->folderEdit->text(), Shown(second.path()));

  // Moving on to another control lists a changed folder; without a change the list stays as
  // the user arranged it.
  w->show();
  w->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(w.get()));
  w->folderEdit->setFocus();
  w->folderEdit->setText(first.path());
  w->fileList->setFocus();
  QCOMPARE(Entries(w->fileList), QStringList({"1.xls", "2.xls"}));
  QTest::mouseClick(w->removeButton, Qt::LeftButton);
  QCOMPARE(w->fileList->count(), 1);
  w->folderEdit->setFocus();
  w->fileList->setFocus();
  QCOMPARE(w->fileList->count(), 1);
  w->hide();

  // A folder typed but not confirmed is listed before the merge starts: the engine never sees
  // the old list beside the new folder.
  w->folderEdit->setText(third.path());
  StartAndWait(*w);
  QCOMPARE(rec.runs.size(), size_t(1));
  QCOMPARE(S(rec.folders_seen.back()), third.path() + "/");
  QCOMPARE(rec.lists_seen.back(), std::vector<std::string>{"t.xls"});

  // A typed folder without workbooks: the listing's message, the box back on the folder
  // listed before, an empty list and no run.
  w->folderEdit->setText(bare.path());
  dialogs.Press("确定");
  StartAndWait(*w);
  QCOMPARE(dialogs.seen.size(), size_t(1));
  QCOMPARE(dialogs.seen[0].text,
           "在此文件夹下没有找到EXCEL文件：" + QDir::toNativeSeparators(bare.path()));
  QCOMPARE(rec.runs.size(), size_t(1));
  QCOMPARE(w->folderEdit->text(), Shown(third.path()));
  QCOMPARE(w->fileList->count(), 0);

  // Enter on the same folder lists it again; an emptied box goes back to the folder listed.
  QTest::keyClick(w->folderEdit, Qt::Key_Return);
  QCOMPARE(Entries(w->fileList), QStringList({"t.xls"}));
  w->folderEdit->clear();
  QTest::keyClick(w->folderEdit, Qt::Key_Return);
  QCOMPARE(w->folderEdit->text(), Shown(third.path()));
  QCOMPARE(Entries(w->fileList), QStringList({"t.xls"}));
  QCOMPARE(dialogs.unexpected, 0);
}

// Taking down a window that is active with a folder typed into the box lists nothing: the box's
// editing ended while the controls were going, and the window relisted the folder into a list
// already destroyed (it crashed under Wine, where the window the tests show is active).
void MainWindowTest::destroyingTheActiveWindowWithAFolderTypedListsNothing() {
  QTemporaryDir first, bare;
  Touch(first.path(), {"1.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, first.path());
  w->Load();
  w->show();
  w->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(w.get()));
  w->folderEdit->setFocus();
  // Listing a folder without workbooks would say so in a message box.
  w->folderEdit->setText(bare.path());
  DialogScript dialogs;
  w.reset();
  QCOMPARE(dialogs.seen.size(), size_t(0));
}

void MainWindowTest::addDialogOpensInTheListedFolder() {
  QTemporaryDir program, other;
  Touch(program.path(), {"p.xls"});
  Touch(other.path(), {"o.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();
  w->LoadFolder(other.path());
  DialogScript dialogs;
  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].default_text, QDir(other.path()).absolutePath());
}

// The sorted path of 横向合并 reports on the status lines alone; they were printed on a hidden
// box while the log went on showing the instructions or the previous run.
void MainWindowTest::sortedSmartMergeShowsItsStatusLinesInTheLog() {
  QTemporaryDir dir;
  if (!WriteTables(dir.path(), {"a.xlsx", "b.xlsx"})) QSKIP("the .xlsx writer is not there yet");
  Recorded rec;
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [&](const std::string& p) {
    rec.opened.push_back(p);
    return true;
  };
  MainWindow w(hooks);
  w.Load();
  w.kindOptions[2]->click();
  w.variantOptions[0]->click();  // 横向合并
  // A bar left full by an earlier run.
  w.SetProgressMax(2);
  w.SetProgressValue(2);

  DialogScript dialogs;
  dialogs.Press("是(&Y)").Type("1");
  StartAndWait(w);
  QCOMPARE(dialogs.unexpected, 0);
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  const QStringList lines = LogLines(w);
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[0], QString("开始智能合并..."));
  QCOMPARE(lines[1], QString("智能合并操作完成！"));
  QCOMPARE(lines[2], S(SummaryLine(SummarizeTables(w.Outcomes()), *w.LastRun()->result_path)));
  QCOMPARE(w.statusBox->Lines(), QStringList({"开始智能合并...", "智能合并操作完成！"}));
  QCOMPARE(w.ProgressValue(), w.ProgressMax());

  // Stopped at the key prompt: the log is this run's, not the last one's.
  dialogs.Press("是(&Y)").Type("0").Press("确定");
  StartAndWait(w);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kStopped));
  QCOMPARE(LogLines(w), QStringList({"开始智能合并...", "已退出合并操作！"}));
  QCOMPARE(dialogs.unexpected, 0);

  // Clearing the status area empties the log and the bar before the first line comes.
  Recorded rec2;
  std::string log_at_clear = "?";
  int bar_at_clear = -1;
  MainWindow* self = nullptr;
  auto stand_in = MakeWindow(rec2, dir.path(), [&](StandIn& in) {
    in.view.ClearStatus();
    // The run's next question comes after what it showed before: the window is looked at then.
    in.answers.Acknowledge({"看一眼", ""});
    return RunResult{Outcome::kStopped, std::nullopt};
  });
  self = stand_in.get();
  stand_in->Load();
  stand_in->SetProgressValue(100);
  dialogs.Do([&](QWidget* box) {
    log_at_clear = self->LogText();
    bar_at_clear = self->progressBar->value();
    qobject_cast<QDialog*>(box)->accept();
  });
  StartAndWait(*stand_in);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(log_at_clear, std::string());
  QCOMPARE(bar_at_clear, 0);
}

// The safe merge writes its own log; its status line on a stop stays where it always was.
void MainWindowTest::safeMergeKeepsItsStatusLinesOffTheLog() {
  QTemporaryDir dir;
  if (!WriteTables(dir.path(), {"a.xlsx", "b.xlsx"})) QSKIP("the .xlsx writer is not there yet");
  Recorded rec;
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  w.kindOptions[1]->click();  // 覆盖合并, 安全合并
  DialogScript dialogs;
  dialogs.Press("确定").Type("0").Press("确定");
  StartAndWait(w);
  QCOMPARE(dialogs.unexpected, 0);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kStopped));
  QVERIFY(S(w.LogText()).startsWith("开始合并...\r\n检测表1:a.xlsx"));
  QVERIFY(!S(w.LogText()).contains("已退出合并操作！"));
  QCOMPARE(w.statusBox->Lines(), QStringList({"已退出合并操作！"}));
}

// Saves a picture of the window when QM_WINDOW_SHOT names a file; run it under a real X
// server (xvfb-run) so the fonts are those a user sees.
void MainWindowTest::screenshot() {
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
  // Canonical: on Windows the folder box then shows the drive too.
  w->Load(QFileInfo::exists(examples) ? QFileInfo(examples).canonicalFilePath() : fallback);
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QTest::qWait(300);
  QVERIFY(w->grab().save(out));
}

namespace {

// A copy of examples/monthly (so no result folder is left among the examples) with what real
// folders hold besides workbooks: a CSV saved under a workbook's name and an empty file, skipped
// with their reasons. Empty when the examples are not there.
QString CopyOfMonthly(const QTemporaryDir& tmp) {
  const QString examples = QString(QM_SOURCE_DIR) + "/examples/monthly";
  if (!QFileInfo::exists(examples)) return QString();
  const QString folder = tmp.path() + "/monthly";
  QDir().mkpath(folder);
  for (const QString& n : QDir(examples).entryList(QDir::Files))
    if (!QFile::copy(examples + "/" + n, folder + "/" + n)) return QString();
  QFile csv(folder + "/四月.xls");
  if (!csv.open(QIODevice::WriteOnly)) return QString();
  csv.write("日期,收入\r\n2024/4/1,100\r\n");
  QFile empty(folder + "/五月.xlsx");
  if (!empty.open(QIODevice::WriteOnly)) return QString();
  return folder;
}

}  // namespace

// Saves a picture of the window during a safe merge of the monthly examples, 停止 in the start
// button's place, when QM_RUN_SHOT names a file; run it under xvfb-run as the picture above.
void MainWindowTest::runScreenshot() {
  const QString out = qEnvironmentVariable("QM_RUN_SHOT");
  if (out.isEmpty()) QSKIP("set QM_RUN_SHOT to save a picture of the window during a merge");
  QTemporaryDir tmp;
  const QString folder = CopyOfMonthly(tmp);
  if (folder.isEmpty()) QSKIP("examples/monthly is not there");
  Recorded rec;
  MainWindow w(SlowRealMerges(rec, folder, 400));
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  QTest::mouseClick(w.startButton, Qt::LeftButton);  // 纵向拼接, 安全合并
  QTRY_VERIFY_WITH_TIMEOUT(S(w.LogText()).contains("检测表3:"), 20000);
  QTest::qWait(100);
  QVERIFY(w.stopButton->isVisible());
  QVERIFY(w.grab().save(out));
  QTest::mouseClick(w.stopButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!w.IsRunning(), 20000);
}

// Saves a picture of the window made larger after a safe merge of the monthly examples, the
// list showing each file's outcome and the account in the tips' place, when QM_SUMMARY_SHOT
// names a file; run it under xvfb-run as the picture above.
void MainWindowTest::summaryScreenshot() {
  const QString out = qEnvironmentVariable("QM_SUMMARY_SHOT");
  if (out.isEmpty()) QSKIP("set QM_SUMMARY_SHOT to save a picture of the window after a merge");
  QTemporaryDir tmp;
  const QString folder = CopyOfMonthly(tmp);
  if (folder.isEmpty()) QSKIP("examples/monthly is not there");
  MainWindowHooks hooks;
  hooks.program_folder = folder.toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.resize(w.DefaultSize() + QSize(260, 160));
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  StartAndWait(w);  // 纵向拼接, 安全合并
  QVERIFY(w.LastRun().has_value());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QVERIFY(S(w.LogText()).contains("合并完成："));
  QVERIFY(w.accountPanel->isVisible());
  QTest::qWait(300);
  QVERIFY(w.grab().save(out));
}

// Merges the folder QM_WINDOW_MERGE names through the window as a user would (纵向拼接, 安全合并,
// every dialog answered with its default) and leaves the result there; QM_WINDOW_MERGE_LOG gets
// the dialogs' texts and the log. The Windows cross build runs it under Wine and on Linux and
// compares the two.
void MainWindowTest::mergeThroughTheWindow() {
  const QString folder = qEnvironmentVariable("QM_WINDOW_MERGE");
  if (folder.isEmpty()) QSKIP("set QM_WINDOW_MERGE to merge a folder through the window");
  std::vector<std::string> opened;
  MainWindowHooks hooks;
  hooks.program_folder = folder.toStdString();
  hooks.open_result = [&](const std::string& p) {
    opened.push_back(p);
    return true;
  };
  MainWindow w(hooks);
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  DialogScript dialogs;
  dialogs.AnswerTheRestWithDefaults();
  QTest::mouseClick(w.startButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(w.LastRun().has_value(), 60000);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QVERIFY(w.LastRun()->result_path.has_value());
  QCOMPARE(opened, std::vector<std::string>{*w.LastRun()->result_path});

  const QString log_path = qEnvironmentVariable("QM_WINDOW_MERGE_LOG");
  if (log_path.isEmpty()) return;
  QFile log(log_path);
  QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
  for (const SeenDialog& d : dialogs.seen)
    log.write((d.kind + "|" + d.title + "|" + d.text + "\n").toUtf8());
  log.write(QByteArray::fromStdString(w.LogText()) + "\n");
}
