// What carrying formulas costs a merge: pasting and deleting rows of tables with and without a
// formula column, and the rate of formula shifting itself. A merge whose tables carry one formula
// column must stay within 1.5 times the values-only time.
#include <benchmark/benchmark.h>

#include <memory>

#include <string>
#include <vector>

#include "workbook/formula/formula.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

constexpr int kTables = 10, kRowsPerTable = 10000, kCols = 10;

// A table with a header row, `kRowsPerTable` rows of data and, when asked, an amount column of
// per-row formulas plus a total row.
std::shared_ptr<Worksheet> Table(bool formulas) {
  auto ws = std::make_shared<Worksheet>("T", std::make_shared<StyleTable>());
  for (int c = 1; c <= kCols; ++c)
    (void)ws->SetText(1, c, std::string("H").append(std::to_string(c)));
  for (int r = 2; r <= kRowsPerTable + 1; ++r) {
    for (int c = 1; c < kCols; ++c) ws->AppendNumber(r, c, r * 0.5 + c, 0);
    ws->AppendNumber(r, kCols, r * 3.0, 0);
    if (formulas) {
      const std::string n = std::to_string(r);
      (void)ws->SetFormula(r, kCols, "A" + n + "*B" + n);
    }
  }
  (void)ws->SetNumber(kRowsPerTable + 2, kCols, 1);
  if (formulas)
    (void)ws->SetFormula(kRowsPerTable + 2, kCols,
                         "SUM(J2:J" + std::to_string(kRowsPerTable + 1) + ")");
  return ws;
}

