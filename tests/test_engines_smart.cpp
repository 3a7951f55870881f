// The smart merges: the unsorted path (horizontal, and horizontal and vertical) and the sorted
// path with its forward-only match cursor.
#include <algorithm>

#include "merge/key_index.h"
#include "test_engines_port.h"

namespace qm::testing {
namespace {

using Lines = std::vector<std::string>;
using G = std::vector<std::vector<std::string>>;

RunResult Smart(Bench& b, SmartMode mode, const char* key = "1") {
  b.port.inputs = {key};
  return SmartMerge(mode, b.ctx);
}
RunResult Sorted(Bench& b, const char* key = "1") {
  b.port.inputs = {key};
  b.port.buttons = {Answer::kYes};
  return SmartMerge(SmartMode::kHorizontal, b.ctx);
}

TEST(SmartMergeTest, HorizontalRoadAddsHeadersFillsEmptyCellsAndLogsEveryTable) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}, {2, V()}, {1, V()}});
  b.Add("b.xls", Rows{{"编号", "金额", "姓名"}, {1, 100, "乙"}, {2, 200, "丙"}, {9, 900, "x"}});
  b.Add("c.xlsx", Rows{{"编号", "金额", "部门"}, {1, 555, "财务"}, {2, 0, 0}});
  ASSERT_EQ(Smart(b, SmartMode::kHorizontal).outcome, Outcome::kDone);

  ASSERT_EQ(b.port.dialogs.size(), 2u);
  EXPECT_EQ(b.port.dialogs[0].kind, "question");
  EXPECT_EQ(b.port.dialogs[0].title, "合并");
  EXPECT_EQ(b.port.dialogs[0].text, "如果所有表格均已按关键字列升序排序，选择“是”，否则点“否”。");
  EXPECT_EQ(b.port.dialogs[0].answer, "No");
  EXPECT_EQ(b.port.dialogs[1].text, " 1:编号| 2:姓名|\r请输入关键字列列号！");
  EXPECT_EQ(b.port.LogLines(), (Lines{"开始合并...", "检测表1:a.xls", "检测表2:b.xls",
                                      "检测表3:c.xlsx", "合并操作结束！"}));
  EXPECT_EQ(b.port.EventsStartingWith("value"),
            (Lines{"value 0", "value 1", "value 2", "value 3"}));
  EXPECT_EQ(b.port.max, 3);
  EXPECT_EQ(b.port.scrolls, 3);
  EXPECT_EQ(b.Saved("智能合并结果.xls") != nullptr, true);
  // Both result rows of key 1 are filled; the template's 甲 stays; the first table in list
  // order that supplies a cell wins; a source 0 is copied; key 9 is dropped in mode 0.
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), (G{{"t:编号", "t:姓名", "t:金额", "t:部门"},
                                                   {"n:1", "t:甲", "n:100", "t:财务"},
                                                   {"n:2", "t:丙", "n:200", "n:0"},
                                                   {"n:1", "t:乙", "n:100", "t:财务"}}));
  EXPECT_EQ(b.header.HeaderRow, 1);
  EXPECT_EQ(b.header.HeaderWidth, 3);  // the last source sheet's
}

TEST(SmartMergeTest, BothModeAppendsUnseenKeysWhichLaterRowsThenFind) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名", "金额"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"编号", "姓名"}, {5, "戊"}, {5, "重复"}});
  b.Add("c.xls", Rows{{"编号", "金额"}, {5, 50}});
  ASSERT_EQ(Smart(b, SmartMode::kBoth).outcome, Outcome::kDone);
  // No sorted-input question in mode 1.
  EXPECT_EQ(b.port.dialogs.size(), 1u);
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")),
            (G{{"t:编号", "t:姓名", "t:金额"}, {"n:1", "t:甲"}, {"n:5", "t:戊", "n:50"}}));
}

TEST(SmartMergeTest, AKeyHeaderTheResultLacksTakesAddedKeysIntoItsNewColumn) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"代码", "姓名"}, {7, "庚"}, {7, "辛"}});
  ASSERT_EQ(Smart(b, SmartMode::kBoth).outcome, Outcome::kDone);
  // The added rows carry their key under 代码, so the second 7 does not find the first.
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), (G{{"t:编号", "t:姓名", "t:代码"},
                                                   {"n:1", "t:甲"},
                                                   {"", "t:庚", "n:7"},
                                                   {"", "t:辛", "n:7"}}));
}

