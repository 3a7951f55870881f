// The window made larger and smaller than its default size, and opened on a small screen.
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QWindow>

#include "app/main_window.h"
#include "app/picture_box.h"
#include "app/web_panel.h"
#include "main_window_test.h"

using namespace qm;

namespace {

QList<QWidget*> ShownControls(MainWindow& w) {
  QList<QWidget*> out;
  for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (c->isVisible()) out << c;
  return out;
}

QMap<QString, QRect> Places(MainWindow& w) {
  QMap<QString, QRect> out;
  for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    out[c->objectName()] = c->geometry();
  return out;
}

// The share of the window that no control covers.
double Uncovered(MainWindow& w) {
  QRegion covered;
  for (QWidget* c : ShownControls(w)) covered += c->geometry();
  long long area = 0;
  for (const QRect& r : QRegion(w.rect()) - covered) area += 1LL * r.width() * r.height();
  return double(area) / (1.0 * w.width() * w.height());
}

int LogLinesInView(MainWindow& w) {
  return w.logBox->viewport()->height() / QFontMetrics(w.logBox->font()).lineSpacing();
}

// No shown control covers another, and each lies inside the window (the tagline runs past the
// right edge on purpose and is clipped there; the list tucks its top edge under the folder box,
// as at the default size).
void CheckControlsApartAndInside(MainWindow& w) {
  const QList<QWidget*> shown = ShownControls(w);
  for (QWidget* c : shown) {
    if (c == w.taglineBox) {
      QVERIFY(c->y() < w.height());
      continue;
    }
    QVERIFY2(w.rect().contains(c->geometry()), qPrintable(c->objectName()));
    for (QWidget* d : shown)
      if (c != d && !(c == w.folderEdit && d == w.fileList) &&
          !(c == w.fileList && d == w.folderEdit))
        QVERIFY2(!c->geometry().intersects(d->geometry()),
                 qPrintable(c->objectName() + " " + d->objectName()));
  }
}

void ResizeShown(MainWindow& w, QSize size) {
  w.resize(size);
  QTRY_COMPARE(w.size(), size.expandedTo(w.minimumSize()));
}

}  // namespace

void MainWindowTest::largerWindowGrowsTheListAndTheLog() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  const QSize base = w->DefaultSize();
  QCOMPARE(w->size(), base);
  const QMap<QString, QRect> before = Places(*w);
  const double empty_before = Uncovered(*w);
  const int lines_before = LogLinesInView(*w);

  ResizeShown(*w, base + QSize(300, 200));
  // The list and the log column take the width; the list, the log and the tips the height.
  QCOMPARE(w->fileList->height(), before["List1"].height() + 200);
  QCOMPARE(w->fileList->width(), before["List1"].width() + 100);
  QCOMPARE(w->logBox->width(), before["Text2"].width() + 200);
  QVERIFY(w->logBox->height() >= before["Text2"].height() + 100);
  QVERIFY(w->tipsPanel->height() > before["WebBrowser2"].height());
  QVERIFY(LogLinesInView(*w) >= lines_before + 4);
  // The controls along the right and bottom edges keep their margins to them: the added area is
  // filled by controls, not left as background.
  for (const char* name : {"Text2", "ProgressBar1", "WebBrowser2", "WebBrowser1"})
    QCOMPARE(w->width() - w->findChild<QWidget*>(name)->geometry().right(),
             base.width() - before[name].right());
  QCOMPARE(w->height() - w->diagramPanel->geometry().bottom(),
           base.height() - before["WebBrowser1"].bottom());
  // The last two buttons stay at the foot of the list.
  QCOMPARE(w->helpButton->geometry().bottom() - w->fileList->geometry().bottom(),
           before["Command6"].bottom() - before["List1"].bottom());
  QVERIFY(Uncovered(*w) <= empty_before);
  CheckControlsApartAndInside(*w);

  // Back at the default size every control stands where it stood.
  ResizeShown(*w, base);
  QCOMPARE(Places(*w), before);
}

void MainWindowTest::smallerWindowShrinksTheLogFirstAndFitsASmallScreen() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  const QSize base = w->DefaultSize();
  const QMap<QString, QRect> before = Places(*w);

  // A little lower: only the log gives (and the band it stands in with the list and buttons).
  ResizeShown(*w, base - QSize(0, 10));
  QCOMPARE(w->logBox->height(), before["Text2"].height() - 10);
  QCOMPARE(w->tipsPanel->height(), before["WebBrowser2"].height());
  QCOMPARE(w->diagramPanel->height(), before["WebBrowser1"].height());
  QCOMPARE(w->kindGroup->height(), before["Frame1"].height());

  // A 1366×768 screen at 150 % is 910×512 logical pixels, less a task bar and the window's own
  // title bar and borders.
  const QSize smallest = w->SmallestSize();
  QCOMPARE(w->minimumSize(), smallest);
  QVERIFY(smallest.width() <= 910 - 16);
  QVERIFY(smallest.height() <= 512 - 48 - 32);
  ResizeShown(*w, smallest);
  QVERIFY(LogLinesInView(*w) >= 2);
  QVERIFY(w->logBox->height() < before["Text2"].height());
  QVERIFY(w->diagramPanel->height() >= QFontMetrics(w->font()).height() * 2);
  for (QPushButton* b : {w->addButton, w->removeButton, w->startButton, w->helpButton})
    QVERIFY2(b->height() >= b->fontMetrics().height() + 6, qPrintable(b->objectName()));
  CheckControlsApartAndInside(*w);

  // It goes no smaller.
  w->resize(300, 200);
  QTRY_COMPARE(w->size(), smallest);
}

// ctest runs this case alone on a screen smaller than the window (tests/gui/small_screen.json).
void MainWindowTest::opensWithinASmallScreen() {
  Recorded rec;
  auto w = MakeWindow(rec, QString());
  const QRect room = w->screen()->availableGeometry();
  const QSize base = w->DefaultSize();
  if (room.width() >= base.width() + 20 && room.height() >= base.height() + 40)
    QSKIP("the screen holds the window; ctest runs this on a small one");
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  const QMargins frame = w->windowHandle()->frameMargins();
  const QSize inside = room.size().shrunkBy(frame);
  // The largest size that fits, not below the smallest the window can be.
  QCOMPARE(w->size(), base.boundedTo(inside).expandedTo(w->SmallestSize()));
  QVERIFY(w->size() != base);
  QVERIFY(room.contains(w->frameGeometry()));
  CheckControlsApartAndInside(*w);
}
