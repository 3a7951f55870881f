#include "merge/header_rules.h"

#include <algorithm>

#include "workbook/value_text.h"

namespace qm {

void DetectHeader(const Worksheet& sheet, HeaderState& state) {
  state.HeaderWidth = 0;
  for (int r = 1; r <= 5; ++r) {
    const Row* row = sheet.RowAt(r);
    int n = 0;
    if (row) {
      // Run of consecutive non-empty cells from column 1; the grid's last column ends it.
      for (const Cell& cell : row->cells) {
        if (cell.col != n + 1) break;
        if (IsEmptyValue(sheet.ValueOf(cell))) break;
        ++n;
      }
    }
    if (state.HeaderWidth < n) {
      state.HeaderWidth = n;
      state.HeaderRow = r;
    }
  }
}

HeaderList BuildHeaderList(const Worksheet& sheet, const HeaderState& state) {
  HeaderList list;
  list.reserve(static_cast<size_t>(std::max(state.HeaderWidth, 0)));
  for (int c = 1; c <= state.HeaderWidth; ++c)
    list.push_back({c, ValueText(sheet.Cells(state.HeaderRow, c))});
  return list;
}

std::string HeaderListText(const HeaderList& list) {
  std::string s;
  for (const auto& e : list) {
    // The leading blank is where a non-negative number keeps its sign.
    if (e.column >= 0) s += ' ';
    s += std::to_string(e.column);
    s += ':';
    s += e.text;
    s += '|';
  }
  return s;
}

int LookupColumn(const HeaderList& list, std::string_view text) {
  for (const auto& e : list)
    if (e.text == text) return e.column;
  return 0;
}

InputPrompt KeyPrompt(const HeaderList& list) {
  return {HeaderListText(list) + "\r" + "请输入关键字列列号！", "输入提示", "1"};
}

}  // namespace qm
