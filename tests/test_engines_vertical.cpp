// The vertical merges (fast and safe), the overwrite pass and the ways a run can end.
#include <algorithm>

#include "test_engines_port.h"

namespace qm::testing {
namespace {

using Lines = std::vector<std::string>;
using G = std::vector<std::vector<std::string>>;

Rows Table(const char* tag, int n, int first_id = 1) {
  Rows rows{{"编号", "姓名", "金额"}};
  for (int i = 0; i < n; ++i)
    rows.push_back({first_id + i, std::string(tag) + std::to_string(i + 1), (i + 1) * 10});
  return rows;
}

TEST(FastMergeTest, StacksBlocksUnderOneHeaderWithTheLogProgressAndDialogsOfTheRoad) {
  Bench b;
  b.Add("a.xls", Table("a", 2));
  b.Add("b.xls", Table("b", 1, 3));
  b.Add("c.xlsx", Table("c", 1, 4));
  b.port.inputs = {"1"};
  RunResult r = FastMerge(VerticalMode::kAppend, b.ctx);

  EXPECT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(r.result_path, "/src/合并结果/合并结果.xls");
  EXPECT_EQ(b.port.shown, r.result_path);
  EXPECT_EQ(b.port.LogLines(), (Lines{"开始合并...", "检测表1:a.xls", "a.xls", "检测表2:b.xls",
                                      "检测表3:c.xlsx", "合并操作结束！"}));
  ASSERT_EQ(b.port.dialogs.size(), 2u);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，合并前不检查表头是否规范。你确定要纵向合并这3个工作表吗？");
  EXPECT_EQ(b.port.dialogs[0].title, "合并提示");
  EXPECT_EQ(b.port.dialogs[0].kind, "question");
  EXPECT_EQ(b.port.dialogs[1].text, "快速合并要求表头必须从第一行开始，请问表头占几行？");
  EXPECT_EQ(b.port.dialogs[1].title, "合并");
  EXPECT_EQ(b.port.dialogs[1].default_answer, "1");
  EXPECT_EQ(b.port.EventsStartingWith("max"), (Lines{"max 3"}));
  EXPECT_EQ(b.port.EventsStartingWith("value"),
            (Lines{"value 0", "value 1", "value 2", "value 3"}));
  // The log scrolls on every appended table and at the end, not for the template lines.
  EXPECT_EQ(b.port.scrolls, 3);
  ASSERT_NE(b.Saved(), nullptr);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:姓名", "t:金额"},
                                 {"n:1", "t:a1", "n:10"},
                                 {"n:2", "t:a2", "n:20"},
                                 {"n:3", "t:b1", "n:10"},
                                 {"n:4", "t:c1", "n:10"}}));
  // Fast mode 0 never detects a header.
  EXPECT_EQ(b.header.HeaderRow, 0);
}

