// Formulas written by both writers and read back: a per-row amount and a total row keep their
// text and their cached values; array formulas keep their results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "container_parts.h"
#include "test_support.h"
#include "workbook/formula/formula.h"
#include "workbook/io.h"
#include "workbook/workbook.h"
#include "workbook/xls/xls.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 20;

std::unique_ptr<Workbook> PricedWorkbook() {
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  (void)ws.SetText(1, 1, "数量");
  (void)ws.SetText(1, 2, "单价");
  (void)ws.SetText(1, 3, "金额");
  double total = 0;
  for (int r = 2; r <= kRows + 1; ++r) {
    const std::string n = std::to_string(r);
    (void)ws.SetNumber(r, 1, r);
    (void)ws.SetNumber(r, 2, 2.5);
    (void)ws.SetNumber(r, 3, r * 2.5);
    (void)ws.SetFormula(r, 3, "A" + n + "*B" + n);
    total += r * 2.5;
  }
  (void)ws.SetText(kRows + 2, 1, "合计");
  (void)ws.SetNumber(kRows + 2, 3, total);
  (void)ws.SetFormula(kRows + 2, 3, "SUM(C2:C" + std::to_string(kRows + 1) + ")");
  (void)ws.SetText(kRows + 3, 3, "ok");
  (void)ws.SetFormula(kRows + 3, 3, "IF(C" + std::to_string(kRows + 2) + ">0,\"ok\",\"empty\")");
  return wb;
}

void RoundTrip(const char* ext,
               Status (*write)(const Workbook&, const std::string&, std::vector<std::string>*)) {
  auto wb = PricedWorkbook();
  const fs::path path =
      fs::temp_directory_path() /
      ("qm_formula_roundtrip_" + std::to_string(::qm::testing::ProcessId()) + ext);
  Status st = write(*wb, path.string(), nullptr);
  ASSERT_TRUE(st) << st.error().detail;
  auto back = ReadWorkbookFile(path.string());
  fs::remove(path);
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

// SUMIFS and _xlfn.CONCAT from .xlsx sources, a 5,000-term sum and a formula nested 8,191 deep
// became values in a .xls result without a word. They still do (the format has no such
// functions, one record holds no such sum), and the save now says how many.
TEST(FormulaFiles, FormulasAXlsCannotHoldBecomeTheirValuesAndTheSaveCountsThem) {
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("Sheet1");
  for (int r = 1; r <= 3; ++r) {
    (void)ws.SetNumber(r, 2, r);
    (void)ws.SetText(r, 3, "x");
  }
  std::string sum = "B1", deep;
  for (int i = 2; i <= 5000; ++i) sum += "+B" + std::to_string(i);
  for (int i = 0; i < 8191; ++i) deep += '(';
  deep += "B1";
  for (int i = 0; i < 8191; ++i) deep += ')';
  const std::vector<std::pair<std::string, double>> unwritable = {
      {"SUMIFS(B1:B3,C1:C3,\"x\")", 6}, {"_xlfn.CONCAT(B1,B2)", 12}, {sum, 6}, {deep, 1}};
  int r = 5;
  for (const auto& [f, v] : unwritable) {
    (void)ws.SetNumber(r, 1, v);
    ASSERT_TRUE(ws.SetFormula(r++, 1, f).ok());
  }
  (void)ws.SetNumber(r, 1, 2);
  ASSERT_TRUE(ws.SetFormula(r, 1, "B1*2").ok());

  const fs::path dir = testing::FreshTestFolder("qm_unwritable_formulas");
  auto saved = SaveWorkbookFile(wb, (dir / "r.xls").string());
  ASSERT_TRUE(saved) << saved.error().detail;
  EXPECT_EQ(saved->warnings, std::vector<std::string>{"4个公式无法写入.xls，已改为其值"});
  auto back = ReadWorkbookFile((dir / "r.xls").string());
  ASSERT_TRUE(back) << back.error().detail;
  const Worksheet& out = *(*back)->Worksheets(1);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(out.Cells(5 + k, 1).formula, "") << k;
    EXPECT_EQ(out.Cells(5 + k, 1).number, unwritable[static_cast<size_t>(k)].second) << k;
  }
  EXPECT_EQ(out.Cells(9, 1).formula, "B1*2");

  // The .xlsx result keeps the functions; nothing is said about it.
  saved = SaveWorkbookFile(wb, (dir / "r.xlsx").string());
  ASSERT_TRUE(saved) << saved.error().detail;
  EXPECT_TRUE(saved->warnings.empty());
  back = ReadWorkbookFile((dir / "r.xlsx").string());
  ASSERT_TRUE(back) << back.error().detail;
  EXPECT_EQ((*back)->Worksheets(1)->Cells(5, 1).formula, unwritable[0].first);
  EXPECT_EQ((*back)->Worksheets(1)->Cells(6, 1).formula, unwritable[1].first);
  fs::remove_all(dir);
}

