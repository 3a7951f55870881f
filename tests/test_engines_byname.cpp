// 按列名合并: header names that match and do not, columns lined up by name, blank and totals
// rows, keys that meet by their text, formulas that follow their cells, the run's texts.
#include "branch_reports.h"
#include "merge/byname_layout.h"
#include "merge/column_names.h"
#include "merge/presenter.h"

namespace qm::testing {
namespace {

using Lines = std::vector<std::string>;
using G = std::vector<std::vector<std::string>>;

TEST(ByNameNamesTest, HeaderTextsMatchAfterFoldingWidthSpacesAndAsciiCase) {
  const std::pair<const char*, const char*> same[] = {
      {"姓名 ", "姓名"},          {"姓　名", "姓名"},   {"\t姓\n名\r\n", "姓名"},
      {"金额（元）", "金额(元)"}, {"ID", "id"},         {"ＩＤ", "id"},
      {"２０２３年", "2023年"},   {"面积㎡", "面积m2"}, {"温度℃", "温度°C"},
      {"第Ⅲ季度", "第III季度"},   {"①号", "1号"},       {"单价\u00A0(元)", "单价(元)"},
  };
  for (const auto& [a, b] : same) EXPECT_EQ(byname::MatchName(a), byname::MatchName(b)) << a;
  const std::pair<const char*, const char*> differ[] = {
      {"姓名", "名字"}, {"金额", "金额(元)"}, {"Ä", "ä"}, {"部门1", "部门2"}, {"ID", "I D1"},
  };
  for (const auto& [a, b] : differ) EXPECT_NE(byname::MatchName(a), byname::MatchName(b)) << a;
  // Bytes that are not UTF-8 pass through instead of being lost or merged with others.
  EXPECT_EQ(byname::MatchName("A\xff"), "a\xff");
}

TEST(ByNameNamesTest, TotalsLabelsAndTrimmedKeys) {
  for (const char* yes : {"合计", "总计", "小计", "共计", "累计", "合 计", "合　计：", "总计:"})
    EXPECT_TRUE(byname::IsTotalsLabel(yes)) << yes;
  // Compared as written: no folding, nothing after the colon, no other words.
  for (const char* no : {"合计金额", "合计：：", "本月合计", "", "合计1"})
    EXPECT_FALSE(byname::IsTotalsLabel(no)) << no;
  EXPECT_EQ(byname::TrimWhiteSpace("\u3000 1001 \t"), "1001");
  EXPECT_EQ(byname::TrimWhiteSpace(" 10 01 "), "10 01");
  EXPECT_EQ(byname::TrimWhiteSpace("\u3000"), "");
}

void AddBranches(Bench& b) {
  for (const auto& [name, rows] : BranchReports()) b.Add(name, rows);
}

const G kStacked{
    {"t:工号", "t:姓名", "t:部门", "t:金额（元）", "t:备注"},
    {"n:1001", "t:张三", "t:销售部", "n:100"},
    {"n:1002", "t:李四", "t:市场部", "n:200"},
    {"n:1003", "t:王五", "t:销售部", "n:150"},
    {"n:1004", "t:赵六", "t:研发部", "n:300", "t:新员工"},
    {"t:1001", "t:张三", "t:销售部", "n:120"},
    {"n:1005", "t:孙七", "t:财务部", "n:80"},
    {"n:1006", "t:周八", "t:财务部", "n:90"},
    {"n:1007", "t:吴九", "t:行政部", "n:60"},
    {"t:1002 ", "t:李四", "", "n:250"},
};

TEST(ByNameMergeTest, SevenBranchReportsLineUpByNameWithTheRunsTexts) {
  Bench b;
  AddBranches(b);
  RunResult r = ByNameMerge(VerticalMode::kAppend, b.ctx);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  ASSERT_NE(b.Saved(), nullptr);
  EXPECT_EQ(Grid(*b.Saved()), kStacked);
  EXPECT_EQ(b.port.LogLines(),
            (Lines{"开始合并...", "检测表1:北京分公司.xls", "跳过空行1行、合计行1行",
                   "检测表2:上海分公司.xlsx", "检测表3:广州分公司.xls", "按列名对齐：新增列 备注",
                   "检测表4:深圳分公司.xlsx", "按列名对齐：缺少列 备注", "跳过空行0行、合计行1行",
                   "检测表5:成都分公司.xls", "按列名对齐：缺少列 备注", "跳过空行2行、合计行0行",
                   "检测表6:杭州分公司.xls", "按列名对齐：缺少列 备注", "检测表7:武汉分公司.xlsx",
                   "按列名对齐：缺少列 部门、备注", "跳过空行0行、合计行1行", "合并操作结束！"}));
  ASSERT_EQ(b.port.dialogs.size(), 1u);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，将按表头名称对齐各表的列后纵向合并这7个工作表，你确定吗？");
  EXPECT_EQ(b.port.dialogs[0].title, "合并提示");
  EXPECT_EQ(b.port.dialogs[0].kind, "question");
  // The safe merge's opening: status cleared, then the bar, then the log replaced.
  EXPECT_EQ(std::vector<std::string>(b.port.events.begin() + 1, b.port.events.begin() + 5),
            (Lines{"clear status", "max 7", "value 0", "log"}));
  EXPECT_EQ(b.port.EventsStartingWith("value"),
            (Lines{"value 0", "value 1", "value 2", "value 3", "value 4", "value 5", "value 6",
                   "value 7"}));
  ASSERT_EQ(b.port.outcomes.size(), 7u);
  const long long rows[] = {3, 1, 1, 1, 2, 1, 1};
  for (size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(b.port.outcomes[k].status, k == 0 ? TableStatus::kTemplate : TableStatus::kMerged);
    EXPECT_EQ(b.port.outcomes[k].rows, rows[k]) << k;
    ASSERT_TRUE(b.port.outcomes[k].by_name.has_value());
  }
  const auto& tpl = *b.port.outcomes[0].by_name;
  EXPECT_TRUE(tpl.columns_added.empty());
  EXPECT_TRUE(tpl.columns_missing.empty());
  EXPECT_EQ(tpl.rows_skipped_blank, 1);
  EXPECT_EQ(tpl.rows_skipped_total, 1);
  EXPECT_EQ(b.port.outcomes[2].by_name->columns_added, (Lines{"备注"}));
  EXPECT_EQ(b.port.outcomes[6].by_name->columns_missing, (Lines{"部门", "备注"}));
  EXPECT_EQ(b.port.outcomes[4].by_name->rows_skipped_blank, 2);
}

TEST(ByNameMergeTest, TitleRowsStayInTheTemplateOnlyAndNewColumnsTakeTheirFirstTablesTitle) {
  Bench b;
  b.Add("a.xls", Rows{{"三月报表"}, {"编号", "名称"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"标题"}, {"副标题"}, {"Code", "名称", "编号"}, {"x", "乙", 2}});
  b.Add("c.xls", Rows{{"code", "编号"}, {"y", 3}});
  ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:三月报表"},
                                 {"t:编号", "t:名称", "t:Code"},
                                 {"n:1", "t:甲"},
                                 {"n:2", "t:乙", "t:x"},
                                 {"n:3", "", "t:y"}}));
  EXPECT_EQ(b.port.LogLines()[3], "按列名对齐：新增列 Code");
  EXPECT_EQ(b.port.LogLines()[5], "按列名对齐：缺少列 名称");
  // Rows above the header and the header count for the template only.
  EXPECT_EQ(b.port.outcomes[0].rows, 3);
  EXPECT_EQ(b.port.outcomes[1].rows, 1);
}

