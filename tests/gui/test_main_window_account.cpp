// What the list and the panels say after a run, and what the window says of folders it cannot
// list.
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include "app/main_window.h"
#include "app/web_panel.h"
#include "core/file_list.h"
#include "dialog_script.h"
#include "main_window_test.h"

using namespace qm;

namespace {

QStringList Links(const QTextDocument* doc) {
  QStringList out;
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isAnchor()) out << it.fragment().charFormat().anchorHref();
  return out;
}

}  // namespace

void MainWindowTest::listEntriesShowTheirOutcomeAndTheAccountTakesTheTipsPlace() {
  QTemporaryDir dir;
  Touch(dir.path(), {"a.xls", "b.xls", "c.xls", "d.xls", "e.xls"});
  QDir(dir.path()).mkdir("合并结果");
  Touch(dir.path() + "/合并结果", {"合并结果.xls"});
  const std::string result = (dir.path() + "/合并结果/合并结果.xls").toStdString();
  Recorded rec;
  bool report = true;
  auto w = MakeWindow(rec, dir.path(), [&](StandIn& in) {
    if (!report) return RunResult{Outcome::kCancelled, std::nullopt};
    in.view.ReplaceLog("开始合并...");
    TableOutcome t = Reported(0, "a.xls", TableStatus::kTemplate);
    t.rows = 3;
    in.view.ReportTable(t);
    t = Reported(1, "b.xls", TableStatus::kMerged);
    t.rows = 2;
    in.view.ReportTable(t);
    in.view.ReportTable(Reported(2, "c.xls", TableStatus::kHeaderMismatch));
    t = Reported(3, "d.xls", TableStatus::kUnreadable);
    t.code = "password";
    t.reason = "文件受密码保护，密码不对或未提供";
    in.view.ReportTable(t);
    in.view.ReportTable(Reported(4, "e.xls", TableStatus::kNotReached));
    in.view.AppendLog("合并操作结束！");
    in.view.ShowResult(result);
    return RunResult{Outcome::kDone, result};
  });
  w->Load();
  QVERIFY(w->tipsPanel->isVisibleTo(w.get()));
  StartAndWait(*w);

  // Each entry keeps its text and gets its outcome's icon and a tooltip.
  QCOMPARE(Entries(w->fileList), QStringList({"a.xls", "b.xls", "c.xls", "d.xls", "e.xls"}));
  const QStringList tips = {"模板，已合并3行", "已合并2行", "表头与模板不同，已跳过",
                            "无法读取，已跳过：文件受密码保护，密码不对或未提供",
                            "未合并：合并在此之前已结束"};
  QList<QImage> icons;
  for (int i = 0; i < 5; ++i) {
    QListWidgetItem* item = w->fileList->item(i);
    QCOMPARE(item->toolTip(), tips[i]);
    QVERIFY(!item->icon().isNull());
    icons << item->icon().pixmap(16, 16).toImage();
  }
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) QVERIFY2(icons[i] != icons[j], qPrintable(tips[i]));

  // The tips panel gives way to the account: the whole account line the log box cuts, every
  // file with its outcome, rows and reason, and a link to the result's folder.
  QVERIFY(!w->tipsPanel->isVisibleTo(w.get()));
  QVERIFY(w->accountPanel->isVisibleTo(w.get()));
  QCOMPARE(w->accountPanel->geometry(), w->tipsPanel->geometry());
  const QString account = w->accountPanel->toPlainText();
  QVERIFY(account.contains(LogLines(*w).back()));
  QVERIFY(LogLines(*w).back().startsWith(
      "合并完成：已合并2个文件，表头不符跳过1个，无法读取跳过1个。"));
  for (const char* text : {"a.xls", "模板", "e.xls", "表头不符，已跳过", "表头与模板不同",
                           "文件受密码保护，密码不对或未提供", "合并在此之前已结束"})
    QVERIFY2(account.contains(QString::fromUtf8(text)), text);
  const QStringList links = Links(w->accountPanel->document());
  QCOMPARE(links.size(), qsizetype(1));
  emit w->accountPanel->anchorClicked(QUrl(links[0]));
  QCOMPARE(rec.folders_opened, std::vector<std::string>{(dir.path() + "/合并结果").toStdString()});

  // 使用说明 brings the tips back; so does the next run, which starts the entries afresh.
  QTest::mouseClick(w->helpButton, Qt::LeftButton);
  QVERIFY(w->tipsPanel->isVisibleTo(w.get()) && !w->accountPanel->isVisibleTo(w.get()));
  StartAndWait(*w);
  QVERIFY(w->accountPanel->isVisibleTo(w.get()));
  report = false;
  StartAndWait(*w);
  QVERIFY(w->tipsPanel->isVisibleTo(w.get()) && !w->accountPanel->isVisibleTo(w.get()));
  for (int i = 0; i < 5; ++i) {
    QVERIFY(w->fileList->item(i)->icon().isNull());
    QVERIFY(w->fileList->item(i)->toolTip().isEmpty());
  }
}