TEST(FastMergeTest, HeaderRowCountCutsTheSameRowsFromEveryAppendedBlockOnly) {
  struct Case {
    std::optional<std::string> answer;
    G expected;
  };
  Rows titled{{"月报"}, {"编号", "金额"}, {1, 10}};
  Rows second{{"月报"}, {"编号", "金额"}, {2, 20}, {3, 30}};
  const Case cases[] = {
      // An empty answer given with OK reads as 0: every block keeps all its rows.
      {"",
       {{"t:月报"},
        {"t:编号", "t:金额"},
        {"n:1", "n:10"},
        {"t:月报"},
        {"t:编号", "t:金额"},
        {"n:2", "n:20"},
        {"n:3", "n:30"}}},
      {"2", {{"t:月报"}, {"t:编号", "t:金额"}, {"n:1", "n:10"}, {"n:2", "n:20"}, {"n:3", "n:30"}}},
      // One row too many loses the first data row of the appended block, not of the template.
      {"3", {{"t:月报"}, {"t:编号", "t:金额"}, {"n:1", "n:10"}, {"n:3", "n:30"}}},
      // More rows than the block has (beyond the old 16-bit range too) cut the whole block.
      {"70000", {{"t:月报"}, {"t:编号", "t:金额"}, {"n:1", "n:10"}}},
      {"2.5",
       {{"t:月报"}, {"t:编号", "t:金额"}, {"n:1", "n:10"}, {"n:2", "n:20"}, {"n:3", "n:30"}}},
  };
  for (const Case& c : cases) {
    Bench b;
    b.Add("a.xls", titled);
    b.Add("b.xls", second);
    b.port.inputs = {c.answer};
    ASSERT_EQ(FastMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
    EXPECT_EQ(Grid(*b.Saved()), c.expected) << c.answer.value_or("<cancel>");
  }
}

// Cancel at the header-rows box once read as 0 rows and wrote a result with every title and header
// row stacked in as data, over the previous result.
TEST(FastMergeTest, CancelAtTheHeaderRowsBoxStillMergedOverThePreviousResult) {
  for (VerticalMode mode : {VerticalMode::kAppend, VerticalMode::kOverwrite}) {
    for (bool older : {false, true}) {
      Bench b;
      b.Add("a.xls", Rows{{"月报"}, {"编号", "金额"}, {1, 10}});
      b.Add("b.xls", Rows{{"月报"}, {"编号", "金额"}, {2, 20}});
      if (older) {
        bool created = false;
        (void)b.store.MakeFolder("/src/合并结果", created);
        b.store.Put("/src/合并结果/合并结果.xls", Book(Rows{{"old"}}));
      }
      b.port.inputs = {std::nullopt};
      RunResult r = FastMerge(mode, b.ctx);
      EXPECT_EQ(r.outcome, Outcome::kCancelled);
      EXPECT_FALSE(r.result_path);
      if (older) {
        EXPECT_EQ(Show(b.Saved()->Cells(1, 1)), "t:old");
      } else {
        EXPECT_FALSE(b.store.HasFolder("/src/合并结果"));
      }
      // No key prompt follows, and no file counts as merged.
      EXPECT_EQ(b.port.prompt_kinds, std::vector<PromptKind>{PromptKind::kHeaderRows});
      for (const TableOutcome& o : b.port.outcomes) EXPECT_EQ(o.status, TableStatus::kNotReached);
    }
  }
}

TEST(FastMergeTest, OverwriteModeLogsTheHeaderListAndTheOverwriteLineAndEndsAtFullProgress) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "旧"}, {2, "乙"}});
  b.Add("b.xls", Rows{{"编号", "姓名"}, {1, "新"}});
  b.port.inputs = {"1", "1"};
  ASSERT_EQ(FastMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，合并前不检查表头是否规范。你确定要纵向覆盖合并这2个工作表吗？");
  EXPECT_EQ(b.port.dialogs[2].text, " 1:编号| 2:姓名|\r请输入关键字列列号！");
  EXPECT_EQ(b.port.dialogs[2].title, "输入提示");
  EXPECT_EQ(b.port.LogLines(),
            (Lines{"开始合并...", "检测表1:a.xls", " 1:编号| 2:姓名|", "检测表2:b.xls",
                   "正在将关键字(编号)相同的新记录覆盖旧记录...", "合并操作结束！"}));
  EXPECT_EQ(b.port.max, 3);
  EXPECT_EQ(b.port.value, 3);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:姓名"}, {"n:1", "t:新"}, {"n:2", "t:乙"}}));
  EXPECT_EQ(b.header.HeaderRow, 1);
  EXPECT_EQ(b.header.HeaderWidth, 2);
}

