// A worksheet that stores only what is used: rows hold their cells sorted by column, texts and
// formulas live in pools of the sheet.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cell.h"
#include "memory_budget.h"
#include "result.h"
#include "style.h"
#include "text_pool.h"

namespace qm {

namespace formula {
class RowDeletion;
}

constexpr int kMaxRows = 1048576;
constexpr int kMaxCols = 16384;
// The smaller grid of .xls files.
constexpr int kXlsMaxRows = 65536;
constexpr int kXlsMaxCols = 256;

// A rectangle of cells, 1-based and inclusive.
struct Range {
  int r1 = 1, c1 = 1, r2 = 1, c2 = 1;

  int RowsCount() const { return r2 - r1 + 1; }
  int ColumnsCount() const { return c2 - c1 + 1; }
  bool Contains(int r, int c) const { return r >= r1 && r <= r2 && c >= c1 && c <= c2; }
  bool Intersects(const Range& o) const {
    return r1 <= o.r2 && o.r1 <= r2 && c1 <= o.c2 && o.c1 <= c2;
  }
  bool operator==(const Range&) const = default;
};

struct Row {
  std::vector<Cell> cells;  // sorted by column, no duplicates
  float height = 0;         // points; 0 = the sheet's default height
  bool custom_height = false;
  bool hidden = false;
};

class Worksheet {
 public:
  Worksheet(std::string name, std::shared_ptr<StyleTable> styles);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Hidden (or "very hidden") in its workbook: the user does not see its tab.
  bool IsHidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }
  StyleTable& styles() { return *styles_; }
  const StyleTable& styles() const { return *styles_; }
  const std::shared_ptr<StyleTable>& shared_styles() const { return styles_; }

  // --- Reading -----------------------------------------------------------------------------
  // The value of a cell; a cell outside the grid or never written reads as blank.
  CellValue Cells(int r, int c) const;
  const Cell* FindCell(int r, int c) const;
  CellValue ValueOf(const Cell& cell) const;
  std::string_view TextOf(const Cell& cell) const {
    return strings_[static_cast<uint32_t>(cell.bits)];
  }
  // The sheet's texts, numbered as text cells' `bits` name them.
  const TextPool& texts() const { return strings_; }
  std::string_view FormulaOf(const Cell& cell) const {
    return cell.formula ? std::string_view(formulas_[cell.formula - 1]) : std::string_view();
  }

  // The rectangle of cells that hold a value or a non-default format; A1 alone when nothing is
  // used.
  Range UsedRange() const;
  bool IsEmpty() const { return UsedRangeOrEmpty().r1 == 0; }

  // Direct row access for bulk work (readers, writers, engines). Rows past RowCount() are empty.
  int RowCount() const { return static_cast<int>(rows_.size()); }
  const Row* RowAt(int r) const {
    return r >= 1 && r <= RowCount() ? &rows_[static_cast<size_t>(r - 1)] : nullptr;
  }

  // --- Writing -------------------------------------------------------------------------------
  // Each setter keeps the cell's format when `style` is negative. Writing outside the grid
  // returns an error.
  Status SetNumber(int r, int c, double v, int style = -1);
  Status SetText(int r, int c, std::string_view v, int style = -1);
  Status SetBool(int r, int c, bool v, int style = -1);
  Status SetError(int r, int c, uint8_t code, int style = -1);
  // Clears the value; the cell stays only when it keeps a non-default format.
  Status SetBlank(int r, int c, int style = -1);
  Status SetValue(int r, int c, const NewValue& v, int style = -1);
  // Attaches formula text (A1 notation, no "=") to a cell; its current value is the cached one.
  Status SetFormula(int r, int c, std::string_view formula);
  // Sets only the format.
  Status SetStyle(int r, int c, uint16_t style);

  // Fast path for readers that deliver cells row by row, left to right. Falls back to a sorted
  // insert when the order is broken. These, AddString and the void methods below raise
  // memory::BudgetExceeded when the sheet grows past the process's memory budget; the setters
  // that return a status return kNoMemory instead.
  void AppendNumber(int r, int c, double v, uint16_t style);
  void AppendText(int r, int c, std::string_view v, uint16_t style);
  // Adds a text to the pool and returns its index, for AppendPooled (readers map a file's shared
  // strings once).
  uint32_t AddString(std::string_view v);
  // The same, but an equal text added this way before is shared (pastes from other sheets).
  uint32_t InternString(std::string_view v);
  // Frees what keeps pasted texts shared, before work on a large sheet that pastes nothing in
  // from other sheets for a time; the next such paste builds it again.
  void ReleaseTextIndex() {
    strings_.ReleaseIndex();
    Recount();
  }
  void AppendPooled(int r, int c, uint32_t string_index, uint16_t style);
  void AppendCell(int r, Cell cell);
  // Cells sorted by column, appended to row r in one step, so that the row's storage grows once
  // to what it holds rather than by doubling; cells that do not all lie right of the row's last
  // one go in one by one as AppendCell puts them.
  void AppendCells(int r, std::span<const Cell> cells);

