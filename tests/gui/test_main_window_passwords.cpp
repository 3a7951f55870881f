// The window's password box: a hidden entry, asked again after a wrong password, Cancel skipping
// the file, and the passwords that worked tried first for the rest of the program's run.
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "app/run_account.h"
#include "core/run_summary.h"
#include "dialog_script.h"
#include "main_window_test.h"

using namespace qm;

void MainWindowTest::passwordBoxHidesTheEntryAndSaysWhenTheLastOneWasWrong() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  DialogScript dialogs;
  dialogs.Type("密码1").Type(QString(), true);
  QCOMPARE(w->AnswerPassword({"二月.xls", false}), std::optional<std::string>("密码1"));
  QCOMPARE(w->AnswerPassword({"二月.xls", true}), std::nullopt);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[0].kind, QString("input"));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(dialogs.seen[0].text, QString("二月.xls 受密码保护，请输入打开密码："));
  QCOMPARE(dialogs.seen[0].default_text, QString());
  QVERIFY(dialogs.seen[0].hidden);
  QCOMPARE(dialogs.seen[1].text, QString("二月.xls 的密码不对，请重新输入打开密码："));
  QVERIFY(dialogs.seen[1].hidden);
  QCOMPARE(dialogs.unexpected, 0);
  // Asking alone remembers nothing: only a password that opened a file is kept.
  QVERIFY(w->Passwords().empty());
}

void MainWindowTest::protectedSourcesAskForPasswordsThatAreRememberedForTheNextRun() {
  QTemporaryDir dir;
  const QString data = QStringLiteral(QM_SOURCE_DIR) + "/tests/data/";
  QVERIFY(QFile::copy(data + "xls/styled.xls", dir.path() + "/1模板.xls"));
  QVERIFY(QFile::copy(data + "encrypted/rc4.xls", dir.path() + "/2甲.xls"));
  QVERIFY(QFile::copy(data + "encrypted/cryptoapi_128.xls", dir.path() + "/3乙.xls"));
  MainWindowHooks hooks;
  hooks.program_folder = dir.path().toStdString();
  hooks.open_result = [](const std::string&) { return true; };
  MainWindow w(hooks);
  w.Load();
  QCOMPARE(Entries(w.fileList), QStringList({"1模板.xls", "2甲.xls", "3乙.xls"}));

  // First run: a wrong password for 2甲 is asked again; 3乙 is cancelled and skipped.
  {
    DialogScript dialogs;
    dialogs.Press("确定").Type("猜错了").Type("rc4pass").Type(QString(), true);
    StartAndWait(w);  // 纵向拼接, 安全合并
    QCOMPARE(dialogs.unexpected, 0);
    QCOMPARE(dialogs.seen.size(), size_t(4));
    QCOMPARE(dialogs.seen[1].text, QString("2甲.xls 受密码保护，请输入打开密码："));
    QCOMPARE(dialogs.seen[2].text, QString("2甲.xls 的密码不对，请重新输入打开密码："));
    QCOMPARE(dialogs.seen[3].text, QString("3乙.xls 受密码保护，请输入打开密码："));
    for (size_t i = 1; i < dialogs.seen.size(); ++i) QVERIFY(dialogs.seen[i].hidden);
    QVERIFY(w.LastRun().has_value());
    QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
    QCOMPARE(SummarizeTables(w.Outcomes()).unreadable, 1);
    QCOMPARE(w.Outcomes()[2].code, std::string("password"));
    QVERIFY(LogLines(w).contains("无法读取，已跳过：3乙.xls（文件受密码保护，密码不对或未提供）"));
    QCOMPARE(w.Passwords(), std::vector<std::string>{"rc4pass"});
    QVERIFY(!S(w.LogText()).contains("rc4pass"));
    QVERIFY(!S(w.LogText()).contains("猜错了"));
  }
  // Second run: 2甲 opens unasked with the remembered password; 3乙 is asked once.
  {
    DialogScript dialogs;
    dialogs.Press("确定").Type("secret128");
    StartAndWait(w);
    QCOMPARE(dialogs.unexpected, 0);
    QCOMPARE(dialogs.seen.size(), size_t(2));
    QCOMPARE(dialogs.seen[1].text, QString("3乙.xls 受密码保护，请输入打开密码："));
    QCOMPARE(int(w.LastRun()->outcome), int(Outcome::kDone));
    QCOMPARE(SummarizeTables(w.Outcomes()).unreadable, 0);
    QCOMPARE(SummarizeTables(w.Outcomes()).merged, 3);
    QCOMPARE(w.Passwords(), (std::vector<std::string>{"secret128", "rc4pass"}));
    QVERIFY(!S(w.LogText()).contains("secret128"));
  }
}

// The notice before slow password tries: shown in the log at once, and a run that reports on
// status lines still shows them there.
void MainWindowTest::slowPasswordTriesAreNoticedInTheLogWithoutTakingItFromTheStatusLines() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  w->BeginReport(ReportPlace::kStatusLines);  // how the sorted smart merge starts
  w->ClearStatus();
  w->ShowNotice("正在尝试密码：二月.xlsx");
  QCOMPARE(LogLines(*w), QStringList({"正在尝试密码：二月.xlsx"}));
  w->PrintStatus("开始智能合并...");
  QCOMPARE(LogLines(*w), QStringList({"正在尝试密码：二月.xlsx", "开始智能合并..."}));
}
