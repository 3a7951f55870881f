#include "app/option_groups.h"

namespace qm {

std::optional<std::pair<MergeKind, MergeVariant>> KindAndVariantOfButtons(int kind_button,
                                                                          int variant_button) {
  if (kind_button < 0 || kind_button >= static_cast<int>(kKindButtons.size())) return std::nullopt;
  const MergeKind kind = kKindButtons[static_cast<size_t>(kind_button)];
  // The same two buttons read safe and fast for the vertical kinds, horizontal and both for the
  // smart one.
  static constexpr MergeVariant kVertical[] = {MergeVariant::kSafe, MergeVariant::kFast};
  static constexpr MergeVariant kSmart[] = {MergeVariant::kHorizontal, MergeVariant::kBoth};
  if (variant_button < 0 || variant_button > 1) return std::nullopt;
  const auto i = static_cast<size_t>(variant_button);
  return std::make_pair(kind, kind == MergeKind::kSmart ? kSmart[i] : kVertical[i]);
}

std::optional<DispatchChoice> ChoiceOfButtons(int kind_button, int variant_button) {
  const auto chosen = KindAndVariantOfButtons(kind_button, variant_button);
  if (!chosen) return std::nullopt;
  return Dispatch(chosen->first, chosen->second);
}

std::array<std::string, 2> VariantCaptions(MergeKind kind) {
  if (kind == MergeKind::kSmart) return {"横向合并", "纵横合并"};
  return {"安全合并", "快速合并"};
}

int VariantSelectedAfterKindClick(MergeKind kind) {
  return kind == MergeKind::kSmart ? 1 : 0;
}

}  // namespace qm