// Any key answer that does not round to a column of the template's header stops the run; the
// old rules took negative answers and silently skipped the overwrite the user asked for.
TEST(KeyAnswerTest, NegativeZeroTextCancelAndBeyondTheHeaderAllTakeTheStopPath) {
  const std::optional<std::string> stops[] = {"0",  "abc", "",      std::nullopt,
                                              "-1", "3",   "2.5e1", "0.5"};
  for (const auto& answer : stops) {
    SCOPED_TRACE(answer.value_or("<cancel>"));
    for (int engine = 0; engine < 4; ++engine) {
      Bench b;
      b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
      b.Add("b.xls", Rows{{"编号", "姓名"}, {1, "乙"}});
      RunResult r;
      if (engine == 0) {
        b.port.inputs = {"1", answer};
        r = FastMerge(VerticalMode::kOverwrite, b.ctx);
        EXPECT_EQ(b.port.LogLines(), (Lines{"已退出合并操作！"}));
        EXPECT_TRUE(b.port.status.empty());
      } else {
        b.port.inputs = {answer};
        if (engine == 1) r = SafeMerge(VerticalMode::kOverwrite, b.ctx);
        if (engine == 2) r = SmartMerge(SmartMode::kBoth, b.ctx);
        if (engine == 3) {
          b.port.buttons = {Answer::kYes};
          r = SmartMerge(SmartMode::kHorizontal, b.ctx);
        }
        EXPECT_EQ(b.port.status.back(), "已退出合并操作！");
        Lines expected_log{"instructions"};
        if (engine != 3) expected_log = {"开始合并...", "检测表1:a.xls"};
        EXPECT_EQ(b.port.LogLines(), expected_log);
      }
      EXPECT_EQ(r.outcome, Outcome::kStopped) << engine;
      EXPECT_EQ(b.port.dialogs.back().text, "输入为0或输入错误，退出合并操作！");
      EXPECT_EQ(b.port.dialogs.back().title, "合并");
      EXPECT_EQ(b.port.dialogs.back().kind, "message");
      EXPECT_EQ(b.port.value, 0);
      EXPECT_EQ(b.store.FileCount(), 2u);  // nothing written
    }
  }
}

TEST(KeyAnswerTest, AnswersRoundingHalfToEvenOntoAHeaderColumnAreAccepted) {
  struct Case {
    const char* answer;
    const char* key_name;
  };
  for (const Case& c : {Case{"2.5", "姓名"}, Case{" 2 ", "姓名"}, Case{"1.5", "姓名"},
                        Case{"0.51", "编号"}, Case{"2abc", "姓名"}, Case{"&H2", "姓名"}}) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名", "金额"}, {1, "甲"}});
    b.port.inputs = {"1", c.answer};
    ASSERT_EQ(FastMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone) << c.answer;
    EXPECT_EQ(b.port.LogLines()[3],
              std::string("正在将关键字(") + c.key_name + ")相同的新记录覆盖旧记录...")
        << c.answer;
  }
}

// Front ends without dialogs answer each input box from its own flag by the question it names,
// never by its title or text.
TEST(KeyAnswerTest, EveryInputBoxNamesItsQuestion) {
  using P = PromptKind;
  for (int engine = 0; engine < 4; ++engine) {
    Bench b;
    b.Add("a.xls", Rows{{"编号", "姓名"}, {1, "甲"}});
    b.Add("b.xls", Rows{{"编号", "姓名"}, {1, "乙"}});
    b.port.inputs = {"1", "1"};
    RunResult r;
    if (engine == 0) r = FastMerge(VerticalMode::kAppend, b.ctx);
    if (engine == 1) r = FastMerge(VerticalMode::kOverwrite, b.ctx);
    if (engine == 2) r = SafeMerge(VerticalMode::kOverwrite, b.ctx);
    if (engine == 3) r = SmartMerge(SmartMode::kBoth, b.ctx);
    ASSERT_EQ(r.outcome, Outcome::kDone) << engine;
    const std::vector<std::vector<P>> expected = {
        {P::kHeaderRows}, {P::kHeaderRows, P::kKeyColumn}, {P::kKeyColumn}, {P::kKeyColumn}};
    EXPECT_EQ(b.port.prompt_kinds, expected[static_cast<size_t>(engine)]) << engine;
  }
}

