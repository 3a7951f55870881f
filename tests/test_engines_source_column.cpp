// The column 来源文件: with the option on every engine names each data row's workbook right of
// the table; with it off, and in everything but that column, a run is the run without it.
#include "test_engines_port.h"

namespace qm::testing {
namespace {

using G = std::vector<std::vector<std::string>>;

enum class Eng {
  kSafe,
  kFast,
  kSafeOverwrite,
  kFastOverwrite,
  kSmartHorizontal,
  kSmartBoth,
  kSorted
};
const Eng kAll[] = {
    Eng::kSafe,      Eng::kFast,  Eng::kSafeOverwrite, Eng::kFastOverwrite, Eng::kSmartHorizontal,
    Eng::kSmartBoth, Eng::kSorted};

const char* Name(Eng e) {
  const char* names[] = {
      "safe",       "fast",  "safe overwrite", "fast overwrite", "smart horizontal",
      "smart both", "sorted"};
  return names[static_cast<int>(e)];
}

// Runs one engine with the answers a plain run needs: one header row, key column 1.
RunResult RunEngine(Eng e, Bench& b) {
  switch (e) {
    case Eng::kSafe:
      return SafeMerge(VerticalMode::kAppend, b.ctx);
    case Eng::kFast:
      b.port.inputs = {"1"};
      return FastMerge(VerticalMode::kAppend, b.ctx);
    case Eng::kSafeOverwrite:
      b.port.inputs = {"1"};
      return SafeMerge(VerticalMode::kOverwrite, b.ctx);
    case Eng::kFastOverwrite:
      b.port.inputs = {"1", "1"};
      return FastMerge(VerticalMode::kOverwrite, b.ctx);
    case Eng::kSmartHorizontal:
      b.port.inputs = {"1"};
      return SmartMerge(SmartMode::kHorizontal, b.ctx);
    case Eng::kSmartBoth:
      b.port.inputs = {"1"};
      return SmartMerge(SmartMode::kBoth, b.ctx);
    case Eng::kSorted:
      b.port.inputs = {"1"};
      b.port.buttons = {Answer::kYes};
      return SmartMerge(SmartMode::kHorizontal, b.ctx);
  }
  return {};
}

const Worksheet* Result(const Bench& b, Eng e) {
  const bool smart = e == Eng::kSmartHorizontal || e == Eng::kSmartBoth || e == Eng::kSorted;
  return b.Saved(smart ? "智能合并结果.xls" : "合并结果.xls");
}

// Three tables of one layout keyed on 编号: key 1 and 2 come again later, 乙's amount is left for
// b.xls to bring.
void AddMonths(Bench& b) {
  b.Add("a.xls", Rows{{"编号", "姓名", "金额"}, {1, "甲", 10}, {2, "乙", V()}});
  b.Add("b.xls", Rows{{"编号", "姓名", "金额"}, {2, "乙2", 20}, {3, "丙", 30}});
  b.Add("c.xlsx", Rows{{"编号", "姓名", "金额"}, {1, "甲3", V()}});
}

// The grid without the column headed 来源文件 (found in any row), rows cut after their last
// non-blank cell again.
G WithoutSourceColumn(G grid) {
  size_t col = std::string::npos;
  for (const auto& row : grid)
    for (size_t c = 0; c < row.size(); ++c)
      if (row[c] == "t:来源文件") col = c;
  if (col == std::string::npos) return grid;
  for (auto& row : grid) {
    if (col < row.size()) row[col].clear();
    while (!row.empty() && row.back().empty()) row.pop_back();
  }
  return grid;
}

TEST(SourceColumnTest, EveryEngineWithTheOptionOnlyAddsTheColumnAndAsksAndTellsTheSame) {
  for (Eng e : kAll) {
    SCOPED_TRACE(Name(e));
    Bench off, on;
    AddMonths(off);
    AddMonths(on);
    on.request.source_column = true;
    ASSERT_EQ(RunEngine(e, off).outcome, Outcome::kDone);
    ASSERT_EQ(RunEngine(e, on).outcome, Outcome::kDone);
    ASSERT_NE(Result(off, e), nullptr);
    ASSERT_NE(Result(on, e), nullptr);
    const G plain = Grid(*Result(off, e));
    const G with = Grid(*Result(on, e));
    EXPECT_NE(plain, with);
    EXPECT_EQ(WithoutSourceColumn(with), plain);
    for (const auto& row : plain)
      for (const auto& cell : row) EXPECT_NE(cell, "t:来源文件");
    // The key prompt lists the template's headers only, header checks pass and fail alike and
    // the header values the window keeps are those of a run without the column.
    EXPECT_EQ(on.port.log, off.port.log);
    EXPECT_EQ(on.port.status, off.port.status);
    ASSERT_EQ(on.port.dialogs.size(), off.port.dialogs.size());
    for (size_t i = 0; i < on.port.dialogs.size(); ++i)
      EXPECT_EQ(on.port.dialogs[i].text, off.port.dialogs[i].text);
    EXPECT_EQ(on.header.HeaderRow, off.header.HeaderRow);
    EXPECT_EQ(on.header.HeaderWidth, off.header.HeaderWidth);
    ASSERT_EQ(on.port.outcomes.size(), off.port.outcomes.size());
    for (size_t i = 0; i < on.port.outcomes.size(); ++i) {
      EXPECT_EQ(on.port.outcomes[i].status, off.port.outcomes[i].status);
      EXPECT_EQ(on.port.outcomes[i].rows, off.port.outcomes[i].rows);
    }
  }
}

TEST(SourceColumnTest, EachEngineNamesTheWorkbookEveryRowCameFrom) {
  const G stacked{{"t:编号", "t:姓名", "t:金额", "t:来源文件"},
                  {"n:1", "t:甲", "n:10", "t:a.xls"},
                  {"n:2", "t:乙", "", "t:a.xls"},
                  {"n:2", "t:乙2", "n:20", "t:b.xls"},
                  {"n:3", "t:丙", "n:30", "t:b.xls"},
                  {"n:1", "t:甲3", "", "t:c.xlsx"}};
  // The overwrite pass copies whole rows: a kept row names the file whose content won.
  const G overwritten{{"t:编号", "t:姓名", "t:金额", "t:来源文件"},
                      {"n:1", "t:甲3", "", "t:c.xlsx"},
                      {"n:2", "t:乙2", "n:20", "t:b.xls"},
                      {"n:3", "t:丙", "n:30", "t:b.xls"}};
  // A row completed from a later table still names the table that brought it.
  const G joined{{"t:编号", "t:姓名", "t:金额", "t:来源文件"},
                 {"n:1", "t:甲", "n:10", "t:a.xls"},
                 {"n:2", "t:乙", "n:20", "t:a.xls"}};
  G appended = joined;
  appended.push_back({"n:3", "t:丙", "n:30", "t:b.xls"});
  const struct {
    Eng engine;
    G expected;
  } cases[] = {
      {Eng::kSafe, stacked},
      {Eng::kFast, stacked},
      {Eng::kSafeOverwrite, overwritten},
      {Eng::kFastOverwrite, overwritten},
      {Eng::kSmartHorizontal, joined},
      {Eng::kSmartBoth, appended},
      {Eng::kSorted, joined},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.engine));
    Bench b;
    AddMonths(b);
    b.request.source_column = true;
    ASSERT_EQ(RunEngine(c.engine, b).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*Result(b, c.engine)), c.expected);
  }
}

