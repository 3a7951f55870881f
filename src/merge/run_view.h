// What a front end shows of a run: the log, the progress bar, the status lines, the list's
// current entry, the result and the account of every table. The one presenter of a run's events
// writes here, so every front end shows the same texts; none formats a line of its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qm {

// What became of one source table in a run.
enum class TableStatus {
  kTemplate,        // the first table: it went first into the result
  kMerged,          // joined the result (a smart merge's table that only filled cells included)
  kHeaderMismatch,  // the safe merge skipped it: its header differs from the template's
  kUnreadable,      // could not be read and was skipped (or, for the template, ended the run)
  kNotReached,      // the run ended before it
};

// The stable names transcripts use: "template", "merged", "header-mismatch", "unreadable",
// "not-reached".
const char* TableStatusName(TableStatus status);

struct TableOutcome {
  size_t file_index = 0;  // entry of the file list the table came from
  std::string name;       // the file as listed
  std::string sheet;      // the sheet it was read from; empty when the file could not be read
  TableStatus status = TableStatus::kNotReached;
  std::optional<long long> rows;  // rows the table brought into the result, where that applies
  std::string code;               // unreadable: the stable ASCII code ("password", ...)
  std::string reason;             // unreadable: the Chinese reason
};

// Where a run reports as it goes: on the log (most runs), or on the status lines alone (the
// sorted smart merge), which a front end then has to show where the user looks.
enum class ReportPlace { kLog, kStatusLines };

class RunView {
 public:
  virtual ~RunView() = default;

  // The run has started to report (after its confirmation, when it has one).
  virtual void BeginReport(ReportPlace where) { (void)where; }

  // The log: replaced whole (a run's opening line), or one line added after a line break (CR LF)
  // to whatever it holds then, the user's own edits included. The caret is moved to the end to
  // scroll.
  virtual void ReplaceLog(const std::string& text) = 0;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void ScrollLogToEnd() = 0;

  virtual void SetProgressMax(double max) = 0;
  virtual void SetProgressValue(double value) = 0;

  // The status area: cleared, or one line printed below the previous ones.
  virtual void ClearStatus() = 0;
  virtual void PrintStatus(const std::string& line) = 0;

  // Makes entry `index` of the file list its current entry: the smart merges put the caret on
  // the template while they work. A front end without a list has nothing to do.
  virtual void SetCurrentEntry(size_t index) { (void)index; }

  // Something the user should know while the run waits, outside the log's record (the password
  // tries that will take long): the window shows it in the log, the command line on standard
  // error.
  virtual void ShowNotice(const std::string& line) { (void)line; }

  // The run ended normally with the result saved: show it to the user.
  virtual void ShowResult(const std::string& path) = 0;

  // Every table's outcome, once, in list order, by the end of the run (tables it never reached
  // as kNotReached). Front ends that keep no account ignore it.
  virtual void ReportTable(const TableOutcome& outcome) { (void)outcome; }
};

}  // namespace qm
