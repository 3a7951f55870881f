// The program's main window: the source file list, the option groups, the start and stop
// buttons, the instructions and log panel, the progress bar, the tips panel (or the last run's
// account in its place) and the diagram. A merge runs on a worker thread; the window asks the
// run's questions with its dialogs and shows what the run reports, both on the GUI thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "merge/answers.h"
#include "merge/engines.h"
#include "merge/header_rules.h"
#include "merge/request.h"
#include "merge/run_view.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTextBrowser;

namespace qm {

class PictureBox;
class RunThread;
class WebPanel;

// What the window needs from the outside world; tests replace each part.
struct MainWindowHooks {
  // The program's own folder; empty means the folder of the executable.
  std::string program_folder;
  // Runs one merge start to end, on the run's worker thread; empty means RunMerge, the real
  // engines.
  std::function<RunResult(const MergeRequest&, Answers&, RunView&, HeaderState&)> run_merge;
  // Opens a finished result for the user and says whether that worked; empty means the
  // desktop's default program.
  std::function<bool(const std::string&)> open_result;
  // Opens a folder for the user (the account's link to the result); empty means the desktop's
  // file manager.
  std::function<void(const std::string&)> open_folder;
};

// The sheet choice a text of the box 工作表： stands for: 第一个, 第一个可见的, 全部可见的, or a
// sheet's name (nothing typed: the first sheet).
SheetChoice SheetChoiceOfText(const QString& text);

class MainWindow : public QWidget, public Answers, public RunView {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowHooks hooks = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence, run once before the window is first shown. `folder` is the optional
  // folder given on the command line; empty means the program's own folder.
  void Load(const QString& folder = QString());

  void ShowInstructions();
  void LoadFolder(const QString& folder);

  // --- The run's questions, asked with the window's dialogs (GUI thread) ---------------------
  bool Confirm(const Confirmation& q) override;
  bool AnswerSorted(const SortedQuestion& q) override;
  std::optional<std::string> AnswerHeaderRows(const InputQuestion& q) override;
  std::optional<std::string> AnswerKeyColumn(const InputQuestion& q) override;
  std::optional<std::string> AnswerPassword(const PasswordQuestion& q) override;
  void Acknowledge(const Notice& n) override;

  // --- What the run shows (GUI thread) -------------------------------------------------------
  void BeginReport(ReportPlace where) override;
  void ReplaceLog(const std::string& text) override { SetLogText(text); }
  void AppendLog(const std::string& line) override;
  void ScrollLogToEnd() override;
  void SetProgressMax(double max) override;
  void SetProgressValue(double value) override;
  void ClearStatus() override;
  void PrintStatus(const std::string& line) override;
  void SetCurrentEntry(size_t index) override;
  void ShowNotice(const std::string& line) override;
  void ShowResult(const std::string& path) override;
  void ReportTable(const TableOutcome& outcome) override;

  // The log's whole text as the user sees it (edits included), and replacing it.
  std::string LogText();
  void SetLogText(const std::string& text);

  // The entries of the file list, in order.
  std::vector<std::string> FileList() const;
  double ProgressMax() const { return progress_max_; }
  double ProgressValue() const { return progress_value_; }
  // From the click on 开始合并 until the run's last report has been shown.
  bool IsRunning() const { return running_; }
  const std::optional<RunResult>& LastRun() const { return last_run_; }
  // What the run reported of each table of the last run.
  const std::vector<TableOutcome>& Outcomes() const { return outcomes_; }
  HeaderState& Header() { return header_; }
  // The passwords that opened protected sources, the latest first; kept in memory for the
  // program's run only.
  const std::vector<std::string>& Passwords() const { return passwords_; }
  std::string ProgramFolder() const;

