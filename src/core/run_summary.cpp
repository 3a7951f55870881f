#include "core/run_summary.h"

#include <cstddef>

namespace qm {

RunSummary Summarize(const std::vector<TableOutcome>& outcomes) {
  RunSummary s;
  // Each file's tables are reported together, so a repeat follows its file at once.
  for (size_t i = 1; i < outcomes.size(); ++i)
    if (outcomes[i].file_index == outcomes[i - 1].file_index) s.tables = true;
  for (const TableOutcome& o : outcomes) {
    switch (o.status) {
      case TableStatus::kTemplate:
      case TableStatus::kMerged:
        ++s.merged;
        break;
      case TableStatus::kHeaderMismatch:
        ++s.header_mismatch;
        break;
      case TableStatus::kUnreadable:
        ++s.unreadable;
        break;
      case TableStatus::kNotReached:
        break;
    }
  }
  return s;
}

bool SomeFileLeftOut(const RunSummary& summary) {
  return summary.header_mismatch > 0 || summary.unreadable > 0;
}

std::string SummaryLine(const RunSummary& summary, const std::string& result_path) {
  return "合并完成：已合并" + std::to_string(summary.merged) +
         (summary.tables ? "个表，表头不符跳过" : "个文件，表头不符跳过") +
         std::to_string(summary.header_mismatch) + "个，无法读取跳过" +
         std::to_string(summary.unreadable) + "个。结果：" + result_path;
}

}  // namespace qm