// The token arrays of real files: FORMULA records and the shared formulas (SHRFMLA) of the BIFF8
// corpus files' workbook streams.
struct RealFormula {
  std::string file;
  int row, col;
  std::vector<uint8_t> rgce;
};

using testing::WorkbookStream;

std::vector<RealFormula> CorpusFormulas() {
  namespace fs = std::filesystem;
  std::vector<RealFormula> all;
  if (!fs::is_directory(QM_CORPUS_DIR)) return all;
  for (const auto& e : fs::recursive_directory_iterator(QM_CORPUS_DIR)) {
    if (!e.is_regular_file() || e.path().extension() != ".xls") continue;
    std::vector<uint8_t> w = WorkbookStream(e.path().string());
    // BIFF8 only: a BOF record of version 0x0600 first.
    if (w.size() < 8 || w[0] != 0x09 || w[1] != 0x08 || w[4] != 0x00 || w[5] != 0x06) continue;
    const std::string rel = fs::relative(e.path(), QM_CORPUS_DIR).string();
    for (size_t i = 0; i + 4 <= w.size();) {
      uint16_t type = static_cast<uint16_t>(w[i] | (w[i + 1] << 8));
      size_t len = static_cast<size_t>(w[i + 2] | (w[i + 3] << 8));
      const uint8_t* d = w.data() + i + 4;
      i += 4 + len;
      if (i > w.size()) break;
      if (type == 0x002F) break;  // encrypted from here on
      if (type == 0x0006 && len >= 20) {
        size_t cce = static_cast<size_t>(d[18] | (d[19] << 8));
        if (20 + cce <= len)
          all.push_back({rel, (d[0] | (d[1] << 8)) + 1, (d[2] | (d[3] << 8)) + 1,
                         std::vector<uint8_t>(d + 20, d + 20 + cce)});
      } else if (type == 0x04BC && len >= 10) {
        size_t cce = static_cast<size_t>(d[8] | (d[9] << 8));
        if (10 + cce <= len)
          all.push_back({rel, (d[0] | (d[1] << 8)) + 1, d[4] + 1,
                         std::vector<uint8_t>(d + 10, d + 10 + cce)});
      }
    }
  }
  return all;
}

std::string Hex(const std::vector<uint8_t>& b) {
  std::string s = "<refused";
  char buf[4];
  for (uint8_t x : b) snprintf(buf, sizeof buf, " %02x", x), s += buf;
  return s + ">";
}

TEST(CorpusFormulas, RealTokenArraysDecodeOrAreRefusedAndCompileBackToTheSameText) {
  std::vector<RealFormula> all = CorpusFormulas();
  if (all.empty()) {
    SKIP_OR_FAIL("no BIFF8 formulas in " QM_CORPUS_DIR);
  }
  size_t decoded = 0, encoded = 0, nonempty = 0;
  for (const auto& f : all) {
    nonempty += !f.rgce.empty();
    auto text = DecodeBiff8Formula(f.rgce, f.row, f.col);
    if (getenv("QM_DUMP_FORMULAS"))
      std::cout << f.file << " " << f.row << "," << f.col << " " << (text ? *text : Hex(f.rgce))
                << "\n";
    if (!text) continue;
    ++decoded;
    const std::string where =
        f.file + " (" + std::to_string(f.row) + "," + std::to_string(f.col) + "): " + *text;
    // Our own text must be text our shifting understands.
    EXPECT_TRUE(ShiftFormula(*text, 0, 0).has_value()) << where;
    auto bytes = EncodeBiff8Formula(*text, f.row, f.col);
    if (!bytes) continue;
    ++encoded;
    EXPECT_EQ(DecodeBiff8Formula(*bytes, f.row, f.col), text) << where;
  }
  std::cout << all.size() << " token arrays, " << decoded << " decoded, " << encoded
            << " compiled back\n";
  EXPECT_GT(decoded, nonempty / 2);  // the rest name defined names or other sheets
}