  // The window's size when the screen has room for it, and the smallest it can be made.
  QSize DefaultSize() const;
  QSize SmallestSize() const;

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
  QRadioButton* byNameOption;  // ByNameOption: 按列名合并, vertical kinds only
  QCheckBox* sourceColumnBox;  // SourceColumn: 添加来源列, off at start
  QLabel* sheetLabel;          // SheetLabel: 工作表：
  QComboBox* sheetBox;         // SheetChoice: the sheets each workbook gives
  QPushButton* startButton;    // Command7: 开始合并
  QPushButton* stopButton;     // StopButton: 停止, in its place during a run
  QPushButton* helpButton;     // Command6: 使用说明
  QPlainTextEdit* logBox;      // Text2: the instructions, then the run's log
  PictureBox* statusBox;       // Picture1: hidden; the engines' status lines
  QProgressBar* progressBar;   // ProgressBar1
  WebPanel* tipsPanel;         // WebBrowser2: tips beside the log
  QTextBrowser* accountPanel;  // RunAccount: the last run's account, for tips
  WebPanel* diagramPanel;      // WebBrowser1: the three kinds drawn out
  PictureBox* taglineBox;      // Picture2: the line along the bottom edge

  // The names the last listing found, in the order they were listed into fileList.
  std::vector<std::string> listedNames;

 public slots:
  void OnAddClicked();
  void OnRemoveClicked();
  void OnFileDoubleClicked();
  void OnKindClicked(int index);
  void OnStartClicked();
  void OnStopClicked();
  void OnHelpClicked();
  void OnStatusDoubleClicked();
  void OnDiagramPageLoaded();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Box { kOk, kOkCancel, kYesNo };

  void BuildControls();
  // The sheet choice (main_window_sheets.cpp): built, placed, and read for the request.
  void BuildSheetChoice();
  void PlaceSheetChoice(int wider_list);
  void EnableSheetChoice(bool enabled);
  SheetChoice SheetsChosen() const;
  QRect Twips(int left, int top, int width, int height) const;
  // What the log, the diagram and the button column can give up when the window is made
  // smaller than its default size.
  int LogGive() const;
  int DiagramGive() const;
  int ColumnGive() const;
  // Places every control for the window's present size.
  void ArrangeControls();
  // The size and place the window opens at: the default size where the available area of the
  // screen holds it, else the largest that fits.
  void FitIntoScreen();
  // A message box of the window's own; true for its first button (确定, 是).
  bool ShowMessage(const std::string& text, const std::string& title, Box buttons);
  void ShowLog(const std::string& old_text, const std::string& text);
  // Lists the folder typed into folderEdit; false when it was not listed or holds no workbooks.
  bool RelistTypedFolder(bool even_if_unchanged);
  void AppendLogLine(const std::string& line);
  // The controls that would change a run are off while one goes, and 停止 stands for 开始合并.
  void SetRunning(bool running);
  void FinishRun(const RunResult& result);
  void ReportEndOfRun();
  void ShowOutcomesInList();
  void ShowAccount();
  void ShowTips();
  // Holds a question back while the window's own close prompt is open; false when the run is
  // being stopped and the question is answered as Cancel without being asked.
  bool ReadyToAsk();

  MainWindowHooks hooks_;
  HeaderState header_;
  std::vector<std::string> passwords_;
  std::string log_text_;
  bool log_edited_ = false;   // the user typed into logBox since the program last set it
  bool setting_log_ = false;  // logBox is being changed by the program, not the user
  double progress_max_ = 100;
  double progress_value_ = 0;
  bool running_ = false;
  std::unique_ptr<RunThread> run_;
  std::atomic<bool> stop_{false};
  bool close_when_stopped_ = false;
  QPointer<QMessageBox> close_prompt_;
  std::optional<std::string> result_to_show_;
  std::optional<RunResult> last_run_;
  std::vector<TableOutcome> outcomes_;
  // The folder the list was last filled from, with a separator; empty before any listing.
  std::string listed_folder_;
  bool relisting_ = false;
  // Where the current run reports: on the log, with its status lines on the hidden status box,
  // or on the status lines alone, which then go to the log where the user looks.
  ReportPlace report_place_ = ReportPlace::kLog;
};

}  // namespace qm
