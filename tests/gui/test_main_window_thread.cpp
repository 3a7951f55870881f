// The run on its own thread: 停止, closing the window mid-run, and the questions the run waits on.
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "app/main_window.h"
#include "core/run_merge.h"
#include "dialog_script.h"
#include "main_window_test.h"
#include "merge/texts.h"
#include "workbook/io.h"
#include "workbook/workbook.h"

using namespace qm;

namespace {

// A folder of many small tables and an older result beside them; returns the older result's
// bytes.
QByteArray FolderWithAnOlderResult(const QString& folder, int tables) {
  QStringList names;
  for (int i = 1; i <= tables; ++i) names << QString("%1月.xlsx").arg(i);
  if (!WriteTables(folder, names)) return {};
  QDir(folder).mkdir("合并结果");
  QFile old(folder + "/合并结果/合并结果.xls");
  if (!old.open(QIODevice::WriteOnly)) return {};
  const QByteArray bytes = "an older result, not a workbook";
  old.write(bytes);
  return bytes;
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A folder of monthly tables of some thousands of rows each: a merge that takes a noticeable
// while, as a year of daily exports does, at a size a test can afford.
bool WriteLargerTables(const QString& folder, int tables, int rows) {
  for (int f = 1; f <= tables; ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    const char* heads[] = {"工号", "姓名", "部门", "金额", "日期", "备注"};
    for (int c = 1; c <= 6; ++c) (void)ws.SetText(1, c, heads[c - 1]);
    for (int r = 2; r <= rows + 1; ++r) {
      (void)ws.SetText(r, 1, "0" + std::to_string(f * 100000 + r));
      (void)ws.SetText(r, 2, "员工" + std::to_string(r % 997));
      (void)ws.SetText(r, 3, r % 3 ? "销售部" : "财务部");
      (void)ws.SetNumber(r, 4, r * 1.25);
      (void)ws.SetNumber(r, 5, 45000 + r % 365);
      (void)ws.SetText(r, 6, "第" + std::to_string(f) + "批");
    }
    const auto name = QString("%1月.xlsx").arg(f).toStdString();
    if (!SaveWorkbookFile(wb, folder.toStdString() + "/" + name).ok()) return false;
  }
  return true;
}

}  // namespace

void MainWindowTest::stopEndsALongRunWithNothingWrittenAndTheOlderResultKept() {
  QTemporaryDir dir;
  const QByteArray older = FolderWithAnOlderResult(dir.path(), 12);
  QVERIFY(!older.isEmpty());
  Recorded rec;
  MainWindow w(SlowRealMerges(rec, dir.path(), 40));
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  DialogScript dialogs;
  dialogs.Press("确定");  // the safe merge's confirmation
  QTest::mouseClick(w.startButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(S(w.LogText()).contains("检测表2:"), 10000);
  QVERIFY(w.IsRunning());
  QTest::mouseClick(w.stopButton, Qt::LeftButton);
  QVERIFY(!w.stopButton->isEnabled());  // taken: the run ends at its next step
  QTRY_VERIFY_WITH_TIMEOUT(!w.IsRunning(), 10000);

  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kInterrupted));
  QVERIFY(!w.LastRun()->result_path);
  QCOMPARE(LogLines(w).back(), QString(texts::kStoppedByUserLine));
  QVERIFY(!S(w.LogText()).contains("合并完成："));
  QCOMPARE(Read(dir.path() + "/合并结果/合并结果.xls"), older);
  QCOMPARE(QDir(dir.path() + "/合并结果").entryList(QDir::Files | QDir::Hidden),
           QStringList({"合并结果.xls"}));
  QVERIFY(rec.opened.empty());
  QVERIFY(w.startButton->isVisible() && !w.stopButton->isVisible());
  QCOMPARE(dialogs.unexpected, 0);

  // The next run is a whole one again.
  dialogs.Press("确定");
  StartAndWait(w);
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QVERIFY(Read(dir.path() + "/合并结果/合并结果.xls") != older);
}

// The progress bar moves table by table while a larger folder is merged on the run's thread,
// and the window keeps painting and taking events meanwhile.
void MainWindowTest::progressMovesWhileALargerFolderIsMerged() {
  QTemporaryDir dir;
  const int tables = 16;
  QVERIFY(WriteLargerTables(dir.path(), tables, 4000));
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  std::vector<int> seen;  // the bar's values while the run went on, on the window's thread
  QObject::connect(w.progressBar, &QProgressBar::valueChanged, [&](int v) {
    if (w.IsRunning()) seen.push_back(v);
  });
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ticks += w.IsRunning() ? 1 : 0; });
  timer.start(5);
  DialogScript dialogs;
  dialogs.Press("确定");
  dialogs.AnswerTheRestWithDefaults();
  QTest::mouseClick(w.startButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!w.IsRunning(), 60000);
  timer.stop();

  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
  QCOMPARE(w.ProgressValue(), w.ProgressMax());
  QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  const int max = w.progressBar->maximum();
  const auto between =
      std::count_if(seen.begin(), seen.end(), [&](int v) { return v > 0 && v < max; });
  QVERIFY2(between >= tables / 2,
           qPrintable(QString("%1 values between 0 and %2").arg(between).arg(max)));
  QVERIFY2(ticks >= 3, qPrintable(QString("the window's timer ran %1 times").arg(ticks)));
}

