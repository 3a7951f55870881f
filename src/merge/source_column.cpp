#include "merge/source_column.h"

#include "workbook/value_text.h"

namespace qm::engine {

namespace {

// Whether row r holds a value anywhere but in the columns `first` to `last` (the names).
bool HoldsData(const Worksheet& sheet, int r, int first, int last) {
  const Row* row = sheet.RowAt(r);
  if (!row) return false;
  for (const Cell& cell : row->cells)
    if ((cell.col < first || cell.col > last) && !IsEmptyValue(sheet.ValueOf(cell))) return true;
  return false;
}

}  // namespace

int LastUsedRow(const Worksheet& sheet) {
  return sheet.IsEmpty() ? 0 : sheet.UsedRange().r2;
}

int ColumnAfterAll(const Worksheet& sheet) {
  return sheet.IsEmpty() ? 1 : sheet.UsedRange().c2 + 1;
}

void SourceColumn::Note(int first, int last, const std::string& name, const std::string& sheet) {
  if (first < 1) first = 1;
  if (last >= first) blocks_.push_back({first, last, name, sheet});
}

Status SourceColumn::Write(Worksheet& sheet, int header_row, int column) const {
  const Names names{column, with_sheets_ ? column + 1 : column};
  if (Status st = WriteColumn(sheet, header_row, column, kSourceColumnHeader, &Block::name, names);
      !st)
    return st;
  if (!with_sheets_) return Status::Ok();
  return WriteColumn(sheet, header_row, column + 1, kSourceSheetColumnHeader, &Block::sheet, names);
}

// A row is named when it holds a value outside the name columns.
Status SourceColumn::WriteColumn(Worksheet& sheet, int header_row, int column, const char* header,
                                 std::string Block::*text_of, Names names) const {
  int header_style = -1;
  if (const Cell* left = column > 1 ? sheet.FindCell(header_row, column - 1) : nullptr)
    header_style = left->style;
  if (Status st = sheet.SetText(header_row, column, header, header_style); !st) return st;
  for (const Block& b : blocks_) {
    const uint32_t text = sheet.AddString(b.*text_of);
    for (int r = b.first; r <= b.last; ++r) {
      if (r == header_row || !HoldsData(sheet, r, names.first, names.last)) continue;
      const Cell* old = sheet.FindCell(r, column);
      sheet.AppendPooled(r, column, text, old ? old->style : 0);
    }
  }
  return Status::Ok();
}

}  // namespace qm::engine
