// 按列名合并: the tables stacked with their columns lined up by header name rather than by
// position, blank and totals rows left out, optionally followed by an overwrite pass whose keys
// meet by their text. The run's shape (confirmation, log, progress, the key question's box) is
// the safe merge's.
#include <algorithm>
#include <optional>

#include "merge/byname_layout.h"
#include "merge/engine_run.h"
#include "merge/presenter.h"
#include "merge/source_column.h"
#include "workbook/formula/formula.h"

namespace qm {

namespace {

std::string ConfirmText(VerticalMode mode, int n) {
  const std::string word = mode == VerticalMode::kOverwrite ? "覆盖" : "";
  return "执行此操作，将按表头名称对齐各表的列后纵向" + word + "合并这" + std::to_string(n) +
         "个工作表，你确定吗？";
}

// Where one table's cells go: its kept rows to consecutive result rows, its columns to their
// result columns. Its formulas' references follow the same moves.
class TableMoves : public CellMoves {
 public:
  // Source row `from` lands on result row `to`; called in ascending order of both.
  void AddRow(int from, int to) {
    from_.push_back(from);
    to_.push_back(to);
  }
  // Source column `from` lands on result column `to`.
  void SetCol(int from, int to) {
    if (from >= static_cast<int>(col_to_.size())) col_to_.resize(static_cast<size_t>(from) + 1, 0);
    col_to_[static_cast<size_t>(from)] = to;
  }

  int Row(int row) const override {
    auto it = std::lower_bound(from_.begin(), from_.end(), row);
    return it != from_.end() && *it == row ? to_[static_cast<size_t>(it - from_.begin())] : 0;
  }
  int Col(int col) const override {
    return col >= 0 && col < static_cast<int>(col_to_.size()) ? col_to_[static_cast<size_t>(col)]
                                                              : 0;
  }
  // Rows left out of a span close up, as deleted rows do; the kept ones land side by side.
  bool RowSpan(int lo, int hi, int& new_lo, int& new_hi) const override {
    const auto i = std::lower_bound(from_.begin(), from_.end(), lo) - from_.begin();
    const auto j = std::upper_bound(from_.begin(), from_.end(), hi) - from_.begin() - 1;
    if (i > j) return false;
    new_lo = to_[static_cast<size_t>(i)];
    new_hi = to_[static_cast<size_t>(j)];
    return new_hi - new_lo == j - i;
  }
  // A span's columns must land side by side and in order; empty columns in it close up.
  bool ColSpan(int lo, int hi, int& new_lo, int& new_hi) const override {
    int last = 0;
    new_lo = 0;
    for (int c = std::max(lo, 1); c <= hi && c < static_cast<int>(col_to_.size()); ++c) {
      const int to = col_to_[static_cast<size_t>(c)];
      if (to == 0) continue;
      if (last != 0 && to != last + 1) return false;
      if (new_lo == 0) new_lo = to;
      last = to;
    }
    new_hi = last;
    return last != 0;
  }

 private:
  std::vector<int> from_, to_;
  std::vector<int> col_to_;
};

// Copies rows of one source table into the result, cell by cell: values, formats (brought into
// the result's style table), texts, and formulas moved through the table's moves. A formula
// whose cells did not all come along keeps its value and is counted.
class RowCopier {
 public:
  RowCopier(const Worksheet& src, Worksheet& dst, const TableMoves& moves)
      : src_(src), dst_(dst), moves_(moves) {
    const bool s1904 = src.styles().date1904, d1904 = dst.styles().date1904;
    date_shift_ = s1904 == d1904 ? 0 : s1904 ? 1462 : -1462;
  }

  // Copies source row `from` to result row `to`, each cell to the column `col_of` gives it (0:
  // left out).
  template <class ColOf>
  Status Copy(int from, int to, ColOf col_of) {
    const Row* row = src_.RowAt(from);
    if (!row) return Status::Ok();
    if (to > kMaxRows) return GridFull();
    cells_.clear();
    formulas_.clear();
    for (const Cell& in : row->cells) {
      const int col = col_of(in.col);
      if (col == 0) continue;
      if (col > kMaxCols) return GridFull();
      Cell cell = in;
      cell.col = static_cast<uint16_t>(col);
      cell.formula = 0;
      if (date_shift_ != 0 && cell.Type() == CellType::kNumber && src_.styles().IsDateXf(in.style))
        cell.number += date_shift_;
      cell.style = Style(in.style);
      if (cell.Type() == CellType::kText) cell.bits = Text(in);
      if (in.formula) Formula(src_.FormulaOf(in), col);
      cells_.push_back(cell);
    }
    std::sort(cells_.begin(), cells_.end(),
              [](const Cell& a, const Cell& b) { return a.col < b.col; });
    dst_.AppendCells(to, cells_);
    for (const auto& [col, text] : formulas_)
      if (Status st = dst_.SetFormula(to, col, text); !st) return st;
    if (row->custom_height) dst_.SetRowHeight(to, row->height);
    return Status::Ok();
  }

