// Which sheets of a workbook become tables: the first (as always), the first visible one, every
// visible one, or the one of a given name; how the log, the outcomes and the columns 来源文件 and
// 来源工作表 name the tables that are not a file's first sheet.
#include <algorithm>
#include <tuple>

#include "merge/sheet_choice.h"
#include "merge/source_column.h"
#include "test_engines_port.h"

namespace qm::testing {
namespace {

using G = std::vector<std::vector<std::string>>;

// A workbook of named sheets, each with a header row 编号/金额 and the given keys; `hidden`
// sheets are hidden.
std::unique_ptr<Workbook> Sheets(
    const std::vector<std::tuple<std::string, std::vector<int>, bool>>& sheets) {
  auto wb = std::make_unique<Workbook>();
  for (const auto& [name, keys, hidden] : sheets) {
    Worksheet& ws = wb->AddWorksheet(name);
    Rows rows{{"编号", "金额"}};
    for (int k : keys) rows.push_back({k, k * 10});
    Fill(ws, rows);
    ws.SetHidden(hidden);
  }
  return wb;
}

SheetChoice Named(const std::string& name) {
  return {SheetMode::kNamed, name};
}

TEST(SheetChoiceTest, EachChoiceTakesItsSheetsAndNamesTheHiddenOnesPassedOver) {
  auto wb = Sheets(
      {{"草稿", {1}, true}, {"一月", {2}, false}, {"备注", {3}, true}, {"二月", {4}, false}});
  auto first = ChooseSheets(*wb, {}, "a.xlsx");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->sheets, std::vector<int>{1});
  EXPECT_TRUE(first->hidden.empty());

  auto visible = ChooseSheets(*wb, {SheetMode::kFirstVisible, {}}, "a.xlsx");
  ASSERT_TRUE(visible);
  EXPECT_EQ(visible->sheets, std::vector<int>{2});
  EXPECT_EQ(visible->hidden, std::vector<std::string>{"草稿"});

  auto all = ChooseSheets(*wb, {SheetMode::kAllVisible, {}}, "a.xlsx");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->sheets, (std::vector<int>{2, 4}));
  EXPECT_EQ(all->hidden, (std::vector<std::string>{"草稿", "备注"}));

  // A name asked for is taken even when hidden; ASCII letters compare without case.
  auto named = ChooseSheets(*wb, Named("备注"), "a.xlsx");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->sheets, std::vector<int>{3});
  auto sheet1 = Sheets({{"Sheet1", {1}, false}});
  ASSERT_TRUE(ChooseSheets(*sheet1, Named("SHEET1"), "b.xls"));

  auto missing = ChooseSheets(*wb, Named("三月"), "a.xlsx");
  ASSERT_FALSE(missing);
  EXPECT_STREQ(ErrorCodeName(missing.error().code), "no-sheet");
  EXPECT_EQ(ErrorReason(missing.error(), "a.xlsx"), "没有名为“三月”的工作表");

  auto none = Sheets({{"甲", {1}, true}});
  auto no_visible = ChooseSheets(*none, {SheetMode::kAllVisible, {}}, "c.xlsx");
  ASSERT_FALSE(no_visible);
  EXPECT_EQ(ErrorReason(no_visible.error(), "c.xlsx"), "没有可见的工作表");
}

TEST(SheetChoiceTest, TextAndWebExportsAreOneTableWhateverTheChoice) {
  for (SourceFormat f : {SourceFormat::kCsv, SourceFormat::kHtml}) {
    auto wb = Sheets({{"导出", {1}, false}});
    wb->SetFormat(f);
    for (const SheetChoice& c : {SheetChoice{SheetMode::kAllVisible, {}}, Named("明细")}) {
      auto r = ChooseSheets(*wb, c, "x.csv");
      ASSERT_TRUE(r);
      EXPECT_EQ(r->sheets, std::vector<int>{1});
    }
  }
}

// a.xlsx: 一月, hidden 草稿, 二月; b.xls: one sheet.
void AddYear(Bench& b) {
  b.Add("a.xlsx", Sheets({{"一月", {1, 2}, false}, {"草稿", {9}, true}, {"二月", {3}, false}}));
  b.Add("b.xls", Sheets({{"Sheet1", {4}, false}}));
}

TEST(EngineSheetsTest, EveryVisibleSheetIsATableNamedInTheLogAndInTheOutcomes) {
  Bench b;
  AddYear(b);
  b.request.sheets = {SheetMode::kAllVisible, {}};
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:金额"},
                                 {"n:1", "n:10"},
                                 {"n:2", "n:20"},
                                 {"n:3", "n:30"},
                                 {"n:4", "n:40"}}));
  const std::vector<std::string> lines = b.port.LogLines();
  const std::vector<std::string> want = {
      "开始合并...",      "检测表1:a.xlsx",         "注意：a.xlsx的隐藏工作表“草稿”未合并",
      " 1:编号| 2:金额|", "检测表2:a.xlsx［二月］", " 1:编号| 2:金额|",
      "检测表3:b.xls",    " 1:编号| 2:金额|",       "合并操作结束！"};
  EXPECT_EQ(lines, want);
  EXPECT_EQ(b.port.EventsStartingWith("file "),
            (std::vector<std::string>{"file template a.xlsx", "file merged a.xlsx",
                                      "file merged b.xls"}));
  ASSERT_EQ(b.port.outcomes.size(), 3u);
  EXPECT_EQ(b.port.outcomes[0].sheet, "一月");
  EXPECT_EQ(b.port.outcomes[1].sheet, "二月");
  EXPECT_EQ(b.port.outcomes[1].rows, 1);
  EXPECT_EQ(b.port.outcomes[2].file_index, 1u);
}

