// quillmere-cli --dump as scripts see it: the JSON of a first worksheet, and exit status 2 with
// a reason for what cannot be read.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

CliRun RunCli(const std::string& args) {
  namespace fs = std::filesystem;
  fs::path err_file =
      fs::temp_directory_path() / ("qm-dump-err-" + std::to_string(::qm::testing::ProcessId()));
  std::string cmd = std::string("'") + QM_CLI_PATH + "' " + args + " 2>'" + err_file.string() + "'";
  CliRun run;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  int st = pclose(p);
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(err_file);
  std::stringstream ss;
  ss << in.rdbuf();
  run.err = ss.str();
  fs::remove(err_file);
  return run;
}

TEST(CliDump, JsonOfTheFirstWorksheet) {
  CliRun run = RunCli("--dump '" + std::string(QM_TEST_DATA) + "/xlsx/dump_sample.xlsx' --json");
  ASSERT_EQ(run.status, 0) << run.err;
  auto j = nlohmann::ordered_json::parse(run.out);
  // Key order is part of the contract: scripts diff these dumps.
  std::vector<std::string> keys;
  for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"format", "date1904", "sheet_name", "nrows", "ncols",
                                            "cells"}));
  EXPECT_EQ(j["format"], "xlsx");
  EXPECT_EQ(j["date1904"], false);
  EXPECT_EQ(j["sheet_name"], "汇总");
  EXPECT_EQ(j["nrows"], 3);  // the format-only row 4 and the merge in row 6 do not count
  EXPECT_EQ(j["ncols"], 5);
  auto want = nlohmann::json::parse(R"([
    [1,1,"text","姓名"],[1,2,"text","金额"],[1,3,"text","日期"],[1,4,"text","通过"],
    [2,1,"text","张三"],[2,2,"number",1234.5],[2,3,"date",45352],[2,4,"bool",1],
    [3,1,"text","李四"],[3,2,"number",-0.25],[3,4,"bool",0],[3,5,"error","#N/A"]])");
  EXPECT_EQ(nlohmann::json(j["cells"]), want);
}

TEST(CliDump, TableForPeopleAndFailures) {
  CliRun table = RunCli("--dump '" + std::string(QM_TEST_DATA) + "/xlsx/dump_sample.xlsx'");
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("张三  1234.5  2024/3/1  True"), std::string::npos) << table.out;

  namespace fs = std::filesystem;
  fs::path fake = fs::temp_directory_path() / "qm-dump-not-a-book.xlsx";
  std::ofstream(fake, std::ios::binary) << std::string("\x01\x02\x00\x05", 4);
  CliRun bad = RunCli("--dump '" + fake.string() + "' --json");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_EQ(bad.err, "无法读取：" + fake.string() +
                         "（不是Excel工作簿（既不是Excel文件也不是zip压缩包））\n");
  fs::remove(fake);

  CliRun missing = RunCli("--dump /nonexistent/book.xlsx --json");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "无法读取：/nonexistent/book.xlsx（文件不存在）\n");
}

// Text and web sources say what they were read as: the encoding and separator of a CSV.
TEST(CliDump, TextAndWebSourcesNameTheirFormat) {
  const std::string data = std::string(QM_TEST_DATA) + "/text/";
  CliRun csv = RunCli("--dump '" + data + "gbk_comma.csv' --json");
  ASSERT_EQ(csv.status, 0) << csv.err;
  auto j = nlohmann::json::parse(csv.out);
  EXPECT_EQ(j["format"], "csv (GB18030, ',')");
  EXPECT_EQ(j["sheet_name"], "gbk_comma");
  EXPECT_EQ(j["nrows"], 5);
  EXPECT_EQ(j["ncols"], 8);
  EXPECT_EQ(j["cells"][11], nlohmann::json::parse(R"([2,4,"text","007"])"));
  EXPECT_EQ(j["cells"][13], nlohmann::json::parse(R"([2,6,"date",44931])"));

  CliRun tab = RunCli("--dump '" + data + "utf16le_tab.txt' --json");
  ASSERT_EQ(tab.status, 0) << tab.err;
  EXPECT_EQ(nlohmann::json::parse(tab.out)["format"], "csv (UTF-16LE, '\\t')");
  CliRun page = RunCli("--dump '" + data + "gbk_meta.html' --json");
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(nlohmann::json::parse(page.out)["format"], "html");

  CliRun table = RunCli("--dump '" + data + "erp_export.xls'");
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.substr(0, table.out.find('\n')),
            "erp_export（csv (GB18030, '\\t')，5行×8列）");
}

}  // namespace
