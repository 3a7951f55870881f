// quillmere-cli as a script drives it: arguments, exit statuses, standard output and error, and
// the JSON transcript; end to end on the example workbooks once the readers and writers work.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/value_text.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct CliRun {
  int status = -1;
  std::string out, err;
  json transcript;
};

using qm::testing::Slurp;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::qm::testing::FreshTestFolder("qm_cli");
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
  // Bytes no reader takes (text would be read as CSV).
  std::ofstream(Src() / "b,c.xls") << std::string("\x01\x02\x00\x05", 4);
  CliRun r = Run(Folder() + " --kind smart --variant both --files 'b,c.xls' --files a.xls --key 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.transcript["outcome"], "failed");
  EXPECT_EQ(r.out, "开始合并...\n检测表1:b,c.xls\n");
  EXPECT_NE(r.err.find("b,c.xls"), std::string::npos);
  EXPECT_EQ(r.transcript["dialogs"].back()["title"], "合并");
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
  EXPECT_EQ(Slurp(Src() / "a.xls"), "not a spreadsheet");
}

// --- Arguments refused before anything runs -----------------------------------------------

// Workbooks the project's writer makes, with a header and one row each.
void WriteTable(const fs::path& p, int value) {
  qm::Workbook wb;
  qm::Worksheet& ws = wb.AddWorksheet("Sheet1");
  (void)ws.SetText(1, 1, "工号");
  (void)ws.SetText(1, 2, "金额");
  (void)ws.SetNumber(2, 1, value);
  (void)ws.SetNumber(2, 2, value * 10);
  ASSERT_TRUE(qm::SaveWorkbookFile(wb, p.string()));
}

// A real folder: good workbooks beside a password-protected one, a web page without a table
// saved under a workbook's name (a login page an export ended on) and an empty .xlsx. The run goes
// on, saves every readable file's rows, names every skipped file with its reason and exits 3.
void WriteMessyFolder(const fs::path& dir) {
  WriteTable(dir / "1一月.xls", 1);
  fs::copy_file(fs::path(QM_TEST_DATA) / "xls" / "xor_password_pass.xls", dir / "2加密.xls");
  std::ofstream(dir / "3导出.xls") << "<html><body>请先登录</body></html>";
  std::ofstream(dir / "4空.xlsx").flush();
  WriteTable(dir / "5五月.xlsx", 5);
}

// An office's folder of exports: a workbook, a GBK CSV, tab-separated text, a GBK web page and
// UTF-16 text under workbook names, an .xlsx. The safe vertical merge takes every file's rows.
TEST_F(CliTest, TextAndWebExportsMergeWithWorkbooksIntoOneResult) {
  WriteTable(Src() / "1模板.xls", 1);
  std::ofstream(Src() / "2导出.csv") << "\xB9\xA4\xBA\xC5,\xBD\xF0\xB6\xEE\r\n2,20\r\n";
  std::ofstream(Src() / "3.tsv") << "工号\t金额\n3\t30";
  std::ofstream(Src() / "4网页.xls")
      << "<html><meta charset=gbk><table><tr><th>\xB9\xA4\xBA\xC5</th><th>\xBD\xF0\xB6\xEE"
         "</th></tr><tr><td>4</td><td>40</td></tr></table></html>";
  std::string utf16 = "\xFF\xFE";
  for (char16_t u : std::u16string(u"工号\t金额\r\n5\t50"))
    utf16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  std::ofstream(Src() / "5.txt") << utf16;
  WriteTable(Src() / "6.xlsx", 6);
  CliRun r = Run(
      Folder() +
      " --kind vertical --variant safe --files 1模板.xls,2导出.csv,3.tsv,4网页.xls,5.txt,6.xlsx");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(r.transcript["summary"],
            (json{{"merged", 6}, {"header_mismatch", 0}, {"unreadable", 0}}));
  auto wb = qm::ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb);
  const qm::Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.UsedRange(), (qm::Range{1, 1, 7, 2}));
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(ws.Cells(i + 1, 1).number, i);
    EXPECT_EQ(ws.Cells(i + 1, 2).number, i * 10);
  }
}

