// The main window's side of a run: the dialogs that answer its questions and the log, status
// lines, progress bar and list that show what it reports. All of it runs on the GUI thread; the
// run's thread reaches it through RunThread.
#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <algorithm>
#include <cmath>

#include "app/main_window.h"
#include "app/picture_box.h"
#include "app/window_text.h"

namespace qm {

namespace {

// A message text as a dialog shows it: CR LF and a lone CR both break the line.
QString DialogText(const std::string& s) {
  QString t = Q(s);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QChar('\r'), QChar('\n'));
  return t;
}

// The log as the text box shows it: CR LF breaks the line, a lone CR shows nothing.
QString LogDisplay(const std::string& s) {
  QString t = Q(s);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.remove(QChar('\r'));
  return t;
}

// An input box of the window's: a long prompt (a header list of many columns) wraps instead of
// widening the box past the screen.
std::optional<std::string> InputBox(QWidget* parent, const std::string& prompt,
                                    const std::string& title, const std::string& default_answer,
                                    bool hidden) {
  QInputDialog dialog(parent);
  dialog.setInputMode(QInputDialog::TextInput);
  if (hidden) dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setWindowTitle(Q(title.empty() ? kAppTitle : title));
  dialog.setLabelText(DialogText(prompt));
  for (QLabel* label : dialog.findChildren<QLabel*>()) label->setWordWrap(true);
  dialog.setMinimumWidth(360);
  dialog.setTextValue(Q(default_answer));
  dialog.setOkButtonText(QStringLiteral("确定"));
  dialog.setCancelButtonText(QStringLiteral("取消"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

}  // namespace

// --- Dialogs -----------------------------------------------------------------------------------

bool MainWindow::ShowMessage(const std::string& text, const std::string& title, Box buttons) {
  QMessageBox box(this);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(Q(title.empty() ? kAppTitle : title));
  box.setTextFormat(Qt::PlainText);
  box.setText(DialogText(text));
  QAbstractButton* first = nullptr;
  QAbstractButton* second = nullptr;
  switch (buttons) {
    case Box::kOk:
      first = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
      break;
    case Box::kOkCancel:
      first = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
      second = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
      break;
    case Box::kYesNo:
      first = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
      second = box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
      break;
  }
  box.setDefaultButton(static_cast<QPushButton*>(first));
  box.setEscapeButton(second ? second : first);
  box.exec();
  return box.clickedButton() == first;
}

bool MainWindow::ReadyToAsk() {
  if (close_prompt_ && close_prompt_->isVisible()) {
    // The prompt's own handler runs first (it was connected first): on 是 it stops the run.
    QEventLoop wait;
    connect(close_prompt_, &QMessageBox::finished, &wait, &QEventLoop::quit);
    wait.exec();
  }
  return !stop_;
}

bool MainWindow::Confirm(const Confirmation& q) {
  return ReadyToAsk() && ShowMessage(q.text, q.title, Box::kOkCancel);
}

bool MainWindow::AnswerSorted(const SortedQuestion& q) {
  return ReadyToAsk() && ShowMessage(q.text, q.title, Box::kYesNo);
}

std::optional<std::string> MainWindow::AnswerHeaderRows(const InputQuestion& q) {
  if (!ReadyToAsk()) return std::nullopt;
  return InputBox(this, q.prompt, q.title, q.default_answer, false);
}

std::optional<std::string> MainWindow::AnswerKeyColumn(const InputQuestion& q) {
  if (!ReadyToAsk()) return std::nullopt;
  return InputBox(this, q.prompt, q.title, q.default_answer, false);
}

std::optional<std::string> MainWindow::AnswerPassword(const PasswordQuestion& q) {
  if (!ReadyToAsk()) return std::nullopt;
  return InputBox(this, q.Text(), q.title, std::string(), true);
}

void MainWindow::Acknowledge(const Notice& n) {
  if (ReadyToAsk()) ShowMessage(n.text, n.title, Box::kOk);
}

// --- The log -----------------------------------------------------------------------------------

std::string MainWindow::LogText() {
  if (log_edited_) {
    // The user changed the text box: its lines are what the log holds now.
    QString t = logBox->toPlainText();
    t.replace(QChar('\n'), QStringLiteral("\r\n"));
    log_text_ = t.toStdString();
    log_edited_ = false;
  }
  return log_text_;
}

void MainWindow::SetLogText(const std::string& text) {
  const std::string old = LogText();
  log_text_ = text;
  ShowLog(old, text);
}

void MainWindow::AppendLog(const std::string& line) {
  // Added to whatever the box holds now, the user's edits included.
  SetLogText(LogText() + kCrLf + line);
}

void MainWindow::ShowLog(const std::string& old_text, const std::string& text) {
  setting_log_ = true;
  // Appending is by far the commonest change; only the new tail is laid out then.
  const bool appends = !old_text.empty() && text.size() > old_text.size() &&
                       old_text.back() != '\r' && text.compare(0, old_text.size(), old_text) == 0;
  if (appends) {
    QTextCursor c(logBox->document());
    c.movePosition(QTextCursor::End);
    c.insertText(LogDisplay(text.substr(old_text.size())));
  } else {
    logBox->setPlainText(LogDisplay(text));
  }
  // Setting the text puts the caret back at the start, as a text box does.
  logBox->moveCursor(QTextCursor::Start);
  setting_log_ = false;
  log_edited_ = false;
}

void MainWindow::ScrollLogToEnd() {
  logBox->moveCursor(QTextCursor::End);
  logBox->ensureCursorVisible();
}

void MainWindow::ShowNotice(const std::string& line) {
  AppendLogLine(line);
}

// --- Progress, status lines, the list and the result -------------------------------------------

void MainWindow::BeginReport(ReportPlace where) {
  report_place_ = where;
}

void MainWindow::SetProgressMax(double max) {
  progress_max_ = max;
  SetProgressValue(progress_value_);
}

void MainWindow::SetProgressValue(double value) {
  progress_value_ = value;
  const double share = progress_max_ > 0 ? std::clamp(value / progress_max_, 0.0, 1.0) : 0.0;
  progressBar->setValue(static_cast<int>(std::lround(share * progressBar->maximum())));
}

void MainWindow::ClearStatus() {
  statusBox->Clear();
  // Clearing the status area starts a run: the log and the bar start empty too, so nothing of
  // the previous run or the instructions is taken for this run's report.
  const std::string old = LogText();
  log_text_.clear();
  ShowLog(old, log_text_);
  SetProgressValue(0);
}

void MainWindow::PrintStatus(const std::string& line) {
  statusBox->Print(Q(line));
  // A run that reports on status lines alone would leave the user looking at an old log: there
  // they are the log. A run that keeps a log keeps them on the hidden status box.
  if (report_place_ == ReportPlace::kStatusLines && statusBox->isHidden()) AppendLogLine(line);
}

void MainWindow::SetCurrentEntry(size_t index) {
  // Only the caret moves: the entries the user selected stay selected, so "删　除" afterwards
  // still removes what the user chose.
  if (index < static_cast<size_t>(fileList->count()))
    fileList->setCurrentRow(static_cast<int>(index), QItemSelectionModel::NoUpdate);
}

void MainWindow::ShowResult(const std::string& path) {
  result_to_show_ = path;
}

void MainWindow::ReportTable(const TableOutcome& outcome) {
  outcomes_.push_back(outcome);
}

}  // namespace qm
