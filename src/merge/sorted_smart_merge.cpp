// The horizontal smart merge for tables sorted by key: the search for a key only moves forward
// from the row after the previous match. Sorted row positions per key give the same first match
// at or after the cursor that a forward scan finds, so unsorted input drops the same rows.
#include "merge/key_index.h"
#include "merge/smart_common.h"
#include "merge/source_column.h"
#include "workbook/value_text.h"

namespace qm {

RunResult SortedSmartMerge(MergeContext& ctx) {
  InteractionPort& port = ctx.port;
  engine::EngineRun run(ctx);
  run.TakeFiles();
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  port.SetProgressMax(n);
  port.SetProgressValue(0);
  run.TakeFolder();
  port.ClearStatus();
  port.PrintStatus("开始智能合并...");
  run.CreateResult();
  port.SetCurrentEntry(0);

  engine::SmartResult res;
  RunResult ended;
  const int key = engine::StartSmartResult(run, ctx.header, res, &ended);
  if (key == 0) return ended;
  // No row is appended on this path: every data row is the template's.
  engine::SourceColumn sources;
  sources.Note(res.header_row + 1, engine::LastUsedRow(*run.sheet), run.files[0]);

  engine::Filler filler(*run.sheet);
  Worksheet& sheet = *run.sheet;
  for (int f = 1; f < n; ++f) {
    const int row_count = sheet.UsedRange().RowsCount();
    auto src_wb = run.OpenSource(static_cast<size_t>(f));
    if (!src_wb) {
      // This path reports on the status lines only.
      run.SkipUnreadable(static_cast<size_t>(f), src_wb.error(), engine::ReportTo::kStatus);
      port.SetProgressValue(f + 1);
      continue;
    }
    engine::SmartSource src;
    src.sheet = (*src_wb)->Worksheets(1);
    DetectHeader(*src.sheet, ctx.header);
    src.header_row = ctx.header.HeaderRow;
    src.width = ctx.header.HeaderWidth;
    Status st = engine::MergeHeaders(sheet, res, src, filler);

    engine::KeyIndex index;
    index.Build(sheet, key, res.header_row + 1, row_count);
    int cursor = res.header_row + 1;
    for (int r = src.header_row + 1; st && r <= kMaxRows; ++r) {
      CellValue kv = src.sheet->Cells(r, key);
      if (IsEmptyValue(kv)) break;
      auto k = engine::KeyOf(kv);
      const int j = k ? index.FirstFrom(*k, cursor) : 0;
      if (j == 0) continue;  // not found at or after the cursor: the row is dropped
      // Rows above the cursor are never searched again in this table, so a fill that changes
      // the key of row j needs no index update.
      bool wrote = false;
      st = filler.Fill(src, r, key + 1, j, key, wrote);
      cursor = j + 1;
    }
    if (!st) return run.Fail(st.error(), (*src_wb)->FullName());
    run.CloseSource(*src_wb);
    run.SetOutcome(static_cast<size_t>(f), FileStatus::kMerged, 0);
    port.SetProgressValue(f + 1);
  }

  // Right of every header the tables brought, so that none of them lands on it.
  if (ctx.source_column) {
    if (Status st = sources.Write(*run.sheet, res.header_row, res.width + 1); !st)
      return run.Fail(st.error(), run.SourcePath(0));
  }

  // This path reports on the status lines only, so the switch to .xlsx is told there too.
  return run.SaveAndFinish(engine::kSmartResultName, engine::ReportTo::kStatus,
                           "智能合并操作完成！");
}

}  // namespace qm