TEST_F(CliTest, MessyFolderIsMergedWithEveryUnreadableFileSkippedAndExits3) {
  WriteMessyFolder(Src());
  CliRun r = Run(Folder() + " --kind vertical --variant safe");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.transcript["outcome"], "done");
  const std::string result = (Src() / "合并结果" / "合并结果.xls").string();
  EXPECT_EQ(r.transcript["result"], result);
  EXPECT_NE(
      r.err.find("合并完成：已合并2个文件，表头不符跳过0个，无法读取跳过3个。结果：" + result),
      std::string::npos)
      << r.err;
  EXPECT_EQ(r.transcript["summary"],
            (json{{"merged", 2}, {"header_mismatch", 0}, {"unreadable", 3}}));
  const json& files = r.transcript["files"];
  ASSERT_EQ(files.size(), 5u);
  EXPECT_EQ(files[0], (json{{"name", "1一月.xls"},
                            {"status", "template"},
                            {"rows", 2},
                            {"code", nullptr},
                            {"reason", nullptr}}));
  EXPECT_EQ(files[1]["code"], "password");
  EXPECT_EQ(files[1]["reason"], "文件受密码保护，密码不对或未提供");
  EXPECT_EQ(files[2]["code"], "not-a-workbook");
  EXPECT_EQ(files[2]["reason"], "不是Excel工作簿（网页中没有含数据的表格）");
  EXPECT_EQ(files[3]["code"], "empty");
  EXPECT_EQ(files[4]["status"], "merged");
  EXPECT_EQ(files[4]["rows"], 1);
  // The skip lines are in the log, in Chinese; the summary is not.
  const std::string log = r.transcript["log"];
  EXPECT_NE(log.find("无法读取，已跳过：2加密.xls（文件受密码保护，密码不对或未提供）"),
            std::string::npos);
  EXPECT_NE(log.find("无法读取，已跳过：4空.xlsx（文件是空的）"), std::string::npos);
  EXPECT_EQ(log.find("合并完成"), std::string::npos);

  auto wb = qm::ReadWorkbookFile(result);
  ASSERT_TRUE(wb);
  EXPECT_EQ((*wb)->Worksheets(1)->UsedRange().RowsCount(), 3);
}

// A table left out for its header makes exit 3 even when it has no data rows; rows a merge's own
// rules drop (the fast merge checks no header, the smart merges drop keys) do not, as the
// example runs below show.
TEST_F(CliTest, MismatchingTableWithoutDataRowsStillMakesExit3) {
  WriteTable(Src() / "a.xls", 1);
  {
    qm::Workbook wb;
    qm::Worksheet& ws = wb.AddWorksheet("Sheet1");
    (void)ws.SetText(1, 1, "工号");
    (void)ws.SetText(1, 2, "销售额");
    ASSERT_TRUE(qm::SaveWorkbookFile(wb, (Src() / "b.xls").string()));
  }
  CliRun safe = Run(Folder() + " --kind vertical --variant safe");
  EXPECT_EQ(safe.status, 3) << safe.err;
  EXPECT_EQ(safe.transcript["files"][1]["status"], "header-mismatch");
  EXPECT_NE(safe.err.find("表头不符跳过1个"), std::string::npos) << safe.err;
  CliRun fast = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  EXPECT_EQ(fast.status, 0) << fast.err;
}

// The result's cells read back from the file, row by row as text ("" for blank).
std::vector<std::vector<std::string>> ReadBack(const fs::path& p) {
  std::vector<std::vector<std::string>> out;
  auto wb = qm::ReadWorkbookFile(p.string());
  if (!wb) return out;
  const qm::Worksheet& ws = *(*wb)->Worksheets(1);
  const qm::Range u = ws.UsedRange();
  for (int r = 1; r <= u.r2; ++r) {
    out.emplace_back();
    for (int c = 1; c <= u.c2; ++c) out.back().push_back(qm::ValueText(ws.Cells(r, c)));
  }
  return out;
}