TEST(MergeStartTest, EmptyListReturnsSilentlyAndCancelAtTheConfirmationChangesNothing) {
  for (int mode = 0; mode < 2; ++mode) {
    const VerticalMode vertical = mode ? VerticalMode::kOverwrite : VerticalMode::kAppend;
    const SmartMode smart = mode ? SmartMode::kBoth : SmartMode::kHorizontal;
    Bench b;
    EXPECT_EQ(FastMerge(vertical, b.ctx).outcome, Outcome::kEmpty);
    EXPECT_EQ(SafeMerge(vertical, b.ctx).outcome, Outcome::kEmpty);
    EXPECT_EQ(SmartMerge(smart, b.ctx).outcome, Outcome::kEmpty);
    EXPECT_TRUE(b.port.events.empty());
  }
  for (int engine = 0; engine < 2; ++engine) {
    Bench b;
    b.Add("a.xls", Table("a", 1));
    b.port.buttons = {Answer::kCancel};
    RunResult r = engine == 0 ? FastMerge(VerticalMode::kAppend, b.ctx)
                              : SafeMerge(VerticalMode::kAppend, b.ctx);
    EXPECT_EQ(r.outcome, Outcome::kCancelled);
    // Only the question; the file's outcome (not reached) is an account, not a change.
    EXPECT_EQ(b.port.events, (Lines{"dialog 合并提示", "file not-reached a.xls"}));
    EXPECT_EQ(b.port.log, "instructions");
  }
}

TEST(SafeMergeTest, SkipsTablesWhoseHeaderDiffersAndCutsEachTablesOwnTitleRows) {
  Bench b;
  b.Add("a.xls", Rows{{"一月报表"}, {"编号", "姓名"}, {1, "甲"}});
  b.Add("b.xls", Rows{{"编号", "姓名"}, {2, "乙"}});
  b.Add("c.xls", Rows{{"编号", "名字"}, {3, "丙"}});
  b.Add("d.xls", Rows{{"标题"}, {"说明"}, {"编号", "姓名", V(), "备注"}, {4, "丁", V(), "x"}});
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，合并每一个工作表前均会检查表头是否规范，速度稍慢。你确定要纵向合并这4个"
            "工作表吗？");
  EXPECT_EQ(b.port.LogLines(),
            (Lines{"开始合并...", "检测表1:a.xls", " 1:编号| 2:姓名|", "检测表2:b.xls",
                   " 1:编号| 2:姓名|", "检测表3:c.xls", "未合并，表格不规范！", " 1:编号| 2:名字|",
                   "检测表4:d.xls", " 1:编号| 2:姓名|", "合并操作结束！"}));
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:一月报表"},
                                 {"t:编号", "t:姓名"},
                                 {"n:1", "t:甲"},
                                 {"n:2", "t:乙"},
                                 {"n:4", "t:丁", "", "t:x"}}));
  EXPECT_EQ(b.port.EventsStartingWith("value"),
            (Lines{"value 0", "value 1", "value 2", "value 3", "value 4"}));
  // The status area is cleared at the start; the last detection was d's.
  EXPECT_EQ(b.port.events[1], "clear status");
  EXPECT_EQ(b.header.HeaderRow, 3);
  EXPECT_EQ(b.header.HeaderWidth, 2);
  // Sources are read into copies: the stored d.xls still has its title rows.
  EXPECT_EQ(Show(b.store.Get("/src/d.xls")->Worksheets(1)->Cells(1, 1)), "t:标题");
}

TEST(SafeMergeTest, OverwriteModeRedetectsOverTheStackedResultAndNamesTheTemplateKey) {
  Bench b;
  b.Add("a.xls", Rows{{"编号", "姓名"}, {1001, "甲"}, {1002, "乙"}});
  b.Add("b.xls", Rows{{"x"}, {"编号", "姓名"}, {1001, "甲新"}});
  b.port.inputs = {"1"};
  ASSERT_EQ(SafeMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.port.LogLines()[5], "正在将关键字(编号)相同的新记录覆盖旧记录...");
  EXPECT_EQ(b.port.max, 3);
  EXPECT_EQ(b.port.value, 3);
  EXPECT_EQ(Grid(*b.Saved()), (G{{"t:编号", "t:姓名"}, {"n:1001", "t:甲新"}, {"n:1002", "t:乙"}}));
}

