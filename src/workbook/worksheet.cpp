#include "worksheet.h"

#include <algorithm>
#include <cstring>

#include "formula/formula_lexer.h"
#include "memory_budget.h"

namespace qm {
namespace {

uint64_t BitsOf(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

Cell MakeCell(int c, CellType t, uint64_t bits, uint16_t style) {
  Cell cell;
  cell.bits = bits;
  cell.col = static_cast<uint16_t>(c);
  cell.style = style;
  cell.type = static_cast<uint32_t>(t);
  cell.formula = 0;
  return cell;
}

// Growth is charged to the budget once this much has gathered: one atomic add per batch keeps
// the accounting out of the readers' profiles.
constexpr size_t kChargeBatch = size_t{1} << 20;
// What the allocator keeps beside each block it hands out; a sheet of many one-cell rows holds
// about as much in these as in the cells.
constexpr size_t kAllocOverhead = 16;

bool ColLess(const Cell& a, int c) {
  return a.col < c;
}

// Maps a merged range through a deletion of rows; `deleted_upto(r)` counts deleted rows <= r.
// Returns false when the range disappears.
template <class CountFn>
bool ShiftMergeForDeletion(Range& m, CountFn deleted_upto) {
  int before = deleted_upto(m.r1 - 1);
  int upto = deleted_upto(m.r2);
  int inside = upto - before;
  if (inside == m.r2 - m.r1 + 1) return false;
  m.r1 -= before;
  m.r2 -= upto;
  return !(m.r1 == m.r2 && m.c1 == m.c2);
}

}  // namespace

Worksheet::Worksheet(std::string name, std::shared_ptr<StyleTable> styles)
    : name_(std::move(name)), styles_(std::move(styles)) {
  if (!styles_) styles_ = std::make_shared<StyleTable>();
}

// --- Memory budget -------------------------------------------------------------------------

void Worksheet::NoteCells(size_t old_capacity, size_t new_capacity) {
  if (new_capacity > old_capacity)
    Note((new_capacity - old_capacity) * sizeof(Cell) + (old_capacity == 0 ? kAllocOverhead : 0));
}

void Worksheet::Settle() {
  account_.Settle(kChargeBatch);
}

void Worksheet::Recount() {
  size_t now = MemoryBytes();
  for (const auto& row : rows_)
    if (row.cells.capacity() > 0) now += kAllocOverhead;
  account_.Reset(now);
}

Status Worksheet::NoMemory() const {
  return MakeError(ErrorCode::kNoMemory,
                   "not enough memory to hold the workbook (sheet \"" + name_ +
                       "\": the workbooks in memory would pass " + memory::BudgetText() + ")",
                   "工作簿超过可用的" + memory::BudgetText() + "内存");
}

// --- Reading -------------------------------------------------------------------------------

const Cell* Worksheet::FindCell(int r, int c) const {
  if (r < 1 || r > RowCount() || c < 1) return nullptr;
  const auto& cells = rows_[static_cast<size_t>(r - 1)].cells;
  // Most rows are filled from column 1 without gaps: try the direct slot first.
  size_t guess = static_cast<size_t>(c - 1);
  if (guess < cells.size() && cells[guess].col == c) return &cells[guess];
  auto it = std::lower_bound(cells.begin(), cells.end(), c, ColLess);
  return it != cells.end() && it->col == c ? &*it : nullptr;
}

CellValue Worksheet::ValueOf(const Cell& cell) const {
  CellValue v;
  v.type = cell.Type();
  v.style = cell.style;
  switch (v.type) {
    case CellType::kNumber:
      v.number = cell.number;
      v.is_date = styles_->IsDateXf(cell.style);
      v.date1904 = styles_->date1904;
      break;
    case CellType::kText:
      v.text = strings_[static_cast<uint32_t>(cell.bits)];
      break;
    case CellType::kBool:
      v.number = cell.bits ? 1 : 0;
      break;
    case CellType::kError:
      v.error = static_cast<uint8_t>(cell.bits);
      break;
    case CellType::kBlank:
      break;
  }
  if (cell.formula) v.formula = formulas_[cell.formula - 1];
  return v;
}

CellValue Worksheet::Cells(int r, int c) const {
  const Cell* cell = FindCell(r, c);
  return cell ? ValueOf(*cell) : CellValue{};
}

Range Worksheet::UsedRangeOrEmpty() const {
  if (!used_valid_) {
    Range u{0, 0, 0, 0};
    for (size_t i = 0; i < rows_.size(); ++i) {
      const auto& cells = rows_[i].cells;
      if (cells.empty()) continue;
      int r = static_cast<int>(i) + 1;
      if (u.r1 == 0) {
        u = {r, cells.front().col, r, cells.back().col};
      } else {
        u.r2 = r;
        u.c1 = std::min<int>(u.c1, cells.front().col);
        u.c2 = std::max<int>(u.c2, cells.back().col);
      }
    }
    used_ = u;
    used_valid_ = true;
  }
  return used_;
}

Range Worksheet::UsedRange() const {
  Range u = UsedRangeOrEmpty();
  return u.r1 == 0 ? Range{1, 1, 1, 1} : u;
}

// --- Writing -------------------------------------------------------------------------------

Status Worksheet::CheckBounds(int r, int c) const {
  if (r < 1 || r > kMaxRows || c < 1 || c > kMaxCols)
    return MakeError(ErrorCode::kInvalidArgument,
                     "cell (" + std::to_string(r) + ", " + std::to_string(c) + ") of sheet \"" +
                         name_ + "\" lies outside the grid",
                     "第" + std::to_string(r) + "行第" + std::to_string(c) + "列超出工作表的范围");
  return Status::Ok();
}

Row& Worksheet::RowFor(int r) {
  if (static_cast<size_t>(r) > rows_.size()) {
    const size_t before = rows_.capacity();
    rows_.resize(static_cast<size_t>(r));
    if (rows_.capacity() > before) Note((rows_.capacity() - before) * sizeof(Row));
  }
  return rows_[static_cast<size_t>(r - 1)];
}

Cell* Worksheet::FindOrInsert(int r, int c) {
  auto& cells = RowFor(r).cells;
  const size_t before = cells.capacity();
  Cell* out;
  if (cells.empty() || cells.back().col < c) {
    cells.push_back(MakeCell(c, CellType::kBlank, 0, 0));
    out = &cells.back();
  } else {
    auto it = std::lower_bound(cells.begin(), cells.end(), c, ColLess);
    if (it != cells.end() && it->col == c) return &*it;
    out = &*cells.insert(it, MakeCell(c, CellType::kBlank, 0, 0));
  }
  NoteCells(before, cells.capacity());
  return out;
}

Status Worksheet::SetTyped(int r, int c, CellType t, uint64_t bits, int style) {
  if (auto st = CheckBounds(r, c); !st) return st;
  try {
    Cell* cell = FindOrInsert(r, c);
    cell->type = static_cast<uint32_t>(t);
    cell->bits = bits;
    cell->formula = 0;
    if (style >= 0) cell->style = static_cast<uint16_t>(style);
    Touch(r, c);
    Settle();
  } catch (const std::bad_alloc&) {
    return NoMemory();
  }
  return Status::Ok();
}

Status Worksheet::SetNumber(int r, int c, double v, int style) {
  return SetTyped(r, c, CellType::kNumber, BitsOf(v), style);
}

Status Worksheet::SetText(int r, int c, std::string_view v, int style) {
  if (auto st = CheckBounds(r, c); !st) return st;
  uint32_t index;
  try {
    index = AddString(v);
  } catch (const std::bad_alloc&) {
    return NoMemory();
  }
  return SetTyped(r, c, CellType::kText, index, style);
}

Status Worksheet::SetBool(int r, int c, bool v, int style) {
  return SetTyped(r, c, CellType::kBool, v ? 1 : 0, style);
}

Status Worksheet::SetError(int r, int c, uint8_t code, int style) {
  return SetTyped(r, c, CellType::kError, code, style);
}

Status Worksheet::SetBlank(int r, int c, int style) {
  if (auto st = CheckBounds(r, c); !st) return st;
  if (r > RowCount()) {
    if (style <= 0) return Status::Ok();
    return SetTyped(r, c, CellType::kBlank, 0, style);
  }
  auto& cells = rows_[static_cast<size_t>(r - 1)].cells;
  auto it = std::lower_bound(cells.begin(), cells.end(), c, ColLess);
  bool exists = it != cells.end() && it->col == c;
  int keep = style >= 0 ? style : (exists ? it->style : 0);
  if (keep == 0) {
    if (exists) {
      cells.erase(it);
      InvalidateUsed();
    }
    return Status::Ok();
  }
  return SetTyped(r, c, CellType::kBlank, 0, keep);
}

Status Worksheet::SetValue(int r, int c, const NewValue& v, int style) {
  switch (v.type) {
    case CellType::kNumber:
      return SetNumber(r, c, v.number, style);
    case CellType::kText:
      return SetText(r, c, v.text, style);
    case CellType::kBool:
      return SetBool(r, c, v.number != 0, style);
    case CellType::kError:
      return SetError(r, c, v.error, style);
    case CellType::kBlank:
      break;
  }
  return SetBlank(r, c, style);
}

Status Worksheet::SetFormula(int r, int c, std::string_view formula) {
  if (auto st = CheckBounds(r, c); !st) return st;
  if (formulas_.size() >= kMaxFormulas)
    return MakeError(ErrorCode::kTooLarge, "too many formulas in sheet \"" + name_ + "\"",
                     "工作表“" + name_ + "”中的公式过多");
  try {
    Cell* cell = FindOrInsert(r, c);
    cell->formula = formula.empty() ? 0 : AddFormula(formula, kFormulaRowsUnknown);
    Touch(r, c);
    Settle();
  } catch (const std::bad_alloc&) {
    return NoMemory();
  }
  return Status::Ok();
}

Status Worksheet::SetStyle(int r, int c, uint16_t style) {
  if (auto st = CheckBounds(r, c); !st) return st;
  const Cell* existing = FindCell(r, c);
  if (!existing || existing->Type() == CellType::kBlank) return SetBlank(r, c, style);
  // The cell exists: nothing grows.
  FindOrInsert(r, c)->style = style;
  return Status::Ok();
}

uint32_t Worksheet::Pooled(uint32_t (TextPool::*add)(std::string_view), std::string_view v) {
  const size_t before = strings_.MemoryBytes();
  const uint32_t index = (strings_.*add)(v);
  Note(strings_.MemoryBytes() - before);
  Settle();
  return index;
}

uint32_t Worksheet::AddString(std::string_view v) {
  return Pooled(&TextPool::Add, v);
}

uint32_t Worksheet::InternString(std::string_view v) {
  return Pooled(&TextPool::Intern, v);
}

void Worksheet::AppendCell(int r, Cell cell) {
  if (r < 1 || r > kMaxRows || cell.col < 1 || cell.col > kMaxCols) return;
  auto& cells = RowFor(r).cells;
  const size_t before = cells.capacity();
  // A row read cell by cell usually holds as many cells as the row above: room for them at
  // once spares the allocations of growing one cell at a time.
  if (before == 0 && r >= 2)
    cells.reserve(std::max<size_t>(rows_[static_cast<size_t>(r - 2)].cells.size(), 1));
  if (cells.empty() || cells.back().col < cell.col) {
    cells.push_back(cell);
  } else {
    auto it = std::lower_bound(cells.begin(), cells.end(), cell.col, ColLess);
    if (it != cells.end() && it->col == cell.col)
      *it = cell;
    else
      cells.insert(it, cell);
  }
  NoteCells(before, cells.capacity());
  Touch(r, cell.col);
  Settle();
}

void Worksheet::AppendCells(int r, std::span<const Cell> cells) {
  if (cells.empty()) return;
  if (r < 1 || r > kMaxRows || cells.front().col < 1 || cells.back().col > kMaxCols) {
    for (const Cell& cell : cells) AppendCell(r, cell);
    return;
  }
  auto& row = RowFor(r).cells;
  if (!row.empty() && row.back().col >= cells.front().col) {
    for (const Cell& cell : cells) AppendCell(r, cell);
    return;
  }
  const size_t before = row.capacity();
  row.insert(row.end(), cells.begin(), cells.end());
  NoteCells(before, row.capacity());
  Touch(r, cells.front().col);
  Touch(r, cells.back().col);
  Settle();
}

void Worksheet::AppendNumber(int r, int c, double v, uint16_t style) {
  AppendCell(r, MakeCell(c, CellType::kNumber, BitsOf(v), style));
}

void Worksheet::AppendText(int r, int c, std::string_view v, uint16_t style) {
  AppendCell(r, MakeCell(c, CellType::kText, AddString(v), style));
}

void Worksheet::AppendPooled(int r, int c, uint32_t string_index, uint16_t style) {
  AppendCell(r, MakeCell(c, CellType::kText, string_index, style));
}

void Worksheet::DeleteRows(int r, int count) {
  if (r < 1 || count < 1) return;
  int last = r + count - 1;
  // The used area follows the deletion without a pass over the whole sheet, so that appending
  // table after table and cutting each one's header stays linear.
  const bool keep_used = used_valid_ && used_.r1 != 0 && r <= used_.r2;
  bool cols_touched = false;
  if (keep_used)
    for (int x = r; x <= std::min(last, RowCount()); ++x) {
      const auto& cells = rows_[static_cast<size_t>(x - 1)].cells;
      if (!cells.empty() && (cells.front().col <= used_.c1 || cells.back().col >= used_.c2))
        cols_touched = true;
    }
  if (r <= RowCount()) {
    auto first = rows_.begin() + (r - 1);
    rows_.erase(first, first + (std::min(last, RowCount()) - r + 1));
  }
  auto deleted_upto = [&](int x) { return x < r ? 0 : std::min(x, last) - r + 1; };
  std::vector<Range> kept;
  for (Range m : merges_)
    if (ShiftMergeForDeletion(m, deleted_upto)) kept.push_back(m);
  merges_.swap(kept);
  RewriteFormulasAfterDeletion(formula::RowDeletion(r, count));
  Recount();
  if (used_valid_ && used_.r1 != 0 && r > used_.r2) return;
  if (keep_used) {
    ShiftUsedAfterDeletion(r, count, cols_touched);
    return;
  }
  InvalidateUsed();
}

void Worksheet::ShiftUsedAfterDeletion(int r, int count, bool cols_touched) {
  const int last = r + count - 1;
  auto filled = [&](int x) { return !rows_[static_cast<size_t>(x - 1)].cells.empty(); };
  Range u = used_;
  if (u.r2 > last) {
    u.r2 -= count;
  } else {
    // The bottom rows went: the new bottom is the last filled row above the deletion.
    u.r2 = std::min(r - 1, RowCount());
    while (u.r2 >= 1 && !filled(u.r2)) --u.r2;
  }
  if (u.r2 < 1) {
    used_ = {0, 0, 0, 0};
    return;
  }
  if (u.r1 >= r) {
    // The top rows went: the new top is the first filled row where they were.
    u.r1 = r;
    while (u.r1 < u.r2 && !filled(u.r1)) ++u.r1;
  }
  if (cols_touched) {
    // A deleted row reached the left or right edge: find the edges again, stopping as soon as
    // rows that still reach the old ones are found (the common case: the next row does).
    int c1 = kMaxCols + 1, c2 = 0;
    for (int x = u.r1; x <= u.r2 && (c1 > used_.c1 || c2 < used_.c2); ++x) {
      const auto& cells = rows_[static_cast<size_t>(x - 1)].cells;
      if (cells.empty()) continue;
      c1 = std::min<int>(c1, cells.front().col);
      c2 = std::max<int>(c2, cells.back().col);
    }
    u.c1 = c1;
    u.c2 = c2;
  }
  used_ = u;
}

void Worksheet::DeleteRowSet(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [](int x) { return x < 1; }), rows.end());
  if (rows.empty()) return;
  size_t out = 0, k = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (k < rows.size() && rows[k] == static_cast<int>(i) + 1) {
      ++k;
      continue;
    }
    if (out != i) rows_[out] = std::move(rows_[i]);
    ++out;
  }
  rows_.resize(out);
  auto deleted_upto = [&](int x) {
    return static_cast<int>(std::upper_bound(rows.begin(), rows.end(), x) - rows.begin());
  };
  std::vector<Range> kept;
  for (Range m : merges_)
    if (ShiftMergeForDeletion(m, deleted_upto)) kept.push_back(m);
  merges_.swap(kept);
  RewriteFormulasAfterDeletion(formula::RowDeletion(rows));
  Recount();
  InvalidateUsed();
}