TEST_F(CliTest, SourceColumnFlagNamesEachRowsWorkbookInEveryKind) {
  WriteTable(Src() / "一月.xls", 1);
  WriteTable(Src() / "二月.xlsx", 2);
  WriteTable(Src() / "三月.xls", 1);
  const std::string files = " --files 一月.xls,二月.xlsx,三月.xls";
  using Grid = std::vector<std::vector<std::string>>;
  const fs::path merged = Src() / "合并结果" / "合并结果.xls";

  CliRun plain = Run(Folder() + " --kind vertical --variant safe" + files);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(ReadBack(merged), (Grid{{"工号", "金额"}, {"1", "10"}, {"2", "20"}, {"1", "10"}}));

  CliRun safe = Run(Folder() + " --kind vertical --variant safe --source-column" + files);
  ASSERT_EQ(safe.status, 0) << safe.err;
  EXPECT_EQ(ReadBack(merged), (Grid{{"工号", "金额", "来源文件"},
                                    {"1", "10", "一月.xls"},
                                    {"2", "20", "二月.xlsx"},
                                    {"1", "10", "三月.xls"}}));
  // The run tells and asks the same with the column as without it.
  EXPECT_EQ(safe.out, plain.out);
  EXPECT_EQ(safe.transcript["dialogs"], plain.transcript["dialogs"]);
  EXPECT_EQ(safe.transcript["files"], plain.transcript["files"]);

  CliRun over =
      Run(Folder() + " --kind overwrite --variant fast --header-rows 1 --key 1 --source-column" +
          files);
  ASSERT_EQ(over.status, 0) << over.err;
  EXPECT_EQ(over.transcript["dialogs"][2]["text"], " 1:工号| 2:金额|\r请输入关键字列列号！");
  EXPECT_EQ(
      ReadBack(merged),
      (Grid{{"工号", "金额", "来源文件"}, {"1", "10", "三月.xls"}, {"2", "20", "二月.xlsx"}}));

  CliRun smart = Run(Folder() + " --kind smart --variant both --key 1 --source-column" + files);
  ASSERT_EQ(smart.status, 0) << smart.err;
  EXPECT_EQ(
      ReadBack(Src() / "合并结果" / "智能合并结果.xls"),
      (Grid{{"工号", "金额", "来源文件"}, {"1", "10", "一月.xls"}, {"2", "20", "二月.xlsx"}}));
}

