// Which engine the two option groups start, and how the second group's captions follow the
// first.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "merge/engines.h"

namespace qm {

enum class Engine { kSafeMerge, kFastMerge, kSmartMerge };

struct DispatchChoice {
  Engine engine;
  int mode;
  bool operator==(const DispatchChoice&) const = default;
};

// kind: 0 纵向拼接, 1 覆盖合并, 2 智能合并; variant: 0 or 1. nullopt when no row matches.
std::optional<DispatchChoice> Dispatch(int kind, int variant);

// The captions of the variant buttons for a merge kind, and the variant a click on that kind
// selects.
std::array<std::string, 2> VariantCaptions(int kind);
int VariantSelectedAfterKindClick(int kind);

// Runs the engine of a choice.
RunResult RunChoice(const DispatchChoice& choice, MergeContext& ctx);

}  // namespace qm