void Worksheet::CopyRowWithin(int from, int to) {
  if (from == to || to < 1 || to > kMaxRows || from < 1) return;
  if (from > RowCount()) {
    if (to <= RowCount()) rows_[static_cast<size_t>(to - 1)] = Row{};
  } else {
    Row copy = rows_[static_cast<size_t>(from - 1)];
    // The copy's formulas must name its new row, as a pasted row's would.
    std::string scratch;
    for (auto& cell : copy.cells)
      if (cell.formula)
        cell.formula = PastedFormula(formulas_[cell.formula - 1], true, to - from, 0, scratch);
    NoteCells(0, copy.cells.capacity());
    RowFor(to) = std::move(copy);
  }
  InvalidateUsed();
  Settle();
}

void Worksheet::RewriteFormulasAfterDeletion(const formula::RowDeletion& deletion) {
  if (formulas_.empty() || deletion.empty()) return;
  // References in A1 text name absolute positions, so the rewrite does not depend on where the
  // formula's cell sits and each pool entry is rewritten once, however many cells share it.
  // Entries whose references all lie above the first deleted row are left alone unread.
  const int first = deletion.first_row();
  std::string scratch;
  bool dropped = false;
  for (size_t i = 0; i < formulas_.size(); ++i) {
    int32_t& top = formula_rows_[i];
    if (top == kFormulaDead || (top >= 0 && top < first)) continue;
    int new_top = 0;
    switch (formula::DeleteRowsInto(formulas_[i], deletion, scratch, &new_top)) {
      case formula::Rewrite::kChanged:
        formulas_[i].swap(scratch);
        top = new_top;
        break;
      case formula::Rewrite::kUnchanged:
        top = new_top;
        break;
      case formula::Rewrite::kUnsupported:
        top = kFormulaDead;
        dropped = true;
        break;
    }
  }
  if (!dropped) return;
  // A formula that cannot be rewritten would be wrong here: its cells keep the cached value.
  for (auto& row : rows_)
    for (auto& cell : row.cells)
      if (cell.formula && formula_rows_[cell.formula - 1] == kFormulaDead) cell.formula = 0;
}

