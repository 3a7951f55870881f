// Placeholder until the engines land; replaced file by file.
#include "merge/engines.h"

namespace qm {

namespace {
RunResult NotYet(MergeContext& ctx) {
  ctx.port.Message("not implemented yet", "合并", Buttons::kOk);
  return {Outcome::kFailed, std::nullopt};
}
}  // namespace

RunResult FastMerge(int, MergeContext& ctx) {
  return NotYet(ctx);
}
RunResult SafeMerge(int, MergeContext& ctx) {
  return NotYet(ctx);
}
RunResult SmartMerge(int, MergeContext& ctx) {
  return NotYet(ctx);
}
RunResult SortedSmartMerge(MergeContext& ctx) {
  return NotYet(ctx);
}

}  // namespace qm
