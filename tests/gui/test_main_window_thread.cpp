// The run on its own thread: 停止, closing the window mid-run, and the questions the run waits on.
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <thread>

#include "app/main_window.h"
#include "core/run_merge.h"
#include "dialog_script.h"
#include "main_window_test.h"
#include "merge/texts.h"

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
