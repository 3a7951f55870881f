// The window's two option groups: the merge kind and variant each button stands for, and the
// captions of the variant buttons, which follow the kind.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "core/dispatch.h"

namespace qm {

// The kind buttons, top to bottom: 纵向拼接, 覆盖合并, 智能合并.
inline constexpr std::array<MergeKind, 3> kKindButtons = {MergeKind::kVertical,
                                                          MergeKind::kOverwrite, MergeKind::kSmart};

// The merge kind and variant of the checked buttons (-1 for a group with none checked); nullopt
// when there is none.
std::optional<std::pair<MergeKind, MergeVariant>> KindAndVariantOfButtons(int kind_button,
                                                                          int variant_button);
// The engine those buttons start.
std::optional<DispatchChoice> ChoiceOfButtons(int kind_button, int variant_button);

// The captions of the variant buttons for a merge kind, and the variant button a click on that
// kind checks.
std::array<std::string, 2> VariantCaptions(MergeKind kind);
int VariantSelectedAfterKindClick(MergeKind kind);

}  // namespace qm