// Runs with the arguments as given, without a transcript of the fixture's own.
int RunStatus(const std::string& args, std::string* err = nullptr) {
  std::string e =
      (fs::temp_directory_path() / ("qm_cli_err_" + std::to_string(::qm::testing::ProcessId())))
          .string();
  std::string cmd = std::string(QM_CLI_PATH) + " " + args + " </dev/null >/dev/null 2>'" + e + "'";
  int rc = std::system(cmd.c_str());
  if (err) *err = Slurp(e);
  fs::remove(e);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The pre-flight check reads the same folder and writes nothing.
TEST_F(CliTest, CheckTellsWhatAMergeWouldFindWithoutWritingAnything) {
  WriteMessyFolder(Src());
  {
    qm::Workbook wb;
    qm::Worksheet& ws = wb.AddWorksheet("其他");
    (void)ws.SetText(1, 1, "编号");
    (void)ws.SetNumber(2, 1, 1);
    // The first sheet, the one a merge takes, is hidden behind the one the user sees.
    ws.SetHidden(true);
    (void)wb.AddWorksheet("三月").SetText(1, 1, "编号");
    ASSERT_TRUE(qm::SaveWorkbookFile(wb, (Src() / "6别的.xls").string()));
  }
  const fs::path out = dir_ / "check.json";
  const std::string cmd = std::string(QM_CLI_PATH) + " --check " + Folder() + " --json >'" +
                          out.string() + "' 2>/dev/null";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 3);
  const json j = json::parse(Slurp(out));
  ASSERT_EQ(j["files"].size(), 6u);
  EXPECT_EQ(j["files"][0], (json{{"name", "1一月.xls"},
                                 {"status", "template"},
                                 {"format", "biff8"},
                                 {"sheet", "Sheet1"},
                                 {"first_sheet_hidden", false},
                                 {"rows", 2},
                                 {"cols", 2},
                                 {"header_row", 1},
                                 {"header_width", 2},
                                 {"header_matches", true},
                                 {"columns_added", json::array()},
                                 {"columns_missing", json::array()},
                                 {"code", nullptr},
                                 {"reason", nullptr}}));
  EXPECT_EQ(j["files"][1]["code"], "password");
  EXPECT_EQ(j["files"][2]["reason"], "不是Excel工作簿（网页中没有含数据的表格）");
  EXPECT_EQ(j["files"][3]["code"], "empty");
  EXPECT_EQ(j["files"][4]["status"], "readable");
  EXPECT_EQ(j["files"][4]["format"], "xlsx");
  EXPECT_EQ(j["files"][4]["header_matches"], true);
  EXPECT_EQ(j["files"][5]["sheet"], "其他");
  EXPECT_EQ(j["files"][5]["header_matches"], false);
  EXPECT_EQ(j["files"][5]["first_sheet_hidden"], true);
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));

  // For people: a line per file and the count; only readable files: exit 0.
  const fs::path text = dir_ / "check.txt";
  const std::string plain = std::string(QM_CLI_PATH) + " --check " + Folder() +
                            " --files 1一月.xls,5五月.xlsx,6别的.xls >'" + text.string() + "'";
  const int rc2 = std::system(plain.c_str());
  ASSERT_TRUE(WIFEXITED(rc2));
  EXPECT_EQ(WEXITSTATUS(rc2), 0);
  const std::string shown = Slurp(text);
  EXPECT_NE(shown.find("5五月.xlsx  xlsx   2行×2列  表头第1行，宽2列  表头与模板相同"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("工作表：其他  第一个工作表“其他”是隐藏的"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("工作表：Sheet1  第一个"), std::string::npos) << shown;
  EXPECT_NE(shown.find("共3个文件：可读3个，无法读取0个"), std::string::npos) << shown;
  EXPECT_EQ(RunStatus("--check '" + (dir_ / "none").string() + "'"), 64);
  EXPECT_EQ(RunStatus("--check " + Folder() + " --files ../x.xls"), 64);
}

// The answers typed into the input boxes of a run, in order.
std::vector<json> InputAnswers(const CliRun& r) {
  std::vector<json> out;
  for (const json& d : r.transcript["dialogs"])
    if (d["kind"] == "input") out.push_back(d["answer"]);
  return out;
}

// Sheets of a folder as a branch sends them: 1一月.xlsx with a cover before its 明细, 2二月.xlsx
// with 明细 first and a hidden draft, 3三月.xls without 明细, and a bank's GBK CSV export.
void WriteSheetsFolder(const fs::path& dir) {
  auto table = [](qm::Workbook& wb, const char* name, int value, bool hidden = false) {
    qm::Worksheet& ws = wb.AddWorksheet(name);
    (void)ws.SetText(1, 1, "工号");
    (void)ws.SetText(1, 2, "金额");
    (void)ws.SetNumber(2, 1, value);
    (void)ws.SetNumber(2, 2, value * 10);
    ws.SetHidden(hidden);
  };
  qm::Workbook one;
  (void)one.AddWorksheet("封面").SetText(1, 1, "一月报表");
  table(one, "明细", 1);
  ASSERT_TRUE(qm::SaveWorkbookFile(one, (dir / "1一月.xlsx").string()));
  qm::Workbook two;
  table(two, "明细", 2);
  table(two, "草稿", 9, true);
  ASSERT_TRUE(qm::SaveWorkbookFile(two, (dir / "2二月.xlsx").string()));
  WriteTable(dir / "3三月.xls", 3);
  std::ofstream(dir / "4导出.csv") << "\xB9\xA4\xBA\xC5,\xBD\xF0\xB6\xEE\r\n4,40\r\n";
}

TEST_F(CliTest, SheetOptionTakesTheNamedSheetAndSkipsFilesWithoutItWithExit3) {
  WriteSheetsFolder(Src());
  CliRun r = Run(Folder() + " --kind vertical --variant safe --sheet 明细");
  EXPECT_EQ(r.status, 3) << r.err;
  const std::string log = r.transcript["log"];
  EXPECT_NE(log.find("检测表1:1一月.xlsx［明细］\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("检测表2:2二月.xlsx\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("无法读取，已跳过：3三月.xls（没有名为“明细”的工作表）"), std::string::npos)
      << log;
  const json& files = r.transcript["files"];
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0]["sheet"], "明细");
  EXPECT_EQ(files[2]["code"], "no-sheet");
  EXPECT_EQ(files[2]["reason"], "没有名为“明细”的工作表");
  EXPECT_EQ(files[2]["sheet"], nullptr);
  // The CSV export is one table whatever the sheet asked for.
  EXPECT_EQ(files[3]["status"], "merged");

  // The default run's transcript names no sheet.
  CliRun plain = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  EXPECT_FALSE(plain.transcript["files"][0].contains("sheet"));

  CliRun empty = Run(Folder() + " --kind vertical --variant safe --sheet ''");
  EXPECT_EQ(empty.status, 64);
  EXPECT_NE(empty.err.find("--sheet 不能为空"), std::string::npos) << empty.err;
}