  // Deletes `count` rows starting at r; the rows below move up. Formulas of the remaining cells
  // follow: references below move up, references to deleted rows become #REF!, areas shrink.
  void DeleteRows(int r, int count = 1);
  // Deletes the given rows (any order, duplicates ignored) in one pass, formulas rewritten once.
  void DeleteRowSet(std::vector<int> rows);
  // Replaces row `to` with a copy of row `from` of this sheet: cells, formats and height, as a
  // whole-row copy and paste does. Merged ranges are left as they are.
  void CopyRowWithin(int from, int to);

  // Copies the cells, formats and merged ranges of `area` of `src` so that its top-left lands
  // at (r, c), replacing what was there (blanks in the source clear the target). Row heights
  // travel when whole rows are copied. `src` may be this sheet. Formulas move by the paste
  // distance; one that cannot be carried (another sheet, a defined name ...) leaves its cached
  // value alone.
  Status PasteFrom(const Worksheet& src, const Range& area, int r, int c);

  // --- Layout --------------------------------------------------------------------------------
  // Column widths in characters of the default font (the unit both file formats use).
  void SetColumnWidth(int c, double width);
  double ColumnWidth(int c) const;  // 0 when the column has the default width
  const std::map<int, double>& column_widths() const { return col_widths_; }
  double default_column_width = 8.43;
  double default_row_height = 13.5;  // points

  void SetRowHeight(int r, double points);
  double RowHeight(int r) const;  // 0 when the row has the default height

  void AddMerge(const Range& area);
  const std::vector<Range>& merges() const { return merges_; }

  // Makes room for `rows` rows (capped at the grid) without filling them, when there is less.
  void ReserveRows(long long rows);
  // Releases the spare capacity of the rows and pools, once a sheet has been built up in many
  // small steps and is about to be written.
  void ShrinkToFit();

  size_t CellCount() const;
  size_t MemoryBytes() const;
  // Bytes this sheet has charged to the process's memory budget so far.
  size_t ChargedBytes() const { return account_.Total(); }

 private:
  // Growth is noted as it happens and charged to the budget in batches, at points where the
  // sheet is consistent; a charge past the budget raises memory::BudgetExceeded.
  void Note(size_t bytes) { account_.Note(bytes); }
  void NoteCells(size_t old_capacity, size_t new_capacity);
  void Settle();
  // Charges what the sheet holds now, after a change that freed memory.
  void Recount();
  Status NoMemory() const;
  // A text into the pool by `add`, its growth charged.
  uint32_t Pooled(uint32_t (TextPool::*add)(std::string_view), std::string_view v);
  Status PasteUnchecked(const Worksheet& src, const Range& area, int r, int c);
  Row& RowFor(int r);
  Cell* FindOrInsert(int r, int c);
  Status CheckBounds(int r, int c) const;
  Status SetTyped(int r, int c, CellType t, uint64_t bits, int style);
  Range UsedRangeOrEmpty() const;  // r1 == 0 when nothing is used
  // Widens the known used area to (r, c); called for every cell a reader appends.
  void Touch(int r, int c) const {
    if (!used_valid_) return;
    if (used_.r1 == 0) {
      used_ = {r, c, r, c};
      return;
    }
    used_.r1 = std::min(used_.r1, r);
    used_.r2 = std::max(used_.r2, r);
    used_.c1 = std::min(used_.c1, c);
    used_.c2 = std::max(used_.c2, c);
  }
  void InvalidateUsed() const { used_valid_ = false; }
  // Moves the known used area through the deletion of `count` rows from r, which lay at or
  // above its bottom; `cols_touched` when a deleted row held a cell in its left or right column.
  void ShiftUsedAfterDeletion(int r, int count, bool cols_touched);
  // Formula pool index (1-based, 0 = none) for a formula pasted from `text` moved by (dr, dc).
  uint32_t PastedFormula(const std::string& text, bool same_sheet, int dr, int dc,
                         std::string& scratch);
  void RewriteFormulasAfterDeletion(const formula::RowDeletion& deletion);
  uint32_t AddFormula(std::string_view text, int32_t max_row);

  std::string name_;
  bool hidden_ = false;
  std::shared_ptr<StyleTable> styles_;
  std::vector<Row> rows_;
  TextPool strings_;
  std::vector<std::string> formulas_;
  // Per formula: the largest row its references name (deletions below it change nothing),
  // unknown until first needed, or dead once it could not be rewritten.
  static constexpr int32_t kFormulaRowsUnknown = -1, kFormulaDead = -2;
  std::vector<int32_t> formula_rows_;
  std::map<int, double> col_widths_;
  std::vector<Range> merges_;

  memory::Account account_;

  mutable bool used_valid_ = true;
  mutable Range used_{0, 0, 0, 0};
};

}  // namespace qm
