// The closing account of a run, from the outcomes the engine reported for the listed files;
// shared by the window and the command line so both say it in the same words.
#pragma once

#include <string>
#include <vector>

#include "merge/run_view.h"

namespace qm {

struct RunSummary {
  int merged = 0;           // the template and every file that joined the result
  int header_mismatch = 0;  // left out by the safe merge: header unlike the template's
  int unreadable = 0;       // could not be read and were skipped
  // Some file gave more than one table (a run that took several sheets of a workbook): the
  // counts are of tables, and the account says so.
  bool tables = false;
};

RunSummary Summarize(const std::vector<TableOutcome>& outcomes);

// Whether a listed file was left out whole: unreadable, or skipped for its header (even one
// without data rows). Rows a merge's own rules drop (a key not found, blank or totals rows)
// leave no file out. Scripts learn it from the command line's exit status 3.
bool SomeFileLeftOut(const RunSummary& summary);

// "合并完成：已合并N个文件，表头不符跳过M个，无法读取跳过K个。结果：<result_path>"; 个表 for
// 个文件 when the counts are of tables.
std::string SummaryLine(const RunSummary& summary, const std::string& result_path);

}  // namespace qm