TEST(SmartMergeTest, BlankResultKeysMeetOnlyANumericZeroAndNumbersNeverMeetText) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "值"}, {V(), V()}, {1001, V()}, {"5", V()}});
  b.Add("b.xls", Rows{{"编号", "值"}, {"1001", "文本"}, {5, "数"}, {0, "零"}});
  ASSERT_EQ(Smart(b, SmartMode::kHorizontal).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")),
            (G{{"t:编号", "t:值"}, {"", "t:零"}, {"n:1001"}, {"t:5"}}));

  Bench f;
  f.Add("a.xls", Rows{{"编号", "值"}, {V(), V()}, {3, "x"}});
  f.Add("b.xls", Rows{{"编号", "值"}, {V::Bool(false), "假"}});
  ASSERT_EQ(Smart(f, SmartMode::kHorizontal).outcome, Outcome::kDone);
  EXPECT_EQ(Show(f.Saved("智能合并结果.xls")->Cells(2, 2)), "t:假");
}

TEST(SmartMergeTest, NewHeadersGoToResultWidthPlusOneEvenOverTemplateHeaders) {
  for (bool sorted : {false, true}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名", "部门", V(), "甲列", "乙列"}, {1, "甲"}});
    b.Add("b.xls", Rows{{"编号", "新一", "新二"}, {1, "x", "y"}});
    ASSERT_EQ((sorted ? Sorted(b) : Smart(b, SmartMode::kHorizontal)).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")),
              (G{{"t:编号", "t:姓名", "t:部门", "t:新一", "t:新二", "t:乙列"},
                 {"n:1", "t:甲", "", "t:x", "t:y"}}))
        << sorted;
  }
}

TEST(SmartMergeTest, SourceWithoutHeaderOrWithAnEmptyFirstKeyAddsNoValues) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"编号", "年龄"}, {V(), 30}, {1, 40}});
  b.Add("c.xls", Rows{{V(), "z"}, {V(), "y"}});
  ASSERT_EQ(Smart(b, SmartMode::kBoth).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")),
            (G{{"t:编号", "t:姓名", "t:年龄"}, {"n:1", "t:甲"}}));
}

TEST(SmartMergeTest, DatesKeepADateFormatAndFormulasTravelAsValues) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "日期"}, {1, V()}});
  auto src = Book(Rows{{"编号", "日期"}, {1, 45000}});
  Worksheet& ws = *src->Worksheets(1);
  Xf x;
  x.num_fmt = 14;
  (void)ws.SetNumber(2, 2, 45000, src->styles().AddXf(x));
  (void)ws.SetFormula(2, 2, "44999+1");
  b.Add("b.xls", std::move(src));
  ASSERT_EQ(Smart(b, SmartMode::kHorizontal).outcome, Outcome::kDone);
  CellValue v = b.Saved("智能合并结果.xls")->Cells(2, 2);
  EXPECT_TRUE(v.is_date);
  EXPECT_EQ(v.number, 45000);
  EXPECT_TRUE(v.formula.empty());
}

TEST(SmartMergeTest, ADateHeaderAddedToTheResultIsShownAsADateNotASerialNumber) {
  for (bool sorted : {false, true}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
    auto src = Book(Rows{{"编号"}, {1, 5}});
    Xf x;
    x.num_fmt = 14;
    (void)src->Worksheets(1)->SetNumber(1, 2, 45000, src->styles().AddXf(x));
    b.Add("b.xls", std::move(src));
    ASSERT_EQ((sorted ? Sorted(b) : Smart(b, SmartMode::kHorizontal)).outcome, Outcome::kDone);
    CellValue v = b.Saved("智能合并结果.xls")->Cells(1, 3);
    EXPECT_TRUE(v.is_date) << sorted;
    EXPECT_EQ(ValueText(v), "2023/3/15") << sorted;
    EXPECT_EQ(Show(b.Saved("智能合并结果.xls")->Cells(2, 3)), "n:5") << sorted;
  }
}

