// The vertical merges: the template's table first, then every other table's rows below it,
// optionally followed by the overwrite pass. The fast and the safe merge are this one engine
// with two header policies; what each says to the user on the way stays its own.
#include <algorithm>
#include <optional>

#include "merge/engine_run.h"
#include "merge/source_column.h"
#include "merge/typed_number.h"

namespace qm {

namespace {

enum class HeaderPolicy {
  // Fast: every table's used range is moved as one block and the same user-given number of
  // header rows is cut from every appended block.
  kFixedRows,
  // Safe: every table's header is detected and compared with the template's before the table
  // is appended; a table that differs is named and left out.
  kDetected,
};

std::string ConfirmText(HeaderPolicy policy, VerticalMode mode, int n) {
  const std::string caution = policy == HeaderPolicy::kDetected
                                  ? "执行此操作，合并每一个工作表前均会检查表头是否规范，速度稍慢。"
                                  : "执行此操作，合并前不检查表头是否规范。";
  const std::string word = mode == VerticalMode::kOverwrite ? "覆盖" : "";
  return caution + "你确定要纵向" + word + "合并这" + std::to_string(n) + "个工作表吗？";
}

// The fast merge's question: whole rows to cut from every appended block; more than the grid
// holds cuts them all. nullopt for Cancel: stacking every title and header row in as data is
// never what the user asked for. An empty answer given with OK cuts nothing.
std::optional<int> AskHeaderRows(Answers& answers) {
  auto answer = answers.AnswerHeaderRows({PromptKind::kHeaderRows,
                                          "快速合并要求表头必须从第一行开始，请问表头占几行？",
                                          texts::kAppTitle, "1"});
  if (!answer) return std::nullopt;
  const double h = RoundHalfEven(ReadTypedNumber(answer));
  return h >= 1 ? static_cast<int>(std::min<double>(h, kMaxRows)) : 0;
}

// Appends a table at row `next` and cuts `cut` rows from the block's top.
Status AppendBlock(engine::EngineRun& run, engine::SourceTable& table, int next, int cut) {
  if (Status st = run.PasteUsedRange(table.Sheet(), next); !st) return st;
  run.CloseTable(table);
  if (cut > 0) run.sheet->DeleteRows(next, cut);
  run.SetOutcome(table, TableStatus::kMerged, std::max(0LL, run.ResultRows() - (next - 1)));
  return Status::Ok();
}

// Appends a table at row `next` without its header and the rows above it when its header list
// reads as the template's; reports the table's header list and whether it matched. `appended`
// tells whether it went in.
Status AppendIfHeaderMatches(engine::EngineRun& run, engine::SourceTable& table, int next,
                             HeaderState& header, const std::string& tpl_text, bool& appended) {
  Worksheet& ws = table.Sheet();
  DetectHeader(ws, header);
  const std::string text = HeaderListText(BuildHeaderList(ws, header));
  appended = text == tpl_text;
  if (appended) {
    // A table in which no header was found has nothing to cut.
    if (header.HeaderWidth > 0) ws.DeleteRows(1, header.HeaderRow);
    if (Status st = run.PasteUsedRange(ws, next); !st) return st;
    run.SetOutcome(table, TableStatus::kMerged, std::max(0LL, run.ResultRows() - (next - 1)));
  } else {
    run.SetOutcome(table, TableStatus::kHeaderMismatch, 0);
  }
  run.Emit(ev::TableHeader{text, appended});
  run.CloseTable(table);
  return Status::Ok();
}

// The row that titles the column 来源文件: the template's header row. The fast merge records no
// header of its own, so its header row is the last of the rows the user said to cut; an answer
// of 0 rows (or a safe merge's template without a header) puts the title into row 1.
int SourceTitleRow(HeaderPolicy policy, const Worksheet& tpl_sheet, const HeaderState& tpl_header,
                   int cut) {
  if (policy == HeaderPolicy::kDetected)
    return tpl_header.HeaderWidth > 0 ? tpl_header.HeaderRow : 1;
  return std::max(1, std::min(cut, engine::LastUsedRow(tpl_sheet)));
}

RunResult VerticalMerge(HeaderPolicy policy, VerticalMode mode, MergeContext& ctx) {
  const bool detected = policy == HeaderPolicy::kDetected;
  const bool overwrite = mode == VerticalMode::kOverwrite;
  engine::EngineRun run(ctx);
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  if (!ctx.answers.Confirm({ConfirmText(policy, mode, n), "合并提示"}))
    return {Outcome::kCancelled, std::nullopt};

  // The overwrite pass is one more progress step.
  const int steps = n + (overwrite ? 1 : 0);
  run.Emit(ev::Started{detected ? RunRoad::kSafeVertical : RunRoad::kFastVertical, steps});
  run.AnnounceTemplate();
  run.CreateResult();

  if (auto ended = run.TakeTemplate()) return *ended;

  int cut = 0;
  if (!detected) {
    const std::optional<int> rows = AskHeaderRows(ctx.answers);
    if (!rows) return run.Cancel();
    cut = *rows;
  }

  // The template's header: the safe merge holds every table to it, the overwrite pass names its
  // key from it. The fast merge without that pass never looks for it.
  HeaderList list;
  if (detected || overwrite) {
    DetectHeader(*run.sheet, ctx.header);
    list = BuildHeaderList(*run.sheet, ctx.header);
  }
  const std::string tpl_text = HeaderListText(list);
  int key = 0;
  if (overwrite) {
    key = engine::AskKeyColumn(ctx.answers, list, ctx.header.HeaderWidth);
    if (key == 0) return run.StopAtKey();
  }

  engine::SourceColumn sources(run.SheetColumn());
  int source_row = 1;
  if (ctx.request.source_column) {
    source_row = SourceTitleRow(policy, *run.sheet, ctx.header, cut);
    sources.Note(source_row + 1, engine::LastUsedRow(*run.sheet), run.files[0],
                 run.TemplateSheet());
  }

  run.Progress(1);
  run.Emit(ev::TemplateShown{detected || overwrite ? tpl_text : run.files[0]});

  engine::SourceTable table;
  for (engine::Next got; (got = run.NextTable(table)) != engine::Next::kEnd;) {
    if (got == engine::Next::kStopped) return run.Interrupt();
    const int next = run.sheet->UsedRange().RowsCount() + 1;
    bool appended = true;
    Status st = detected ? AppendIfHeaderMatches(run, table, next, ctx.header, tpl_text, appended)
                         : AppendBlock(run, table, next, cut);
    if (!st) return run.Fail(st.error(), run.SourcePath(table.file_index));
    if (appended && ctx.request.source_column)
      sources.Note(next, engine::LastUsedRow(*run.sheet), table.file, table.sheet);
    run.Progress(static_cast<double>(table.file_index + 1));
  }

  // The safe merge finds the header again over the stacked result.
  if (key > 0 && detected) DetectHeader(*run.sheet, ctx.header);
  // Written after that, so the header is found as without the column, and before the overwrite
  // pass, whose whole-row copies carry each kept row's name with its content.
  if (ctx.request.source_column) {
    if (Status st = sources.Write(*run.sheet, source_row, engine::ColumnAfterAll(*run.sheet)); !st)
      return run.Fail(st.error(), run.SourcePath(0));
  }
  if (key > 0) {
    if (run.StopRequested()) return run.Interrupt();
    OverwriteDuplicates(*run.sheet, key, list[static_cast<size_t>(key - 1)].text, ctx.header,
                        ctx.events);
    run.Progress(steps);
  }

  return run.SaveAndFinish(texts::kMergeResultName);
}

}  // namespace

RunResult FastMerge(VerticalMode mode, MergeContext& ctx) {
  return VerticalMerge(HeaderPolicy::kFixedRows, mode, ctx);
}

RunResult SafeMerge(VerticalMode mode, MergeContext& ctx) {
  return VerticalMerge(HeaderPolicy::kDetected, mode, ctx);
}

}  // namespace qm
