// What the two smart merges share: the result's header list that grows with the headers of later
// tables, and the rule that fills empty result cells from a source row.
#pragma once

#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "merge/engine_run.h"

namespace qm::engine {

struct SmartResult {
  int header_row = 0;  // fixed for the run
  int width = 0;       // column of the last header list entry
  HeaderList list;
  std::string list_text;  // kept in step with `list`
};

// One source table, its header as detected and where each of its columns lands in the result.
struct SmartSource {
  const Worksheet* sheet = nullptr;
  int header_row = 0;
  int width = 0;
  std::vector<int> target;  // target[k] for source columns 1..width (index 0 unused)
};

// Fills result row `row` from source row `r` over source columns first..src.width: a non-empty
// source value goes into its target cell when that cell is empty. Only the value travels (a date
// keeps a date format). Sets `wrote_column` when a value went into that column.
class Filler {
 public:
  explicit Filler(Worksheet& result_sheet) : sheet_(result_sheet) {}
  Status Fill(const SmartSource& src, int r, int first, int row, int watch_column,
              bool& wrote_column);
  // The style a value written into (row, col) needs: -1 to keep the cell's own, or, for a date
  // going into a cell without a date format, that cell's style with the source's date format.
  int StyleFor(int row, int col, const CellValue& v, const StyleTable& src_styles);

 private:
  int DateStyle(uint16_t target_style, const CellValue& v, const StyleTable& src_styles);

  Worksheet& sheet_;
  std::map<std::pair<uint16_t, std::string>, uint16_t> date_styles_;
};

// Adds the source headers the result lacks at width + 1, + 2 ... and maps every source column
// to the first result column with its header text. Fails when a new header would lie beyond the
// grid.
Status MergeHeaders(Worksheet& result_sheet, SmartResult& res, SmartSource& src, Filler& filler);

// The part of a smart run up to the key prompt: the template pasted, its header read, the key
// asked for. Returns the key column, or 0 when the answer did not count.
int AskKey(EngineRun& run, HeaderState& header, SmartResult& res);

// Pastes the template into the new result and asks for the key column, taking the stop path when
// the answer does not count. Returns the key column, or 0 with the run's end in `*ended`.
int StartSmartResult(EngineRun& run, HeaderState& header, SmartResult& res, RunResult* ended);

}  // namespace qm::engine
