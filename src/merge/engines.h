// The merge engines. Each runs one whole merge, talking to the user only through the port.
#pragma once

#include <optional>
#include <string>

#include "merge/header_rules.h"
#include "merge/port.h"
#include "workbook/application.h"

namespace qm {

enum class Outcome {
  kDone,       // the result was saved
  kCancelled,  // the user cancelled at the confirmation
  kStopped,    // an answer stopped the run (a key column of 0, ...)
  kFailed,     // a file could not be read or written; a message named it
  kEmpty,      // nothing to merge
};

struct RunResult {
  Outcome outcome = Outcome::kEmpty;
  std::optional<std::string> result_path;  // the file written, when one was
};

// What an engine works with for one run: the application it drives, the port to the user and
// the window-level header values that persist between runs.
struct MergeContext {
  Application& app;
  InteractionPort& port;
  HeaderState& header;
};

RunResult FastMerge(int mode, MergeContext& ctx);
RunResult SafeMerge(int mode, MergeContext& ctx);
RunResult SmartMerge(int mode, MergeContext& ctx);
RunResult SortedSmartMerge(MergeContext& ctx);

// Collapses records with equal usable keys in `key_column` below header.HeaderRow: the first
// keeps its position and takes the whole content of the last; the others are deleted. Logs one
// line naming the key.
void OverwriteDuplicates(Worksheet& sheet, int key_column, const std::string& key_name,
                         const HeaderState& header, InteractionPort& port);

}  // namespace qm
