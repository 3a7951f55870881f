#include "app/core/dispatch.h"

#include <new>

namespace qm {

std::optional<DispatchChoice> Dispatch(int kind, int variant) {
  struct RowOf {
    int kind, variant;
    DispatchChoice choice;
  };
  // Tried in this order; the first matching row wins.
  static constexpr RowOf kTable[] = {
      {0, 0, {Engine::kSafeMerge, 0}},  {1, 0, {Engine::kSafeMerge, 1}},
      {0, 1, {Engine::kFastMerge, 0}},  {1, 1, {Engine::kFastMerge, 1}},
      {2, 0, {Engine::kSmartMerge, 0}}, {2, 1, {Engine::kSmartMerge, 1}},
  };
  for (const auto& row : kTable)
    if (row.kind == kind && row.variant == variant) return row.choice;
  return std::nullopt;
}

std::array<std::string, 2> VariantCaptions(int kind) {
  if (kind == 2) return {"横向合并", "纵横合并"};
  return {"安全合并", "快速合并"};
}

int VariantSelectedAfterKindClick(int kind) {
  return kind == 2 ? 1 : 0;
}

namespace {

RunResult RunEngine(const DispatchChoice& choice, MergeContext& ctx) {
  switch (choice.engine) {
    case Engine::kSafeMerge:
      return SafeMerge(choice.mode, ctx);
    case Engine::kFastMerge:
      return FastMerge(choice.mode, ctx);
    case Engine::kSmartMerge:
      return SmartMerge(choice.mode, ctx);
  }
  return {};
}

}  // namespace

RunResult RunChoice(const DispatchChoice& choice, MergeContext& ctx) {
  try {
    return RunEngine(choice, ctx);
  } catch (const std::bad_alloc&) {
    // The engine's run unwound without its failure path: drop what it left open (the memory
    // comes back before the message needs any) and end the application as a failed run does.
    ctx.app.Quit();
    ctx.port.Message("合并失败：内存不足（要合并的工作簿太大，本机内存放不下）", "合并",
                     Buttons::kOk);
    return {Outcome::kFailed, std::nullopt};
  }
}

}  // namespace qm
