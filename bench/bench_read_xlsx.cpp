// Reading the first worksheets of a folder of .xlsx files, as a merge does, and the peak heap one
// read needs against the size of the cells it produces. The files come from
// bench/compare_read_xlsx.py (seeded); point QM_BENCH_XLSX_DIR at them.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "workbook/io.h"

// Heap accounting for the memory figure: every allocation of this process passes here.
namespace {
std::atomic<size_t> g_live{0}, g_peak{0};
void Note(void* p) {
  if (!p) return;
  size_t now = g_live += malloc_usable_size(p);
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  Note(p);
  return p;
}
// These replace the global allocation functions, so free() here matches the malloc() above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (p) g_live -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}
#pragma GCC diagnostic pop

namespace qm {
namespace {

std::vector<std::string> BenchFiles() {
  std::vector<std::string> files;
  const char* dir = std::getenv("QM_BENCH_XLSX_DIR");
  if (!dir || !std::filesystem::is_directory(dir)) return files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".xlsx") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

void BM_ReadXlsxFolder(benchmark::State& st) {
  auto files = BenchFiles();
  if (files.empty()) return st.SkipWithError("set QM_BENCH_XLSX_DIR (bench/compare_read_xlsx.py)");
  size_t cells = 0;
  for (auto _ : st) {
    cells = 0;
    for (const auto& f : files) {
      auto wb = ReadWorkbookFile(f, {true});
      if (!wb.ok()) return st.SkipWithError(wb.error().detail.c_str());
      cells += (*wb)->Worksheets(1)->CellCount();
    }
  }
  st.counters["files"] = static_cast<double>(files.size());
  st.counters["cells"] = static_cast<double>(cells);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * cells));
}
BENCHMARK(BM_ReadXlsxFolder)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Peak heap during one read (file bytes included) against the model's own bytes.
void BM_ReadXlsxPeakMemory(benchmark::State& st) {
  auto files = BenchFiles();
  if (files.empty()) return st.SkipWithError("set QM_BENCH_XLSX_DIR (bench/compare_read_xlsx.py)");
  double peak = 0, model = 0, cell_bytes = 0;
  for (auto _ : st) {
    size_t base = g_live.load();
    g_peak = base;
    auto wb = ReadWorkbookFile(files.front(), {true});
    if (!wb.ok()) return st.SkipWithError(wb.error().detail.c_str());
    peak = static_cast<double>(g_peak.load() - base);
    const Worksheet* ws = (*wb)->Worksheets(1);
    model = static_cast<double>(ws->MemoryBytes());
    cell_bytes = static_cast<double>(ws->CellCount() * sizeof(Cell));
  }
  st.counters["peak_heap_bytes"] = peak;
  st.counters["model_bytes"] = model;
  st.counters["cell_bytes"] = cell_bytes;
  st.counters["peak_per_model"] = peak / model;
  st.counters["peak_per_cell_bytes"] = peak / cell_bytes;
}
BENCHMARK(BM_ReadXlsxPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qm

BENCHMARK_MAIN();
