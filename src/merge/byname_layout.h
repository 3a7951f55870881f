// The by-name merge's view of one table (its header row, its columns by name, the rows it keeps)
// and the result's columns, which every table is matched against in turn. The engine and the
// command line's check share them, so that both name the same added and missing columns.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "workbook/worksheet.h"

namespace qm::byname {

// How an untitled column is named where names are listed (the alignment line, the transcript).
inline constexpr const char* kUntitled = "（空表头）";

struct TableColumn {
  int source_col = 0;
  std::string title;  // the header cell as text; empty for an untitled column
  std::string match;  // MatchName(title)
  bool untitled = false;

  // The name a list of columns shows.
  std::string ListName() const { return untitled ? kUntitled : title; }
};

struct TableLayout {
  // The header row DetectHeader found, 0 when it found none (then every row is data).
  int header_row = 0;
  // The last used row and column of the sheet, 0 for an empty sheet.
  int last_row = 0, last_col = 0;
  // Every non-empty header cell, and every untitled column that holds data in a kept row, in
  // the table's column order.
  std::vector<TableColumn> columns;
  // Rows below the header that are neither blank nor totals rows, ascending.
  std::vector<int> kept_rows;
  long long blank_rows = 0, total_rows = 0;
};

// Reads a table's layout.
TableLayout ReadLayout(const Worksheet& sheet);

// What matching one table against the result gave.
struct Alignment {
  // For each entry of TableLayout::columns, its result column (1-based, in result order).
  std::vector<int> result_col;
  // The table's columns that became new result columns, as the table names them, in the order
  // met; the result's titled columns the table lacks, by the result's titles, in result order.
  std::vector<std::string> added, missing;
};

// The result's columns, in order.
class ResultColumns {
 public:
  // Matches a table's columns by name: the k-th column of a name takes the result's k-th column
  // of that name; what matches none is appended. The template is the first table matched (all
  // its columns come back as added).
  Alignment Match(const TableLayout& table);

  int Count() const { return static_cast<int>(columns_.size()); }
  const TableColumn& At(int result_col) const {
    return columns_[static_cast<size_t>(result_col - 1)];
  }

 private:
  std::vector<TableColumn> columns_;
  // Result columns (1-based) by name, in result order.
  std::unordered_map<std::string, std::vector<int>> by_name_;
};

}  // namespace qm::byname