  long long lost_formulas = 0;

 private:
  static Status GridFull() {
    return MakeError(ErrorCode::kGridFull, "the result goes beyond the largest grid");
  }
  uint16_t Style(uint16_t s) {
    if (&src_.styles() == &dst_.styles()) return s;
    if (s >= style_map_.size()) style_map_.resize(static_cast<size_t>(s) + 1, -1);
    int32_t& m = style_map_[s];
    if (m < 0) m = dst_.styles().Import(src_.styles(), s);
    return static_cast<uint16_t>(m);
  }
  // A text shared by many source cells goes into the result's pool once per table.
  uint32_t Text(const Cell& in) {
    const auto i = static_cast<size_t>(in.bits);
    if (i >= string_map_.size()) string_map_.resize(i + 1, UINT32_MAX);
    uint32_t& m = string_map_[i];
    if (m == UINT32_MAX) m = dst_.AddString(src_.TextOf(in));
    return m;
  }
  void Formula(std::string_view text, int col) {
    switch (MoveFormula(text, moves_, scratch_)) {
      case MovedFormula::kMoved:
        formulas_.emplace_back(col, scratch_);
        break;
      case MovedFormula::kLost:
        ++lost_formulas;
        break;
      case MovedFormula::kUnsupported:
        break;  // not carried faithfully anywhere: the cached value stays, as in every paste
    }
  }

  const Worksheet& src_;
  Worksheet& dst_;
  const TableMoves& moves_;
  double date_shift_ = 0;
  std::vector<int32_t> style_map_;
  std::vector<uint32_t> string_map_;
  std::vector<Cell> cells_;
  std::vector<std::pair<int, std::string>> formulas_;
  std::string scratch_;
};

// The result as it grows: its columns by name, its header row, the next free row.
struct Building {
  byname::ResultColumns columns;
  int header_row = 0;  // the template's, 0 when it had none
  int next_row = 1;
  long long lost_formulas = 0;
};

// Puts one table into the result: the template whole above its header, any table's new column
// titles into the result's header row, and the kept rows below what is there. Returns the
// matching it did.
Result<byname::Alignment> PutTable(engine::EngineRun& run, const Worksheet& src,
                                   const byname::TableLayout& layout, bool is_template,
                                   Building& result) {
  Worksheet& dst = *run.sheet;
  // Result columns past this one are new with this table.
  const int before = result.columns.Count();
  byname::Alignment align = result.columns.Match(layout);
  TableMoves moves;
  for (size_t i = 0; i < layout.columns.size(); ++i)
    moves.SetCol(layout.columns[i].source_col, align.result_col[i]);
  auto col_of = [&](int c) { return moves.Col(c); };

  if (is_template) {
    result.header_row = layout.header_row;
    for (int r = 1; r <= layout.header_row; ++r) moves.AddRow(r, r);
    dst.default_column_width = src.default_column_width;
    dst.default_row_height = src.default_row_height;
  }
  int to = is_template ? layout.header_row + 1 : result.next_row;
  for (int r : layout.kept_rows) moves.AddRow(r, to++);

  RowCopier copier(src, dst, moves);
  if (is_template) {
    // Above the header the template stays as it is, titles and their merged ranges included.
    auto same_col = [](int c) { return c; };
    for (int r = 1; r < layout.header_row; ++r)
      if (Status st = copier.Copy(r, r, same_col); !st) return st.error();
    for (const Range& m : src.merges())
      if (m.r2 < layout.header_row) dst.AddMerge(m);
  }
  // A column's title and width come from the first table that brought it.
  if (result.header_row > 0 && layout.header_row > 0) {
    std::vector<int> fresh(static_cast<size_t>(layout.last_col) + 1, 0);
    for (size_t i = 0; i < layout.columns.size(); ++i) {
      const int rc = align.result_col[i];
      if (rc > before) fresh[static_cast<size_t>(layout.columns[i].source_col)] = rc;
    }
    auto title_col = [&](int c) {
      return c < static_cast<int>(fresh.size()) ? fresh[static_cast<size_t>(c)] : 0;
    };
    if (Status st = copier.Copy(layout.header_row, result.header_row, title_col); !st)
      return st.error();
  }
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    const int rc = align.result_col[i];
    if (rc > before)
      if (const double w = src.ColumnWidth(layout.columns[i].source_col); w > 0)
        dst.SetColumnWidth(rc, w);
  }
  int next = is_template ? layout.header_row + 1 : result.next_row;
  for (size_t i = 0; i < layout.kept_rows.size(); ++i) {
    // The user's stop is looked at every block of rows; the caller then ends the run.
    if ((i & 4095) == 4095 && run.StopRequested()) break;
    if (Status st = copier.Copy(layout.kept_rows[i], next++, col_of); !st) return st.error();
  }
  result.next_row = next;
  result.lost_formulas += copier.lost_formulas;
  return align;
}

RunResult Merge(VerticalMode mode, MergeContext& ctx) {
  const bool overwrite = mode == VerticalMode::kOverwrite;
  engine::EngineRun run(ctx);
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};
  if (!ctx.answers.Confirm({ConfirmText(mode, n), "合并提示"}))
    return {Outcome::kCancelled, std::nullopt};

