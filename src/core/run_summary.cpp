#include "core/run_summary.h"

namespace qm {

RunSummary Summarize(const std::vector<TableOutcome>& outcomes) {
  RunSummary s;
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
  return "合并完成：已合并" + std::to_string(summary.merged) + "个文件，表头不符跳过" +
         std::to_string(summary.header_mismatch) + "个，无法读取跳过" +
         std::to_string(summary.unreadable) + "个。结果：" + result_path;
}

}  // namespace qm