TEST(ByNameMergeTest, RepeatedNamesPairInOrderAndAnExtraRepeatIsANewColumn) {
  Bench b;
  b.Add("a.xls", Rows{{"日期", "金额", "金额"}, {1, 10, 11}});
  b.Add("b.xls", Rows{{"金额", "日期", "金额", "金额"}, {20, 2, 21, 22}});
  ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:日期", "t:金额", "t:金额", "t:金额"},
                                 {"n:1", "n:10", "n:11"},
                                 {"n:2", "n:20", "n:21", "n:22"}}));
  EXPECT_EQ(b.port.LogLines()[3], "按列名对齐：新增列 金额");
}

TEST(ByNameMergeTest, UntitledColumnsWithDataStayApartAndEmptyOnesCloseUp) {
  Bench b;
  // Column 3 of the template has neither title nor data; column 4 has data but no title. The
  // gaps keep every data row's run from column 1 as short as the header's, so the header is
  // still the row found.
  b.Add("a.xls", Rows{{"编号", "名称", V(), V(), "备注"}, {1, "甲", V(), "x", "a"}});
  b.Add("b.xls", Rows{{"编号", "名称", V(), V()}, {2, "乙", V(), "y"}});
  b.port.inputs = {"3"};
  ASSERT_EQ(ByNameMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:名称", "", "t:备注"},
                                 {"n:1", "t:甲", "t:x", "t:a"},
                                 {"n:2", "t:乙", "", "", "t:y"}}));
  // Never matched, never missing, listed untitled.
  EXPECT_EQ(b.port.LogLines()[3], "按列名对齐：新增列 （空表头）；缺少列 备注");
  EXPECT_EQ(b.port.outcomes[1].by_name->columns_added, (Lines{"（空表头）"}));
  ASSERT_EQ(b.port.dialogs.size(), 2u);
  EXPECT_EQ(b.port.dialogs[1].text, " 1:编号| 2:名称| 3:| 4:备注| 5:|\r请输入关键字列列号！");
  EXPECT_EQ(b.port.dialogs[1].title, "输入提示");
  EXPECT_EQ(b.port.dialogs[1].default_answer, "1");
}

