// The overwrite pass: of all records below the header with the same usable key, the first keeps
// its place and takes the content of the last; the others go. A row-by-row pass compares every
// pair of rows; grouping the rows by key once gives the same outcome in one sweep.
#include <unordered_map>
#include <vector>

#include "merge/engine_run.h"
#include "merge/key_index.h"
#include "workbook/value_text.h"

namespace qm {

void OverwriteDuplicates(Worksheet& sheet, int key_column, const std::string& key_name,
                         const HeaderState& header, RunEvents& events) {
  events.On(ev::Overwriting{key_name});

  const int last_row = sheet.UsedRange().RowsCount();
  struct Group {
    int first, last;
  };
  std::unordered_map<engine::Key, Group, engine::KeyHash> groups;
  std::vector<int> doomed;
  for (int r = std::max(header.HeaderRow + 1, 1); r <= last_row; ++r) {
    CellValue v = sheet.Cells(r, key_column);
    // A blank or empty-text key is not usable; an error equals nothing.
    if (IsEmptyValue(v)) continue;
    auto key = engine::KeyOf(v);
    if (!key) continue;
    auto [it, fresh] = groups.try_emplace(std::move(*key), Group{r, r});
    if (!fresh) {
      it->second.last = r;
      doomed.push_back(r);
    }
  }
  if (doomed.empty()) return;
  // Whole-row copies; a sheet with merged ranges takes the paste so the ranges follow.
  const bool plain = sheet.merges().empty();
  for (const auto& [key, g] : groups) {
    if (g.first == g.last) continue;
    if (plain)
      sheet.CopyRowWithin(g.last, g.first);
    else
      (void)sheet.PasteFrom(sheet, Range{g.last, 1, g.last, kMaxCols}, g.first, 1);
  }
  sheet.DeleteRowSet(std::move(doomed));
}

}  // namespace qm
