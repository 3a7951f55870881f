// The one place where a run's events become what the user reads: the log lines, the status
// lines, the progress bar, in the order and words every front end shows.
#pragma once

#include <string>
#include <vector>

#include "merge/events.h"
#include "merge/run_view.h"

namespace qm {

class Presenter : public RunEvents {
 public:
  explicit Presenter(RunView& view) : view_(view) {}
  void On(const RunEvent& event) override;

 private:
  void Apply(const ev::Started& e);
  // A line on the log (scrolled into view when `scroll`), or on the status lines for the road
  // that reports there.
  void Tell(const std::string& line, bool scroll);

  RunView& view_;
  RunRoad road_ = RunRoad::kSafeVertical;
};

// The line that tells the user a source was left out because it could not be read.
std::string SkippedLine(const std::string& file, const std::string& reason);
// The line that tells the user that the sheet merged from `file` is one they do not see.
std::string HiddenFirstSheetLine(const std::string& file, const std::string& sheet);
// The by-name merge's line for a table that added or lacked columns.
std::string AlignmentLine(const std::vector<std::string>& added,
                          const std::vector<std::string>& missing);
// The line after a by-name save that counts the formulas that lost a referenced cell.
std::string FormulasTurnedToValuesLine(long long count);
// The line that names the hidden sheets of `file` the run's sheet choice left out:
// 注意：<file>的隐藏工作表“A”、“B”未合并
std::string HiddenSheetsLine(const std::string& file, const std::vector<std::string>& sheets);
// The line that tells the user the result went to .xlsx.
std::string SwitchedToXlsxLine(const std::string& path);

}  // namespace qm