// Closing the window mid-run did nothing before: the run held the window's thread.
void MainWindowTest::closingDuringARunAsksAndStopsTheRunBeforeClosing() {
  QTemporaryDir dir;
  const QByteArray older = FolderWithAnOlderResult(dir.path(), 12);
  QVERIFY(!older.isEmpty());
  Recorded rec;
  // Slow enough that the run outlasts two message boxes, which Wine takes long to show.
  MainWindow w(SlowRealMerges(rec, dir.path(), 250));
  w.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  DialogScript dialogs;
  dialogs.Press("确定");
  QTest::mouseClick(w.startButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(S(w.LogText()).contains("检测表2:"), 10000);

  // 否 keeps the window and the run.
  dialogs.Press("否(&N)");
  QVERIFY(!w.close());
  QTRY_COMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].kind, QString("message"));
  QCOMPARE(dialogs.seen[1].title, QString("合并"));
  QCOMPARE(dialogs.seen[1].text, QString("正在合并，要停止合并并退出吗？"));
  QCOMPARE(dialogs.seen[1].buttons, QStringList({"是(&Y)", "否(&N)"}));
  QTest::qWait(50);
  QVERIFY(w.isVisible());
  QVERIFY(w.IsRunning());

  // 是 stops the run, and the window closes once it has ended.
  dialogs.Press("是(&Y)");
  QVERIFY(!w.close());
  QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
  QVERIFY(!w.IsRunning());
  QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kInterrupted));
  QCOMPARE(LogLines(w).back(), QString(texts::kStoppedByUserLine));
  QCOMPARE(Read(dir.path() + "/合并结果/合并结果.xls"), older);
  QVERIFY(rec.opened.empty());
  QCOMPARE(dialogs.unexpected, 0);
}

void MainWindowTest::questionsAreAskedOnTheGuiThreadWhileTheRunWaits() {
  QTemporaryDir dir;
  Touch(dir.path(), {"甲.xlsx", "乙.xlsx"});
  Recorded rec;
  std::thread::id run_thread;
  std::optional<std::string> key, password;
  bool sorted = false;
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    run_thread = std::this_thread::get_id();
    in.view.ReplaceLog("开始智能合并...");
    key = in.answers.AnswerKeyColumn({PromptKind::kKeyColumn, "请输入关键字列列号！", "", "1"});
    in.view.AppendLog("关键字列：" + key.value_or("?"));
    sorted = in.answers.AnswerSorted({"是否已按关键字列升序排序？", ""});
    password = in.answers.AnswerPassword({"乙.xlsx", false});
    return RunResult{Outcome::kStopped, std::nullopt};
  });
  w->Load();
  DialogScript dialogs;
  QString log_while_asked;
  bool asked_on_gui_thread = false;
  dialogs
      .Do([&](QWidget* box) {
        asked_on_gui_thread = QThread::currentThread() == w->thread();
        // What the run showed before the question is there; what it shows after the answer
        // is not: the run waits.
        log_while_asked = S(w->LogText());
        QTest::qWait(50);
        QCOMPARE(S(w->LogText()), log_while_asked);
        auto* in = qobject_cast<QInputDialog*>(box);
        in->setTextValue("2");
        in->accept();
      })
      .Press("是(&Y)")
      .Type("口令");
  StartAndWait(*w);
  QCOMPARE(dialogs.unexpected, 0);
  QVERIFY(asked_on_gui_thread);
  QVERIFY(run_thread != std::this_thread::get_id());
  QCOMPARE(log_while_asked, QString("开始智能合并..."));
  QCOMPARE(key, std::optional<std::string>("2"));
  QVERIFY(sorted);
  QCOMPARE(password, std::optional<std::string>("口令"));
  QCOMPARE(LogLines(*w), QStringList({"开始智能合并...", "关键字列：2"}));
  QCOMPARE(dialogs.seen[2].text, QString("乙.xlsx 受密码保护，请输入打开密码："));
  QVERIFY(dialogs.seen[2].hidden);
}