TEST(SmartMergeTest, DatesOfA1904SourceKeepTheirCalendarDayInTheResult) {
  for (bool sorted : {false, true}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
    auto src = Book(Rows{{"编号"}, {1}});
    src->styles().date1904 = true;
    Xf x;
    x.num_fmt = 14;
    const int date = src->styles().AddXf(x);
    // 2023/3/15 in the 1904 system, as a header and as a value.
    (void)src->Worksheets(1)->SetNumber(1, 2, 45000 - 1462, date);
    (void)src->Worksheets(1)->SetNumber(2, 2, 45000 - 1462, date);
    b.Add("b.xls", std::move(src));
    ASSERT_EQ((sorted ? Sorted(b) : Smart(b, SmartMode::kHorizontal)).outcome, Outcome::kDone);
    const Worksheet* out = b.Saved("智能合并结果.xls");
    EXPECT_EQ(ValueText(out->Cells(1, 3)), "2023/3/15") << sorted;
    EXPECT_EQ(ValueText(out->Cells(2, 3)), "2023/3/15") << sorted;
  }
}

TEST(SmartMergeTest, BothSmartPathsMakeTheTemplateTheCurrentEntryBeforeTheKeyPrompt) {
  for (bool sorted : {false, true}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号"}, {1}});
    b.Add("b.xls", Rows{{"编号"}, {1}});
    // The stop path too: the entry is made current before the key is asked for.
    b.port.inputs = {"0"};
    if (sorted) b.port.buttons = {Answer::kYes};
    ASSERT_EQ(SmartMerge(SmartMode::kHorizontal, b.ctx).outcome, Outcome::kStopped);
    const auto& ev = b.port.events;
    auto current = std::find(ev.begin(), ev.end(), "current 0");
    auto input = std::find(ev.begin(), ev.end(), "input 输入提示");
    EXPECT_NE(current, ev.end()) << sorted;
    EXPECT_LT(current, input) << sorted;
    EXPECT_EQ(std::count(ev.begin(), ev.end(), "current 0"), 1) << sorted;
  }
  // The vertical merges leave the list alone.
  Bench v;
  v.Add("a.xls", Rows{{"编号"}, {1}});
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, v.ctx).outcome, Outcome::kDone);
  EXPECT_TRUE(v.port.EventsStartingWith("current").empty());
}

TEST(SortedSmartMergeTest, ReportsOnTheStatusLinesOnlyAndLeavesTheLogAlone) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"编号", "金额"}, {1, 10}});
  RunResult r = Sorted(b);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(r.result_path, "/src/合并结果/智能合并结果.xls");
  EXPECT_EQ(b.port.log, "instructions");
  EXPECT_EQ(b.port.status, (Lines{"开始智能合并...", "智能合并操作完成！"}));
  EXPECT_EQ(b.port.EventsStartingWith("value"), (Lines{"value 0", "value 1", "value 2"}));
  EXPECT_EQ(b.port.max, 2);
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")),
            (G{{"t:编号", "t:姓名", "t:金额"}, {"n:1", "t:甲", "n:10"}}));
}

TEST(SortedSmartMergeTest, DuplicatesPairUpAndKeysBehindTheCursorFillTheFirstRowOfTheirKey) {
  Bench b;
  b.Add("a.xls", Rows{{"k", "v"}, {1, V()}, {1, V()}, {2, V()}, {3, V()}});
  b.Add("b.xls", Rows{{"k", "w"}, {1, "一"}, {1, "二"}, {1, "三"}, {3, "c"}, {2, "b"}});
  ASSERT_EQ(Sorted(b).outcome, Outcome::kDone);
  // The third 1 finds no third result row of key 1 and falls back on the first, whose cell is
  // taken; after 3 matched, 2 lies behind the cursor and still fills its row. Both count.
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), (G{{"t:k", "t:v", "t:w"},
                                                   {"n:1", "", "t:一"},
                                                   {"n:1", "", "t:二"},
                                                   {"n:2", "", "t:b"},
                                                   {"n:3", "", "t:c"}}));
  EXPECT_EQ(b.port.status, (Lines{"开始智能合并...", "有2行未按关键列升序排列，已逐行查找合并",
                                  "智能合并操作完成！"}));

  // The unsorted path finds every row of a key instead.
  Bench u;
  u.Add("a.xls", Rows{{"k", "v"}, {1, V()}, {1, V()}, {2, V()}});
  u.Add("b.xls", Rows{{"k", "w"}, {2, "b"}, {1, "一"}, {1, "二"}});
  ASSERT_EQ(Smart(u, SmartMode::kHorizontal).outcome, Outcome::kDone);
  EXPECT_EQ(
      Grid(*u.Saved("智能合并结果.xls")),
      (G{{"t:k", "t:v", "t:w"}, {"n:1", "", "t:一"}, {"n:1", "", "t:一"}, {"n:2", "", "t:b"}}));
}

