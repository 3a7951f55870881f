// The careful variant of the vertical merges: every table's header is detected and compared with
// the template's before the table is appended; a table that differs is named and left out.
#include <algorithm>

#include "merge/engine_run.h"

namespace qm {

RunResult SafeMerge(VerticalMode vertical_mode, MergeContext& ctx) {
  // The overwrite pass takes one more progress step.
  const int mode = vertical_mode == VerticalMode::kOverwrite ? 1 : 0;
  engine::EngineRun run(ctx);
  InteractionPort& port = ctx.port;
  run.TakeFiles();
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  const std::string word = mode == 1 ? "覆盖" : "";
  if (port.Message("执行此操作，合并每一个工作表前均会检查表头是否规范，速度稍慢。你确定要纵向" +
                       word + "合并这" + std::to_string(n) + "个工作表吗？",
                   "合并提示", Buttons::kOkCancel) != Answer::kOk)
    return {Outcome::kCancelled, std::nullopt};

  port.ClearStatus();
  port.SetProgressMax(n + mode);
  port.SetProgressValue(0);
  port.ReplaceLog(engine::kStartLine);
  run.TakeFolder();
  run.CreateResult();
  run.AppendLog("检测表1:" + run.files[0]);

  {
    auto tpl = run.OpenSource(0);
    if (!tpl) return run.FailTemplate(tpl.error());
    if (Status st = run.PasteTemplate(**tpl); !st) return run.Fail(st.error(), run.SourcePath(0));
    run.CloseSource(*tpl);
    run.SetOutcome(0, FileStatus::kTemplate, run.ResultRows());
  }

  int key = 0;
  DetectHeader(*run.sheet, ctx.header);
  const HeaderList tpl_list = BuildHeaderList(*run.sheet, ctx.header);
  const std::string tpl_text = HeaderListText(tpl_list);
  if (mode > 0) {
    key = engine::AskKeyColumn(port, tpl_list, ctx.header.HeaderWidth);
    if (key == 0) {
      port.PrintStatus(engine::kStoppedLine);
      port.Message(engine::kStopMessage, engine::kAppTitle, Buttons::kOk);
      return run.Stop();
    }
  }

  port.SetProgressValue(1);
  run.AppendLog(tpl_text);

  for (int k = 1; k < n; ++k) {
    run.AppendLog("检测表" + std::to_string(k + 1) + ":" + run.files[static_cast<size_t>(k)]);
    run.ScrollLog();
    const int next = run.sheet->UsedRange().RowsCount() + 1;
    auto src = run.OpenSource(static_cast<size_t>(k));
    if (!src) {
      run.SkipUnreadable(static_cast<size_t>(k), src.error());
      port.SetProgressValue(k + 1);
      continue;
    }
    Worksheet& ws = *(*src)->Worksheets(1);
    DetectHeader(ws, ctx.header);
    const std::string text = HeaderListText(BuildHeaderList(ws, ctx.header));
    if (text == tpl_text) {
      // The header and every row above it go; a table in which no header was found has
      // nothing to cut.
      if (ctx.header.HeaderWidth > 0) ws.DeleteRows(1, ctx.header.HeaderRow);
      if (Status st = run.PasteUsedRange(**src, next); !st) return run.Fail(st.error());
      run.SetOutcome(static_cast<size_t>(k), FileStatus::kMerged,
                     std::max(0LL, run.ResultRows() - (next - 1)));
    } else {
      run.AppendLog("未合并，表格不规范！");
      run.SetOutcome(static_cast<size_t>(k), FileStatus::kHeaderMismatch, 0);
    }
    run.AppendLog(text);
    run.ScrollLog();
    run.CloseSource(*src);
    port.SetProgressValue(k + 1);
  }

  if (key > 0) {
    DetectHeader(*run.sheet, ctx.header);
    OverwriteDuplicates(*run.sheet, key, tpl_list[static_cast<size_t>(key - 1)].text, ctx.header,
                        port);
    port.SetProgressValue(n + mode);
  }

  return run.SaveAndFinish(engine::kMergeResultName);
}

}  // namespace qm
