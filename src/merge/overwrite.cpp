// The overwrite pass: of all records below the header with the same usable key, the first keeps
// its place and takes the content of the last; the others go. A row-by-row pass compares every
// pair of rows; grouping the rows by key once gives the same outcome in one sweep.
#include <algorithm>
#include <cstdint>
#include <utility>
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
  // The pass moves rows within the sheet and adds no text: what shares pasted texts can go.
  sheet.ReleaseTextIndex();
  const int last_row = sheet.UsedRange().RowsCount();
  const int first_row = std::max(header_row + 1, 1);
  // A row's key hash beside its number, sorted by hash: rows with one key end up side by side
  // at 16 bytes a row, where a map of keys to groups took several times that on a result of
  // hundreds of thousands of rows.
  struct Entry {
    uint32_t hash;  // the low half: rows that share it are told apart by their keys below
    int row;
  };
  std::vector<Entry> entries;
  entries.reserve(static_cast<size_t>(std::max(last_row - first_row + 1, 0)));
  const engine::KeyHash hash;
  for (int r = first_row; r <= last_row; ++r) {
    auto key = key_of(sheet.Cells(r, key_column));
    if (key) entries.push_back({static_cast<uint32_t>(hash(*key)), r});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.hash < b.hash; });
  struct Group {
    engine::Key key;
    int first, last;
  };
  std::vector<std::pair<int, int>> copies;  // last row to first, of groups of more than one
  std::vector<int> doomed;
  std::vector<Group> run;
  for (size_t i = 0; i < entries.size();) {
    size_t j = i + 1;
    while (j < entries.size() && entries[j].hash == entries[i].hash) ++j;
    if (j - i > 1) {
      // Equal hashes, mostly equal keys: the rows split into groups by their keys, in row order.
      run.clear();
      for (size_t k = i; k < j; ++k) {
        const int r = entries[k].row;
        engine::Key key = *key_of(sheet.Cells(r, key_column));
        auto g = std::find_if(run.begin(), run.end(), [&](const Group& x) { return x.key == key; });
        if (g == run.end()) {
          run.push_back({std::move(key), r, r});
        } else {
          g->last = r;
          doomed.push_back(r);
        }
      }
      for (Group& g : run)
        if (g.first != g.last) copies.emplace_back(g.last, g.first);
    }
    i = j;
  }
  if (doomed.empty()) return;
  std::vector<Entry>().swap(entries);
  // Whole-row copies; a sheet with merged ranges takes the paste so the ranges follow.
  const bool plain = sheet.merges().empty();
  for (const auto& [last, first] : copies) {
    if (plain)
      sheet.CopyRowWithin(last, first);
    else
      (void)sheet.PasteFrom(sheet, Range{last, 1, last, kMaxCols}, first, 1);
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
