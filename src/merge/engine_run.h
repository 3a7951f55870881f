// The pieces every engine run shares: the request's files and folder, the source tables, the
// result workbook, the key answer, the ways a run ends (stop, cancel, failure, the user's stop)
// and the save.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "merge/engines.h"
#include "merge/sheet_choice.h"
#include "merge/texts.h"
#include "workbook/paths.h"

namespace qm::engine {

// A table to merge: one sheet of one listed workbook, with the name the log gives it.
struct SourceTable {
  size_t file_index = 0;
  std::string file;  // as listed
  std::shared_ptr<Workbook> workbook;
  int sheet_index = 1;  // 1-based, in the workbook's tab order
  size_t slot = 0;      // which of the file's tables: 0 for the first it gives
  std::string sheet;    // the sheet's name, kept when the workbook has gone
  std::string log_name;

  Worksheet& Sheet() const { return *workbook->Worksheets(sheet_index); }
  // The file, with the sheet in ［］ when the table is not the file's first sheet.
  const std::string& LogName() const { return log_name; }
};

// What NextTable found.
enum class Next {
  kTable,    // a table to merge
  kEnd,      // every listed file has been read
  kStopped,  // the user stopped the run
};

// Asks for the key column with the header list as the prompt. The answer counts only when it
// rounds (half to even) to a column from 1 to the header width; returns that column, or 0 when
// the run has to stop.
int AskKeyColumn(Answers& answers, const HeaderList& list, int header_width);

class EngineRun {
 public:
  explicit EngineRun(MergeContext& ctx);
  // Every table's outcome is reported, however the run ended.
  ~EngineRun();
  EngineRun(const EngineRun&) = delete;
  EngineRun& operator=(const EngineRun&) = delete;

  void Emit(const RunEvent& event) { ctx_.events.On(event); }
  void Progress(double value) { Emit(ev::Progress{value}); }
  // The user asked the run to stop (停止); checked between tables and blocks of rows.
  bool StopRequested() const { return ctx_.request.StopRequested(); }

  std::string SourcePath(size_t k) const { return folder + files[k]; }
  std::string ResultFolder() const { return folder + texts::kResultFolder; }

  // A new result workbook with one empty sheet.
  void CreateResult();
  // Reads entry k of the list and takes the first table the request's sheet choice gives (the
  // others wait for NextTable); the next entry is read ahead. A
  // protected source no known password opens is asked for, again while the answer is wrong;
  // Cancel leaves the refusal to be reported like any unreadable file. No password is tried
  // twice on one file, and tries that will take a while are announced first (once per file).
  Result<SourceTable> OpenTable(size_t k);
  // Lets a table's workbook go once it has been merged.
  void CloseTable(SourceTable& table);

  // Says the template is being read: at once when every file gives its first sheet, else once it
  // is known which sheet the template is (TakeTemplate).
  void AnnounceTemplate();
  // The next table after the template's, in list order and, within a file, tab order: each file
  // gives the sheets the request chooses. Tells which table is being read; a file that cannot
  // be read, or lacks the sheet, is skipped and told, and the run goes on to the next.
  Next NextTable(SourceTable& table);
  // The template table's sheet, named in the column 来源工作表.
  const std::string& TemplateSheet() const { return template_sheet_; }
  // Whether the column 来源文件 comes with the column 来源工作表.
  bool SheetColumn() const { return ctx_.request.sheets.mode == SheetMode::kAllVisible; }

  // Pastes the used range of `src` with its top-left at (row, 1) of the result sheet.
  Status PasteUsedRange(const Worksheet& src, int row);
  // The template goes to (1, 1) and lends the result its column widths and its block's row
  // heights.
  Status PasteTemplate(const Worksheet& src);

  // What became of table k; `rows` are the rows it brought into the result.
  void SetOutcome(size_t k, TableStatus status, std::optional<long long> rows = std::nullopt);
  // The by-name merge's account: every entry marked as part of such a run, then each table's.
  void SetByName(size_t k, TableOutcome::ByName account);
  void SetByName(const SourceTable& table, TableOutcome::ByName account);
  void SetOutcome(const SourceTable& table, TableStatus status,
                  std::optional<long long> rows = std::nullopt);
  // Table k could not be read: it is left out, told with the reason.
  void SkipUnreadable(size_t k, const Error& error);
  // Rows of the result sheet's used range, 0 for an empty sheet.
  long long ResultRows() const;
  // The passwords tried on protected sources: the front end's list, or the run's own.
  std::vector<std::string>& Passwords() {
    return ctx_.request.passwords ? *ctx_.request.passwords : own_passwords_;
  }

  // Reads entry 0 and names the template's table as the sheet choice says. nullopt when it was
  // read; otherwise how the run ended (the failure told).
  std::optional<RunResult> OpenTemplate(SourceTable& tpl);
  // Reads entry 0 and pastes it as the template. nullopt when it went in; otherwise how the
  // run ended (the failure told).
  std::optional<RunResult> TakeTemplate();

  // The key answer did not count: the stop line, the message box saying why, the result
  // discarded.
  RunResult StopAtKey();
  // Cancel at a question after the run started ends it as Cancel at the confirmation does:
  // nothing written, no table counted as merged.
  RunResult Cancel();
  // The user stopped the run: nothing written, the log says so.
  RunResult Interrupt();
  // A failure after the run started: one message naming the file and the reason, the result
  // discarded. Without `file`, the file the error is about.
  RunResult Fail(const Error& error, const std::string& file = {});
  // The template could not be read or pasted: the run ends as with any failure.
  RunResult FailTemplate(const Error& error);
  // The normal end: the result saved under the result folder as `name` (created when missing),
  // then told with the writer's warnings and `notes`.
  RunResult SaveAndFinish(const std::string& name, std::vector<std::string> notes = {});

  MergeContext& ctx_;
  Answers& answers;
  std::vector<std::string> files;
  std::string folder;
  std::unique_ptr<Workbook> result;
  Worksheet* sheet = nullptr;

 private:
  // The options entry k is read with; `ahead` for the read-ahead, which leaves slow password
  // tries to the run's own thread, where the user can be told before they start.
  ReadOptions SourceOptions(size_t k, bool ahead);
  void AnnounceSlowTries(size_t k);
  void RememberPassword(const std::string& password);
  void Discard();
  // Opens entry k and chooses its sheets; the first is returned, the others wait in pending_.
  Result<SourceTable> OpenFile(size_t k);
  SourceTable TableOf(size_t k, const std::shared_ptr<Workbook>& wb, int sheet_index, size_t slot);
  TableOutcome& OutcomeOf(size_t k, size_t slot);
  bool FirstSheets() const { return ctx_.request.sheets.mode == SheetMode::kFirst; }
  // Names table number_ in the log (unless not `checking`), with the hidden sheets its file
  // passed over.
  void TellTable(size_t k, const std::string& log_name, bool checking = true);

  WorkbookReader reader_;
  std::vector<SourceTable> pending_;  // the open file's tables still to merge
  std::vector<std::string> hidden_;   // the open file's hidden sheets, not yet told
  size_t next_file_ = 1;
  int number_ = 1;  // the log's number of the last table announced
  bool template_announced_ = false;
  std::string template_sheet_;
  std::vector<std::string> own_passwords_;
  std::vector<size_t> announced_;  // entries whose slow password tries were announced
  // Per listed file, the outcome of each table it gave (one when it gave none).
  std::vector<std::vector<TableOutcome>> outcomes_;
};

}  // namespace qm::engine