// Stacks every table's data below the previous one, as the vertical merges do.
void BM_MergePaste(benchmark::State& st) {
  const bool formulas = st.range(0) != 0;
  std::vector<std::shared_ptr<Worksheet>> tables;
  for (int i = 0; i < kTables; ++i) tables.push_back(Table(formulas));
  for (auto _ : st) {
    Worksheet out("R", std::make_shared<StyleTable>());
    int next = 1;
    for (const auto& t : tables) {
      Range area{2, 1, kRowsPerTable + 2, kCols};
      benchmark::DoNotOptimize(out.PasteFrom(*t, area, next, 1));
      next += area.RowsCount();
    }
    benchmark::DoNotOptimize(&out);
  }
  st.SetItemsProcessed(st.iterations() * kTables * kRowsPerTable);
  st.SetLabel(formulas ? "one formula column" : "values only");
}
BENCHMARK(BM_MergePaste)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The fast merge: each table pasted whole below the result, then its header row deleted.
void BM_FastMerge(benchmark::State& st) {
  const bool formulas = st.range(0) != 0;
  std::vector<std::shared_ptr<Worksheet>> tables;
  for (int i = 0; i < kTables; ++i) tables.push_back(Table(formulas));
  for (auto _ : st) {
    Worksheet out("R", std::make_shared<StyleTable>());
    bool first = true;
    for (const auto& t : tables) {
      const int next = first ? 1 : out.UsedRange().RowsCount() + 1;
      benchmark::DoNotOptimize(out.PasteFrom(*t, t->UsedRange(), next, 1));
      if (!first) out.DeleteRows(next);
      first = false;
    }
    benchmark::DoNotOptimize(&out);
  }
  st.SetItemsProcessed(st.iterations() * kTables * kRowsPerTable);
  st.SetLabel(formulas ? "one formula column" : "values only");
}
BENCHMARK(BM_FastMerge)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The overwrite pass deletes rows all through the result; one pass over a scattered set.
void BM_DeleteRowSet(benchmark::State& st) {
  const bool formulas = st.range(0) != 0;
  auto base = Table(formulas);
  Worksheet big("B", base->shared_styles());
  for (int i = 0; i < kTables; ++i)
    (void)big.PasteFrom(*base, Range{1, 1, kRowsPerTable + 2, kCols}, 1 + i * (kRowsPerTable + 2),
                        1);
  std::vector<int> rows;
  for (int r = 5; r <= big.RowCount(); r += 10) rows.push_back(r);
  for (auto _ : st) {
    st.PauseTiming();
    auto ws = std::make_unique<Worksheet>(big);
    st.ResumeTiming();
    ws->DeleteRowSet(rows);
    benchmark::DoNotOptimize(ws.get());
    st.PauseTiming();
    ws.reset();
    st.ResumeTiming();
  }
  st.SetLabel(formulas ? "one formula column" : "values only");
}
BENCHMARK(BM_DeleteRowSet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Deleting one row near the top of a large sheet, the worst case for the formula rewrite.
void BM_DeleteOneRow(benchmark::State& st) {
  const bool formulas = st.range(0) != 0;
  auto base = Table(formulas);
  Worksheet big("B", base->shared_styles());
  for (int i = 0; i < kTables; ++i)
    (void)big.PasteFrom(*base, Range{1, 1, kRowsPerTable + 2, kCols}, 1 + i * (kRowsPerTable + 2),
                        1);
  for (auto _ : st) {
    st.PauseTiming();
    auto ws = std::make_unique<Worksheet>(big);
    st.ResumeTiming();
    ws->DeleteRows(2);
    benchmark::DoNotOptimize(ws.get());
    st.PauseTiming();
    ws.reset();
    st.ResumeTiming();
  }
  st.SetLabel(formulas ? "one formula column" : "values only");
}
BENCHMARK(BM_DeleteOneRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ShiftFormula(benchmark::State& st) {
  static const char* const kTexts[] = {
      "A123*B123",
      "SUM(C2:C10001)",
      "IF(A5>0,VLOOKUP(A5,$D$1:$E$100,2,FALSE),\"none\")",
  };
  const char* text = kTexts[st.range(0)];
  size_t bytes = 0;
  for (auto _ : st) {
    auto r = ShiftFormula(text, 17, 0);
    bytes += r->size();
    benchmark::DoNotOptimize(r);
  }
  st.SetItemsProcessed(st.iterations());
  st.SetLabel(text);
}
BENCHMARK(BM_ShiftFormula)->DenseRange(0, 2);

// The .xls writer compiles every formula cell and the reader decodes every FORMULA record; the
// last two texts are the extremes a file may bring: nesting at the limit, and a long chain.
std::string TranslationText(int which) {
  switch (which) {
    case 0:
      return "A123*B123";
    case 1:
      return "SUM(C2:C10001)";
    case 2:
      return "IF(A5>0,VLOOKUP(A5,$D$1:$E$100,2,FALSE),\"none\")";
    case 3: {
      std::string s;
      for (int i = 0; i < kMaxFormulaNesting / 2; ++i) s += "-(";
      s += "A1";
      s.append(kMaxFormulaNesting / 2, ')');
      return s;
    }
    default: {
      std::string s = "A1";
      for (int i = 2; i <= 1000; ++i) s += "+A" + std::to_string(i);
      return s;
    }
  }
}

void BM_EncodeBiff8Formula(benchmark::State& st) {
  const std::string text = TranslationText(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    auto r = EncodeBiff8Formula(text, 5, 3);
    benchmark::DoNotOptimize(r);
  }
  st.SetItemsProcessed(st.iterations());
  st.SetLabel(text.size() > 60 ? std::to_string(text.size()) + " characters" : text);
}
BENCHMARK(BM_EncodeBiff8Formula)->DenseRange(0, 4);

void BM_DecodeBiff8Formula(benchmark::State& st) {
  const std::string text = TranslationText(static_cast<int>(st.range(0)));
  const std::vector<uint8_t> tokens = *EncodeBiff8Formula(text, 5, 3);
  for (auto _ : st) {
    auto r = DecodeBiff8Formula(tokens, 5, 3);
    benchmark::DoNotOptimize(r);
  }
  st.SetItemsProcessed(st.iterations());
  st.SetLabel(text.size() > 60 ? std::to_string(text.size()) + " characters" : text);
}
BENCHMARK(BM_DecodeBiff8Formula)->DenseRange(0, 4);

}  // namespace
}  // namespace qm

BENCHMARK_MAIN();
