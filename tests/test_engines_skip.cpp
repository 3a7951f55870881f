// Unreadable sources in every engine: skipped with one line where the table would have been
// merged, the progress still advancing, the run going on; every listed file gets its outcome.
#include <map>

#include "test_engines_port.h"

namespace qm::testing {
namespace {

using Lines = std::vector<std::string>;

Rows Table(const char* tag, int n, int first_id = 1) {
  Rows rows{{"编号", "姓名", "金额"}};
  for (int i = 0; i < n; ++i)
    rows.push_back({first_id + i, std::string(tag) + std::to_string(i + 1), (i + 1) * 10});
  return rows;
}

// A store whose named files fail to read with a given error, as damaged or protected files do.
class FailingStore : public MemoryStore {
 public:
  std::map<std::string, Error> failures;
  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options,
                                         std::string* used_password) override {
    auto it = failures.find(path);
    if (it != failures.end()) return it->second;
    return MemoryStore::Read(path, options, used_password);
  }
};

struct SkipBench {
  FailingStore store;
  MergeRequest request = SourceRequest();
  ScriptedPort port;
  Presenter presenter{port};
  HeaderState header;
  MergeContext ctx{request, port, presenter, header, store};

  void Add(const std::string& name, const Rows& rows) {
    store.Put("/src/" + name, Book(rows));
    request.files.push_back(name);
  }
  void AddBroken(const std::string& name, Error e) {
    store.failures["/src/" + name] = std::move(e);
    request.files.push_back(name);
  }
  const Worksheet* Saved(const std::string& name) const {
    const Workbook* wb = store.Get("/src/合并结果/" + name);
    return wb ? wb->Worksheets(1) : nullptr;
  }
};

enum class Kind { kFast, kSafe, kSmartBoth, kSmartHorizontal, kSorted };
constexpr Kind kAllKinds[] = {Kind::kFast, Kind::kSafe, Kind::kSmartBoth, Kind::kSmartHorizontal,
                              Kind::kSorted};

RunResult RunKind(Kind kind, SkipBench& b) {
  switch (kind) {
    case Kind::kFast:
      b.port.inputs = {"1"};
      return FastMerge(VerticalMode::kAppend, b.ctx);
    case Kind::kSafe:
      return SafeMerge(VerticalMode::kAppend, b.ctx);
    case Kind::kSmartBoth:
      b.port.inputs = {"1"};
      return SmartMerge(SmartMode::kBoth, b.ctx);
    case Kind::kSmartHorizontal:
      b.port.inputs = {"1"};
      return SmartMerge(SmartMode::kHorizontal, b.ctx);
    case Kind::kSorted:
      b.port.inputs = {"1"};
      b.port.buttons = {Answer::kYes};
      return SmartMerge(SmartMode::kHorizontal, b.ctx);
  }
  return {};
}

std::string ResultName(Kind kind) {
  return kind == Kind::kFast || kind == Kind::kSafe ? "合并结果.xls" : "智能合并结果.xls";
}

Error Protected(const std::string& file) {
  return MakeError(ErrorCode::kEncrypted, file + ": the workbook is password protected");
}

TEST(SkipUnreadableTest, EveryEngineSkipsAnUnreadableSourceAtAnyPositionAndGoesOn) {
  // Four good tables with distinct keys; the broken one sits at each position after the template
  // in turn, then every source but the template is broken.
  const std::vector<std::vector<int>> layouts = {{1}, {2}, {3}, {1, 2, 3}};
  for (Kind kind : kAllKinds) {
    for (const auto& broken : layouts) {
      SCOPED_TRACE(::testing::Message() << "engine " << static_cast<int>(kind) << " broken at "
                                        << broken.front() << " of " << broken.size());
      SkipBench b;
      b.Add("a.xls", Table("a", 2, 1));
      for (int k = 1; k <= 3; ++k) {
        const std::string name = std::string(1, static_cast<char>('a' + k)) + ".xls";
        if (std::find(broken.begin(), broken.end(), k) != broken.end())
          b.AddBroken(name, Protected("/src/" + name));
        else
          b.Add(name, Table(name.c_str(), 1, 10 * k));
      }
      RunResult r = RunKind(kind, b);
      ASSERT_EQ(r.outcome, Outcome::kDone);
      ASSERT_NE(b.Saved(ResultName(kind)), nullptr);

      // The skip line stands right after the table's own line, where its merge would have been;
      // the sorted path tells it on the status lines.
      const bool on_status = kind == Kind::kSorted;
      const Lines lines = on_status ? b.port.status : b.port.LogLines();
      for (int k : broken) {
        const std::string name = std::string(1, static_cast<char>('a' + k)) + ".xls";
        const std::string skip = "无法读取，已跳过：" + name + "（文件受密码保护）";
        auto at = std::find(lines.begin(), lines.end(), skip);
        ASSERT_NE(at, lines.end()) << skip;
        if (!on_status) {
          EXPECT_EQ(*(at - 1), "检测表" + std::to_string(k + 1) + ":" + name);
        }
      }
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("无法读取", 0) == 0; }),
                static_cast<long>(broken.size()));
      EXPECT_EQ(b.port.value, b.port.max);  // progress reaches its end all the same
      EXPECT_TRUE(b.port.shown);