// A table with a title above its header, its header cells bold.
std::unique_ptr<Workbook> Titled(const char* title, const char* second, const Rows& data) {
  Rows rows{{title}, {"编号", second}};
  rows.insert(rows.end(), data.begin(), data.end());
  auto wb = Book(rows);
  Worksheet& ws = *wb->Worksheets(1);
  Font bold;
  bold.bold = true;
  Xf xf;
  xf.font = ws.styles().AddFont(bold);
  const uint16_t style = ws.styles().AddXf(xf);
  (void)ws.SetStyle(2, 1, style);
  (void)ws.SetStyle(2, 2, style);
  return wb;
}

TEST(SourceColumnTest, SafeMergePutsTheTitleInTheHeaderRowFormattedAsItsLeftNeighbour) {
  Bench b;
  b.Add("一月.xls", Titled("月报", "金额", {{1, 10}}));
  b.Add("二月.xls", Titled("月报", "金额", {{2, 20}, {3, 30}}));
  b.Add("三月.xls", Titled("月报", "日期", {{4, 40}}));  // another header: left out
  b.request.source_column = true;
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  const Worksheet& ws = *b.Saved();
  EXPECT_EQ(Grid(ws), (G{{"t:月报"},
                         {"t:编号", "t:金额", "t:来源文件"},
                         {"n:1", "n:10", "t:一月.xls"},
                         {"n:2", "n:20", "t:二月.xls"},
                         {"n:3", "n:30", "t:二月.xls"}}));
  ASSERT_NE(ws.FindCell(2, 3), nullptr);
  EXPECT_EQ(ws.FindCell(2, 3)->style, ws.FindCell(2, 2)->style);
  EXPECT_TRUE(ws.styles().fonts()[ws.styles().xf(ws.FindCell(2, 3)->style).font].bold);
  EXPECT_EQ(b.port.outcomes[2].status, TableStatus::kHeaderMismatch);
  EXPECT_EQ(b.header.HeaderWidth, 2);
}