// A branch workbook whose first sheet (原始数据) is hidden was merged from that sheet, 0 rows, and
// the run said nothing. The first sheet is still the one merged, but the log now says so right
// after the file's line; the sorted smart merge says it on its status lines.
TEST(SafeMergeTest, AHiddenFirstSheetWasMergedWithoutAWord) {
  auto hidden_first = [] {
    auto wb = std::make_unique<Workbook>();
    Worksheet& raw = wb->AddWorksheet("原始数据");
    raw.SetHidden(true);
    Fill(raw, Rows{{"编号", "金额"}});
    Fill(wb->AddWorksheet("三月"), Rows{{"编号", "金额"}, {3, 30}});
    return wb;
  };
  Bench b;
  b.Add("一月.xls", Rows{{"编号", "金额"}, {1, 10}});
  b.Add("三月.xls", hidden_first());
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  const Lines lines = b.port.LogLines();
  auto at = std::find(lines.begin(), lines.end(), "检测表2:三月.xls");
  ASSERT_NE(at, lines.end());
  ASSERT_NE(at + 1, lines.end());
  EXPECT_EQ(*(at + 1), "注意：三月.xls的第一个工作表“原始数据”是隐藏的");

  // As the template: right after 检测表1.
  Bench t;
  t.Add("三月.xls", hidden_first());
  t.port.inputs = {"1"};
  ASSERT_EQ(FastMerge(VerticalMode::kAppend, t.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(t.port.LogLines()[2], "注意：三月.xls的第一个工作表“原始数据”是隐藏的");

  Bench s;
  s.Add("一月.xls", Rows{{"编号", "金额"}, {1, 10}});
  s.Add("三月.xls", hidden_first());
  s.port.inputs = {"1"};
  s.port.buttons = {Answer::kYes};
  ASSERT_EQ(SmartMerge(SmartMode::kHorizontal, s.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(s.port.status,
            (Lines{"开始智能合并...", "注意：三月.xls的第一个工作表“原始数据”是隐藏的",
                   "智能合并操作完成！"}));
}

TEST(SafeMergeTest, TemplateWithoutHeaderAppendsHeaderlessTablesWhole) {
  Bench b;
  b.header.HeaderRow = 4;  // left by an earlier run; must not decide what is cut
  Rows a(5, std::vector<V>{V(), "x"}), c(5, std::vector<V>{V(), "z"});
  a.push_back({1, "y"});
  c.push_back({2, "w"});
  b.Add("a.xls", a);
  b.Add("b.xls", c);
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  G expected(5, {"", "t:x"});
  expected.push_back({"n:1", "t:y"});
  for (int i = 0; i < 5; ++i) expected.push_back({"", "t:z"});
  expected.push_back({"n:2", "t:w"});
  EXPECT_EQ(Grid(*b.Saved()), expected);
  EXPECT_EQ(b.port.LogLines()[2], "");
}

TEST(OverwriteTest, FirstPositionTakesTheLastContentAndOnlyEqualUsableKeysMeet) {
  Worksheet ws("s", nullptr);
  Fill(ws, Rows{{"编号", "名"},
                {1001, "r2"},
                {"A", "r3"},
                {"a", "r4"},
                {1001, "r5"},
                {"1001", "r6"},
                {0, "r7"},
                {V(), "r8"},
                {V(), "r9"},
                {0, "r10"},
                {1001, "r11"},
                {"", "r12"},
                {V::Bool(false), "r13"}});
  ws.SetRowHeight(11, 30);
  HeaderState h{1, 2};
  ScriptedPort port;
  Presenter presenter(port);
  OverwriteDuplicates(ws, 1, "编号", h, presenter);
  EXPECT_EQ(Grid(ws), (G{{"t:编号", "t:名"},
                         {"n:1001", "t:r11"},
                         {"t:A", "t:r3"},
                         {"t:a", "t:r4"},
                         {"t:1001", "t:r6"},
                         {"b:False", "t:r13"},
                         {"", "t:r8"},
                         {"", "t:r9"},
                         {"t:", "t:r12"}}));
  // The whole row travels, its height included.
  EXPECT_EQ(ws.RowHeight(2), 30);
  EXPECT_EQ(port.LogLines().back(), "正在将关键字(编号)相同的新记录覆盖旧记录...");
  EXPECT_EQ(port.scrolls, 1);
}

TEST(OverwriteTest, RowsPastTheOld16BitLimitAreCollapsedLikeAnyOther) {
  Worksheet ws("s", nullptr);
  (void)ws.SetText(1, 1, "k");
  const int n = 40000;
  for (int r = 2; r <= n + 1; ++r) {
    (void)ws.SetNumber(r, 1, r % 20000);
    (void)ws.SetNumber(r, 2, r);
  }
  HeaderState h{1, 1};
  ScriptedPort port;
  Presenter presenter(port);
  OverwriteDuplicates(ws, 1, "k", h, presenter);
  EXPECT_EQ(ws.UsedRange().r2, 20001);
  EXPECT_EQ(Show(ws.Cells(2, 1)), "n:2");
  EXPECT_EQ(Show(ws.Cells(2, 2)), "n:20002");
  EXPECT_EQ(Show(ws.Cells(20001, 2)), "n:40001");
}

TEST(MergeFailureTest, AnUnreadableTemplateEndsTheRunWithOneMessageAndNothingWritten) {
  for (int engine = 0; engine < 4; ++engine) {
    Bench b;
    b.request.files.push_back("missing.xls");
    b.Add("a.xls", Table("a", 1));
    b.port.inputs = {"1", "1"};
    if (engine == 3) b.port.buttons = {Answer::kYes};
    RunResult r = engine == 0 ? FastMerge(VerticalMode::kAppend, b.ctx)
                  : engine == 1
                      ? SafeMerge(VerticalMode::kAppend, b.ctx)
                      : SmartMerge(engine == 2 ? SmartMode::kBoth : SmartMode::kHorizontal, b.ctx);
    EXPECT_EQ(r.outcome, Outcome::kFailed) << engine;
    EXPECT_EQ(b.port.dialogs.back().title, "合并");
    EXPECT_EQ(b.port.dialogs.back().kind, "message");
    EXPECT_NE(b.port.dialogs.back().text.find("/src/missing.xls"), std::string::npos);
    EXPECT_EQ(b.store.FileCount(), 1u);
    EXPECT_FALSE(b.store.HasFolder("/src/合并结果"));
    EXPECT_FALSE(b.port.shown);
  }
}

TEST(MergeFailureTest, AFailedSaveIsReportedAndTheFolderItCreatedIsRemoved) {
  Bench b;
  b.Add("a.xls", Table("a", 1));
  b.store.fail_saves = MakeError(ErrorCode::kIo, "/src/合并结果/合并结果.xls: write failed",
                                 "无法写入文件：磁盘已满");
  b.port.inputs = {"1"};
  RunResult r = FastMerge(VerticalMode::kAppend, b.ctx);
  EXPECT_EQ(r.outcome, Outcome::kFailed);
  EXPECT_EQ(b.port.dialogs.back().text,
            "合并失败：/src/合并结果/合并结果.xls：读写文件出错（无法写入文件：磁盘已满）");
  EXPECT_NE(b.port.LogLines().back(), "合并操作结束！");
  EXPECT_FALSE(b.store.HasFolder("/src/合并结果"));
}

TEST(MergeFailureTest, ABlockPastTheLastRowOfTheGridFailsInsteadOfBeingCut) {
  Bench b;
  auto big = std::make_unique<Workbook>();
  Worksheet& ws = big->AddWorksheet("s");
  (void)ws.SetText(1, 1, "k");
  (void)ws.SetNumber(kMaxRows - 10, 1, 1);
  b.Add("a.xls", std::move(big));
  b.Add("b.xls", Rows{{"k"}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}, {12}});
  b.port.inputs = {"0"};
  EXPECT_EQ(FastMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kFailed);
  EXPECT_NE(b.port.dialogs.back().text.find("/src/b.xls"), std::string::npos);
}

TEST(MergeResultTest, ResultTooLargeForXlsIsSavedAsXlsxWithOneLogLine) {
  Bench b;
  for (const char* name : {"a.xls", "b.xls"}) {
    auto wb = std::make_unique<Workbook>();
    Worksheet& ws = wb->AddWorksheet("s");
    (void)ws.SetText(1, 1, "k");
    for (int r = 2; r <= 40000; ++r) (void)ws.SetNumber(r, 1, r);
    b.Add(name, std::move(wb));
  }
  b.port.inputs = {"1"};
  RunResult r = FastMerge(VerticalMode::kAppend, b.ctx);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(r.result_path, "/src/合并结果/合并结果.xlsx");
  EXPECT_TRUE(b.store.Has("/src/合并结果/合并结果.xlsx"));
  EXPECT_FALSE(b.store.Has("/src/合并结果/合并结果.xls"));
  Lines log = b.port.LogLines();
  EXPECT_EQ(log[log.size() - 2], "结果超出.xls格式的行列上限，已保存为/src/合并结果/合并结果.xlsx");
  EXPECT_EQ(log.back(), "合并操作结束！");
}

TEST(MergeResultTest, ResultTakesTheTemplatesColumnWidthsAndBlockRowHeights) {
  Bench b;
  auto tpl = Book(Rows{{"编号", "姓名"}, {1, "甲"}});
  tpl->Worksheets(1)->SetColumnWidth(2, 25);
  tpl->Worksheets(1)->SetRowHeight(1, 28);
  b.Add("a.xls", std::move(tpl));
  auto other = Book(Rows{{"编号", "姓名"}, {2, "乙"}});
  other->Worksheets(1)->SetColumnWidth(1, 40);
  b.Add("b.xls", std::move(other));
  b.port.inputs = {"1"};
  ASSERT_EQ(FastMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.Saved()->ColumnWidth(2), 25);
  EXPECT_EQ(b.Saved()->ColumnWidth(1), 0);
  EXPECT_EQ(b.Saved()->RowHeight(1), 28);
}

TEST(MergeResultTest, AnExistingResultIsReplacedAndTheResultFolderIsCreated) {
  Bench b;
  b.Add("a.xls", Table("a", 1));
  bool created = false;
  (void)b.store.MakeFolder("/src/合并结果", created);
  b.store.Put("/src/合并结果/合并结果.xls", Book(Rows{{"old"}}));
  b.port.inputs = {"1"};
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(Show(b.Saved()->Cells(1, 1)), "t:编号");

  Bench fresh;
  fresh.Add("a.xls", Table("a", 1));
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, fresh.ctx).outcome, Outcome::kDone);
  EXPECT_TRUE(fresh.store.HasFolder("/src/合并结果"));
}

}  // namespace
}  // namespace qm::testing