TEST(EngineSheetsTest, FirstVisibleSheetPassesOverAHiddenFirstSheet) {
  Bench b;
  b.Add("a.xls", Sheets({{"一月", {1}, false}}));
  b.Add("b.xlsx", Sheets({{"草稿", {9}, true}, {"明细", {2}, false}, {"其他", {3}, false}}));
  b.request.sheets = {SheetMode::kFirstVisible, {}};
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:金额"}, {"n:1", "n:10"}, {"n:2", "n:20"}}));
  const auto lines = b.port.LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "检测表2:b.xlsx［明细］"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "注意：b.xlsx的隐藏工作表“草稿”未合并"),
            lines.end());
}

TEST(EngineSheetsTest, AWorkbookWithoutTheNamedSheetIsSkippedAndATemplateWithoutItEndsTheRun) {
  {
    Bench b;
    b.Add("a.xlsx", Sheets({{"汇总", {0}, false}, {"明细", {1}, false}}));
    b.Add("b.xlsx", Sheets({{"明细", {2}, false}}));
    b.Add("c.xlsx", Sheets({{"Sheet1", {3}, false}}));
    b.request.sheets = Named("明细");
    ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:金额"}, {"n:1", "n:10"}, {"n:2", "n:20"}}));
    const auto lines = b.port.LogLines();
    EXPECT_EQ(lines[1], "检测表1:a.xlsx［明细］");
    EXPECT_EQ(lines[3], "检测表2:b.xlsx");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "无法读取，已跳过：c.xlsx（没有名为“明细”的工作表）"),
        lines.end());
    ASSERT_EQ(b.port.outcomes.size(), 3u);
    EXPECT_EQ(b.port.outcomes[2].status, TableStatus::kUnreadable);
    EXPECT_EQ(b.port.outcomes[2].code, "no-sheet");
  }
  {
    Bench b;
    b.Add("a.xlsx", Sheets({{"Sheet1", {1}, false}}));
    b.Add("b.xlsx", Sheets({{"明细", {2}, false}}));
    b.request.sheets = Named("明细");
    b.port.inputs = {"1"};
    ASSERT_EQ(SmartMerge(SmartMode::kBoth, b.ctx).outcome, Outcome::kFailed);
    EXPECT_EQ(b.port.dialogs.back().text, "合并失败：/src/a.xlsx：没有名为“明细”的工作表");
    EXPECT_FALSE(b.store.Has("/src/合并结果/智能合并结果.xls"));
  }
}

// With every sheet taken, 来源工作表 beside 来源文件 names the sheet of each row, in the vertical
// and the smart merges alike.
TEST(EngineSheetsTest, SourceColumnsNameTheFileAndTheSheetOfEveryRow) {
  const G kWithSources = {{"t:编号", "t:金额", "t:来源文件", "t:来源工作表"},
                          {"n:1", "n:10", "t:a.xlsx", "t:一月"},
                          {"n:2", "n:20", "t:a.xlsx", "t:一月"},
                          {"n:3", "n:30", "t:a.xlsx", "t:二月"},
                          {"n:4", "n:40", "t:b.xls", "t:Sheet1"}};
  {
    Bench b;
    AddYear(b);
    b.request.sheets = {SheetMode::kAllVisible, {}};
    b.request.source_column = true;
    ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved()), kWithSources);
  }
  {
    Bench b;
    AddYear(b);
    b.request.sheets = {SheetMode::kAllVisible, {}};
    b.request.source_column = true;
    b.port.inputs = {"1"};
    ASSERT_EQ(SmartMerge(SmartMode::kBoth, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), kWithSources);
  }
  {
    // The by-name merge takes the same tables: it read the first sheets alone once.
    Bench b;
    AddYear(b);
    b.request.sheets = {SheetMode::kAllVisible, {}};
    b.request.source_column = true;
    ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved()), kWithSources);
    const auto lines = b.port.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "检测表2:a.xlsx［二月］"), lines.end());
    ASSERT_EQ(b.port.outcomes.size(), 3u);
    EXPECT_EQ(b.port.outcomes[1].rows, 1);
  }
  {
    // One sheet per file: no second column, even with a name asked for.
    Bench b;
    b.Add("a.xlsx", Sheets({{"甲", {1}, false}, {"明细", {1}, false}}));
    b.request.sheets = Named("明细");
    b.request.source_column = true;
    ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved())[0], (std::vector<std::string>{"t:编号", "t:金额", "t:来源文件"}));
  }
}

}  // namespace
}  // namespace qm::testing