void MainWindowTest::foldersThatCannotBeListedAreNamedAndTheListKept() {
  QTemporaryDir program, other, bare;
  Touch(program.path(), {"p.xls"});
  Touch(other.path(), {"a.xls", "b.xls"});
  Touch(bare.path(), {"notes.txt"});
  const QString missing = other.path() + "/不存在";
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load(other.path());
  DialogScript dialogs;

  // A typed folder that does not exist: said so, the list and the box as they were.
  dialogs.Press("确定");
  w->folderEdit->setText(missing);
  QTest::keyClick(w->folderEdit, Qt::Key_Return);
  QCOMPARE(dialogs.seen.size(), size_t(1));
  QCOMPARE(dialogs.seen[0].text, "文件夹不存在：" + QDir::toNativeSeparators(missing));
  QCOMPARE(dialogs.seen[0].title, QString("合并"));
  QCOMPARE(Entries(w->fileList), QStringList({"a.xls", "b.xls"}));
  QCOMPARE(w->folderEdit->text(), QDir::toNativeSeparators(other.path() + "/"));

  // Typed and not confirmed before 开始合并: the same, and no run.
  dialogs.Press("确定");
  w->folderEdit->setText(missing);
  StartAndWait(*w);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].text, dialogs.seen[0].text);
  QVERIFY(rec.runs.empty());
  QCOMPARE(Entries(w->fileList), QStringList({"a.xls", "b.xls"}));

  // A folder without workbooks is named, unless it is the program's own.
  dialogs.Press("确定").Press("确定");
  w->LoadFolder(bare.path());
  w->LoadFolder(program.path() + "/");
  QCOMPARE(dialogs.seen[2].text,
           "在此文件夹下没有找到EXCEL文件：" + QDir::toNativeSeparators(bare.path()));
  QCOMPARE(Entries(w->fileList), QStringList({"p.xls"}));
  QFile::remove(program.path() + "/p.xls");
  w->LoadFolder(QString());
  QCOMPARE(dialogs.seen[3].text, QString(kNoWorkbooksMessage));

  // A folder given at the start that does not exist: said so, nothing listed.
  Recorded rec2;
  auto fresh = MakeWindow(rec2, program.path());
  dialogs.Press("确定");
  fresh->Load(missing);
  QCOMPARE(dialogs.seen.back().text, "文件夹不存在：" + QDir::toNativeSeparators(missing));
  QCOMPARE(fresh->fileList->count(), 0);
  QCOMPARE(dialogs.unexpected, 0);
}

// Started from a desktop menu, the program's own folder is where it is installed.
void MainWindowTest::startFromASystemFolderListsNothingAndAddsFromHome() {
#ifdef Q_OS_WIN
  const QString installed = qEnvironmentVariable("ProgramFiles") + "/Quillmere";
#else
  const QString installed = "/usr/bin";
#endif
  Recorded rec;
  auto w = MakeWindow(rec, installed);
  DialogScript dialogs;
  w->Load();
  QCOMPARE(dialogs.seen.size(), size_t(0));
  QCOMPARE(w->fileList->count(), 0);
  QCOMPARE(w->folderEdit->text(), QString());

  dialogs.Press("确定").Pick(QString());
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(dialogs.seen[1].kind, QString("file"));
  QCOMPARE(dialogs.seen[1].default_text, QDir::homePath());

  // A folder named on the command line is listed as ever.
  QTemporaryDir dir;
  Touch(dir.path(), {"x.xls"});
  w->Load(dir.path());
  QCOMPARE(Entries(w->fileList), QStringList({"x.xls"}));
  QCOMPARE(dialogs.unexpected, 0);
}