      // Outcomes: one per listed file, in list order.
      ASSERT_EQ(b.port.outcomes.size(), 4u);
      EXPECT_EQ(b.port.outcomes[0].status, TableStatus::kTemplate);
      EXPECT_EQ(b.port.outcomes[0].rows, 3);
      long long rows = *b.port.outcomes[0].rows;
      for (size_t k = 1; k < 4; ++k) {
        const TableOutcome& o = b.port.outcomes[k];
        EXPECT_EQ(o.file_index, k);
        if (std::find(broken.begin(), broken.end(), static_cast<int>(k)) != broken.end()) {
          EXPECT_EQ(o.status, TableStatus::kUnreadable);
          EXPECT_EQ(o.code, "password");
          EXPECT_EQ(o.reason, "文件受密码保护");
          EXPECT_FALSE(o.rows);
        } else {
          EXPECT_EQ(o.status, TableStatus::kMerged);
          ASSERT_TRUE(o.rows);
          rows += *o.rows;
        }
      }
      // Every readable file's rows are in the result.
      const Worksheet& ws = *b.Saved(ResultName(kind));
      if (kind == Kind::kFast || kind == Kind::kSafe || kind == Kind::kSmartBoth) {
        EXPECT_EQ(rows, ws.UsedRange().RowsCount());
      }
    }
  }
}

TEST(SkipUnreadableTest, RunsWithoutUnreadableFilesKeepTheirLogAndReportEveryFileMerged) {
  for (Kind kind : {Kind::kFast, Kind::kSafe, Kind::kSmartBoth}) {
    SkipBench b;
    b.Add("a.xls", Table("a", 2));
    b.Add("b.xls", Table("b", 1, 3));
    RunKind(kind, b);
    for (const auto& line : b.port.LogLines()) EXPECT_EQ(line.find("无法读取"), std::string::npos);
    ASSERT_EQ(b.port.outcomes.size(), 2u);
    EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kMerged);
    EXPECT_EQ(b.port.outcomes[1].rows, 1);
  }
}

TEST(SkipUnreadableTest, AnUnreadableTemplateStillEndsTheRunWithAChineseReason) {
  for (Kind kind : kAllKinds) {
    SkipBench b;
    b.AddBroken("a.xls", MakeError(ErrorCode::kNotAWorkbook,
                                   "/src/a.xls: not a workbook (a text file, such as CSV, ...)",
                                   "看起来是文本文件，如CSV"));
    b.Add("b.xls", Table("b", 1));
    RunResult r = RunKind(kind, b);
    EXPECT_EQ(r.outcome, Outcome::kFailed);
    EXPECT_EQ(b.port.dialogs.back().text,
              "合并失败：/src/a.xls：不是Excel工作簿（看起来是文本文件，如CSV）");
    EXPECT_EQ(b.port.dialogs.back().title, "合并");
    ASSERT_EQ(b.port.outcomes.size(), 2u);
    EXPECT_EQ(b.port.outcomes[0].status, TableStatus::kUnreadable);
    EXPECT_EQ(b.port.outcomes[0].code, "not-a-workbook");
    EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kNotReached);
    EXPECT_EQ(b.store.FileCount(), 1u);
  }
}

TEST(SkipUnreadableTest, SafeMergeTellsHeaderMismatchApartFromUnreadable) {
  SkipBench b;
  b.Add("a.xls", Table("a", 1));
  b.Add("b.xls", Rows{{"别的", "表头"}, {1, 2}});
  b.AddBroken("c.xls", MakeError(ErrorCode::kMissing, "/src/c.xls: cannot open the file"));
  b.Add("d.xls", Table("d", 2, 5));
  EXPECT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);
  ASSERT_EQ(b.port.outcomes.size(), 4u);
  EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kHeaderMismatch);
  EXPECT_EQ(b.port.outcomes[1].rows, 0);
  EXPECT_EQ(b.port.outcomes[2].status, TableStatus::kUnreadable);
  EXPECT_EQ(b.port.outcomes[2].reason, "文件不存在");
  EXPECT_EQ(b.port.outcomes[3].rows, 2);
  EXPECT_EQ(b.port.LogLines(),
            (Lines{"开始合并...", "检测表1:a.xls", " 1:编号| 2:姓名| 3:金额|", "检测表2:b.xls",
                   "未合并，表格不规范！", " 1:别的| 2:表头|", "检测表3:c.xls",
                   "无法读取，已跳过：c.xls（文件不存在）", "检测表4:d.xls",
                   " 1:编号| 2:姓名| 3:金额|", "合并操作结束！"}));
}

TEST(SkipUnreadableTest, FilesAfterAStopOrCancelAreNotReached) {
  SkipBench b;
  b.Add("a.xls", Table("a", 1));
  b.Add("b.xls", Table("b", 1));
  b.port.inputs = {"0"};  // a key column of 0 stops the overwrite merge
  EXPECT_EQ(SafeMerge(VerticalMode::kOverwrite, b.ctx).outcome, Outcome::kStopped);
  ASSERT_EQ(b.port.outcomes.size(), 2u);
  EXPECT_EQ(b.port.outcomes[0].status, TableStatus::kTemplate);
  EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kNotReached);

  SkipBench c;
  c.Add("a.xls", Table("a", 1));
  c.port.buttons = {Answer::kCancel};
  EXPECT_EQ(FastMerge(VerticalMode::kAppend, c.ctx).outcome, Outcome::kCancelled);
  ASSERT_EQ(c.port.outcomes.size(), 1u);
  EXPECT_EQ(c.port.outcomes[0].status, TableStatus::kNotReached);
}

}  // namespace
}  // namespace qm::testing
