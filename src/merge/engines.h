// The merge engines. Each runs one whole merge from a request: it asks its questions through the
// answers source and reports what happens as events.
#pragma once

#include <optional>
#include <string>

#include "merge/answers.h"
#include "merge/events.h"
#include "merge/header_rules.h"
#include "merge/request.h"
#include "workbook/store.h"

namespace qm {

enum class Outcome {
  kDone,         // the result was saved
  kCancelled,    // the user cancelled at a question before anything was written
  kStopped,      // an answer stopped the run (a key column of 0, ...)
  kFailed,       // a file could not be read or written; a message named it
  kEmpty,        // nothing to merge
  kInterrupted,  // the user stopped the run (停止); nothing was written
};

struct RunResult {
  Outcome outcome = Outcome::kEmpty;
  std::optional<std::string> result_path;  // the file written, when one was
};

// What an engine works with for one run: the request, the answers source, where its events go,
// the header values that persist between runs and where workbooks are read and saved.
struct MergeContext {
  const MergeRequest& request;
  Answers& answers;
  RunEvents& events;
  HeaderState& header;
  WorkbookStore& store;
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
// keeps its position and takes the whole content of the last; the others are deleted. Reports
// that it starts, naming the key.
void OverwriteDuplicates(Worksheet& sheet, int key_column, const std::string& key_name,
                         const HeaderState& header, RunEvents& events);

}  // namespace qm
