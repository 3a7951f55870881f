// The pieces every engine run shares: the log, the source folder, the result workbook, the key
// answer, the stop path, the failure path and the save.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/engines.h"
#include "workbook/paths.h"

namespace qm::engine {

// Texts the user sees, shared by several engines.
inline constexpr const char* kAppTitle = "合并";
inline constexpr const char* kStartLine = "开始合并...";
inline constexpr const char* kEndLine = "合并操作结束！";
inline constexpr const char* kStoppedLine = "已退出合并操作！";
inline constexpr const char* kStopMessage = "输入为0或输入错误，退出合并操作！";
inline constexpr const char* kResultFolder = "合并结果";
inline constexpr const char* kMergeResultName = "合并结果.xls";
inline constexpr const char* kSmartResultName = "智能合并结果.xls";

// Asks for the key column with the header list as the prompt. The answer counts only when it
// rounds (half to even) to a column from 1 to the header width; returns that column, or 0 when
// the run has to stop.
int AskKeyColumn(InteractionPort& port, const HeaderList& list, int header_width);

// Where a run puts its own lines: on the log, or, for the runs that report there, on the status
// lines.
enum class ReportTo { kLog, kStatus };

class EngineRun {
 public:
  explicit EngineRun(MergeContext& ctx) : ctx_(ctx), port(ctx.port), app(ctx.app) {}
  ~EngineRun();

  // Log: append a line (text + CRLF + line); scrolling, moving the caret to the end, is a step
  // of its own, since not every appended line is scrolled into view.
  void AppendLog(const std::string& line);
  void ScrollLog();

  // The file list as the user left it; every entry starts as not reached.
  void TakeFiles();
  // The source folder as the user left it, with a separator.
  void TakeFolder();
  std::string SourcePath(size_t k) const { return folder + files[k]; }
  std::string ResultFolder() const { return folder + kResultFolder; }

  // A new result workbook, alerts off.
  void CreateResult();
  // Opens entry k of the list; the workbook stays open until CloseSource. A protected source no
  // known password opens is asked for at the port, again while the answer is wrong; Cancel
  // leaves the refusal to be reported like any unreadable file. No password is tried twice on
  // one file, and tries that will take a while are announced first (once per file).
  Result<Workbook*> OpenSource(size_t k);
  void CloseSource(Workbook* wb);

  // Pastes the used range of `src` with its top-left at (row, 1) of the result sheet.
  Status PasteUsedRange(const Workbook& src, int row);
  // The template goes to (1, 1) and lends the result its column widths and its block's row
  // heights.
  Status PasteTemplate(const Workbook& src);

  // What became of entry k; `rows` are the rows it brought into the result.
  void SetOutcome(size_t k, FileStatus status, std::optional<long long> rows = std::nullopt);
  // Entry k could not be read: it is left out with one line naming it and the reason.
  void SkipUnreadable(size_t k, const Error& error, ReportTo where = ReportTo::kLog);
  // Rows of the result sheet's used range, 0 for an empty sheet.
  long long ResultRows() const;
  // The passwords tried on protected sources: the front end's list, or the run's own.
  std::vector<std::string>& Passwords() {
    return ctx_.passwords ? *ctx_.passwords : own_passwords_;
  }

  // Opens entry 0, pastes it as the template and records it. nullopt when it went in; otherwise
  // how the run ended (the failure told).
  std::optional<RunResult> TakeTemplate();

  // The stop path after a key answer that does not count: the result is discarded and the
  // application quit.
  RunResult Stop();
  // Cancel at a question after the run started ends it as Cancel at the confirmation does:
  // nothing written, no file counted as merged.
  RunResult Cancel();
  // The same, told first: the stop line replaces the log or joins the status lines, then the
  // message box says why.
  RunResult StopAtKey(ReportTo where);
  // A failure after the run started: one message naming the file and the reason, the result
  // discarded, the application quit. Without `file`, the file the error's detail leads with.
  RunResult Fail(const Error& error, const std::string& file = {});
  // The template could not be read or pasted: the run ends as with any failure.
  RunResult FailTemplate(const Error& error);
  // Saves the result under the result folder (created when missing). When the content did not
  // fit the .xls grid, `switched_line` receives the line telling where it went.
  Result<SaveResult> Save(const std::string& name, std::string& switched_line);
  // The normal end: the application shown with the result open.
  RunResult Finish(const std::string& path);
  // The normal end: the result saved as `name`; then a switch to .xlsx, the save's warnings and
  // `end_line` are told (the log scrolled after them), and the result is shown. The vertical
  // merges turn the alerts back on once the result is saved (`alerts_back`).
  // `last_notes` are told right before `end_line`.
  RunResult SaveAndFinish(const std::string& name, ReportTo where, const std::string& end_line,
                          bool alerts_back = false,
                          const std::vector<std::string>& last_notes = {});

  // Where the run tells what it noticed about a source (a hidden first sheet): the log, or the
  // status lines of the runs that report there.
  ReportTo notices_to = ReportTo::kLog;

  MergeContext& ctx_;
  InteractionPort& port;
  Application& app;
  std::vector<std::string> files;
  std::string folder;
  Workbook* result = nullptr;
  Worksheet* sheet = nullptr;

 private:
  // The options entry k is read with; `ahead` for the read-ahead, which leaves slow password
  // tries to the run's own thread, where the user can be told before they start.
  ReadOptions SourceOptions(size_t k, bool ahead);
  void AnnounceSlowTries(size_t k);
  void RememberPassword(const std::string& password);

  std::vector<std::string> own_passwords_;
  std::vector<Workbook*> open_sources_;
  std::vector<size_t> announced_;  // entries whose slow password tries were announced
  std::vector<FileOutcome> outcomes_;
};

// The notice before password tries of `file` (as listed) that will take a while.
std::string TryingPasswordsLine(const std::string& file);

// The line that tells the user a source was left out because it could not be read.
std::string SkippedLine(const std::string& file, const std::string& reason);

// The line that tells the user that the sheet merged from `file` is one they do not see.
std::string HiddenFirstSheetLine(const std::string& file, const std::string& sheet);

// The line that tells the user the result went to .xlsx.
std::string SwitchedToXlsxLine(const std::string& path);

}  // namespace qm::engine
