// The overwrite pass: of all records below the header with the same usable key, the first keeps
// its place and takes the content of the last; the others go. A row-by-row pass compares every
// pair of rows; grouping the rows by key once gives the same outcome in one sweep.
#include <unordered_map>
#include <vector>

#include "merge/column_names.h"
#include "merge/engine_run.h"
#include "merge/key_index.h"
#include "workbook/value_text.h"

namespace qm {

namespace {

// The pass over the rows below `header_row`, with `key_of` giving a row's key cell its key
// (nullopt for a key that never matches).
template <class KeyOfFn>
void Collapse(Worksheet& sheet, int key_column, int header_row, KeyOfFn key_of) {
  const int last_row = sheet.UsedRange().RowsCount();
  struct Group {
    int first, last;
  };
  std::unordered_map<engine::Key, Group, engine::KeyHash> groups;
  std::vector<int> doomed;
  for (int r = std::max(header_row + 1, 1); r <= last_row; ++r) {
    auto key = key_of(sheet.Cells(r, key_column));
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

}  // namespace

void OverwriteDuplicates(Worksheet& sheet, int key_column, const std::string& key_name,
                         const HeaderState& header, RunEvents& events) {
  events.On(ev::Overwriting{key_name});
  Collapse(sheet, key_column, header.HeaderRow,
           [](const CellValue& v) -> std::optional<engine::Key> {
             // A blank or empty-text key is not usable; an error equals nothing.
             if (IsEmptyValue(v)) return std::nullopt;
             return engine::KeyOf(v);
           });
}

void OverwriteDuplicatesByText(Worksheet& sheet, int key_column, const std::string& key_name,
                               int header_row, RunEvents& events) {
  events.On(ev::Overwriting{key_name});
  Collapse(sheet, key_column, header_row, [](const CellValue& v) -> std::optional<engine::Key> {
    if (v.IsError()) return std::nullopt;  // as in the other pass: an error equals nothing
    const std::string text = ValueText(v);
    const std::string_view trimmed = byname::TrimWhiteSpace(text);
    if (trimmed.empty()) return std::nullopt;
    engine::Key key;
    key.is_text = true;
    key.text.assign(trimmed);
    return key;
  });
}

}  // namespace qm
