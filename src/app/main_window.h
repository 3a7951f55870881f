// The program's main window: the source file list, the option groups, the start button, the
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

class QCheckBox;
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
struct MainWindowHooks {
  // The program's own folder; empty means the folder of the executable.
  std::string program_folder;
  // Runs the engine a choice names; empty means the real engines.
  std::function<RunResult(const DispatchChoice&, MergeContext&)> run_engine;
  // Opens a finished result for the user and says whether that worked; empty means the
  // desktop's default program.
  std::function<bool(const std::string&)> open_result;
};

class MainWindow : public QWidget, public InteractionPort {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowHooks hooks = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

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
  std::optional<std::string> AskPassword(const std::string& file, bool wrong_before) override;
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
  // The passwords that opened protected sources, the latest first; kept in memory for the
  // program's run only.
  const std::vector<std::string>& Passwords() const { return passwords_; }
  std::string ProgramFolder() const;

  // The controls. Each widget keeps as its objectName the name tests and anyone walking the
  // widget tree find it by (after each member); renaming a member never changes it.
  QLabel* titleLabel;                           // Label1
  QLineEdit* folderEdit;                        // Text1: the folder listed, or one typed
  QListWidget* fileList;                        // List1: the workbooks to merge, template first
  QPushButton* addButton;                       // Command1: 添　加
  QPushButton* removeButton;                    // Command2: 删　除
  QGroupBox* kindGroup;                         // Frame1
  QGroupBox* variantGroup;                      // Frame2
  std::array<QRadioButton*, 3> kindOptions;     // Option1_0..2: the merge kinds
  std::array<QRadioButton*, 2> variantOptions;  // Option2_0..1: captions follow the kind
  QCheckBox* sourceColumnBox;                   // SourceColumn: 添加来源列, off at start
  QPushButton* startButton;                     // Command7: 开始合并
  QPushButton* helpButton;                      // Command6: 使用说明
  QPlainTextEdit* logBox;                       // Text2: the instructions, then the run's log
  PictureBox* statusBox;                        // Picture1: hidden; the engines' status lines
  QProgressBar* progressBar;                    // ProgressBar1
  WebPanel* tipsPanel;                          // WebBrowser2: tips beside the log
  WebPanel* diagramPanel;                       // WebBrowser1: the three kinds drawn out
  PictureBox* taglineBox;                       // Picture2: the line along the bottom edge

  // The names the last listing found, in the order they were listed into fileList.
  std::vector<std::string> listedNames;

 public slots:
  void OnAddClicked();
  void OnRemoveClicked();
  void OnFileDoubleClicked();
  void OnKindClicked(int index);
  void OnStartClicked();
  void OnHelpClicked();
  void OnStatusDoubleClicked();
  void OnDiagramPageLoaded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  QRect Twips(int left, int top, int width, int height) const;
  void ShowLog(const std::string& old_text, const std::string& text);
  void Pump(QWidget* changed);
  // Lists the folder typed into folderEdit; false when it was listed and holds no workbooks.
  bool RelistTypedFolder(bool even_if_unchanged);
  void AppendLogLine(const std::string& line);
  void ReportEndOfRun();

  MainWindowHooks hooks_;
  HeaderState header_;
  std::vector<std::string> passwords_;
  std::string log_text_;
  bool log_edited_ = false;   // the user typed into logBox since the program last set it
  bool setting_log_ = false;  // logBox is being changed by the program, not the user
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
  // the log itself after clearing the status area keeps them on the hidden status box; a run
  // that reports on status lines alone would otherwise leave the user looking at an old log, so
  // there they are the log.
  enum class StatusLines { kUndecided, kHidden, kInLog };
  StatusLines status_lines_ = StatusLines::kHidden;
};

}  // namespace qm