Status Worksheet::PasteFrom(const Worksheet& src, const Range& area, int r, int c) {
  try {
    return PasteUnchecked(src, area, r, c);
  } catch (const std::bad_alloc&) {
    // The rows pasted so far stay (the caller gives up the result); the used area is measured
    // again when next asked for.
    InvalidateUsed();
    return NoMemory();
  }
}

Status Worksheet::PasteUnchecked(const Worksheet& src, const Range& area, int r, int c) {
  const int h = area.RowsCount(), w = area.ColumnsCount();
  if (h < 1 || w < 1 || area.r1 < 1 || area.c1 < 1)
    return MakeError(ErrorCode::kInvalidArgument, "empty or invalid range to paste");
  if (r < 1 || c < 1 || r + h - 1 > kMaxRows || c + w - 1 > kMaxCols)
    return MakeError(ErrorCode::kGridFull, "pasting " + std::to_string(h) + " rows at row " +
                                               std::to_string(r) + " of sheet \"" + name_ +
                                               "\" goes beyond the largest grid (" +
                                               std::to_string(kMaxRows) + " rows × " +
                                               std::to_string(kMaxCols) + " columns)");
  const bool same = &src == this;
  const bool same_styles = src.styles_ == styles_;
  std::vector<int32_t> style_map;
  if (!same_styles) style_map.assign(src.styles_->xfs().size(), -1);
  std::vector<uint32_t> string_map;
  const int dc = c - area.c1;
  const int dr = r - area.r1;
  std::string shifted;
  const bool whole_rows = area.c1 == 1 && area.c2 == kMaxCols;
  // A workbook on the 1904 date system counts its serial numbers from another day; a date keeps
  // its calendar day when it crosses into a workbook on the other system.
  const double date_shift = src.styles_->date1904 == styles_->date1904 ? 0
                            : src.styles_->date1904                    ? 1462
                                                                       : -1462;

  // Gather the block first, so that a paste onto an overlapping area of the same sheet reads
  // the source as it was.
  std::vector<std::vector<Cell>> block(static_cast<size_t>(h));
  // The block is a second copy of the area while it lives.
  memory::ScopedCharge block_charge;
  size_t block_bytes = static_cast<size_t>(h) * sizeof(std::vector<Cell>);
  int ext_c1 = kMaxCols + 1, ext_c2 = 0, ext_r1 = 0, ext_r2 = 0;
  for (int i = 0; i < h; ++i) {
    const Row* row = src.RowAt(area.r1 + i);
    if (!row) continue;
    auto b = std::lower_bound(row->cells.begin(), row->cells.end(), area.c1, ColLess);
    auto e = std::lower_bound(b, row->cells.end(), area.c2 + 1, ColLess);
    auto& out = block[static_cast<size_t>(i)];
    out.reserve(static_cast<size_t>(e - b));
    for (auto it = b; it != e; ++it) {
      Cell cell = *it;
      cell.col = static_cast<uint16_t>(cell.col + dc);
      if (date_shift != 0 && cell.Type() == CellType::kNumber && src.styles_->IsDateXf(cell.style))
        cell.number += date_shift;
      if (!same_styles) {
        int32_t& m = style_map[cell.style];
        if (m < 0) m = styles_->Import(*src.styles_, cell.style);
        cell.style = static_cast<uint16_t>(m);
      }
      if (!same && cell.Type() == CellType::kText) {
        // A text shared by many source cells, or by the tables of many pastes, is kept once.
        if (string_map.empty()) string_map.assign(src.strings_.size(), UINT32_MAX);
        uint32_t& m = string_map[cell.bits];
        if (m == UINT32_MAX) m = InternString(src.strings_[static_cast<uint32_t>(cell.bits)]);
        cell.bits = m;
      }
      if (cell.formula)
        cell.formula = PastedFormula(src.formulas_[cell.formula - 1], same, dr, dc, shifted);
      out.push_back(cell);
    }
    if (out.capacity() > 0) block_bytes += out.capacity() * sizeof(Cell) + kAllocOverhead;
    if (block_bytes >= kChargeBatch) {
      block_charge.AddOrThrow(block_bytes);
      block_bytes = 0;
    }
    if (!out.empty()) {
      if (ext_r1 == 0) ext_r1 = r + i;
      ext_r2 = r + i;
      ext_c1 = std::min<int>(ext_c1, out.front().col);
      ext_c2 = std::max<int>(ext_c2, out.back().col);
    }
  }

  // Heights of whole rows travel with them.
  std::vector<Row> heights;
  if (whole_rows)
    for (int i = 0; i < h; ++i) {
      const Row* row = src.RowAt(area.r1 + i);
      Row x;
      if (row) x.height = row->height, x.custom_height = row->custom_height, x.hidden = row->hidden;
      heights.push_back(std::move(x));
    }

  const Range dest{r, c, r + h - 1, c + w - 1};
  const Range before = UsedRangeOrEmpty();
  const bool clears_existing = before.r1 != 0 && dest.Intersects(before);

  for (int i = 0; i < h; ++i) {
    auto& in = block[static_cast<size_t>(i)];
    const int dr = r + i;
    if (in.empty() && dr > RowCount() && !(whole_rows && heights[static_cast<size_t>(i)].height))
      continue;
    Row& row = RowFor(dr);
    auto& cells = row.cells;
    const size_t capacity = cells.capacity();
    if (cells.empty() || cells.back().col < c) {
      cells.insert(cells.end(), in.begin(), in.end());
    } else {
      auto b = std::lower_bound(cells.begin(), cells.end(), c, ColLess);
      auto e = std::lower_bound(b, cells.end(), dest.c2 + 1, ColLess);
      b = cells.erase(b, e);
      cells.insert(b, in.begin(), in.end());
    }
    NoteCells(capacity, cells.capacity());
    // The block row is spent; give its memory back as the paste goes.
    std::vector<Cell>().swap(in);
    if (whole_rows) {
      const Row& hr = heights[static_cast<size_t>(i)];
      row.height = hr.height;
      row.custom_height = hr.custom_height;
      row.hidden = hr.hidden;
    }
    Settle();
  }

  // Merged ranges: those under the target area go, those inside the copied area come along.
  std::vector<Range> kept;
  for (const Range& m : merges_)
    if (!m.Intersects(dest)) kept.push_back(m);
  for (const Range& m : src.merges_)
    if (m.r1 >= area.r1 && m.r2 <= area.r2 && m.c1 >= area.c1 && m.c2 <= area.c2)
      kept.push_back(Range{m.r1 - area.r1 + r, m.c1 + dc, m.r2 - area.r1 + r, m.c2 + dc});
  merges_.swap(kept);

  if (clears_existing) {
    InvalidateUsed();
  } else if (ext_r1 != 0) {
    Touch(ext_r1, ext_c1);
    Touch(ext_r2, ext_c2);
  }
  return Status::Ok();
}