// Answering 是 at the sorted question over tables that were not sorted lost 王五's 工资 without
// a word: the forward-only search never looked behind its cursor.
TEST(SortedSmartMergeTest, UnsortedTablesLostRowsBehindTheCursorWithoutAWord) {
  Bench b;
  b.Add("员工.xls", Rows{{"姓名", "部门"}, {"张三", "财务"}, {"李四", "销售"}, {"王五", "后勤"}});
  b.Add("工资.xls", Rows{{"姓名", "工资"},
                         {"李四", 6000},
                         {"王五", 7000},
                         {"张三", 5000},
                         {"赵六", 9000},  // nowhere in the result: dropped, not counted
                         {"李四", 6500}});
  ASSERT_EQ(Sorted(b).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), (G{{"t:姓名", "t:部门", "t:工资"},
                                                   {"t:张三", "t:财务", "n:5000"},
                                                   {"t:李四", "t:销售", "n:6000"},
                                                   {"t:王五", "t:后勤", "n:7000"}}));
  // 张三 and the second 李四 were found behind the cursor; the cursor stayed after 王五.
  EXPECT_EQ(b.port.status, (Lines{"开始智能合并...", "有2行未按关键列升序排列，已逐行查找合并",
                                  "智能合并操作完成！"}));

  // Sorted tables without repeated keys: the same result as before, and no such line.
  Bench s;
  s.Add("员工.xls", Rows{{"姓名", "部门"}, {"张三", "财务"}, {"李四", "销售"}, {"王五", "后勤"}});
  s.Add("工资.xls", Rows{{"姓名", "工资"}, {"张三", 5000}, {"王五", 7000}});
  ASSERT_EQ(Sorted(s).outcome, Outcome::kDone);
  EXPECT_EQ(Grid(*s.Saved("智能合并结果.xls")), (G{{"t:姓名", "t:部门", "t:工资"},
                                                   {"t:张三", "t:财务", "n:5000"},
                                                   {"t:李四", "t:销售"},
                                                   {"t:王五", "t:后勤", "n:7000"}}));
  EXPECT_EQ(s.port.status, (Lines{"开始智能合并...", "智能合并操作完成！"}));
}