TEST_F(CliTest, SheetAllMergesEveryVisibleSheetWithItsNameInTheSecondSourceColumn) {
  WriteSheetsFolder(Src());
  qm::Workbook three;
  int key = 31;
  for (const char* name : {"上旬", "下旬"}) {
    qm::Worksheet& ws = three.AddWorksheet(name);
    (void)ws.SetText(1, 1, "工号");
    (void)ws.SetText(1, 2, "金额");
    (void)ws.SetNumber(2, 1, key++);
  }
  ASSERT_TRUE(qm::SaveWorkbookFile(three, (Src() / "3三月.xls").string()));
  CliRun r = Run(Folder() +
                 " --kind vertical --variant safe --sheet all --source-column "
                 "--files 2二月.xlsx,3三月.xls");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("检测表1:2二月.xlsx\n注意：2二月.xlsx的隐藏工作表“草稿”未合并\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("检测表3:3三月.xls［下旬］\n"), std::string::npos) << r.out;
  const json& files = r.transcript["files"];
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[2]["name"], "3三月.xls");
  EXPECT_EQ(files[2]["sheet"], "下旬");
  auto wb = qm::ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb);
  const qm::Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.UsedRange(), (qm::Range{1, 1, 4, 4}));
  EXPECT_EQ(ws.Cells(1, 4).text, "来源工作表");
  EXPECT_EQ(ws.Cells(3, 3).text, "3三月.xls");
  EXPECT_EQ(ws.Cells(3, 4).text, "上旬");
  EXPECT_EQ(ws.Cells(4, 4).text, "下旬");
}

TEST_F(CliTest, CheckAndDumpTakeTheSheetOptionAndNameEachTablesFormat) {
  WriteSheetsFolder(Src());
  CliRun text = Run("--check " + Folder() + " --sheet all");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("1一月.xlsx［明细］"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  csv (GB18030, ',')  2行×2列"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("隐藏工作表“草稿”未合并"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("共5个表：可读5个，无法读取0个"), std::string::npos) << text.out;

  CliRun named = Run("--check " + Folder() + " --sheet 明细 --json");
  EXPECT_EQ(named.status, 3);
  const json files = json::parse(named.out)["files"];
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0]["format"], "xlsx");
  EXPECT_EQ(files[0]["sheet"], "明细");
  EXPECT_EQ(files[1]["hidden_sheets_left_out"], json::array());
  EXPECT_EQ(files[2]["code"], "no-sheet");
  EXPECT_EQ(files[3]["format"], "csv (GB18030, ',')");

  CliRun dump = Run("--dump '" + (Src() / "1一月.xlsx").string() + "' --sheet all --json");
  ASSERT_EQ(dump.status, 0) << dump.err;
  std::istringstream lines(dump.out);
  std::vector<std::string> sheets;
  for (std::string line; std::getline(lines, line);)
    sheets.push_back(json::parse(line)["sheet_name"]);
  EXPECT_EQ(sheets, (std::vector<std::string>{"封面", "明细"}));
  CliRun missing = Run("--dump '" + (Src() / "3三月.xls").string() + "' --sheet 明细");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("（没有名为“明细”的工作表）"), std::string::npos) << missing.err;
}

TEST_F(CliTest, EmptyAnswerGivenWithAnEqualsSignIsAnAnswerNotBadUsage) {
  WriteTable(Src() / "a.xls", 1);
  WriteTable(Src() / "b.xls", 2);
  for (const char* opt : {"--key=", "--key ''"}) {
    CliRun r = Run(Folder() + " --kind overwrite --variant fast --header-rows 1 " + opt);
    EXPECT_EQ(r.status, 1) << opt << r.err;
    EXPECT_EQ(r.transcript["outcome"], "stopped") << opt;
    EXPECT_EQ(InputAnswers(r), (std::vector<json>{"1", ""})) << opt;
  }
  for (const char* opt : {"--header-rows=", "--header-rows ''"}) {
    CliRun r = Run(Folder() + " --kind overwrite --variant fast " + opt);
    EXPECT_EQ(r.status, 1) << opt << r.err;
    EXPECT_EQ(InputAnswers(r), (std::vector<json>{"", nullptr})) << opt;
  }
}