uint32_t Worksheet::AddFormula(std::string_view text, int32_t max_row) {
  const size_t before = formulas_.capacity(), rows_before = formula_rows_.capacity();
  formulas_.emplace_back(text);
  formula_rows_.push_back(max_row);
  Note((formulas_.capacity() - before) * sizeof(std::string) +
       (formula_rows_.capacity() - rows_before) * sizeof(int32_t) +
       (text.size() > 15 ? text.size() + 1 + kAllocOverhead : 0));
  return static_cast<uint32_t>(formulas_.size());
}

uint32_t Worksheet::PastedFormula(const std::string& text, bool same_sheet, int dr, int dc,
                                  std::string& scratch) {
  int top = 0;
  switch (formula::ShiftInto(text, dr, dc, scratch, &top)) {
    case formula::Rewrite::kUnsupported:
      return 0;  // not carried faithfully: the cell keeps its cached value
    case formula::Rewrite::kUnchanged:
      if (same_sheet) return static_cast<uint32_t>(&text - formulas_.data()) + 1;
      if (formulas_.size() >= kMaxFormulas) return 0;
      // `text` lives in another sheet's pool, so it stays valid while this pool grows.
      return AddFormula(text, top);
    case formula::Rewrite::kChanged:
      break;
  }
  if (formulas_.size() >= kMaxFormulas) return 0;
  return AddFormula(scratch, top);
}