TEST(ByNameMergeTest, BlankAndTotalsRowsAreLeftOutWhereverTheyStand) {
  Bench b;
  b.Add("a.xls", Rows{{"部门", "金额"},
                      {"销售部", 10},
                      {V(), V()},
                      // A cell of spaces is not empty: the row stays.
                      {" ", V()},
                      {V(), "合计：", 10},
                      {"累计", 10},
                      {"合计金额", 5}});
  ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()),
            (G{{"t:部门", "t:金额"}, {"t:销售部", "n:10"}, {"t: "}, {"t:合计金额", "n:5"}}));
  // The third column holds data only in a totals row: it is no column.
  EXPECT_EQ(b.port.LogLines()[2], "跳过空行1行、合计行2行");
}

TEST(ByNameMergeTest, OverwriteMeetsKeysByTextAndKeepsTheNewestAtTheOldestsPlace) {
  Bench b;
  AddBranches(b);
  b.request.source_column = true;
  b.port.inputs = {"1"};
  RunResult r = ByNameMerge(VerticalMode::kOverwrite, b.ctx);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，将按表头名称对齐各表的列后纵向覆盖合并这7个工作表，你确定吗？");
  // Asked once every table is in, listing every result column but 来源文件.
  EXPECT_EQ(b.port.dialogs[1].text,
            " 1:工号| 2:姓名| 3:部门| 4:金额（元）| 5:备注|\r请输入关键字列列号！");
  EXPECT_EQ(b.port.EventsStartingWith("max"), (Lines{"max 8"}));
  EXPECT_EQ(b.port.EventsStartingWith("value").back(), "value 8");
  const Lines log = b.port.LogLines();
  EXPECT_EQ(log[log.size() - 2], "正在将关键字(工号)相同的新记录覆盖旧记录...");
  EXPECT_EQ(Grid(*b.Saved()),
            (G{{"t:工号", "t:姓名", "t:部门", "t:金额（元）", "t:备注", "t:来源文件"},
               {"t:1001", "t:张三", "t:销售部", "n:120", "", "t:深圳分公司.xlsx"},
               {"t:1002 ", "t:李四", "", "n:250", "", "t:武汉分公司.xlsx"},
               {"n:1003", "t:王五", "t:销售部", "n:150", "", "t:上海分公司.xlsx"},
               {"n:1004", "t:赵六", "t:研发部", "n:300", "t:新员工", "t:广州分公司.xls"},
               {"n:1005", "t:孙七", "t:财务部", "n:80", "", "t:成都分公司.xls"},
               {"n:1006", "t:周八", "t:财务部", "n:90", "", "t:成都分公司.xls"},
               {"n:1007", "t:吴九", "t:行政部", "n:60", "", "t:杭州分公司.xls"}}));
}

TEST(ByNameMergeTest, KeysWhoseTextsDifferOrAreEmptyNeverMeet) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "值"}, {"001", "a"}, {V(), "b"}, {" ", "c"}});
  b.Add("b.xls", Rows{{"编号", "值"}, {1, "d"}, {V(), "e"}, {"\u3000", "f"}, {"001", "g"}});
  b.port.inputs = {"1"};
  ASSERT_EQ(ByNameMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:值"},
                                 {"t:001", "t:g"},
                                 {"", "t:b"},
                                 {"t: ", "t:c"},
                                 {"n:1", "t:d"},
                                 {"", "t:e"},
                                 {"t:\u3000", "t:f"}}));
}

