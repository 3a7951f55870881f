// The model must never be what limits a merge: cell fill, read, copy/paste and row deletion rates.
#include <benchmark/benchmark.h>

#include "workbook/store.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

constexpr int kRows = 100000, kCols = 10;

std::shared_ptr<Worksheet> Filled(int rows, int cols) {
  auto ws = std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) ws->AppendNumber(r, c, r * 0.5 + c, 0);
  return ws;
}

void BM_Fill(benchmark::State& st) {
  for (auto _ : st) {
    auto ws = Filled(kRows, kCols);
    benchmark::DoNotOptimize(ws.get());
  }
  st.SetItemsProcessed(st.iterations() * kRows * kCols);
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond);

void BM_FillThroughSetters(benchmark::State& st) {
  for (auto _ : st) {
    Worksheet ws("S", std::make_shared<StyleTable>());
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) ws.SetNumber(r, c, r + c);
    benchmark::DoNotOptimize(&ws);
  }
  st.SetItemsProcessed(st.iterations() * kRows * kCols);
}
BENCHMARK(BM_FillThroughSetters)->Unit(benchmark::kMillisecond);

void BM_ReadCells(benchmark::State& st) {
  auto ws = Filled(kRows, kCols);
  for (auto _ : st) {
    double sum = 0;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) sum += ws->Cells(r, c).number;
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(st.iterations() * kRows * kCols);
}
BENCHMARK(BM_ReadCells)->Unit(benchmark::kMillisecond);

void BM_CopyPasteBlock(benchmark::State& st) {
  auto src = Filled(kRows, kCols);
  for (auto _ : st) {
    st.PauseTiming();
    auto dst = std::make_shared<Worksheet>("D", std::make_shared<StyleTable>());
    st.ResumeTiming();
    (void)dst->PasteFrom(*src, src->UsedRange(), 1, 1);
    benchmark::DoNotOptimize(dst.get());
  }
  st.SetItemsProcessed(st.iterations() * kRows * kCols);
}
BENCHMARK(BM_CopyPasteBlock)->Unit(benchmark::kMillisecond);

void BM_PasteTextAcrossWorkbooks(benchmark::State& st) {
  auto src = std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) src->AppendText(r, c, "文本" + std::to_string(r % 97), 0);
  for (auto _ : st) {
    st.PauseTiming();
    auto dst = std::make_shared<Worksheet>("D", std::make_shared<StyleTable>());
    st.ResumeTiming();
    dst->PasteFrom(*src, src->UsedRange(), 1, 1);
    benchmark::DoNotOptimize(dst.get());
  }
  st.SetItemsProcessed(st.iterations() * kRows * kCols);
}
BENCHMARK(BM_PasteTextAcrossWorkbooks)->Unit(benchmark::kMillisecond);

void BM_DeleteRowsNearEndOfMillion(benchmark::State& st) {
  auto ws = Filled(1000000, kCols);
  st.counters["bytes_per_cell"] =
      static_cast<double>(ws->MemoryBytes()) / static_cast<double>(ws->CellCount());
  int r = 999000;
  for (auto _ : st) {
    ws->DeleteRows(r);
    if (ws->RowCount() < 999100) {
      st.PauseTiming();
      ws = Filled(1000000, kCols);
      st.ResumeTiming();
    }
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_DeleteRowsNearEndOfMillion)->Unit(benchmark::kMicrosecond);

void BM_UsedRangeAfterDelete(benchmark::State& st) {
  auto ws = Filled(400000, kCols);
  for (auto _ : st) {
    ws->DeleteRows(200000);
    benchmark::DoNotOptimize(ws->UsedRange());
  }
}
BENCHMARK(BM_UsedRangeAfterDelete)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qm

BENCHMARK_MAIN();