// 16,000 rows under one key in both tables once took seconds: every source row revisited every
// result row. The index's step count must stay a small multiple of the rows, on both paths.
TEST(SmartMergeTest, ManyRowsUnderOneKeyMergeInLinearIndexSteps) {
  const int n = 16000;
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    Bench b;
    auto tpl = std::make_unique<Workbook>();
    Worksheet& t = tpl->AddWorksheet("s");
    (void)t.SetText(1, 1, "k");
    (void)t.SetText(1, 2, "v");
    auto src = std::make_unique<Workbook>();
    Worksheet& s = src->AddWorksheet("s");
    (void)s.SetText(1, 1, "k");
    (void)s.SetText(1, 2, "w");
    (void)s.SetText(1, 3, "x");
    for (int r = 2; r <= n + 1; ++r) {
      t.AppendNumber(r, 1, 7, 0);
      if (r == 3) t.AppendText(r, 2, "own", 0);
      s.AppendNumber(r, 1, 7, 0);
      // The first source row supplies w only, the second x only; later rows both.
      if (r != 3) s.AppendNumber(r, 2, r, 0);
      if (r != 2) s.AppendNumber(r, 3, -r, 0);
    }
    b.Add("a.xls", std::move(tpl));
    b.Add("b.xls", std::move(src));
    const uint64_t before = engine::KeyIndex::Steps();
    ASSERT_EQ(
        (mode == 2 ? Sorted(b) : Smart(b, mode == 1 ? SmartMode::kBoth : SmartMode::kHorizontal))
            .outcome,
        Outcome::kDone);
    const uint64_t steps = engine::KeyIndex::Steps() - before;
    EXPECT_LT(steps, 10u * n) << "index steps for " << n << " equal keys";
    EXPECT_GT(steps, 0u);

    const Worksheet& out = *b.Saved("智能合并结果.xls");
    EXPECT_EQ(out.UsedRange().r2, n + 1);  // every source row matched: nothing appended
    if (mode == 2) {
      // Duplicates pair up in order: result row r takes source row r.
      EXPECT_EQ(Show(out.Cells(2, 3)), "n:2");
      EXPECT_EQ(Show(out.Cells(2, 4)), "");
      EXPECT_EQ(Show(out.Cells(3, 3)), "");
      EXPECT_EQ(Show(out.Cells(3, 4)), "n:-3");
      EXPECT_EQ(Show(out.Cells(n + 1, 3)), "n:" + std::to_string(n + 1));
      EXPECT_EQ(Show(out.Cells(n + 1, 4)), "n:" + std::to_string(-(n + 1)));
    } else {
      // Every result row of the key takes w from the first source row and x from the second.
      for (int r : {2, 3, n / 2, n + 1}) {
        SCOPED_TRACE(r);
        EXPECT_EQ(Show(out.Cells(r, 1)), "n:7");
        EXPECT_EQ(Show(out.Cells(r, 2)), r == 3 ? "t:own" : "");
        EXPECT_EQ(Show(out.Cells(r, 3)), "n:2");
        EXPECT_EQ(Show(out.Cells(r, 4)), "n:-3");
      }
    }
  }
}

TEST(SmartMergeTest, OnlyTheTemplateStillAsksForTheKeyAndSavesIt) {
  for (bool sorted : {false, true}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
    ASSERT_EQ((sorted ? Sorted(b) : Smart(b, SmartMode::kBoth)).outcome, Outcome::kDone);
    EXPECT_EQ(b.port.max, 1);
    EXPECT_EQ(b.port.value, 1);
    EXPECT_EQ(Grid(*b.Saved("智能合并结果.xls")), (G{{"t:编号", "t:姓名"}, {"n:1", "t:甲"}}));
  }
}

}  // namespace
}  // namespace qm::testing

namespace qm::testing {
namespace {

// The old limits: header list entries up to column 99 and source rows up to 32767.
TEST(SmartMergeTest, HeaderColumnsPast99AndSourceRowsPast32767WorkLikeAnyOther) {
  for (bool sorted : {false, true}) {
    Bench b;
    auto tpl = std::make_unique<Workbook>();
    Worksheet& t = tpl->AddWorksheet("s");
    for (int c = 1; c <= 100; ++c) (void)t.SetText(1, c, c == 1 ? "k" : "h" + std::to_string(c));
    auto src = std::make_unique<Workbook>();
    Worksheet& s = src->AddWorksheet("s");
    (void)s.SetText(1, 1, "k");
    (void)s.SetText(1, 2, "new");
    const int n = 33000;
    for (int r = 2; r <= n + 1; ++r) {
      t.AppendNumber(r, 1, r, 0);
      s.AppendNumber(r, 1, r, 0);
      s.AppendNumber(r, 2, -r, 0);
    }
    b.Add("a.xls", std::move(tpl));
    b.Add("b.xls", std::move(src));
    ASSERT_EQ((sorted ? Sorted(b) : Smart(b, SmartMode::kHorizontal)).outcome, Outcome::kDone);
    const Worksheet& out = *b.store.Get("/src/合并结果/智能合并结果.xls")->Worksheets(1);
    EXPECT_EQ(Show(out.Cells(1, 101)), "t:new");
    EXPECT_EQ(Show(out.Cells(n + 1, 101)), "n:" + std::to_string(-(n + 1)));
    EXPECT_EQ(b.port.dialogs.back().text.substr(0, 6), " 1:k| ");
  }
}

}  // namespace
}  // namespace qm::testing