TEST(ByNameMergeTest, KeyAnswerOutsideTheResultsColumnsStopsLikeTheSafeMerge) {
  for (std::optional<std::string> answer :
       {std::optional<std::string>("0"), std::optional<std::string>("6"),
        std::optional<std::string>("abc"), std::optional<std::string>()}) {
    Bench b;
    AddBranches(b);
    b.port.inputs = {answer};
    EXPECT_EQ(ByNameMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kStopped);
    EXPECT_EQ(b.Saved(), nullptr);
    EXPECT_EQ(b.port.status, (Lines{"已退出合并操作！"}));
    EXPECT_EQ(b.port.dialogs.back().text, "输入为0或输入错误，退出合并操作！");
    // Every table's lines stay.
    EXPECT_EQ(b.port.LogLines().back(), "跳过空行0行、合计行1行");
  }
}

TEST(ByNameMergeTest, FormulasFollowTheirCellsAndLoseOnlyWhatTheResultLacks) {
  Bench b;
  b.Add("a.xls", Rows{{"数量", "单价", "金额"}, {2, 5, 10}, {3, 5, 15}});
  auto wb = Book(
      Rows{{"单价", "金额", "数量", "说明"}, {4, 8, 2, "x"}, {}, {6, 18, 3, "y"}, {"合计", 26}});
  Worksheet& ws = *wb->Worksheets(1);
  (void)ws.SetFormula(2, 2, "A2*C2");
  (void)ws.SetFormula(4, 2, "$A$4*C4");
  (void)ws.SetFormula(2, 4, "A1");          // the header row is cut
  (void)ws.SetFormula(5, 2, "SUM(B2:B4)");  // in a totals row: gone with it
  (void)ws.SetFormula(4, 4, "SUM(B2:B4)");  // the blank row closes up
  (void)ws.SetFormula(5, 3, "A2:B2");       // an area that comes apart... in a dropped row
  b.Add("b.xls", std::move(wb));
  ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  const Worksheet& out = *b.Saved();
  EXPECT_EQ(out.Cells(4, 3).formula, "B4*A4");
  EXPECT_EQ(out.Cells(5, 3).formula, "$B$5*A5");
  EXPECT_EQ(out.Cells(5, 4).formula, "SUM(C4:C5)");
  EXPECT_EQ(out.Cells(4, 4).formula, "");
  EXPECT_EQ(Show(out.Cells(4, 4)), "t:x");
  EXPECT_EQ(b.port.LogLines()[b.port.LogLines().size() - 2],
            "1个公式引用的单元格不在结果中，已改为其值");
}

TEST(ByNameMergeTest, AreaWhoseColumnsNoLongerStandTogetherKeepsItsValue) {
  Bench b;
  b.Add("a.xls", Rows{{"甲", "乙", "丙"}, {1, 2, 3}});
  auto wb = Book(Rows{{"甲", "丙", "乙", "和"}, {1, 3, 2, 6}});
  (void)wb->Worksheets(1)->SetFormula(2, 4, "SUM(A2:C2)");
  b.Add("b.xls", std::move(wb));
  ASSERT_EQ(ByNameMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.Saved()->Cells(3, 4).formula, "");
  EXPECT_EQ(Show(b.Saved()->Cells(3, 4)), "n:6");
}

}  // namespace
}  // namespace qm::testing

namespace qm::testing {
namespace {

// Appending a row's cells one by one let each row's storage double past what it held, which
// cost the by-name merge about 10 MB more than the safe merge on 400,000 rows.
TEST(ByNameMergeTest, AppendCellsGrowsARowOnceAndKeepsOrderWhenCellsComeOutOfTurn) {
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("Sheet1");
  auto cell = [](int col, double v) {
    Cell c{};
    c.number = v;
    c.col = static_cast<uint16_t>(col);
    c.type = static_cast<uint32_t>(CellType::kNumber);
    return c;
  };
  std::vector<Cell> row;
  for (int c = 1; c <= 13; ++c) row.push_back(cell(c, c));
  ws.AppendCells(2, row);
  EXPECT_EQ(ws.RowAt(2)->cells.capacity(), 13u);
  EXPECT_EQ(ws.UsedRange(), (Range{2, 1, 2, 13}));
  // Cells left of what the row holds go in at their places.
  ws.AppendCells(3, std::vector<Cell>{cell(5, 5)});
  ws.AppendCells(3, std::vector<Cell>{cell(2, 2), cell(7, 7)});
  EXPECT_EQ(Grid(ws)[2], (std::vector<std::string>{"", "n:2", "", "", "n:5", "", "n:7"}));
}

}  // namespace
}  // namespace qm::testing
