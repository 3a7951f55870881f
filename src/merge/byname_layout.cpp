#include "merge/byname_layout.h"

#include "merge/column_names.h"
#include "merge/header_rules.h"
#include "workbook/value_text.h"

namespace qm::byname {

namespace {

enum class RowKind { kKept, kBlank, kTotals };

// A blank cell or an empty text, told from the stored cell without making its value.
bool IsEmptyCell(const Worksheet& sheet, const Cell& cell) {
  return cell.Type() == CellType::kBlank ||
         (cell.Type() == CellType::kText && sheet.TextOf(cell).empty());
}

// The row's first non-empty cell, in the table's own column order, decides whether it is a
// totals row; a row without one is blank.
RowKind KindOf(const Worksheet& sheet, const Row* row) {
  if (!row) return RowKind::kBlank;
  for (const Cell& cell : row->cells) {
    // Only a text can read 合计 and the like: a number, a date, a truth value or an error
    // shows digits or a fixed word, so it is not formatted (a scan of a large table would spend
    // most of its time doing that).
    if (IsEmptyCell(sheet, cell)) continue;
    return cell.Type() == CellType::kText && IsTotalsLabel(sheet.TextOf(cell)) ? RowKind::kTotals
                                                                               : RowKind::kKept;
  }
  return RowKind::kBlank;
}

}  // namespace

TableLayout ReadLayout(const Worksheet& sheet) {
  TableLayout t;
  if (sheet.IsEmpty()) return t;
  const Range used = sheet.UsedRange();
  t.last_row = used.r2;
  t.last_col = used.c2;
  HeaderState found;
  DetectHeader(sheet, found);
  t.header_row = found.HeaderWidth > 0 ? found.HeaderRow : 0;

  // Which columns hold data in a kept row: an untitled one is a column only then.
  std::vector<char> holds(static_cast<size_t>(t.last_col) + 1, 0);
  for (int r = t.header_row + 1; r <= t.last_row; ++r) {
    const Row* row = sheet.RowAt(r);
    switch (KindOf(sheet, row)) {
      case RowKind::kBlank:
        ++t.blank_rows;
        continue;
      case RowKind::kTotals:
        ++t.total_rows;
        continue;
      case RowKind::kKept:
        break;
    }
    t.kept_rows.push_back(r);
    for (const Cell& cell : row->cells)
      if (cell.col <= t.last_col && !holds[cell.col] && !IsEmptyCell(sheet, cell))
        holds[cell.col] = 1;
  }

  for (int c = 1; c <= t.last_col; ++c) {
    std::string title;
    if (t.header_row > 0) title = ValueText(sheet.Cells(t.header_row, c));
    if (!title.empty()) {
      TableColumn col{c, title, MatchName(title), false};
      t.columns.push_back(std::move(col));
    } else if (holds[static_cast<size_t>(c)]) {
      t.columns.push_back({c, {}, {}, true});
    }
  }
  return t;
}

Alignment ResultColumns::Match(const TableLayout& table) {
  Alignment a;
  a.result_col.reserve(table.columns.size());
  std::vector<char> met(columns_.size() + 1, 0);
  std::unordered_map<std::string, size_t> seen;  // columns of a name met so far in this table
  for (const TableColumn& col : table.columns) {
    int target = 0;
    if (!col.untitled) {
      const size_t k = seen[col.match]++;
      if (auto it = by_name_.find(col.match); it != by_name_.end() && k < it->second.size())
        target = it->second[k];
    }
    if (target == 0) {
      columns_.push_back(col);
      target = Count();
      if (!col.untitled) by_name_[col.match].push_back(target);
      a.added.push_back(col.ListName());
    } else {
      met[static_cast<size_t>(target)] = 1;
    }
    a.result_col.push_back(target);
  }
  for (int c = 1; c < static_cast<int>(met.size()); ++c)
    if (!met[static_cast<size_t>(c)] && !At(c).untitled) a.missing.push_back(At(c).title);
  return a;
}

}  // namespace qm::byname
