// What a run reports as it goes, typed: the engines emit these and know no log text; the one
// presenter (presenter.h) turns them into the log, the status lines and the rest of the view.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "merge/run_view.h"

namespace qm {

// Which road a run follows, which decides where its lines go and how it opens.
enum class RunRoad {
  kFastVertical,  // the fast vertical merges: log, header rows given by the user
  kSafeVertical,  // the safe vertical merges: log, every table's header checked
  kSmart,         // the smart merge on unsorted tables: log
  kSortedSmart,   // the smart merge on sorted tables: status lines only
};

namespace ev {

// The run has begun (after its confirmation): `steps` is the progress bar's maximum.
struct Started {
  RunRoad road;
  int steps = 0;
};
// Table `number` (1-based) is being read; `name` as the log names it.
struct TableChecking {
  int number = 0;
  std::string name;
};
// The smart merges put the list's caret on the template while they work.
struct CurrentEntry {
  size_t index = 0;
};
// The sheet merged from `file` is its first one, and hidden.
struct FirstSheetHidden {
  std::string file, sheet;
};
// Hidden sheets of `file` that the run's sheet choice passed over.
struct HiddenSheetsLeftOut {
  std::string file;
  std::vector<std::string> sheets;
};
// A table was left out because it could not be read.
struct TableUnreadable {
  std::string name, reason;
};
// The vertical merges' line after the template: its header list, or its name.
struct TemplateShown {
  std::string text;
};
// The safe merge compared a later table's header list with the template's.
struct TableHeader {
  std::string list_text;
  bool matches = true;
};
struct Progress {
  double value = 0;
};
// The key column answer did not count: the run stops.
struct KeyRefused {};
// The overwrite pass starts on the column named `key_name`.
struct Overwriting {
  std::string key_name;
};
// The by-name merge lined a table's columns up with the result's: the columns it added (as the
// table names them) and the result's columns it lacks (by the result's titles).
struct ColumnsAligned {
  std::vector<std::string> added, missing;
};
// Rows of a table the by-name merge left out: blank ones and totals rows.
struct RowsLeftOut {
  long long blank = 0, totals = 0;
};
// Each password try on `file` will take long; the user is told why the run waits.
struct PasswordTriesTakeLong {
  std::string file;
};
// The result is saved: where (maybe switched to .xlsx), what the writer had to change, and what
// the run noticed on the way.
struct Saved {
  std::string path;
  bool switched_to_xlsx = false;
  std::vector<std::string> warnings;
  std::vector<std::string> notes;
};
// The user stopped the run; nothing was written.
struct Interrupted {};
// What became of one table, reported for every table once the run ends.
struct TableDone {
  TableOutcome outcome;
};

}  // namespace ev

using RunEvent =
    std::variant<ev::Started, ev::TableChecking, ev::CurrentEntry, ev::FirstSheetHidden,
                 ev::HiddenSheetsLeftOut, ev::TableUnreadable, ev::TemplateShown, ev::TableHeader,
                 ev::Progress, ev::KeyRefused, ev::Overwriting, ev::PasswordTriesTakeLong,
                 ev::Saved, ev::Interrupted, ev::TableDone, ev::ColumnsAligned, ev::RowsLeftOut>;

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void On(const RunEvent& event) = 0;
};

}  // namespace qm
