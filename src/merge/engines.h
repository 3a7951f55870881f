// The merge engines. Each runs one whole merge, talking to the user only through the port.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/header_rules.h"
#include "merge/port.h"
#include "workbook/application.h"

namespace qm {

enum class Outcome {
  kDone,         // the result was saved
  kCancelled,    // the user cancelled at the confirmation
  kStopped,      // an answer stopped the run (a key column of 0, ...)
  kFailed,       // a file could not be read or written; a message named it
  kEmpty,        // nothing to merge
  kInterrupted,  // the user stopped the run (停止); nothing was written
};

struct RunResult {
  Outcome outcome = Outcome::kEmpty;
  std::optional<std::string> result_path;  // the file written, when one was
};

// What an engine works with for one run: the application it drives, the port to the user, the
// window-level header values that persist between runs and the user's options for the result.
struct MergeContext {
  Application& app;
  InteractionPort& port;
  HeaderState& header;
  // Passwords to try on protected sources, in order, after the default one; owned by the front
  // end so that what worked in one run is tried first in the next. A password that opens a
  // source (one the user typed included) moves to the front. Null: the run keeps its own list.
  std::vector<std::string>* passwords = nullptr;
  // Adds the column 来源文件 right of the table, naming for every data row the listed workbook
  // it came from.
  bool source_column = false;
};

// What the vertical merges do with the stacked records.
enum class VerticalMode {
  kAppend,     // every record stays
  kOverwrite,  // a newer record replaces an older one of the same key
};

// What the unsorted smart merge does with a source row whose key the result lacks.
enum class SmartMode {
  kHorizontal,  // the row is dropped; sorted tables may take the forward-only path instead
  kBoth,        // the row is appended
};

RunResult FastMerge(VerticalMode mode, MergeContext& ctx);
RunResult SafeMerge(VerticalMode mode, MergeContext& ctx);
RunResult SmartMerge(SmartMode mode, MergeContext& ctx);
RunResult SortedSmartMerge(MergeContext& ctx);

// Collapses records with equal usable keys in `key_column` below header.HeaderRow: the first
// keeps its position and takes the whole content of the last; the others are deleted. Logs one
// line naming the key.
void OverwriteDuplicates(Worksheet& sheet, int key_column, const std::string& key_name,
                         const HeaderState& header, InteractionPort& port);

}  // namespace qm
