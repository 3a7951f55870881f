// Formulas written by both writers and read back: a per-row amount and a total row keep their
// text and their cached values. Skipped while a reader or writer of the format is missing.
#include <gtest/gtest.h>

#include <filesystem>

#include "workbook/io.h"
#include "workbook/workbook.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 20;

std::unique_ptr<Workbook> PricedWorkbook() {
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  ws.SetText(1, 1, "数量");
  ws.SetText(1, 2, "单价");
  ws.SetText(1, 3, "金额");
  double total = 0;
  for (int r = 2; r <= kRows + 1; ++r) {
    const std::string n = std::to_string(r);
    ws.SetNumber(r, 1, r);
    ws.SetNumber(r, 2, 2.5);
    ws.SetNumber(r, 3, r * 2.5);
    ws.SetFormula(r, 3, "A" + n + "*B" + n);
    total += r * 2.5;
  }
  ws.SetText(kRows + 2, 1, "合计");
  ws.SetNumber(kRows + 2, 3, total);
  ws.SetFormula(kRows + 2, 3, "SUM(C2:C" + std::to_string(kRows + 1) + ")");
  ws.SetText(kRows + 3, 3, "ok");
  ws.SetFormula(kRows + 3, 3, "IF(C" + std::to_string(kRows + 2) + ">0,\"ok\",\"empty\")");
  return wb;
}

void RoundTrip(const char* ext, Status (*write)(const Workbook&, const std::string&)) {
  auto wb = PricedWorkbook();
  const fs::path path =
      fs::temp_directory_path() / ("qm_formula_roundtrip_" + std::to_string(::getpid()) + ext);
  Status st = write(*wb, path.string());
  if (!st && st.error().code == ErrorCode::kNotSupported)
    GTEST_SKIP() << "writer not available: " << st.error().detail;
  ASSERT_TRUE(st) << st.error().detail;
  auto back = ReadWorkbookFile(path.string());
  fs::remove(path);
  if (!back && back.error().code == ErrorCode::kNotSupported)
    GTEST_SKIP() << "reader not available: " << back.error().detail;
  ASSERT_TRUE(back) << back.error().detail;
  const Worksheet* ws = (*back)->Worksheets(1);
  ASSERT_NE(ws, nullptr);
  for (int r = 2; r <= kRows + 1; ++r) {
    const std::string n = std::to_string(r);
    CellValue v = ws->Cells(r, 3);
    EXPECT_EQ(v.formula, "A" + n + "*B" + n) << "row " << r;
    EXPECT_DOUBLE_EQ(v.number, r * 2.5) << "row " << r;
  }
  CellValue total = wb->Worksheets(1)->Cells(kRows + 2, 3);
  CellValue read_total = ws->Cells(kRows + 2, 3);
  EXPECT_EQ(read_total.formula, total.formula);
  EXPECT_DOUBLE_EQ(read_total.number, total.number);
  CellValue text = ws->Cells(kRows + 3, 3);
  EXPECT_EQ(text.formula, "IF(C22>0,\"ok\",\"empty\")");
  EXPECT_EQ(text.text, "ok");
}

TEST(FormulaFiles, PerRowFormulasAndTotalSurviveXlsx) {
  RoundTrip(".xlsx", &xlsx::Write);
}

TEST(FormulaFiles, PerRowFormulasAndTotalSurviveXls) {
  RoundTrip(".xls", &xls::Write);
}

}  // namespace
}  // namespace qm
