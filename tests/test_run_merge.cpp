// A run from a request: the answers source and the view a front end gives, and the stop flag it
// sets from another thread.
#include <atomic>

#include "core/run_merge.h"
#include "test_engines_port.h"

namespace qm::testing {
namespace {

// Answers and shows through a scripted port, and raises the stop flag once a given line has been
// logged, as a user pressing 停止 at that moment would.
struct Front : Answers, RunView {
  ScriptedPort port;
  std::atomic<bool> stop{false};
  std::string stop_after;
  std::vector<ReportPlace> begun;

  bool Confirm(const Confirmation& q) override {
    return port.Message(q.text, q.title, Buttons::kOkCancel) == Answer::kOk;
  }
  bool AnswerSorted(const SortedQuestion& q) override {
    return port.Message(q.text, q.title, Buttons::kYesNo) == Answer::kYes;
  }
  std::optional<std::string> AnswerHeaderRows(const InputQuestion& q) override {
    return port.Input(q.kind, q.prompt, q.title, q.default_answer);
  }
  std::optional<std::string> AnswerKeyColumn(const InputQuestion& q) override {
    return port.Input(q.kind, q.prompt, q.title, q.default_answer);
  }
  void Acknowledge(const Notice& n) override { port.Message(n.text, n.title, Buttons::kOk); }
  void BeginReport(ReportPlace where) override { begun.push_back(where); }
  void ReplaceLog(const std::string& t) override { port.ReplaceLog(t); }
  void AppendLog(const std::string& line) override {
    port.AppendLog(line);
    if (line == stop_after) stop = true;
  }
  void ScrollLogToEnd() override { port.ScrollLogToEnd(); }
  void SetProgressMax(double m) override { port.SetProgressMax(m); }
  void SetProgressValue(double v) override { port.SetProgressValue(v); }
  void ClearStatus() override { port.ClearStatus(); }
  void PrintStatus(const std::string& line) override { port.PrintStatus(line); }
  void ShowResult(const std::string& path) override { port.ShowResult(path); }
  std::vector<TableOutcome> tables;
  void ReportTable(const TableOutcome& o) override { tables.push_back(o); }
};

MergeRequest Request(const std::vector<std::string>& files, MergeKind kind, MergeVariant variant) {
  MergeRequest r;
  r.folder = "/src";
  r.files = files;
  r.kind = kind;
  r.variant = variant;
  return r;
}

TEST(RunMergeTest, StopEndsTheRunAtTheNextTableWithNothingWrittenAndAnOlderResultKept) {
  MemoryStore store;
  store.Put("/src/a.xls", Book(Rows{{"编号", "金额"}, {1, 10}}));
  store.Put("/src/b.xls", Book(Rows{{"编号", "金额"}, {2, 20}}));
  store.Put("/src/c.xls", Book(Rows{{"编号", "金额"}, {3, 30}}));
  bool created = false;
  (void)store.MakeFolder("/src/合并结果", created);
  store.Put("/src/合并结果/合并结果.xls", Book(Rows{{"old"}}));

  Front front;
  front.stop_after = "检测表2:b.xls";
  MergeRequest request =
      Request({"a.xls", "b.xls", "c.xls"}, MergeKind::kVertical, MergeVariant::kSafe);
  request.stop = &front.stop;
  HeaderState header;
  const RunResult r = RunMerge(request, front, front, header, &store);
  EXPECT_EQ(r.outcome, Outcome::kInterrupted);
  EXPECT_FALSE(r.result_path);
  EXPECT_EQ(front.port.LogLines().back(), "已停止，未保存结果");
  EXPECT_EQ(Show(store.Get("/src/合并结果/合并结果.xls")->Worksheets(1)->Cells(1, 1)), "t:old");
  EXPECT_FALSE(front.port.shown);
  EXPECT_EQ(front.begun, std::vector<ReportPlace>{ReportPlace::kLog});
}

TEST(RunMergeTest, TheRequestNamesTheFilesAndTheSortedPathReportsOnStatusLines) {
  MemoryStore store;
  store.Put("/src/a.xls", Book(Rows{{"编号", "姓名"}, {1, "甲"}}));
  store.Put("/src/b.xls", Book(Rows{{"编号", "金额"}, {1, 10}}));
  Front front;
  front.port.buttons = {Answer::kYes};
  front.port.inputs = {"1"};
  HeaderState header;
  const RunResult r =
      RunMerge(Request({"a.xls", "b.xls"}, MergeKind::kSmart, MergeVariant::kHorizontal), front,
               front, header, &store);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(r.result_path, "/src/合并结果/智能合并结果.xls");
  EXPECT_EQ(front.begun, std::vector<ReportPlace>{ReportPlace::kStatusLines});
  ASSERT_EQ(front.tables.size(), 2u);
  EXPECT_EQ(front.tables[1].status, TableStatus::kMerged);
  EXPECT_EQ(front.tables[1].name, "b.xls");
}

}  // namespace
}  // namespace qm::testing