// Without --header-rows and without a terminal the header-rows box is answered with Cancel, which
// once merged every title and header row in as data; it now ends the run as a cancel does.
TEST_F(CliTest, CancelAtTheHeaderRowsBoxStillMergedAndNowExits1WritingNothing) {
  WriteTable(Src() / "a.xls", 1);
  WriteTable(Src() / "b.xls", 2);
  CliRun r = Run(Folder() + " --kind vertical --variant fast");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.transcript["outcome"], "cancelled");
  EXPECT_EQ(InputAnswers(r), (std::vector<json>{nullptr}));
  EXPECT_EQ(r.transcript["result"], nullptr);
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
}

TEST_F(CliTest, MissingFolderOrAFileAsFolderIsBadUsageNamingIt) {
  std::ofstream(Src() / "a.xls") << "x";
  std::string err;
  EXPECT_EQ(RunStatus("'" + (dir_ / "nope").string() + "' --kind vertical --variant safe", &err),
            64);
  EXPECT_EQ(err, "文件夹不存在：" + (dir_ / "nope").string() + "\n");
  EXPECT_EQ(RunStatus("'" + (Src() / "a.xls").string() + "' --kind vertical --variant safe", &err),
            64);
  EXPECT_EQ(err, "不是文件夹：" + (Src() / "a.xls").string() + "\n");
}

TEST_F(CliTest, FilesNamesThatLeaveTheFolderAreBadUsage) {
  fs::create_directories(dir_ / "base");
  std::ofstream(dir_ / "base" / "x.xls") << "x";
  std::ofstream(Src() / "a.xls") << "x";
  for (const char* name : {"../base/x.xls", "../../etc/passwd", "..", "sub/a.xls", "sub\\a.xls",
                           "a.xls,../base/x.xls"}) {
    std::string err;
    EXPECT_EQ(RunStatus(Folder() + " --kind vertical --variant safe --files '" + name + "'", &err),
              64)
        << name;
    EXPECT_NE(err.find("--files"), std::string::npos) << err;
  }
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
}

TEST_F(CliTest, TranscriptOverASourceOrIntoTheResultFolderIsRefusedBeforeTheRun) {
  std::ofstream(Src() / "01月.xls") << "source";
  std::ofstream(Src() / "02月.xls") << "source";
  fs::create_directory_symlink(Src(), dir_ / "link");
  const std::string run = Folder() + " --kind vertical --variant safe --transcript ";
  for (const fs::path& t :
       {Src() / "01月.xls", dir_ / "link" / "02月.xls", Src() / "." / "01月.xls",
        Src() / "合并结果" / "t.json", Src() / "合并结果" / "合并结果.xls", Src() / "合并结果"}) {
    std::string err;
    EXPECT_EQ(RunStatus(run + "'" + t.string() + "'", &err), 64) << t;
    EXPECT_NE(err.find("--transcript"), std::string::npos) << err;
  }
  EXPECT_EQ(Slurp(Src() / "01月.xls"), "source");
  EXPECT_EQ(Slurp(Src() / "02月.xls"), "source");
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
  // A file of the folder that is not in the list may be overwritten, and leaves no temporary.
  std::ofstream(Src() / "old.json") << "old";
  EXPECT_EQ(RunStatus(run + "'" + (Src() / "old.json").string() + "' --cancel"), 1);
  EXPECT_EQ(json::parse(Slurp(Src() / "old.json"))["outcome"], "cancelled");
  for (const auto& e : fs::directory_iterator(Src()))
    EXPECT_EQ(e.path().filename().string().rfind("~qm", 0), std::string::npos) << e.path();
}

// --- Output that the run cannot or must not pass on raw ------------------------------------

