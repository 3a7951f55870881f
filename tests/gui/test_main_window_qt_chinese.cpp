// Qt's own texts in the window's dialogs are Chinese under any system locale: ctest runs the
// window's tests with LC_ALL=C.UTF-8, where they used to read "Folder", "Cancel" and "8 Dec".
#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QTreeView>

#include "app/chinese_qt.h"
#include "dialog_script.h"
#include "main_window_test.h"

using namespace qm;

namespace {

// Whether `s` holds a Chinese character and no Latin letter but a button's access key ("(&O)").
bool Chinese(QString s) {
  s.remove(QRegularExpression(QStringLiteral("\\(&[A-Za-z]\\)|&")));
  bool han = false;
  for (const QChar c : s) {
    if (c.unicode() < 0x80 && c.isLetter()) return false;
    if (c.script() == QChar::Script_Han) han = true;
  }
  return han;
}

struct SeenFileDialog {
  QStringList labels;   // look in, file name, file type
  QStringList buttons;  // open, cancel
  QStringList heads;    // name, size, type, date modified
  QString folder_type;  // a folder's type
  QString date;         // its date modified
  QString size;         // an empty file's size
};

}  // namespace

void MainWindowTest::qtDialogsAreChineseUnderACLocale() {
  QTranslator* zh = UseChineseForQt(*QCoreApplication::instance());
  QVERIFY(zh);
  // The other cases run without it, as they always have.
  struct Restore {
    QTranslator* t;
    ~Restore() {
      delete t;
      QLocale::setDefault(QLocale::system());
    }
  } restore{zh};

  // A message box's standard buttons.
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("合并"), QStringLiteral("确定吗？"),
                  QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  QStringList buttons;
  for (QAbstractButton* b : box.buttons()) buttons << b->text();
  QCOMPARE(buttons, QStringList({"确定", "取消", "是(&Y)", "否(&N)"}));

  // The 添　加 dialog as the user sees it: labels, buttons, column heads, a folder's type and
  // date, a file's size.
  QTemporaryDir program;
  QVERIFY(QDir(program.path()).mkdir(QStringLiteral("二月")));
  Touch(program.path(), {"p.xls"});
  Recorded rec;
  auto w = MakeWindow(rec, program.path());
  w->Load();
  SeenFileDialog seen;
  const QDir dir(program.path());
  DialogScript dialogs;
  dialogs.Press("确定").Look([&seen, &dir](QWidget* d) {
    auto* fd = qobject_cast<QFileDialog*>(d);
    auto* view = fd ? fd->findChild<QTreeView*>(QStringLiteral("treeView")) : nullptr;
    auto* files = fd ? fd->findChild<QFileSystemModel*>() : nullptr;
    if (!view || !files) return;
    for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
      if (auto* l = fd->findChild<QLabel*>(QString::fromLatin1(name))) seen.labels << l->text();
    if (auto* box = fd->findChild<QDialogButtonBox*>())
      for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
    QAbstractItemModel* shown = view->model();
    for (int c = 0; c < shown->columnCount(); ++c)
      seen.heads << shown->headerData(c, Qt::Horizontal).toString();
    // Rows fill in from a thread of the model.
    const QString sub = dir.absoluteFilePath(QStringLiteral("二月"));
    const QString file = dir.absoluteFilePath(QStringLiteral("p.xls"));
    (void)QTest::qWaitFor(
        [&] {
          return !files->index(sub, 3).data().toString().isEmpty() &&
                 !files->index(file, 1).data().toString().isEmpty();
        },
        5000);
    auto at = [&](const QString& path, int column) {
      QModelIndex i = files->index(path, column);
      if (auto* proxy = qobject_cast<QAbstractProxyModel*>(shown)) i = proxy->mapFromSource(i);
      return i.data().toString();
    };
    seen.folder_type = at(sub, 2);
    seen.date = at(sub, 3);
    seen.size = at(file, 1);
  });
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  QCOMPARE(dialogs.seen.size(), size_t(2));
  QCOMPARE(seen.labels, QStringList({"查找范围：", "文件名称(&N)：", "文件类型："}));
  QCOMPARE(seen.buttons.size(), 2);
  for (const QString& b : seen.buttons) QVERIFY2(Chinese(b), qPrintable(b));
  QCOMPARE(seen.heads.size(), 4);
  for (const QString& h : seen.heads) QVERIFY2(Chinese(h), qPrintable(h));
  QCOMPARE(seen.folder_type, QStringLiteral("文件夹"));
  QCOMPARE(seen.size, QStringLiteral("0 字节"));
  // The date as China writes it: the year first, no English month.
  QVERIFY2(seen.date.startsWith(QString::number(QDate::currentDate().year())),
           qPrintable(seen.date));
  QVERIFY2(!seen.date.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))),
           qPrintable(seen.date));
}
