// Tables that carry a formula per row and a total row, merged through quillmere-cli: every
// formula of the result must still name its own row, and LibreOffice, recalculating the result,
// must arrive at the cached values we wrote.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/workbook.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

int Shell(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class FormulaMergeLibreOfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::qm::testing::FreshTestFolder("qm_fmerge");
    fs::create_directories(dir_ / "src");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // 编号 | 数量 | 单价 | 金额 (= 数量 × 单价), rows of `ids`, then a total row when asked.
  bool WriteTable(const std::string& name, const std::vector<std::string>& ids, double scale,
                  bool total) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    const char* head[] = {"编号", "数量", "单价", "金额"};
    for (int c = 1; c <= 4; ++c) (void)ws.SetText(1, c, head[c - 1]);
    int r = 2;
    for (const auto& id : ids) {
      double qty = r * scale, price = 1.5 + r;
      (void)ws.SetText(r, 1, id);
      (void)ws.SetNumber(r, 2, qty);
      (void)ws.SetNumber(r, 3, price);
      (void)ws.SetNumber(r, 4, qty * price);
      (void)ws.SetFormula(r, 4, "B" + std::to_string(r) + "*C" + std::to_string(r));
      ++r;
    }
    if (total) {
      double sum = 0;
      for (int i = 2; i < r; ++i) sum += ws.Cells(i, 4).number;
      (void)ws.SetText(r, 1, "合计" + name);
      (void)ws.SetNumber(r, 4, sum);
      (void)ws.SetFormula(r, 4, "SUM(D2:D" + std::to_string(r - 1) + ")");
    }
    return SaveWorkbookFile(wb, (dir_ / "src" / name).string()).ok();
  }

  int Cli(const std::string& args) {
    return Shell(std::string(QM_CLI_PATH) + " '" + (dir_ / "src").string() + "' " + args +
                 " </dev/null >/dev/null 2>&1");
  }

  // The recalculated values of column D, by LibreOffice, one per row of the CSV; empty (and a
  // failure showing what LibreOffice printed) when it could not convert.
  std::vector<std::string> RecalculatedColumnD(const fs::path& file) {
    fs::remove_all(dir_ / "out");
    testing::Conversion conv = testing::ConvertWithLibreOffice(
        dir_, {file.string()}, "csv:Text - txt - csv (StarCalc):44,34,76");
    std::vector<std::string> out;
    if (!conv.ok) {
      ADD_FAILURE() << "LibreOffice could not convert " << file << ":\n" << conv.console;
      return out;
    }
    std::ifstream in(dir_ / "out" / (file.stem().string() + ".csv"));
    std::string line;
    while (std::getline(in, line)) {
      // No quoted commas here: the texts are IDs and the numbers plain.
      std::stringstream ss(line);
      std::string cell, d;
      for (int c = 1; c <= 4 && std::getline(ss, cell, ','); ++c)
        if (c == 4) d = cell;
      out.push_back(d);
    }
    return out;
  }

  // Per-row formulas name their own row, totals sum the block above them, and the cached values
  // agree with LibreOffice's recalculation.
  void CheckResult(const fs::path& result, int expected_totals) {
    auto wb = ReadWorkbookFile(result.string());
    ASSERT_TRUE(wb) << wb.error().detail;
    const Worksheet& ws = *(*wb)->Worksheets(1);
    int last = ws.UsedRange().r2, totals = 0, block_start = 2;
    ASSERT_GT(last, 2);
    for (int r = 2; r <= last; ++r) {
      CellValue d = ws.Cells(r, 4);
      std::string f(d.formula);
      if (std::string(ws.Cells(r, 1).text).rfind("合计", 0) == 0) {
        EXPECT_EQ(f, "SUM(D" + std::to_string(block_start) + ":D" + std::to_string(r - 1) + ")")
            << "row " << r;
        ++totals;
        block_start = r + 1;
      } else {
        EXPECT_EQ(f, "B" + std::to_string(r) + "*C" + std::to_string(r)) << "row " << r;
        EXPECT_DOUBLE_EQ(d.number, ws.Cells(r, 2).number * ws.Cells(r, 3).number) << "row " << r;
      }
    }
    EXPECT_EQ(totals, expected_totals);
    if (!testing::HaveLibreOffice()) {
      SKIP_WITHOUT_CHECKER(
          "LibreOffice (soffice) is not installed: the recalculation is not checked");
    }
    std::vector<std::string> lo = RecalculatedColumnD(result);
    ASSERT_EQ(lo.size(), static_cast<size_t>(last)) << "rows LibreOffice converted from " << result;
    for (int r = 2; r <= last; ++r)
      EXPECT_NEAR(std::stod(lo[static_cast<size_t>(r - 1)]), ws.Cells(r, 4).number, 1e-9)
          << "row " << r;
  }

  fs::path dir_;
};

