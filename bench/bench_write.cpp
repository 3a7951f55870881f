// Writing results: 65,000 x 10 as .xls and 400,000 x 12 as .xlsx with our writers, beside
// libxlsxwriter in constant-memory mode writing the same cells (bench/compare_write.py adds
// python3-xlwt for .xls). Counters: model_MB is the size of the cells in our model,
// writer_extra_MB how far the writer raised the process's peak resident memory above the
// resident size it started from.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "workbook/io.h"
#include "workbook/workbook.h"
#include "workbook/xls/xls.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

// The cells of both peers: column 1 a row number, then numbers with decimals, Chinese text
// from 5,000 distinct values and dates, in turn.
enum class Kind { kNumber, kText, kDate };
Kind KindOf(int c) {
  return c == 1 ? Kind::kNumber : static_cast<Kind>(c % 3);
}
double NumberAt(int r, int c) {
  return c == 1 ? r : r * c * 0.37;
}
std::string TextAt(int r, int c) {
  return "产品名称" + std::to_string((r * c) % 5000) + "号";
}
double DateAt(int r) {
  return 40000 + r % 3000;
}

std::unique_ptr<Workbook> MakeModel(int rows, int cols) {
  auto wb = std::make_unique<Workbook>();
  uint16_t date = wb->styles().AddXf(Xf{.num_fmt = wb->styles().AddNumFmt("yyyy-mm-dd")});
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  std::vector<uint32_t> pool(5000);
  for (int i = 0; i < 5000; ++i) pool[i] = ws.AddString(TextAt(i, 1));
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) switch (KindOf(c)) {
        case Kind::kNumber:
          ws.AppendNumber(r, c, NumberAt(r, c), 0);
          break;
        case Kind::kText:
          ws.AppendPooled(r, c, pool[(r * c) % 5000], 0);
          break;
        case Kind::kDate:
          ws.AppendNumber(r, c, DateAt(r), date);
          break;
      }
  return wb;
}

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
  return 0;
}

// Resets the peak resident size so the next reading shows the writer's own peak.
long ResetPeakKb() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKb("VmRSS:");
}

std::string OutPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("qm-bench-") + std::to_string(getpid()) + name))
      .string();
}

void RunOurs(benchmark::State& st, int rows, int cols, bool xlsx) {
  auto wb = MakeModel(rows, cols);
  std::string path = OutPath(xlsx ? ".xlsx" : ".xls");
  long extra = 0;
  for (auto _ : st) {
    st.PauseTiming();  // resetting the peak touches every page; keep it out of the figure
    long before = ResetPeakKb();
    st.ResumeTiming();
    Status s = xlsx ? xlsx::Write(*wb, path) : xls::Write(*wb, path);
    st.PauseTiming();
    if (!s) st.SkipWithError(s.error().detail.c_str());
    extra = std::max(extra, StatusKb("VmHWM:") - before);
    st.ResumeTiming();
  }
  st.counters["model_MB"] = wb->Worksheets(1)->MemoryBytes() / 1e6;
  st.counters["writer_extra_MB"] = extra / 1e3;
  st.counters["file_MB"] = std::filesystem::file_size(path) / 1e6;
  std::filesystem::remove(path);
  st.SetItemsProcessed(st.iterations() * rows * cols);
}

void BM_OursXls_65000x10(benchmark::State& st) {
  RunOurs(st, 65000, 10, false);
}
BENCHMARK(BM_OursXls_65000x10)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_OursXlsx_400000x12(benchmark::State& st) {
  RunOurs(st, 400000, 12, true);
}
BENCHMARK(BM_OursXlsx_400000x12)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// libxlsxwriter, constant-memory mode, writing straight from the generator (it has no model).
void BM_LibxlsxwriterConstantMemory_400000x12(benchmark::State& st) {
  const int rows = 400000, cols = 12;
  std::string path = OutPath("-lxw.xlsx");
  std::vector<std::string> texts(5000);
  for (int i = 0; i < 5000; ++i) texts[i] = TextAt(i, 1);
  for (auto _ : st) {
    lxw_workbook_options opt = {};
    opt.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(path.c_str(), &opt);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Sheet1");
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy-mm-dd");
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) switch (KindOf(c)) {
          case Kind::kNumber:
            worksheet_write_number(ws, r - 1, c - 1, NumberAt(r, c), nullptr);
            break;
          case Kind::kText:
            worksheet_write_string(ws, r - 1, c - 1, texts[(r * c) % 5000].c_str(), nullptr);
            break;
          case Kind::kDate:
            worksheet_write_number(ws, r - 1, c - 1, DateAt(r), date);
            break;
        }
    if (workbook_close(wb) != LXW_NO_ERROR) st.SkipWithError("libxlsxwriter failed");
  }
  st.counters["file_MB"] = std::filesystem::file_size(path) / 1e6;
  std::filesystem::remove(path);
  st.SetItemsProcessed(st.iterations() * rows * cols);
}
BENCHMARK(BM_LibxlsxwriterConstantMemory_400000x12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

}  // namespace
}  // namespace qm

BENCHMARK_MAIN();
