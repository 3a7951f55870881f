// Reading the first worksheets of a folder of .xls files, as a merge does. The files come from
// bench/compare_read_xls.py, which also times python3-xlrd on the same files.
//   QM_BENCH_XLS_DIR=DIR bench_read_xls            Google Benchmark timing of the whole folder
//   bench_read_xls --peak FILE                     peak memory of reading one file, as JSON
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workbook/io.h"

namespace qm {
namespace {

std::vector<std::string> XlsFiles() {
  std::vector<std::string> out;
  const char* dir = std::getenv("QM_BENCH_XLS_DIR");
  if (!dir) return out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".xls") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

void BM_ReadXlsFolder(benchmark::State& st) {
  std::vector<std::string> files = XlsFiles();
  if (files.empty()) {
    st.SkipWithError("set QM_BENCH_XLS_DIR to a folder of .xls files (compare_read_xls.py)");
    return;
  }
  size_t cells = 0;
  for (auto _ : st) {
    cells = 0;
    for (const auto& f : files) {
      auto r = ReadWorkbookFile(f, {true});
      if (!r) {
        st.SkipWithError(r.error().detail.c_str());
        return;
      }
      cells += (*r)->Worksheets(1)->CellCount();
    }
  }
  st.counters["files"] = static_cast<double>(files.size());
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * cells));
}
BENCHMARK(BM_ReadXlsFolder)->Unit(benchmark::kMillisecond)->MinTime(2.0);

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}

int Peak(const char* path) {
  long before = StatusKb("VmRSS:");
  auto r = ReadWorkbookFile(path, {true});
  if (!r) {
    std::fprintf(stderr, "%s\n", r.error().detail.c_str());
    return 2;
  }
  const Worksheet* ws = (*r)->Worksheets(1);
  std::printf(
      "{\"cells\": %zu, \"model_bytes\": %zu, \"rss_before_kb\": %ld, \"peak_kb\": %ld, "
      "\"file_bytes\": %ju}\n",
      ws->CellCount(), ws->MemoryBytes(), before, StatusKb("VmHWM:"),
      static_cast<uintmax_t>(std::filesystem::file_size(path)));
  return 0;
}

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) return qm::Peak(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
