// Throughput of the merge engines on the workloads the comparison with pandas uses
// (bench/compare_merge.py runs the whole programs on files). Here the workbooks sit in memory,
// so the figures show the engines alone, without reading and writing files.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>

#include "merge/engines.h"
#include "merge/presenter.h"
#include "workbook/store.h"

namespace {

using namespace qm;

// A front end that answers OK / the given key / the header-row count and records nothing.
class QuietPort : public Answers, public RunView {
 public:
  std::string key = "1", header_rows = "1";
  bool sorted = false;
  std::string log;

  bool Confirm(const Confirmation&) override { return true; }
  bool AnswerSorted(const SortedQuestion&) override { return sorted; }
  std::optional<std::string> AnswerHeaderRows(const InputQuestion&) override { return header_rows; }
  std::optional<std::string> AnswerKeyColumn(const InputQuestion&) override { return key; }
  void Acknowledge(const Notice&) override {}
  void ReplaceLog(const std::string& t) override { log = t; }
  void AppendLog(const std::string& line) override { log += "\r\n" + line; }
  void ScrollLogToEnd() override {}
  void SetProgressMax(double) override {}
  void SetProgressValue(double) override {}
  void ClearStatus() override {}
  void PrintStatus(const std::string&) override {}
  void ShowResult(const std::string&) override {}
};

// prefix + number + suffix, built by appending (keeps GCC's -Wrestrict false alarm quiet).
std::string Named(std::string prefix, long n, const char* suffix = "") {
  return prefix.append(std::to_string(n)).append(suffix);
}

// A table with a header row, `rows` data rows and `cols` columns: a key in column 1 and a mix
// of numbers and texts.
std::unique_ptr<Workbook> MakeTable(int rows, int cols, const std::vector<int>& keys,
                                    const std::vector<std::string>& header, unsigned seed) {
  std::mt19937 rng(seed);
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  for (int c = 1; c <= cols; ++c) (void)ws.SetText(1, c, header[static_cast<size_t>(c - 1)]);
  for (int r = 0; r < rows; ++r) {
    ws.AppendNumber(r + 2, 1, keys[static_cast<size_t>(r)], 0);
    for (int c = 2; c <= cols; ++c) {
      if (c % 3 == 0)
        ws.AppendText(r + 2, c, Named("t", rng() % 1000), 0);
      else
        ws.AppendNumber(r + 2, c, static_cast<double>(rng() % 100000) / 100, 0);
    }
  }
  return wb;
}

std::vector<std::string> Header(int cols, const std::string& prefix) {
  std::vector<std::string> h{"编号"};
  for (int c = 2; c <= cols; ++c) h.push_back(Named(prefix, c));
  return h;
}

struct Setup {
  MemoryStore store;
  QuietPort port;
  MergeRequest request = [] {
    MergeRequest r;
    r.folder = "/src";
    return r;
  }();
  void Add(const std::string& name, std::unique_ptr<Workbook> wb) {
    store.Put(request.folder + "/" + name, std::move(wb));
    request.files.push_back(name);
  }
};

template <typename Mode>
void RunEngine(benchmark::State& state, Setup& s, RunResult (*engine)(Mode, MergeContext&),
               Mode mode, int64_t rows) {
  for (auto _ : state) {
    HeaderState header;
    Presenter presenter(s.port);
    MergeContext ctx{s.request, s.port, presenter, header, s.store};
    RunResult r = engine(mode, ctx);
    if (r.outcome != Outcome::kDone) state.SkipWithError("the merge did not finish");
    benchmark::DoNotOptimize(r);
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
}

// 60 tables x 1,000 rows x 10 columns, stacked.
void BM_FastVertical(benchmark::State& state) {
  Setup s;
  std::vector<int> keys(1000);
  std::iota(keys.begin(), keys.end(), 1);
  for (int i = 0; i < 60; ++i)
    s.Add(Named("t", i, ".xls"), MakeTable(1000, 10, keys, Header(10, "c"), i));
  RunEngine(state, s, FastMerge, VerticalMode::kAppend, 60000);
}
BENCHMARK(BM_FastVertical)->Unit(benchmark::kMillisecond);

// 10 tables x 20,000 rows with shuffled keys; every table brings new columns.
void SmartSetup(Setup& s) {
  for (int i = 0; i < 10; ++i) {
    std::vector<int> keys(20000);
    std::iota(keys.begin(), keys.end(), 1 + i * 1000);  // overlapping key ranges
    std::shuffle(keys.begin(), keys.end(), std::mt19937(100 + i));
    s.Add(Named("t", i, ".xls"), MakeTable(20000, 6, keys, Header(6, Named("表", i, "列")), i));
  }
}
void BM_SmartHorizontal(benchmark::State& state) {
  Setup s;
  SmartSetup(s);
  RunEngine(state, s, SmartMerge, SmartMode::kHorizontal, 200000);
}
BENCHMARK(BM_SmartHorizontal)->Unit(benchmark::kMillisecond);

void BM_SmartBoth(benchmark::State& state) {
  Setup s;
  SmartSetup(s);
  RunEngine(state, s, SmartMerge, SmartMode::kBoth, 200000);
}
BENCHMARK(BM_SmartBoth)->Unit(benchmark::kMillisecond);

void BM_SortedSmart(benchmark::State& state) {
  Setup s;
  for (int i = 0; i < 10; ++i) {
    std::vector<int> keys(20000);
    std::iota(keys.begin(), keys.end(), 1 + i * 1000);
    s.Add(Named("t", i, ".xls"), MakeTable(20000, 6, keys, Header(6, Named("表", i, "列")), i));
  }
  s.port.sorted = true;
  RunEngine(state, s, SmartMerge, SmartMode::kHorizontal, 200000);
}
BENCHMARK(BM_SortedSmart)->Unit(benchmark::kMillisecond);

// Two tables of 100,000 rows that all carry the same key: every source row matches every
// result row, so only the index's record of the columns each key's rows already hold keeps the
// work linear (without it, 10^10 cell checks).
void EqualKeysSetup(Setup& s) {
  std::vector<int> keys(100000, 7);
  s.Add("a.xls", MakeTable(100000, 6, keys, Header(6, "甲"), 1));
  s.Add("b.xls", MakeTable(100000, 6, keys, Header(6, "乙"), 2));
}
void BM_SmartBothEqualKeys(benchmark::State& state) {
  Setup s;
  EqualKeysSetup(s);
  RunEngine(state, s, SmartMerge, SmartMode::kBoth, 200000);
}
BENCHMARK(BM_SmartBothEqualKeys)->Unit(benchmark::kMillisecond);

void BM_SortedSmartEqualKeys(benchmark::State& state) {
  Setup s;
  EqualKeysSetup(s);
  s.port.sorted = true;
  RunEngine(state, s, SmartMerge, SmartMode::kHorizontal, 200000);
}
BENCHMARK(BM_SortedSmartEqualKeys)->Unit(benchmark::kMillisecond);

// 200 tables x 2,000 rows, overwrite by key: 400,000 rows, the result goes to .xlsx.
void BM_SafeOverwrite(benchmark::State& state) {
  Setup s;
  for (int i = 0; i < 200; ++i) {
    std::vector<int> keys(2000);
    std::mt19937 rng(500 + i);
    for (int& k : keys) k = static_cast<int>(rng() % 100000);
    s.Add(Named("t", i, ".xls"), MakeTable(2000, 10, keys, Header(10, "c"), i));
  }
  RunEngine(state, s, SafeMerge, VerticalMode::kOverwrite, 400000);
}
BENCHMARK(BM_SafeOverwrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