namespace qm::testing {
namespace {

TEST(WorkbookReaderTest, PrefetchedReadIsHandedOutAndAnotherPathIsReadDirectly) {
  MemoryStore store;
  store.Put("/a.xls", Book(Rows{{"a"}}));
  store.Put("/b.xls", Book(Rows{{"b"}}));
  WorkbookReader reader(store);
  reader.Prefetch("/missing.xls");
  auto missing = reader.Read("/missing.xls");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().detail.find("/missing.xls"), std::string::npos);

  reader.Prefetch("/a.xls");
  auto b = reader.Read("/b.xls");  // not the prefetched one
  ASSERT_TRUE(b);
  EXPECT_EQ(Show((*b)->Worksheets(1)->Cells(1, 1)), "t:b");
  auto a = reader.Read("/a.xls");
  ASSERT_TRUE(a);
  EXPECT_EQ(Show((*a)->Worksheets(1)->Cells(1, 1)), "t:a");
  // Opened workbooks are copies: changing one leaves the stored file alone.
  (void)(*a)->Worksheets(1)->SetText(1, 1, "changed");
  EXPECT_EQ(Show(store.Get("/a.xls")->Worksheets(1)->Cells(1, 1)), "t:a");
  reader.Prefetch("/b.xls");
  reader.Drop();  // waits for the background read
}

}  // namespace
}  // namespace qm::testing