// --- Array formulas -------------------------------------------------------------------------
// tests/data/array/ holds B1:B5 = {=A1:A5}, C1 = {=SUM(A1:A5*B1:B5)} (55), D1 and D2:D3 arrays
// with text results, and a plain F1 = A1*2, as LibreOffice saved them
// (tools/make_array_fixtures.py). Written back as plain formulas, C1 would recalculate to #VALUE!
// and D2 to the wrong row's text.

const fs::path kArrayDir = fs::path(QM_TEST_DATA) / "array";

std::string CsvField(const CellValue& v) {
  if (v.IsText()) return std::string(v.text);
  if (v.IsNumber()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v.number);
    return buf;
  }
  return "";
}

// The first sheet's A1:F5 as LibreOffice's CSV export writes it.
std::vector<std::string> CsvOf(const Worksheet& ws) {
  std::vector<std::string> lines;
  for (int r = 1; r <= 5; ++r) {
    std::string line;
    for (int c = 1; c <= 6; ++c) line += (c > 1 ? "," : "") + CsvField(ws.Cells(r, c));
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(ArrayFormulaTest, ReadersKeepTheCachedValuesOfArrayFormulasWithoutTheirFormulas) {
  for (const char* name : {"array_formulas.xlsx", "array_formulas.xls"}) {
    SCOPED_TRACE(name);
    auto wb = ReadWorkbookFile((kArrayDir / name).string());
    ASSERT_TRUE(wb) << wb.error().detail;
    const Worksheet& ws = *(*wb)->Worksheets(1);
    for (int r = 1; r <= 5; ++r) {
      EXPECT_EQ(ws.Cells(r, 2).number, r) << "B" << r;
      EXPECT_EQ(ws.Cells(r, 2).formula, "") << "B" << r;
    }
    EXPECT_EQ(ws.Cells(1, 3).number, 55);
    EXPECT_EQ(ws.Cells(1, 3).formula, "");
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(ws.Cells(r, 4).formula, "") << "D" << r;
    // The plain formula beside them still travels.
    EXPECT_EQ(ws.Cells(1, 6).formula, "A1*2");
  }
  // LibreOffice stores the text results in .xlsx only (in .xls it writes 0 and no STRING).
  auto wb = ReadWorkbookFile((kArrayDir / "array_formulas.xlsx").string());
  ASSERT_TRUE(wb);
  const Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 4).text, "big");
  EXPECT_EQ(ws.Cells(2, 4).text, "AB");
  EXPECT_EQ(ws.Cells(3, 4).text, "CD");
}

// Our copies of the array-formula workbooks, in both formats, recalculated by LibreOffice, give
// the values of the source.
TEST(ArrayFormulaTest, LibreOfficeRecalculatesOurCopiesToTheSourcesValues) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  const fs::path dir =
      fs::temp_directory_path() / ("qm_array_" + std::to_string(::qm::testing::ProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::vector<std::string> copies;
  std::map<std::string, std::vector<std::string>> want;
  for (const char* src : {"array_formulas.xlsx", "array_formulas.xls"}) {
    auto wb = ReadWorkbookFile((kArrayDir / src).string());
    ASSERT_TRUE(wb) << wb.error().detail;
    for (const char* ext : {".xls", ".xlsx"}) {
      // xlsx_as_xls.xls, ...
      const std::string copy =
          fs::path(src).extension().string().substr(1) + "_as_" + (ext + 1) + ext;
      ASSERT_TRUE(SaveWorkbookFile(**wb, (dir / copy).string()).ok()) << copy;
      copies.push_back(copy);
      want[fs::path(copy).stem().string()] = CsvOf(*(*wb)->Worksheets(1));
    }
  }
  // The .xlsx source itself, recalculated, shows the cached values are the real results.
  fs::copy_file(kArrayDir / "array_formulas.xlsx", dir / "source.xlsx");
  copies.push_back("source.xlsx");
  want["source"] = want["xlsx_as_xls"];
  ASSERT_EQ(want["source"][0], "1,1,55,big,ab,2");

  testing::Conversion conv =
      testing::ConvertWithLibreOffice(dir, copies, "csv:Text - txt - csv (StarCalc):44,34,76");
  ASSERT_TRUE(conv.ok) << "LibreOffice could not convert:\n" << conv.console;
  for (const auto& [stem, lines] : want) {
    SCOPED_TRACE(stem);
    EXPECT_EQ(Lines(dir / "out" / (stem + ".csv")), lines);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
