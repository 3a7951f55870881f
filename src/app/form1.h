// The program's one window: the source file list, the option groups, the start button, the
// instructions and log panel, the progress bar and the two web panels. It is also the engines'
// way to the user: every message box, input box, log line and progress step of a run comes here.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/dispatch.h"
#include "merge/header_rules.h"
#include "merge/port.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace qm {

class PictureBox;
class WebPanel;

// What the window needs from the outside world; tests replace each part.
struct Form1Hooks {
  // The program's own folder; empty means the folder of the executable.
  std::string program_folder;
  // Runs the engine a choice names; empty means the real engines.
  std::function<RunResult(const DispatchChoice&, MergeContext&)> run_engine;
  // Opens a finished result for the user and says whether that worked; empty means the
  // desktop's default program.
  std::function<bool(const std::string&)> open_result;
};

class Form1 : public QWidget, public InteractionPort {
  Q_OBJECT

 public:
  explicit Form1(Form1Hooks hooks = {}, QWidget* parent = nullptr);
  ~Form1() override;

  // The start-up sequence, run once before the window is first shown. `folder` is the optional
  // folder given on the command line; empty means the program's own folder.
  void Load(const QString& folder = QString());

  void ShowInstructions();
  void LoadFolder(const QString& folder);

  // --- The interaction port --------------------------------------------------------------
  Answer Message(const std::string& text, const std::string& title, Buttons buttons) override;
  std::optional<std::string> Input(PromptKind kind, const std::string& prompt,
                                   const std::string& title,
                                   const std::string& default_answer) override;
  void ReplaceLog(const std::string& text) override { SetLogText(text); }
  void AppendLog(const std::string& line) override;
  void ScrollLogToEnd() override;
  void SetProgressMax(double max) override;
  void SetProgressValue(double value) override;
  void ClearStatus() override;
  void PrintStatus(const std::string& line) override;
  std::string SourceFolder() override;
  std::vector<std::string> FileList() override;
  void SetCurrentEntry(size_t index) override;
  void ShowResult(const std::string& path) override;
  void ReportFile(const FileOutcome& outcome) override;

  // The log's whole text as the user sees it (edits included), and replacing it.
  std::string LogText();
  void SetLogText(const std::string& text);

  double ProgressMax() const { return progress_max_; }
  double ProgressValue() const { return progress_value_; }
  bool IsRunning() const { return running_; }
  const std::optional<RunResult>& LastRun() const { return last_run_; }
  // What the engine reported of each listed file in the last run.
  const std::vector<FileOutcome>& Outcomes() const { return outcomes_; }
  HeaderState& Header() { return header_; }
  std::string ProgramFolder() const;

  // The controls, by the names the rest of the program uses.
  QLabel* Label1;
  QLineEdit* Text1;
  QListWidget* List1;
  QPushButton* Command1;
  QPushButton* Command2;
  QGroupBox* Frame1;
  QGroupBox* Frame2;
  std::array<QRadioButton*, 3> Option1;
  std::array<QRadioButton*, 2> Option2;
  QPushButton* Command7;
  QPushButton* Command6;
  QPlainTextEdit* Text2;
  PictureBox* Picture1;
  QProgressBar* ProgressBar1;
  WebPanel* WebBrowser2;
  WebPanel* WebBrowser1;
  PictureBox* Picture2;

  // Staging area of the folder listing between the directory and List1.
  std::vector<std::string> FileNames;

 public slots:
  void Command1_Click();
  void Command2_Click();
  void List1_DblClick();
  void Option1_Click(int index);
  void Command7_Click();
  void Command6_Click();
  void Picture1_DblClick();
  void WebBrowser1_DocumentComplete();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  QRect Twips(int left, int top, int width, int height) const;
  void ShowLog(const std::string& old_text, const std::string& text);
  void Pump(QWidget* changed);
  // Lists the folder typed into Text1; false when it was listed and holds no workbooks.
  bool RelistTypedFolder(bool even_if_unchanged);
  void AppendLogLine(const std::string& line);
  void ReportEndOfRun();

  Form1Hooks hooks_;
  HeaderState header_;
  std::string log_text_;
  bool log_edited_ = false;   // the user typed into Text2 since the program last set it
  bool setting_log_ = false;  // Text2 is being changed by the program, not the user
  double progress_max_ = 100;
  double progress_value_ = 0;
  bool running_ = false;
  QElapsedTimer pump_clock_;
  std::optional<std::string> result_to_show_;
  std::optional<RunResult> last_run_;
  std::vector<FileOutcome> outcomes_;
  // The folder the list was last filled from, with a separator; empty before any listing.
  std::string listed_folder_;
  bool relisting_ = false;
  // Whether the status lines of the current run also go to the log. A run whose engine writes
  // the log itself after clearing the status area keeps them on the hidden status box, as ever;
  // a run that reports on status lines alone would otherwise leave the user looking at an old
  // log, so there they are the log.
  enum class StatusLines { kUndecided, kHidden, kInLog };
  StatusLines status_lines_ = StatusLines::kHidden;
};

}  // namespace qm