TEST(SourceColumnTest, FastMergeTakesItsHeaderRowFromTheAnswerAndRowOneWithoutHeaderRows) {
  struct Case {
    std::optional<std::string> answer;
    G expected;
  };
  const Case cases[] = {
      {"2",
       {{"t:月报"},
        {"t:编号", "t:金额", "t:来源文件"},
        {"n:1", "n:10", "t:a.xls"},
        {"n:2", "n:20", "t:b.xls"},
        {},  // a row that holds nothing names no workbook
        {"n:3", "n:30", "t:b.xls"}}},
      // No header rows (an empty answer given with OK): the title goes into row 1 and every
      // appended row, its title and header included, is data of its workbook.
      {"",
       {{"t:月报", "", "t:来源文件"},
        {"t:编号", "t:金额", "t:a.xls"},
        {"n:1", "n:10", "t:a.xls"},
        {"t:月报", "", "t:b.xls"},
        {"t:编号", "t:金额", "t:b.xls"},
        {"n:2", "n:20", "t:b.xls"},
        {},
        {"n:3", "n:30", "t:b.xls"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.value_or("<cancel>"));
    Bench b;
    b.Add("a.xls", Rows{{"月报"}, {"编号", "金额"}, {1, 10}});
    b.Add("b.xls", Rows{{"月报"}, {"编号", "金额"}, {2, 20}, {}, {3, 30}});
    b.request.source_column = true;
    b.port.inputs = {c.answer};
    ASSERT_EQ(FastMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved()), c.expected);
    // The fast merge still records no header of its own.
    EXPECT_EQ(b.header.HeaderRow, 0);
    EXPECT_EQ(b.header.HeaderWidth, 0);
  }
}

// The safe overwrite finds the header again over the stacked result; a column written before
// that would make a short data row in rows 1 to 5 look like the longest header.
TEST(SourceColumnTest, SafeOverwriteFindsTheHeaderAgainAsWithoutTheColumn) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名", "金额"}, {1, "旧", 1}});
  b.Add("b.xls", Rows{{"编号", "姓名", "金额"}, {1, "新", 2}, {2, "乙", 3}});
  b.request.source_column = true;
  b.port.inputs = {"1"};
  ASSERT_EQ(SafeMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.header.HeaderRow, 1);
  EXPECT_EQ(b.header.HeaderWidth, 3);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:姓名", "t:金额", "t:来源文件"},
                                 {"n:1", "t:新", "n:2", "t:b.xls"},
                                 {"n:2", "t:乙", "n:3", "t:b.xls"}}));
}

