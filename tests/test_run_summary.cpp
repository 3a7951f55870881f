// The closing account of a run: which outcomes count where, and the exact line.
#include <gtest/gtest.h>

#include "core/run_summary.h"

namespace qm {
namespace {

TableOutcome Of(size_t index, TableStatus status) {
  TableOutcome o;
  o.file_index = index;
  o.name = std::to_string(index) + ".xls";
  o.status = status;
  return o;
}

TEST(RunSummary, CountsTheTemplateAmongTheMergedAndLeavesUnreachedFilesOut) {
  const RunSummary s =
      Summarize({Of(0, TableStatus::kTemplate), Of(1, TableStatus::kMerged),
                 Of(2, TableStatus::kHeaderMismatch), Of(3, TableStatus::kUnreadable),
                 Of(4, TableStatus::kMerged), Of(5, TableStatus::kHeaderMismatch),
                 Of(6, TableStatus::kNotReached)});
  EXPECT_EQ(s.merged, 3);
  EXPECT_EQ(s.header_mismatch, 2);
  EXPECT_EQ(s.unreadable, 1);

  const RunSummary none = Summarize({});
  EXPECT_EQ(none.merged + none.header_mismatch + none.unreadable, 0);
}

// A header mismatch used to leave the command line's exit status at 0.
TEST(RunSummary, AFileLeftOutForItsHeaderCountsAsLeftOutLikeAnUnreadableOne) {
  EXPECT_FALSE(SomeFileLeftOut({5, 0, 0}));
  EXPECT_TRUE(SomeFileLeftOut({5, 1, 0}));
  EXPECT_TRUE(SomeFileLeftOut({5, 0, 1}));
  // Files never reached (a run that stopped) are no files left out of a saved result.
  EXPECT_FALSE(
      SomeFileLeftOut(Summarize({Of(0, TableStatus::kTemplate), Of(1, TableStatus::kNotReached)})));
}

TEST(RunSummary, LineGivesTheCountsAndTheFullResultPath) {
  EXPECT_EQ(SummaryLine({3, 2, 1}, "/数据/月报/合并结果/合并结果.xls"),
            "合并完成：已合并3个文件，表头不符跳过2个，无法读取跳过1个。结果：/数据/月报/合并结果/"
            "合并结果.xls");
  EXPECT_EQ(SummaryLine({12, 0, 0}, "C:\\表\\合并结果\\智能合并结果.xlsx"),
            "合并完成：已合并12个文件，表头不符跳过0个，无法读取跳过0个。结果：C:\\表\\合并结果\\"
            "智能合并结果.xlsx");
}

// With every sheet taken, a workbook of three sheets made the account say 已合并3个文件.
TEST(RunSummary, ARunOfSeveralSheetsPerFileCountsTablesAndSaysSo) {
  const RunSummary s =
      Summarize({Of(0, TableStatus::kTemplate), Of(0, TableStatus::kMerged),
                 Of(0, TableStatus::kHeaderMismatch), Of(1, TableStatus::kUnreadable)});
  EXPECT_TRUE(s.tables);
  EXPECT_EQ(SummaryLine(s, "/r.xls"),
            "合并完成：已合并2个表，表头不符跳过1个，无法读取跳过1个。结果：/r.xls");
  EXPECT_FALSE(Summarize({Of(0, TableStatus::kTemplate), Of(1, TableStatus::kMerged)}).tables);
}

}  // namespace
}  // namespace qm
