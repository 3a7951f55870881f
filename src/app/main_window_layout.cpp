// Where the main window's controls stand. At the default size each stands where the window has
// always had it, placed in twips at the screen's logical resolution. Made larger, the file list
// and the log column take the added width, and the list, the log and the tips panel the added
// height. Made smaller, the log gives up height first (down to two lines), then the diagram, then
// the band of the list and the buttons (the buttons closer together, then lower); the log column
// gives up width.
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>

#include "app/main_window.h"
#include "app/picture_box.h"
#include "app/web_panel.h"

namespace qm {

namespace {

// The button column from top to bottom, in twips: 添　加, 删　除, the two option groups, 开始合并
// and 使用说明.
struct ColumnItem {
  int left, top, width, height;
  bool button;  // a push button, which may be made lower; the groups keep their height
};
constexpr std::array<ColumnItem, 6> kColumn = {{{3720, 960, 1215, 495, true},
                                                {3720, 1680, 1215, 495, true},
                                                {3720, 2280, 1215, 1335, false},
                                                {3720, 3720, 1215, 1170, false},
                                                {3720, 4920, 1215, 495, true},
                                                {3720, 5640, 1215, 495, true}}};
// How close the buttons may come, how low they may be made and how low the diagram, in twips.
constexpr int kSmallestGap = 60;
constexpr int kLowestButton = 360;
constexpr int kLowestDiagram = 600;
// How much narrower than its default the window may be made (the log column's share).
constexpr int kNarrowest = 1500;

}  // namespace

QSize MainWindow::DefaultSize() const {
  return Twips(0, 0, 11190, 8520).size();
}

QSize MainWindow::SmallestSize() const {
  const QSize base = DefaultSize();
  return QSize(base.width() - Twips(0, 0, kNarrowest, 0).width(),
               base.height() - DiagramGive() - ColumnGive());
}

int MainWindow::LogGive() const {
  // Two lines of the log stay in view.
  const QFontMetrics fm(logBox->font());
  const int margins = 2 * logBox->frameWidth() +
                      2 * static_cast<int>(std::ceil(logBox->document()->documentMargin()));
  const int two_lines = 2 * fm.lineSpacing() + margins;
  return std::clamp(Twips(5040, 960, 6015, 1215).height() - two_lines, 0, ColumnGive());
}

int MainWindow::DiagramGive() const {
  return std::max(0,
                  Twips(120, 6360, 10935, 1695).height() - Twips(0, 0, 0, kLowestDiagram).height());
}

int MainWindow::ColumnGive() const {
  int give = 0;
  for (size_t i = 0; i < kColumn.size(); ++i) {
    const QRect r = Twips(kColumn[i].left, kColumn[i].top, kColumn[i].width, kColumn[i].height);
    if (kColumn[i].button) give += std::max(0, r.height() - Twips(0, 0, 0, kLowestButton).height());
    if (i + 1 < kColumn.size()) {
      const QRect next = Twips(kColumn[i + 1].left, kColumn[i + 1].top, kColumn[i + 1].width,
                               kColumn[i + 1].height);
      give +=
          std::max(0, next.top() - (r.top() + r.height()) - Twips(0, 0, 0, kSmallestGap).height());
    }
  }
  return give;
}

void MainWindow::ArrangeControls() {
  const QSize base = DefaultSize();
  const int dw = width() - base.width();
  const int dh = height() - base.height();
  // Width: a third of what is added to the list, the rest to the log column, which alone gives.
  const int wider_list = dw > 0 ? dw / 3 : 0;
  const int wider_log = dw - wider_list;
  // Height: the band of the list, the buttons and the log column changes by `band`, the log and
  // the tips panel by `log` and `tips` (together `band`), the diagram by `diagram`.
  int log = 0, tips = 0, diagram = 0;
  if (dh >= 0) {
    log = dh / 2;
    tips = dh - log;
  } else {
    int take = -dh;
    const int from_log = std::min(take, LogGive());
    take -= from_log;
    const int from_diagram = std::min(take, DiagramGive());
    take -= from_diagram;
    const int from_tips = std::min(take, ColumnGive() - from_log);
    log = -from_log;
    diagram = -from_diagram;
    tips = -from_tips;
  }
  const int band = log + tips;

  titleLabel->setGeometry(Twips(2160, 240, 7575, 375).translated(dw / 2, 0));
  sourceColumnBox->setGeometry(Twips(3720, 615, 1335, 345).translated(wider_list, 0));
  PlaceSheetChoice(wider_list);
  folderEdit->setGeometry(Twips(120, 960, 3495, 375).adjusted(0, 0, wider_list, 0));
  fileList->setGeometry(Twips(120, 1320, 3495, 4890).adjusted(0, 0, wider_list, band));

  // The button column: taller, its last two buttons stay at the bottom of the band; lower, the
  // gaps close up first, then the push buttons get lower, each by its share.
  std::array<QRect, kColumn.size()> rects;
  std::array<int, kColumn.size()> gaps{};
  for (size_t i = 0; i < kColumn.size(); ++i)
    rects[i] = Twips(kColumn[i].left, kColumn[i].top, kColumn[i].width, kColumn[i].height);
  for (size_t i = 0; i + 1 < kColumn.size(); ++i)
    gaps[i] = rects[i + 1].top() - (rects[i].top() + rects[i].height());
  if (band >= 0) {
    gaps[3] += band;
  } else {
    int take = -band;
    const int smallest_gap = Twips(0, 0, 0, kSmallestGap).height();
    const int lowest_button = Twips(0, 0, 0, kLowestButton).height();
    // Round by round, each gap and then each button gives a pixel while it can.
    for (bool gave = true; take > 0 && gave;) {
      gave = false;
      for (size_t i = 0; i + 1 < kColumn.size() && take > 0; ++i)
        if (gaps[i] > smallest_gap) --gaps[i], --take, gave = true;
    }
    for (bool gave = true; take > 0 && gave;) {
      gave = false;
      for (size_t i = 0; i < kColumn.size() && take > 0; ++i)
        if (kColumn[i].button && rects[i].height() > lowest_button)
          rects[i].setHeight(rects[i].height() - 1), --take, gave = true;
    }
  }
  int y = rects[0].top();
  QWidget* column[] = {addButton, removeButton, kindGroup, variantGroup, startButton, helpButton};
  for (size_t i = 0; i < kColumn.size(); ++i) {
    rects[i].moveTo(rects[i].left() + wider_list, y);
    column[i]->setGeometry(rects[i]);
    y += rects[i].height() + gaps[i];
  }
  stopButton->setGeometry(startButton->geometry());

  const QRect log_rect =
      Twips(5040, 960, 6015, 1215).translated(wider_list, 0).adjusted(0, 0, wider_log, log);
  logBox->setGeometry(log_rect);
  statusBox->setGeometry(log_rect);
  progressBar->setGeometry(
      Twips(5040, 2400, 6015, 375).translated(wider_list, log).adjusted(0, 0, wider_log, 0));
  const QRect tips_rect =
      Twips(5040, 2880, 6015, 3255).translated(wider_list, log).adjusted(0, 0, wider_log, tips);
  tipsPanel->setGeometry(tips_rect);
  accountPanel->setGeometry(tips_rect);
  diagramPanel->setGeometry(
      Twips(120, 6360, 10935, 1695).translated(0, band).adjusted(0, 0, dw, diagram));
  taglineBox->setGeometry(
      Twips(0, 8160, 12255, 375).translated(0, band + diagram).adjusted(0, 0, dw, 0));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeControls();
}

void MainWindow::FitIntoScreen() {
  setMinimumSize(SmallestSize());
  resize(DefaultSize());
  QScreen* screen = this->screen();
  if (!screen) {
    ArrangeControls();
    return;
  }
  const QRect room = screen->availableGeometry();
  // Some window systems tell the frame they put around a window as soon as it exists, others
  // only once it has been shown; until then, where there is one, a title bar of about two lines
  // and thin borders are assumed.
  if (!windowHandle()) create();
  QMargins frame;
  if (const QWindow* handle = windowHandle()) frame = handle->frameMargins();
  const QString platform = QGuiApplication::platformName();
  if (frame.isNull() &&
      (platform == QLatin1String("xcb") || platform == QLatin1String("windows") ||
       platform == QLatin1String("cocoa") || platform.startsWith(QLatin1String("wayland")))) {
    const int side = std::max(1, logicalDpiX() / 24);
    frame = QMargins(side, 2 * QFontMetrics(QApplication::font()).height(), side, side);
  }
  const QSize inside(room.width() - frame.left() - frame.right(),
                     room.height() - frame.top() - frame.bottom());
  resize(DefaultSize().boundedTo(inside).expandedTo(minimumSize()));
  // Centred in the available area as far as it goes, never past its edges.
  QPoint at = room.center() - rect().center();
  const int outer_width = width() + frame.left() + frame.right();
  const int outer_height = height() + frame.top() + frame.bottom();
  at.setX(std::max(room.left(), std::min(at.x(), room.left() + room.width() - outer_width)));
  at.setY(std::max(room.top(), std::min(at.y(), room.top() + room.height() - outer_height)));
  move(at);
  // A window not yet shown gets no resize event until it is.
  ArrangeControls();
}

}  // namespace qm
