// Which engine a merge kind and variant start, shared by the window and the command line.
#pragma once

#include <optional>
#include <variant>

#include "merge/engines.h"
#include "merge/request.h"

namespace qm {

enum class Engine { kSafeMerge, kFastMerge, kSmartMerge };

struct DispatchChoice {
  Engine engine;
  // VerticalMode for the safe and the fast merge, SmartMode for the smart merge.
  std::variant<VerticalMode, SmartMode> mode;
  bool operator==(const DispatchChoice&) const = default;
};

// nullopt when the variant does not go with the kind.
std::optional<DispatchChoice> Dispatch(MergeKind kind, MergeVariant variant);

// Runs the engine of a choice.
RunResult RunChoice(const DispatchChoice& choice, MergeContext& ctx);

}  // namespace qm
