// The horizontal smart merge for tables sorted by key: the search for a key moves forward from
// the row after the previous match. Sorted row positions per key give the same first match at or
// after the cursor that a forward scan finds. The user's word that the tables are sorted is not
// trusted with their rows: a key found only behind the cursor (a table out of order, or a key
// repeated more often than in the result) fills the first row that holds it, and the user is told
// how many rows needed that.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "merge/key_index.h"
#include "merge/smart_common.h"
#include "merge/source_column.h"
#include "workbook/value_text.h"

namespace qm {

RunResult SortedSmartMerge(MergeContext& ctx) {
  engine::EngineRun run(ctx);
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  run.Emit(ev::Started{RunRoad::kSortedSmart, n});
  run.CreateResult();
  run.Emit(ev::CurrentEntry{0});

  engine::SmartResult res;
  RunResult ended;
  const int key = engine::StartSmartResult(run, ctx.header, res, &ended);
  if (key == 0) return ended;
  // No row is appended on this path: every data row is the template's.
  engine::SourceColumn sources(run.SheetColumn());
  sources.Note(res.header_row + 1, engine::LastUsedRow(*run.sheet), run.files[0],
               run.TemplateSheet());

  engine::Filler filler(*run.sheet);
  Worksheet& sheet = *run.sheet;
  long long behind = 0;  // source rows that filled a row behind the cursor
  engine::SourceTable table;
  for (engine::Next got; (got = run.NextTable(table)) != engine::Next::kEnd;) {
    if (got == engine::Next::kStopped) return run.Interrupt();
    const size_t entry = table.file_index;
    const int row_count = sheet.UsedRange().RowsCount();
    engine::SmartSource src;
    src.sheet = &table.Sheet();
    DetectHeader(*src.sheet, ctx.header);
    src.header_row = ctx.header.HeaderRow;
    src.width = ctx.header.HeaderWidth;
    Status st = engine::MergeHeaders(sheet, res, src, filler);

    engine::KeyIndex index;
    index.Build(sheet, key, res.header_row + 1, row_count);
    // A source column headed like the key column fills result key cells (a blank key, which
    // equals 0); rows behind the cursor are searched again, so the index must follow.
    bool fills_key = false;
    for (int c = key + 1; c <= src.width; ++c)
      if (src.target[static_cast<size_t>(c)] == key) fills_key = true;
    auto fill = [&](int r, int j) {
      std::optional<engine::Key> before;
      if (fills_key) before = engine::KeyOf(sheet.Cells(j, key));
      bool wrote = false;
      Status done = filler.Fill(src, r, key + 1, j, key, wrote);
      if (wrote) {
        if (before) index.Erase(*before, j);
        if (auto after = engine::KeyOf(sheet.Cells(j, key))) index.Insert(*after, j);
      }
      return done;
    };
    int cursor = res.header_row + 1;
    for (int r = src.header_row + 1; st && r <= kMaxRows; ++r) {
      if ((r & 4095) == 0 && run.StopRequested()) return run.Interrupt();
      CellValue kv = src.sheet->Cells(r, key);
      if (IsEmptyValue(kv)) break;
      auto k = engine::KeyOf(kv);
      if (!k) continue;  // an error value equals no key
      if (const int j = index.FirstFrom(*k, cursor); j != 0) {
        st = fill(r, j);
        cursor = j + 1;
      } else if (std::span<const int> rows = index.Find(*k); !rows.empty()) {
        // Only behind the cursor: the first row of that key takes it, and the cursor stays.
        st = fill(r, rows.front());
        ++behind;
      }
    }
    if (!st) return run.Fail(st.error(), run.SourcePath(entry));
    run.CloseTable(table);
    run.SetOutcome(table, TableStatus::kMerged, 0);
    run.Progress(static_cast<double>(entry + 1));
  }

  if (ctx.request.source_column) {
    if (Status st = sources.Write(*run.sheet, res.header_row, engine::ColumnAfterAll(*run.sheet));
        !st)
      return run.Fail(st.error(), run.SourcePath(0));
  }

  std::vector<std::string> notes;
  if (behind > 0)
    notes.push_back("有" + std::to_string(behind) + "行未按关键列升序排列，已逐行查找合并");
  return run.SaveAndFinish(texts::kSmartResultName, std::move(notes));
}

}  // namespace qm
