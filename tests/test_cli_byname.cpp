// quillmere-cli --variant byname on a folder of real-looking branch reports written by the
// project's own writer: the log, the transcript's by-name account, exit codes, --check, and the
// example folder built from the same tables.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "branch_reports.h"
#include "test_support.h"
#include "workbook/io.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

void WriteBranches(const fs::path& dir) {
  for (const auto& [name, rows] : BranchReports())
    ASSERT_TRUE(SaveWorkbookFile(*Book(rows), (dir / name).string())) << name;
}

class CliByNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("qm_cli_byname");
    fs::create_directories(Src());
    ASSERT_NO_FATAL_FAILURE(WriteBranches(Src()));
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Src() const { return dir_ / "分公司"; }

  struct Ran {
    int status = -1;
    std::string out, err;
    json transcript;
  };
  Ran Run(const std::string& args) {
    const fs::path out = dir_ / "out.txt", err = dir_ / "err.txt", tr = dir_ / "t.json";
    fs::remove(tr);
    const std::string cmd = std::string(QM_CLI_PATH) + " '" + Src().string() + "' " + args +
                            " --transcript '" + tr.string() + "' </dev/null >'" + out.string() +
                            "' 2>'" + err.string() + "'";
    const int rc = std::system(cmd.c_str());
    Ran r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    if (fs::exists(tr)) r.transcript = json::parse(Slurp(tr));
    return r;
  }

  fs::path dir_;
};

TEST_F(CliByNameTest, VerticalByNameMergesAllSevenReportsAndAccountsForEachTable) {
  Ran r = Run("--kind vertical --variant byname");
  ASSERT_EQ(r.status, 0) << r.err;
  // The folder lists in file-manager order: 上海 first, the template.
  EXPECT_NE(r.err.find(
                "[合并提示] 执行此操作，将按表头名称对齐各表的列后纵向合并这7个工作表，你确定吗？"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("按列名对齐：新增列 备注\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("合并完成：已合并7个文件，表头不符跳过0个，无法读取跳过0个。"),
            std::string::npos)
      << r.err;
  const json& files = r.transcript["files"];
  ASSERT_EQ(files.size(), 7u);
  int blank = 0, totals = 0;
  for (const json& f : files) {
    ASSERT_TRUE(f.contains("columns_added")) << f;
    blank += f["rows_skipped_blank"].get<int>();
    totals += f["rows_skipped_total"].get<int>();
  }
  EXPECT_EQ(blank, 3);
  EXPECT_EQ(totals, 3);
  EXPECT_EQ(files[0]["columns_added"], json::array());
  EXPECT_EQ(files[0]["columns_missing"], json::array());
  EXPECT_EQ(r.transcript["summary"]["header_mismatch"], 0);

  auto wb = ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb) << wb.error().detail;
  const Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.UsedRange().r2, 1 + 9);
  EXPECT_EQ(ws.UsedRange().c2, 5);
}

TEST_F(CliByNameTest, OverwriteByNameTakesTheKeyFlagAndCancelAnswersTheConfirmation) {
  Ran cancel = Run("--kind overwrite --variant byname --cancel");
  EXPECT_EQ(cancel.status, 1);
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));

  Ran stop = Run("--kind overwrite --variant byname --key 9");
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.transcript["status"], json({"已退出合并操作！"}));

  Ran r =
      Run("--kind overwrite --variant byname --key 1 --files "
          "北京分公司.xls,上海分公司.xlsx,广州分公司.xls,深圳分公司.xlsx,成都分公司.xls,"
          "杭州分公司.xls,武汉分公司.xlsx");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.transcript["progress"], json({{"max", 8}, {"value", 8}}));
  EXPECT_NE(r.out.find("正在将关键字(工号)相同的新记录覆盖旧记录...\n合并操作结束！\n"),
            std::string::npos)
      << r.out;
  auto wb = ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb);
  // 张三 and 李四 once each, holding their newest records.
  EXPECT_EQ((*wb)->Worksheets(1)->UsedRange().r2, 1 + 7);
  EXPECT_EQ(ValueText((*wb)->Worksheets(1)->Cells(2, 4)), "120");
}

TEST_F(CliByNameTest, UnreadableSourceStillMakesExit3AndByNameGoesWithTheVerticalKindsOnly) {
  { std::ofstream(Src() / "坏.xls"); }  // empty: unreadable
  Ran r = Run("--kind vertical --variant byname");
  EXPECT_EQ(r.status, 3) << r.err;
  Ran bad = Run("--kind smart --variant byname");
  EXPECT_EQ(bad.status, 64);
  EXPECT_NE(bad.err.find("--variant byname 不适用于 --kind smart"), std::string::npos) << bad.err;
}

TEST_F(CliByNameTest, CheckNamesTheColumnsEachTableWouldAddOrLack) {
  const fs::path out = dir_ / "check.txt";
  const std::string cmd = std::string(QM_CLI_PATH) + " --check '" + Src().string() +
                          "' --files 北京分公司.xls,广州分公司.xls,武汉分公司.xlsx >'" +
                          out.string() + "'";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 0);
  const std::string shown = Slurp(out);
  EXPECT_NE(shown.find("按列名对齐：新增列 备注"), std::string::npos) << shown;
  EXPECT_NE(shown.find("按列名对齐：缺少列 部门、备注"), std::string::npos) << shown;
}

// examples/branches holds these reports; QM_WRITE_BRANCHES=<folder> writes them anew.
TEST(ByNameExamplesTest, BranchesExampleHoldsTheTablesTheTestsUse) {
  if (const char* to = std::getenv("QM_WRITE_BRANCHES")) {
    fs::create_directories(to);
    ASSERT_NO_FATAL_FAILURE(WriteBranches(to));
  }
  const fs::path dir = fs::path(QM_SOURCE_DIR) / "examples" / "branches";
  for (const auto& [name, rows] : BranchReports()) {
    auto wb = ReadWorkbookFile((dir / name).string());
    ASSERT_TRUE(wb) << name;
    EXPECT_EQ(Grid(*(*wb)->Worksheets(1)), Grid(*Book(rows)->Worksheets(1))) << name;
  }
}

}  // namespace
}  // namespace qm::testing
