// The smart merge for unsorted tables: every source row is looked up among all result data rows
// by its key; matched rows are completed, and in the both mode unmatched rows are appended. The
// lookup goes through a key index that finds exactly the rows a top-to-bottom scan would.
#include "merge/key_index.h"
#include "merge/smart_common.h"
#include "merge/source_column.h"
#include "workbook/value_text.h"

namespace qm {

namespace {

// Merges one source table into the result. `index` covers the result data rows. `stopped` is set
// when the user stopped the run in the middle of it.
Status MergeTable(engine::EngineRun& run, SmartMode mode, int key, engine::SmartResult& res,
                  engine::SmartSource& src, engine::Filler& filler, int& row_count, bool& stopped) {
  Worksheet& sheet = *run.sheet;
  if (Status st = engine::MergeHeaders(sheet, res, src, filler); !st) return st;

  engine::KeyIndex index;
  index.Build(sheet, key, res.header_row + 1, row_count);
  // A fill that writes into the key column changes which rows later source rows find.
  bool fills_key = false;
  for (int k = key; k <= src.width; ++k)
    if (src.target[static_cast<size_t>(k)] == key) fills_key = true;

  std::vector<int> matches, cols;
  for (int r = src.header_row + 1; r <= kMaxRows; ++r) {
    if ((r & 4095) == 0 && run.StopRequested()) {
      stopped = true;
      return Status::Ok();
    }
    CellValue kv = src.sheet->Cells(r, key);
    if (IsEmptyValue(kv)) break;
    auto k = engine::KeyOf(kv);
    bool found = false;
    if (k) {
      // The result columns this row has values for: once every row of the key holds a value in
      // each, filling them again changes nothing, which keeps many equal keys linear.
      cols.clear();
      for (int c = key + 1; c <= src.width; ++c)
        if (const Cell* cell = src.sheet->FindCell(r, c);
            cell && !IsEmptyValue(src.sheet->ValueOf(*cell)))
          cols.push_back(src.target[static_cast<size_t>(c)]);
      found = index.RowsToFill(*k, cols, matches);
      for (int j : matches) {
        std::optional<engine::Key> before;
        if (fills_key) before = engine::KeyOf(sheet.Cells(j, key));
        bool wrote = false;
        if (Status st = filler.Fill(src, r, key + 1, j, key, wrote); !st) return st;
        if (wrote) {
          if (before) index.Erase(*before, j);
          if (auto after = engine::KeyOf(sheet.Cells(j, key))) index.Insert(*after, j);
        }
      }
      if (!matches.empty()) index.MarkHeld(*k, cols);
    }
    if (mode == SmartMode::kBoth && !found) {
      const int j = ++row_count;
      bool wrote = false;
      if (Status st = filler.Fill(src, r, key, j, key, wrote); !st) return st;
      if (auto after = engine::KeyOf(sheet.Cells(j, key))) index.Insert(*after, j);
    }
  }
  return Status::Ok();
}

}  // namespace

RunResult SmartMerge(SmartMode mode, MergeContext& ctx) {
  const int n = static_cast<int>(ctx.request.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  if (mode == SmartMode::kHorizontal &&
      ctx.answers.AnswerSorted(
          {"如果所有表格均已按关键字列升序排序，选择“是”，否则点“否”。", texts::kAppTitle}))
    return SortedSmartMerge(ctx);

  engine::EngineRun run(ctx);
  run.Emit(ev::Started{RunRoad::kSmart, n});
  run.AnnounceTemplate();
  run.CreateResult();
  run.Emit(ev::CurrentEntry{0});

  engine::SmartResult res;
  RunResult ended;
  const int key = engine::StartSmartResult(run, ctx.header, res, &ended);
  if (key == 0) return ended;
  // Rows keep the workbook that brought them; completing a row does not change it.
  engine::SourceColumn sources(run.SheetColumn());
  sources.Note(res.header_row + 1, engine::LastUsedRow(*run.sheet), run.files[0],
               run.TemplateSheet());

  engine::Filler filler(*run.sheet);
  engine::SourceTable table;
  for (engine::Next got; (got = run.NextTable(table)) != engine::Next::kEnd;) {
    if (got == engine::Next::kStopped) return run.Interrupt();
    const size_t entry = table.file_index;
    int row_count = run.sheet->UsedRange().RowsCount();
    const int rows_before = row_count;
    engine::SmartSource src;
    src.sheet = &table.Sheet();
    DetectHeader(*src.sheet, ctx.header);
    src.header_row = ctx.header.HeaderRow;
    src.width = ctx.header.HeaderWidth;
    bool stopped = false;
    if (Status st = MergeTable(run, mode, key, res, src, filler, row_count, stopped); !st)
      return run.Fail(st.error(), run.SourcePath(entry));
    if (stopped) return run.Interrupt();
    run.CloseTable(table);
    sources.Note(rows_before + 1, row_count, table.file, table.sheet);
    // A table that only filled cells joined the result all the same.
    run.SetOutcome(table, TableStatus::kMerged, row_count - rows_before);
    run.Progress(static_cast<double>(entry + 1));
  }

  if (ctx.request.source_column) {
    if (Status st = sources.Write(*run.sheet, res.header_row, engine::ColumnAfterAll(*run.sheet));
        !st)
      return run.Fail(st.error(), run.SourcePath(0));
  }

  return run.SaveAndFinish(texts::kSmartResultName);
}

}  // namespace qm