// The CLI with standard output on a pipe whose reader has gone, SIGPIPE at its default as a
// shell leaves it.
int RunIntoClosedPipe(const std::string& args) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  ::close(fds[0]);
  std::string cmd = std::string(QM_CLI_PATH) + " " + args + " </dev/null 2>/dev/null";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t def;
  sigemptyset(&def);
  sigaddset(&def, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &def);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(fds[1]);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(CliTest, ClosedStandardOutputDoesNotEndTheRun) {
  std::ofstream(Src() / "a.xls") << std::string("\x01\x02\x00\x05", 4);  // no reader takes it
  const fs::path t = dir_ / "t.json";
  // The log's first line goes to the closed pipe; the run still fails as it would, by exit 2,
  // and writes its transcript.
  EXPECT_EQ(RunIntoClosedPipe(Folder() + " --kind smart --variant both --key 1 --transcript '" +
                              t.string() + "'"),
            2);
  ASSERT_TRUE(fs::exists(t));
  EXPECT_EQ(json::parse(Slurp(t))["outcome"], "failed");
}

TEST_F(CliTest, NameThatIsNotUtf8IsMergedAndShownEscaped) {
  WriteTable(Src() / "a.xls", 1);
  // An invalid byte and an escape sequence that would colour the terminal.
  const std::string odd = "b\xff\x1b[31m.xls";
  WriteTable(Src() / odd, 2);
  CliRun r = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.transcript["outcome"], "done");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  EXPECT_NE(r.out.find("b\xEF\xBF\xBD\\x1b[31m.xls"), std::string::npos) << r.out;
  // The transcript is valid JSON: the bad byte became U+FFFD, the escape stays a character.
  EXPECT_NE(r.transcript["log"].get<std::string>().find("b\xEF\xBF\xBD\x1b[31m.xls"),
            std::string::npos);
  auto wb = qm::ReadWorkbookFile((Src() / "合并结果" / "合并结果.xls").string());
  ASSERT_TRUE(wb);
  EXPECT_EQ((*wb)->Worksheets(1)->UsedRange().r2, 3);  // header and a row from each
}

// --- Where the result goes ---------------------------------------------------------------

TEST_F(CliTest, ResultFolderHoldsOnlyResultsAfterARunEvenWithALeftoverOfAKilledOne) {
  WriteTable(Src() / "a.xls", 1);
  WriteTable(Src() / "b.xls", 2);
  fs::create_directory(Src() / "合并结果");
  std::ofstream(Src() / "合并结果" / "~qm00000000deadbeef.xls.tmp") << std::string(4096, 'x');
  CliRun r = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Src() / "合并结果"))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"合并结果.xls"});
}

TEST_F(CliTest, LinkedResultFolderOrReadOnlyResultFailsWithExit2) {
  WriteTable(Src() / "a.xls", 1);
  WriteTable(Src() / "b.xls", 2);
  fs::create_directory(dir_ / "outside");
  fs::create_directory_symlink(dir_ / "outside", Src() / "合并结果");
  CliRun linked = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  EXPECT_EQ(linked.status, 2);
  EXPECT_EQ(linked.transcript["outcome"], "failed");
  EXPECT_EQ(linked.transcript["dialogs"].back()["text"],
            "合并失败：" + (Src() / "合并结果").string() + "：不是普通文件（是符号链接）");
  EXPECT_TRUE(fs::is_empty(dir_ / "outside"));

  fs::remove(Src() / "合并结果");
  fs::create_directory(Src() / "合并结果");
  const fs::path result = Src() / "合并结果" / "合并结果.xls";
  std::ofstream(result) << "kept";
  fs::permissions(result, fs::perms::owner_read);
  CliRun ro = Run(Folder() + " --kind vertical --variant fast --header-rows 1");
  EXPECT_EQ(ro.status, 2);
  EXPECT_NE(ro.err.find("合并失败：" + result.string() + "：没有读写权限（文件是只读的）"),
            std::string::npos)
      << ro.err;
  EXPECT_EQ(Slurp(result), "kept");
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

// A month left out for its header used to exit 0, so a script never saw it: exit 3 now.
TEST_F(CliExamplesTest, SafeVerticalMergeSkipsTheTableWithAnotherHeaderAndExits3) {
  PREPARE("monthly");
  CliRun r = Run(Folder() + " --kind vertical --variant safe");
  ASSERT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.transcript["summary"]["header_mismatch"], 1);
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