// A later table wider than the template's header had its 10th column (业务员) replaced by the file
// names: the column went right of the template's header, not right of what the tables brought.
TEST(SourceColumnTest, AWiderLaterTableLostItsLastColumnToTheFileNames) {
  Bench b;
  Rows tpl{{"月报"},
           {"c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9"},
           {1, 2, 3, 4, 5, 6, 7, 8, 9}};
  Rows wide{{"月报"},
            {"c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "业务员"},
            {1, 2, 3, 4, 5, 6, 7, 8, 9, "张三"}};
  b.Add("a.xls", tpl);
  b.Add("b.xls", wide);
  b.request.source_column = true;
  b.port.inputs = {"2"};
  ASSERT_EQ(FastMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  const Worksheet& r = *b.Saved();
  EXPECT_EQ(Show(r.Cells(4, 10)), "t:张三");
  EXPECT_EQ(Show(r.Cells(2, 11)), "t:来源文件");
  EXPECT_EQ(Show(r.Cells(3, 11)), "t:a.xls");
  EXPECT_EQ(Show(r.Cells(4, 11)), "t:b.xls");
}

// The same in every engine: data right of the template's header (a note column without a title)
// stays, and the column goes past it.
TEST(SourceColumnTest, EveryEngineSetsTheColumnPastEveryColumnTheTablesBrought) {
  for (Eng e : kAll) {
    SCOPED_TRACE(Name(e));
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲", V(), "备注"}});
    b.Add("b.xls", Rows{{"编号", "姓名"}, {2, "乙", V(), V(), "备注2"}});
    b.request.source_column = true;
    ASSERT_EQ(RunEngine(e, b).outcome, Outcome::kDone);
    const Worksheet& r = *Result(b, e);
    EXPECT_EQ(Show(r.Cells(2, 4)), "t:备注");
    const bool vertical =
        e == Eng::kSafe || e == Eng::kFast || e == Eng::kSafeOverwrite || e == Eng::kFastOverwrite;
    // The vertical merges bring b.xls's note in column 5; the smart ones take no source column
    // beyond its header.
    const int column = vertical ? 6 : 5;
    EXPECT_EQ(Show(r.Cells(1, column)), "t:来源文件");
    EXPECT_EQ(Show(r.Cells(2, column)), "t:a.xls");
    if (vertical) {
      EXPECT_EQ(Show(r.Cells(3, 5)), "t:备注2");
    }
  }
}

TEST(SourceColumnTest, SmartMergeSetsTheColumnRightOfTheHeadersLaterTablesAdded) {
  for (Eng e : {Eng::kSmartBoth, Eng::kSmartHorizontal, Eng::kSorted}) {
    SCOPED_TRACE(Name(e));
    Bench b;
    b.Add("员工.xls", Rows{{"工号", "姓名"}, {1, "甲"}, {2, "乙"}});
    b.Add("部门.xlsx", Rows{{"工号", "部门"}, {1, "财务"}, {3, "销售"}});
    b.request.source_column = true;
    ASSERT_EQ(RunEngine(e, b).outcome, Outcome::kDone);
    G expected{{"t:工号", "t:姓名", "t:部门", "t:来源文件"},
               {"n:1", "t:甲", "t:财务", "t:员工.xls"},
               {"n:2", "t:乙", "", "t:员工.xls"}};
    if (e == Eng::kSmartBoth) expected.push_back({"n:3", "", "t:销售", "t:部门.xlsx"});
    EXPECT_EQ(Grid(*Result(b, e)), expected);
    EXPECT_EQ(b.header.HeaderWidth, 2);  // the last table's, as without the column
  }
}

}  // namespace
}  // namespace qm::testing
