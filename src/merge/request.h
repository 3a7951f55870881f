// What a front end hands an engine for one run: the merge request. Everything the engine needs
// to know of the user's choices is in it; nothing is read back from the window.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace qm {

enum class MergeKind {
  kVertical,   // 纵向拼接
  kOverwrite,  // 覆盖合并
  kSmart,      // 智能合并
};

// The vertical kinds come safe, fast or by column name, the smart kind horizontal or both.
enum class MergeVariant { kSafe, kFast, kHorizontal, kBoth, kByName };

// Which sheets of each workbook become tables of the run.
enum class SheetMode {
  kFirst,         // the first worksheet, hidden or not
  kFirstVisible,  // the first worksheet that is not hidden
  kAllVisible,    // every worksheet that is not hidden, in tab order
  kNamed,         // the worksheet named `SheetChoice::name`
};

struct SheetChoice {
  SheetMode mode = SheetMode::kFirst;
  std::string name;  // kNamed only
};

struct MergeRequest {
  // The source folder, with or without a trailing separator.
  std::string folder;
  // The listed files, bare names in list order; entry 0 is the template.
  std::vector<std::string> files;
  MergeKind kind = MergeKind::kVertical;
  MergeVariant variant = MergeVariant::kSafe;
  // Adds the column 来源文件 naming every data row's workbook (and, with every visible sheet
  // taken, 来源工作表 naming its sheet).
  bool source_column = false;
  SheetChoice sheets;
  // Passwords to try on protected sources after the default one, owned by the front end so that
  // what worked in one run is tried first in the next (a password that opens a source moves to
  // the front). Null: the run keeps its own list.
  std::vector<std::string>* passwords = nullptr;
  // Set by the front end, from any thread, to stop the run: it ends at the next table, password
  // try or block of rows, with nothing written. Null: the run cannot be stopped.
  const std::atomic<bool>* stop = nullptr;

  bool StopRequested() const { return stop && stop->load(std::memory_order_relaxed); }
};

}  // namespace qm
