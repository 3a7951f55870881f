#include "core/dispatch.h"

#include <new>

namespace qm {

std::optional<DispatchChoice> Dispatch(MergeKind kind, MergeVariant variant) {
  struct RowOf {
    MergeKind kind;
    MergeVariant variant;
    DispatchChoice choice;
  };
  // Tried in this order; the first matching row wins.
  static const RowOf kTable[] = {
      {MergeKind::kVertical, MergeVariant::kSafe, {Engine::kSafeMerge, VerticalMode::kAppend}},
      {MergeKind::kOverwrite, MergeVariant::kSafe, {Engine::kSafeMerge, VerticalMode::kOverwrite}},
      {MergeKind::kVertical, MergeVariant::kFast, {Engine::kFastMerge, VerticalMode::kAppend}},
      {MergeKind::kOverwrite, MergeVariant::kFast, {Engine::kFastMerge, VerticalMode::kOverwrite}},
      {MergeKind::kSmart, MergeVariant::kHorizontal, {Engine::kSmartMerge, SmartMode::kHorizontal}},
      {MergeKind::kSmart, MergeVariant::kBoth, {Engine::kSmartMerge, SmartMode::kBoth}},
  };
  for (const auto& row : kTable)
    if (row.kind == kind && row.variant == variant) return row.choice;
  return std::nullopt;
}

namespace {

RunResult RunEngine(const DispatchChoice& choice, MergeContext& ctx) {
  const VerticalMode* vertical = std::get_if<VerticalMode>(&choice.mode);
  const SmartMode* smart = std::get_if<SmartMode>(&choice.mode);
  switch (choice.engine) {
    case Engine::kSafeMerge:
      if (vertical) return SafeMerge(*vertical, ctx);
      break;
    case Engine::kFastMerge:
      if (vertical) return FastMerge(*vertical, ctx);
      break;
    case Engine::kSmartMerge:
      if (smart) return SmartMerge(*smart, ctx);
      break;
  }
  return {};
}

}  // namespace

RunResult RunChoice(const DispatchChoice& choice, MergeContext& ctx) {
  try {
    return RunEngine(choice, ctx);
  } catch (const std::bad_alloc&) {
    // The engine's run unwound without its failure path; what it held is gone by now, so the
    // message has the memory it needs.
    ctx.answers.Acknowledge({"合并失败：内存不足（要合并的工作簿太大，本机内存放不下）", "合并"});
    return {Outcome::kFailed, std::nullopt};
  }
}

}  // namespace qm
