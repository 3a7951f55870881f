// quillmere-cli as a script drives it: arguments, exit statuses, standard output and error, and
// the JSON transcript; end to end on the example workbooks once the readers and writers work.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "workbook/io.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct CliRun {
  int status = -1;
  std::string out, err;
  json transcript;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qm_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "src");
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Src() const { return dir_ / "src"; }

  CliRun Run(const std::string& args) {
    fs::path out = dir_ / "out.txt", err = dir_ / "err.txt", tr = dir_ / "t.json";
    fs::remove(tr);
    std::string cmd = std::string(QM_CLI_PATH) + " " + args + " --transcript '" + tr.string() +
                      "' </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
    CliRun r;
    int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    if (fs::exists(tr)) r.transcript = json::parse(Slurp(tr));
    return r;
  }
  std::string Folder() const { return "'" + Src().string() + "'"; }

  fs::path dir_;
};

TEST_F(CliTest, BadArgumentsExit64) {
  for (const char* args :
       {"", "--kind vertical --variant safe", "/x --kind smart --variant safe",
        "/x --kind overwrite --variant both", "/x --kind sideways --variant safe",
        "/x --kind smart --variant both --sorted maybe", "/x --kind vertical"}) {
    std::string cmd = std::string(QM_CLI_PATH) + " " + args + " >/dev/null 2>&1 </dev/null";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 64) << args;
  }
}

TEST_F(CliTest, FolderWithoutWorkbooksPrintsTheListingMessageAndExits1) {
  std::ofstream(Src() / "notes.txt") << "x";
  std::ofstream(Src() / "~$lock.xls") << "x";
  CliRun r = Run(Folder() + " --kind vertical --variant safe");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[合并] 在程序所在文件夹下没有找到EXCEL文件\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.transcript["outcome"], "empty");
  EXPECT_EQ(r.transcript["log"], "");
  EXPECT_TRUE(r.transcript["result"].is_null());
}

TEST_F(CliTest, CancelAtTheConfirmationExits1AndTouchesNothing) {
  std::ofstream(Src() / "b.xls") << "x";
  std::ofstream(Src() / "A.xlsx") << "x";
  CliRun r = Run(Folder() + " --kind overwrite --variant fast --cancel");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.transcript["outcome"], "cancelled");
  ASSERT_EQ(r.transcript["dialogs"].size(), 1u);
  EXPECT_EQ(r.transcript["dialogs"][0]["kind"], "question");
  EXPECT_EQ(r.transcript["dialogs"][0]["answer"], "Cancel");
  EXPECT_EQ(r.transcript["dialogs"][0]["text"],
            "执行此操作，合并前不检查表头是否规范。你确定要纵向覆盖合并这2个工作表吗？");
  EXPECT_EQ(
      r.err,
      "[合并提示] 执行此操作，合并前不检查表头是否规范。你确定要纵向覆盖合并这2个工作表吗？\n");
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
}

TEST_F(CliTest, UnreadableWorkbookFailsWithExit2NamingTheFile) {
  std::ofstream(Src() / "a.xls") << "not a spreadsheet";
  std::ofstream(Src() / "b,c.xls") << "x";
  CliRun r = Run(Folder() + " --kind smart --variant both --files 'b,c.xls' --files a.xls --key 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.transcript["outcome"], "failed");
  EXPECT_EQ(r.out, "开始合并...\n检测表1:b,c.xls\n");
  EXPECT_NE(r.err.find("b,c.xls"), std::string::npos);
  EXPECT_EQ(r.transcript["dialogs"].back()["title"], "合并");
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
  EXPECT_EQ(Slurp(Src() / "a.xls"), "not a spreadsheet");
}

// --- End to end on the example workbooks -------------------------------------------------

class CliExamplesTest : public CliTest {
 protected:
  // Copies an example folder into the test's folder. An example our readers cannot read is a
  // fault of the readers or of the examples, never a reason to skip.
  void Prepare(const char* name) {
    fs::path from = fs::path(QM_SOURCE_DIR) / "examples" / name;
    ASSERT_TRUE(fs::is_directory(from)) << from;
    int copied = 0;
    for (const auto& e : fs::directory_iterator(from)) {
      // ./run leaves its result folder beside the examples; only the workbooks are copied.
      if (!e.is_regular_file()) continue;
      auto r = qm::ReadWorkbookFile(e.path().string());
      ASSERT_TRUE(r) << e.path() << ": " << r.error().detail;
      fs::copy_file(e.path(), Src() / e.path().filename());
      ++copied;
    }
    ASSERT_GT(copied, 0) << from;
  }
};

#define PREPARE(name) ASSERT_NO_FATAL_FAILURE(Prepare(name))

TEST_F(CliExamplesTest, SafeVerticalMergeSkipsTheTableWithAnotherHeader) {
  PREPARE("monthly");
  CliRun r = Run(Folder() + " --kind vertical --variant safe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.transcript["outcome"], "done");
  EXPECT_NE(r.out.find("未合并，表格不规范！"), std::string::npos);
  EXPECT_EQ(r.transcript["progress"]["value"], 4);
  fs::path result = Src() / "合并结果" / "合并结果.xls";
  EXPECT_EQ(r.transcript["result"], result.string());
  auto wb = qm::ReadWorkbookFile(result.string());
  ASSERT_TRUE(wb) << wb.error().detail;
  // Title and header of the template, then six rows from each of three conforming months.
  EXPECT_EQ((*wb)->Worksheets(1)->UsedRange().r2, 2 + 18);
}

TEST_F(CliExamplesTest, FastOverwriteAndKeyStopPathThroughTheCli) {
  PREPARE("monthly");
  CliRun stop = Run(Folder() + " --kind overwrite --variant fast --header-rows 2 --key 9");
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.transcript["outcome"], "stopped");
  EXPECT_EQ(stop.transcript["log"], "已退出合并操作！");
  EXPECT_FALSE(fs::exists(Src() / "合并结果" / "合并结果.xls"));

  CliRun r = Run(Folder() + " --kind overwrite --variant fast --header-rows 2 --key 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("正在将关键字(工号)相同的新记录覆盖旧记录..."), std::string::npos);
  auto wb = qm::ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb);
  // At most one row per staff number remains below the header.
  EXPECT_LE((*wb)->Worksheets(1)->UsedRange().r2, 2 + 10);
}

TEST_F(CliExamplesTest, SmartMergesJoinTheLayoutsOnTheKeyColumn) {
  PREPARE("smart");
  CliRun both = Run(Folder() + " --kind smart --variant both --key 1");
  ASSERT_EQ(both.status, 0) << both.err;
  auto wb = qm::ReadWorkbookFile((Src() / "合并结果" / "智能合并结果.xls").string());
  ASSERT_TRUE(wb);
  const qm::Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.UsedRange().c2, 6);          // 工号 姓名 部门 基本工资 奖金 出勤天数
  EXPECT_EQ(ws.UsedRange().r2, 1 + 8 + 1);  // the pay table's extra staff number appended

  CliRun sorted = Run(Folder() + " --kind smart --variant horizontal --sorted yes --key 1");
  ASSERT_EQ(sorted.status, 0) << sorted.err;
  EXPECT_EQ(sorted.out, "开始智能合并...\n智能合并操作完成！\n");
  EXPECT_EQ(sorted.transcript["log"], "");
  EXPECT_EQ(sorted.transcript["status"], json({"开始智能合并...", "智能合并操作完成！"}));
}

}  // namespace
