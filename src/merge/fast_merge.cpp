// The fast variant of the vertical merges: every table's used range is moved as one block and
// the same user-given number of header rows is cut from every appended block.
#include <algorithm>
#include <cmath>

#include "merge/engine_run.h"
#include "merge/typed_number.h"

namespace qm {

RunResult FastMerge(VerticalMode vertical_mode, MergeContext& ctx) {
  // The overwrite pass takes one more progress step.
  const int mode = vertical_mode == VerticalMode::kOverwrite ? 1 : 0;
  engine::EngineRun run(ctx);
  InteractionPort& port = ctx.port;
  run.TakeFiles();
  const int n = static_cast<int>(run.files.size());
  if (n < 1) return {Outcome::kEmpty, std::nullopt};

  const std::string word = mode == 1 ? "覆盖" : "";
  if (port.Message("执行此操作，合并前不检查表头是否规范。你确定要纵向" + word + "合并这" +
                       std::to_string(n) + "个工作表吗？",
                   "合并提示", Buttons::kOkCancel) != Answer::kOk)
    return {Outcome::kCancelled, std::nullopt};

  port.ReplaceLog(engine::kStartLine);
  port.SetProgressMax(n + mode);
  port.SetProgressValue(0);
  run.AppendLog("检测表1:" + run.files[0]);
  run.TakeFolder();
  run.CreateResult();

  {
    auto tpl = run.OpenSource(0);
    if (!tpl) return run.FailTemplate(tpl.error());
    if (Status st = run.PasteTemplate(**tpl); !st) return run.Fail(st.error(), run.SourcePath(0));
    run.CloseSource(*tpl);
    run.SetOutcome(0, FileStatus::kTemplate, run.ResultRows());
  }

  auto rows_answer =
      port.Input(PromptKind::kHeaderRows, "快速合并要求表头必须从第一行开始，请问表头占几行？",
                 engine::kAppTitle, "1");
  // Whole rows to cut from every appended block; more than the grid holds cuts them all.
  const double h = RoundHalfEven(ReadTypedNumber(rows_answer));
  const int cut = h >= 1 ? static_cast<int>(std::min<double>(h, kMaxRows)) : 0;

  int key = 0;
  HeaderList list;
  if (mode > 0) {
    DetectHeader(*run.sheet, ctx.header);
    list = BuildHeaderList(*run.sheet, ctx.header);
    key = engine::AskKeyColumn(port, list, ctx.header.HeaderWidth);
    if (key == 0) {
      port.ReplaceLog(engine::kStoppedLine);
      port.Message(engine::kStopMessage, engine::kAppTitle, Buttons::kOk);
      return run.Stop();
    }
  }

  port.SetProgressValue(1);
  run.AppendLog(mode > 0 ? HeaderListText(list) : run.files[0]);

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
    if (Status st = run.PasteUsedRange(**src, next); !st) return run.Fail(st.error());
    run.CloseSource(*src);
    if (cut > 0) run.sheet->DeleteRows(next, cut);
    run.SetOutcome(static_cast<size_t>(k), FileStatus::kMerged,
                   std::max(0LL, run.ResultRows() - (next - 1)));
    port.SetProgressValue(k + 1);
  }

  if (key > 0) {
    OverwriteDuplicates(*run.sheet, key, list[static_cast<size_t>(key - 1)].text, ctx.header, port);
    port.SetProgressValue(n + mode);
  }

  return run.SaveAndFinish(engine::kMergeResultName);
}

}  // namespace qm