  const int steps = n + (overwrite ? 1 : 0);
  run.Emit(ev::Started{RunRoad::kSafeVertical, steps});
  for (size_t k = 0; k < run.files.size(); ++k) run.SetByName(k, {});
  run.CreateResult();
  Building result;
  engine::SourceColumn sources(run.SheetColumn());

  // One table into the result: its columns lined up by name, its account kept.
  auto put = [&](engine::SourceTable& table, bool is_template) -> std::optional<RunResult> {
    const Worksheet& src = table.Sheet();
    const byname::TableLayout layout = byname::ReadLayout(src);
    const int first = is_template ? layout.header_row + 1 : result.next_row;
    auto align = PutTable(run, src, layout, is_template, result);
    if (!align) return run.Fail(align.error(), run.SourcePath(table.file_index));
    if (run.StopRequested()) return run.Interrupt();
    run.CloseTable(table);

    TableOutcome::ByName account;
    if (!is_template) {
      account.columns_added = align->added;
      account.columns_missing = align->missing;
      if (!align->added.empty() || !align->missing.empty())
        run.Emit(ev::ColumnsAligned{align->added, align->missing});
    }
    account.rows_skipped_blank = layout.blank_rows;
    account.rows_skipped_total = layout.total_rows;
    if (layout.blank_rows + layout.total_rows > 0)
      run.Emit(ev::RowsLeftOut{layout.blank_rows, layout.total_rows});
    run.SetByName(table, std::move(account));
    const auto kept = static_cast<long long>(layout.kept_rows.size());
    run.SetOutcome(table, is_template ? TableStatus::kTemplate : TableStatus::kMerged,
                   is_template ? layout.header_row + kept : kept);
    if (ctx.request.source_column)
      sources.Note(first, result.next_row - 1, table.file, table.sheet);
    run.Progress(static_cast<double>(table.file_index + 1));
    return std::nullopt;
  };

  run.AnnounceTemplate();
  engine::SourceTable table;
  if (auto ended = run.OpenTemplate(table)) return *ended;
  if (auto ended = put(table, true)) return *ended;
  for (engine::Next got; (got = run.NextTable(table)) != engine::Next::kEnd;) {
    if (got == engine::Next::kStopped) return run.Interrupt();
    if (auto ended = put(table, false)) return *ended;
  }

  int key = 0;
  HeaderList list;
  if (overwrite) {
    for (int c = 1; c <= result.columns.Count(); ++c)
      list.push_back({c, result.columns.At(c).title});
    key = engine::AskKeyColumn(ctx.answers, list, result.columns.Count());
    if (key == 0) return run.StopAtKey();
  }
  // Written before the overwrite pass, whose whole-row copies carry each kept row's name.
  if (ctx.request.source_column) {
    const int title_row = std::max(result.header_row, 1);
    if (Status st = sources.Write(*run.sheet, title_row, engine::ColumnAfterAll(*run.sheet)); !st)
      return run.Fail(st.error(), run.SourcePath(0));
  }
  if (key > 0) {
    if (run.StopRequested()) return run.Interrupt();
    OverwriteDuplicatesByText(*run.sheet, key, list[static_cast<size_t>(key - 1)].text,
                              result.header_row, ctx.events);
    run.Progress(steps);
  }
  std::vector<std::string> notes;
  if (result.lost_formulas > 0) notes.push_back(FormulasTurnedToValuesLine(result.lost_formulas));
  return run.SaveAndFinish(texts::kMergeResultName, std::move(notes));
}

}  // namespace

RunResult ByNameMerge(VerticalMode mode, MergeContext& ctx) {
  return Merge(mode, ctx);
}

}  // namespace qm