// --- Layout --------------------------------------------------------------------------------

void Worksheet::SetColumnWidth(int c, double width) {
  if (c < 1 || c > kMaxCols) return;
  if (width <= 0)
    col_widths_.erase(c);
  else
    col_widths_[c] = width;
}

double Worksheet::ColumnWidth(int c) const {
  auto it = col_widths_.find(c);
  return it == col_widths_.end() ? 0 : it->second;
}

void Worksheet::SetRowHeight(int r, double points) {
  if (r < 1 || r > kMaxRows) return;
  if (points <= 0 && r > RowCount()) return;
  Row& row = RowFor(r);
  row.height = static_cast<float>(points > 0 ? points : 0);
  row.custom_height = points > 0;
}

double Worksheet::RowHeight(int r) const {
  const Row* row = RowAt(r);
  return row ? row->height : 0;
}

void Worksheet::AddMerge(const Range& area) {
  if (area.r1 < 1 || area.c1 < 1 || area.r2 < area.r1 || area.c2 < area.c1) return;
  if (area.r1 == area.r2 && area.c1 == area.c2) return;
  merges_.push_back(area);
}

void Worksheet::ReserveRows(long long rows) {
  const auto want = static_cast<size_t>(std::clamp<long long>(rows, 0, kMaxRows));
  if (want <= rows_.capacity()) return;
  const size_t before = rows_.capacity();
  rows_.reserve(want);
  Note((rows_.capacity() - before) * sizeof(Row));
  Settle();
}

void Worksheet::ShrinkToFit() {
  for (auto& row : rows_) row.cells.shrink_to_fit();
  // The row array stays: a copy would hold it twice at the moment the result is largest, and
  // its unused tail was never touched.
  strings_.ShrinkToFit();
  formulas_.shrink_to_fit();
  Recount();
}

size_t Worksheet::CellCount() const {
  size_t n = 0;
  for (const auto& row : rows_) n += row.cells.size();
  return n;
}

size_t Worksheet::MemoryBytes() const {
  size_t n = rows_.capacity() * sizeof(Row);
  for (const auto& row : rows_) n += row.cells.capacity() * sizeof(Cell);
  n += strings_.MemoryBytes();
  n += formulas_.capacity() * sizeof(std::string) + formula_rows_.capacity() * sizeof(int32_t);
  for (const auto& s : formulas_) n += s.capacity();
  return n;
}

}  // namespace qm