TEST_F(FormulaMergeLibreOfficeTest, FastAndSafeVerticalMergesKeepFormulasOnTheirOwnRows) {
  ASSERT_TRUE(WriteTable("a.xls", {"A1", "A2", "A3"}, 1, true));
  ASSERT_TRUE(WriteTable("b.xlsx", {"B1", "B2", "B3", "B4"}, 2, true));
  ASSERT_TRUE(WriteTable("c.xls", {"C1", "C2"}, 3, true));
  fs::path result = dir_ / "src" / "合并结果" / "合并结果.xls";
  {
    SCOPED_TRACE("fast");
    ASSERT_EQ(Cli("--kind vertical --variant fast --header-rows 1"), 0);
    CheckResult(result, 3);
  }
  fs::remove_all(dir_ / "src" / "合并结果");
  fs::remove_all(dir_ / "out");
  {
    SCOPED_TRACE("safe");
    ASSERT_EQ(Cli("--kind vertical --variant safe"), 0);
    CheckResult(result, 3);
  }
}

TEST_F(FormulaMergeLibreOfficeTest,
       OverwritePassMovesTheNewestRowWithItsFormulaToTheFirstPosition) {
  ASSERT_TRUE(WriteTable("a.xls", {"K1", "K2", "K3", "K4"}, 1, false));
  ASSERT_TRUE(WriteTable("b.xls", {"K5", "K2", "K6"}, 2, false));
  ASSERT_TRUE(WriteTable("c.xls", {"K4", "K7"}, 3, false));
  ASSERT_EQ(Cli("--kind overwrite --variant safe --key 1"), 0);
  fs::path result = dir_ / "src" / "合并结果" / "合并结果.xls";
  CheckResult(result, 0);
  auto wb = ReadWorkbookFile(result.string());
  ASSERT_TRUE(wb);
  const Worksheet& ws = *(*wb)->Worksheets(1);
  // K2 keeps the first table's position with the second table's numbers (scale 2, its row 3).
  EXPECT_EQ(ws.Cells(3, 1).text, "K2");
  EXPECT_DOUBLE_EQ(ws.Cells(3, 2).number, 6);
  EXPECT_EQ(ws.UsedRange().r2, 1 + 7);
}

// Guards the test above: LibreOffice must really recalculate on load, or agreeing with our cached
// values proves nothing.
TEST_F(FormulaMergeLibreOfficeTest, LibreOfficeRecalculatesAStaleCachedValue) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  for (const char* name : {"stale.xls", "stale.xlsx"}) {
    SCOPED_TRACE(name);
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    (void)ws.SetNumber(1, 2, 3);
    (void)ws.SetNumber(1, 3, 4);
    (void)ws.SetNumber(1, 4, 99);  // stale: the formula gives 12
    (void)ws.SetFormula(1, 4, "B1*C1");
    fs::path file = dir_ / name;
    ASSERT_TRUE(SaveWorkbookFile(wb, file.string()).ok());
    std::vector<std::string> lo = RecalculatedColumnD(file);
    ASSERT_EQ(lo.size(), 1u);
    EXPECT_EQ(lo[0], "12");
  }
}

}  // namespace
}  // namespace qm
