// What quillmere-cli prints is Chinese: failing runs, unreadable files, system errors, its own
// usage errors and help. The only ASCII words left are option names, their placeholders and
// values, file paths, the stable error codes scripts match on, and format and program names.
// Also the transcript's place, checked before the run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/result.h"

namespace {

namespace fs = std::filesystem;
using qm::testing::Shell;
using qm::testing::Slurp;

// The English words of `text` that may not reach the user, with option names and the given
// paths taken out first.
std::vector<std::string> ForeignWords(std::string text, const std::vector<std::string>& paths) {
  for (const std::string& p : paths)
    for (size_t at; !p.empty() && (at = text.find(p)) != std::string::npos;)
      text.erase(at, p.size());
  static const std::set<std::string> kAllowed = {
      // placeholders and values
      "folder", "file", "text", "n", "name", "workbook", "vertical", "overwrite", "smart", "safe",
      "fast", "horizontal", "both", "byname", "yes", "no", "first", "first-visible", "all",
      // formats and programs
      "xls", "xlsx", "xlsm", "xlsb", "csv", "tsv", "ods", "excel", "wps", "json", "utf", "biff",
      "zip", "cryptoapi", "agile", "ooxml", "aes", "sha", "quillmere", "quillmere-cli",
      // the stable codes of --check and the transcript
      "ok", "not-supported", "not-a-workbook", "password", "corrupt", "too-large", "io", "invalid",
      "empty", "missing", "not-regular", "no-memory", "permission", "disk-full", "grid-full",
      "no-sheet",
      // sizes
      "kib", "mib", "gib"};
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    // An option name: "-h", "--transcript".
    if (c == '-' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
      size_t j = i;
      while (j < text.size() && text[j] == '-') ++j;
      if (j - i <= 2 && j < text.size() && std::islower(static_cast<unsigned char>(text[j]))) {
        while (j < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '-'))
          ++j;
        i = j;
        continue;
      }
    }
    if (!std::isalpha(c)) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && (std::isalpha(static_cast<unsigned char>(text[j])) ||
                               (text[j] == '-' && j + 1 < text.size() &&
                                std::isalpha(static_cast<unsigned char>(text[j + 1])))))
      ++j;
    std::string word = text.substr(i, j - i);
    for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (!kAllowed.count(word)) out.push_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += w + " ";
  return s;
}

class CliMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = qm::testing::FreshTestFolder("qm_cli_msgs"); }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  struct Printed {
    int status = -1;
    std::string out, err;
  };
  // Runs the CLI with `args` (shell words), standard input from /dev/null.
  Printed Run(const std::string& args) {
    const fs::path err = dir_ / "err.txt";
    Printed p;
    p.out =
        Shell("'" + std::string(QM_CLI_PATH) + "' " + args + " </dev/null 2>'" + err.string() + "'",
              &p.status);
    p.err = Slurp(err);
    fs::remove(err);
    return p;
  }
  static std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

  // Table 一月 with a header and one row, by the project's writer.
  static void WriteTable(const fs::path& p) {
    qm::Workbook wb;
    qm::Worksheet& ws = wb.AddWorksheet("一月");
    (void)ws.SetText(1, 1, "工号");
    (void)ws.SetText(1, 2, "金额");
    (void)ws.SetNumber(2, 1, 1);
    (void)ws.SetNumber(2, 2, 10);
    ASSERT_TRUE(qm::SaveWorkbookFile(wb, p.string()));
  }

  fs::path dir_;
};

// Damaged and odd files of every kind the readers and the system refuse, each with its reason.
TEST_F(CliMessagesTest, EnglishDetailsNeverReachTheUserForFailingRunsAndUsageErrors) {
  // What the scan looks for, as the command line printed it before.
  EXPECT_EQ(Joined(ForeignWords("/d/a.xls: cannot save: Is a directory; --kind xls N 8 MiB",
                                {"/d/a.xls"})),
            "cannot save Is a directory ");
  const fs::path src = dir_ / "源";
  fs::create_directories(src);
  WriteTable(src / "1一月.xls");
  WriteTable(dir_ / "好.xlsx");
  // A package cut in half: no end of its central directory.
  {
    const std::string whole = Slurp(dir_ / "好.xlsx");
    std::ofstream(src / "2截断.xlsx", std::ios::binary) << whole.substr(0, whole.size() / 2);
  }
  // A compound file with nothing but its signature.
  std::ofstream(src / "3复合.xls", std::ios::binary)
      << std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << std::string(600, '\0');
  fs::copy_file(fs::path(QM_TEST_DATA) / "xls" / "xor_password_pass.xls", src / "4加密.xls");
  std::ofstream(src / "5乱码.xls", std::ios::binary) << std::string("\x01\x02\x03\xFE", 4);
  fs::create_symlink("6环.xls", src / "6环.xls");
  fs::create_directory(dir_ / "夹.xls");

  std::vector<std::string> commands = {
      "--help",
      "",
      Q(src) + " 乙 --kind vertical --variant safe",
      Q(src) + " --kind vertical --variant both",
      Q(src) + " --kind 横向 --variant safe",
      Q(src) + " --kind smart --variant horizontal --sorted 也许",
      Q(src) + " --variant safe --kind",
      Q(src) + " --kind vertical --kind smart --variant safe",
      Q(src) + " --kind vertical",
      "--frobnicate",
      "--json=也许 --check " + Q(src),
      "--check",
      "--check " + Q(dir_ / "无"),
      "--check " + Q(src),
      "--check " + Q(src) + " --sheet 明细",
      Q(src) + " --kind vertical --variant safe --sheet all",
      Q(src) + " --kind vertical --variant safe --sheet 明细",
      Q(src) + " --kind vertical --variant safe --files 2截断.xlsx",
      Q(src) + " --kind vertical --variant safe --transcript " + Q(dir_ / "夹.xls"),
      Q(src) + " --kind vertical --variant safe",
      "--dump " + Q(dir_ / "好.xlsx"),
  };
  for (const char* bad : {"2截断.xlsx", "3复合.xls", "4加密.xls", "5乱码.xls", "6环.xls"})
    commands.push_back("--dump " + Q(src / bad));
  commands.push_back("--dump " + Q(dir_ / "夹.xls"));
  commands.push_back("--dump " + Q(dir_ / "无.xls"));

  for (const std::string& args : commands) {
    const Printed p = Run(args);
    const std::string all = p.out + p.err;
    EXPECT_FALSE(all.empty()) << args;
    EXPECT_EQ(Joined(ForeignWords(all, {src.string(), dir_.string(), QM_CLI_PATH})), "")
        << args << "\n"
        << all;
  }
}

TEST_F(CliMessagesTest, ReasonsSystemErrorsAndTheDumpReadAsChinese) {
  const fs::path src = dir_ / "源";
  fs::create_directories(src);
  WriteTable(src / "a.xls");
  WriteTable(dir_ / "好.xlsx");
  const std::string whole = Slurp(dir_ / "好.xlsx");
  std::ofstream(dir_ / "cut.xlsx", std::ios::binary) << whole.substr(0, whole.size() / 2);
  fs::create_symlink("loop.xls", dir_ / "loop.xls");

  const Printed dump = Run("--dump " + Q(dir_ / "好.xlsx"));
  EXPECT_EQ(dump.out.substr(0, dump.out.find('\n')), "一月（xlsx，2行×2列）");
  const Printed merged = Run(Q(src) + " --kind vertical --variant safe");
  EXPECT_NE(merged.err.find("结果文件：" + (src / "合并结果" / "合并结果.xls").string()),
            std::string::npos)
      << merged.err;
  fs::remove_all(src / "合并结果");

  const Printed cut = Run("--dump " + Q(dir_ / "cut.xlsx"));
  EXPECT_EQ(cut.status, 2);
  EXPECT_EQ(cut.err, "无法读取：" + (dir_ / "cut.xlsx").string() +
                         "（文件已损坏（不是完整的zip压缩包，文件可能不完整））\n");
  const Printed loop = Run("--dump " + Q(dir_ / "loop.xls"));
  EXPECT_EQ(loop.err, "无法读取：" + (dir_ / "loop.xls").string() +
                          "（读写文件出错（无法打开文件：符号链接层数过多））\n");
  const Printed locked =
      Run("--dump " + Q(fs::path(QM_TEST_DATA) / "xls" / "xor_password_pass.xls"));
  EXPECT_NE(locked.err.find("（文件受密码保护，密码不对或未提供）"), std::string::npos)
      << locked.err;

  // The result folder's name taken by a file; then the result's name taken by a folder.
  std::ofstream(src / "合并结果") << "x";
  const Printed taken = Run(Q(src) + " --kind vertical --variant safe");
  EXPECT_EQ(taken.status, 2);
  EXPECT_NE(taken.err.find("合并失败：" + (src / "合并结果").string() +
                           "：读写文件出错（无法创建文件夹：已存在同名文件）"),
            std::string::npos)
      << taken.err;
  fs::remove(src / "合并结果");
  fs::create_directories(src / "合并结果" / "合并结果.xls");
  const Printed folder = Run(Q(src) + " --kind vertical --variant safe");
  EXPECT_EQ(folder.status, 2);
  EXPECT_NE(folder.err.find("合并失败：" + (src / "合并结果" / "合并结果.xls").string() +
                            "：不是普通文件（无法保存：是文件夹）"),
            std::string::npos)
      << folder.err;
}

TEST_F(CliMessagesTest, UsageErrorsNameWhatIsWrongAndWhereTheHelpIs) {
  fs::create_directory(dir_ / "源");
  const std::string folder = Q(dir_ / "源");
  const std::string more = "运行 quillmere-cli --help 查看用法。\n";
  const struct {
    std::string args, first_line;
  } cases[] = {
      {folder + " 乙 --kind vertical --variant safe", "多余的参数：乙"},
      {"--frobnicate " + folder, "不认识的选项：--frobnicate"},
      {folder + " --kind vertical --variant both",
       "--variant both 不适用于 --kind vertical：vertical 和 overwrite 用 safe、fast 或 "
       "byname，smart 用 "
       "horizontal 或 both"},
      {folder + " --kind sideways --variant safe",
       "--kind 只能是 vertical、overwrite 或 smart，不能是“sideways”"},
      {folder + " --kind smart --variant both --sorted maybe",
       "--sorted 只能是 yes 或 no，不能是“maybe”"},
      {folder + " --variant safe --kind", "--kind 后面缺少值"},
      {folder + " --kind vertical --kind smart --variant safe", "--kind 只能给出一次"},
      {folder + " --kind vertical", "缺少 --variant"},
      {"", "缺少 FOLDER、--kind、--variant"},
      {"--check", "缺少 FOLDER"},
      {folder + " --kind vertical --variant safe --sheet ''",
       "--sheet 不能为空：可以是 first、first-visible、all 或工作表的名称"},
  };
  for (const auto& c : cases) {
    const Printed p = Run(c.args);
    EXPECT_EQ(p.status, 64) << c.args;
    EXPECT_EQ(p.out, "") << c.args;
    EXPECT_EQ(p.err.substr(0, p.err.find('\n')), c.first_line) << c.args;
    EXPECT_GE(p.err.size(), more.size());
    EXPECT_EQ(p.err.substr(p.err.size() - std::min(p.err.size(), more.size())), more) << c.args;
  }
  const Printed help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("3    结果已保存，但有列出的文件整个未合并：无法读取，或表头与模板不符"),
            std::string::npos)
      << help.out;
  EXPECT_EQ(Run("-h").out, help.out);
}

// The transcript was found unwritable only after the result was saved (exit 2, an English
// line); now the run does not start.
TEST_F(CliMessagesTest, UnwritableTranscriptIsRefusedBeforeTheRunWithExit64) {
  const fs::path src = dir_ / "源";
  fs::create_directories(src);
  WriteTable(src / "a.xls");
  fs::create_directory(dir_ / "记录");
  std::vector<std::pair<fs::path, std::string>> cases = {
      {dir_ / "记录", "是文件夹"},
      {dir_ / "无" / "t.json", "所在的文件夹不存在"},
      {src / "a.xls" / "t.json", "所在的文件夹不存在"},
      // Refused to every user, the superuser too.
      {"/sys/qm-transcript.json", "没有读写权限"},
  };
  if (::geteuid() != 0) {
    fs::create_directory(dir_ / "只读");
    fs::permissions(dir_ / "只读", fs::perms::owner_read | fs::perms::owner_exec);
    cases.emplace_back(dir_ / "只读" / "t.json", "没有读写权限");
  }
  for (const auto& [t, why] : cases) {
    const Printed p = Run(Q(src) + " --kind vertical --variant safe --transcript " + Q(t));
    EXPECT_EQ(p.status, 64) << t;
    // A read-only mount adds its own words after the reason.
    EXPECT_EQ(p.err.rfind("--transcript 无法写入：" + t.string() + "（" + why, 0), 0u) << p.err;
    EXPECT_EQ(p.err.substr(p.err.size() - std::min<size_t>(p.err.size(), 4)), "）\n") << p.err;
    EXPECT_EQ(p.out, "") << t;
    EXPECT_FALSE(fs::exists(src / "合并结果")) << t;
  }
  // The check leaves nothing behind where it tried.
  for (const auto& e : fs::recursive_directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().rfind("~qm", 0), std::string::npos) << e.path();
}

TEST(SystemErrorTexts, ComeFromTheErrorNumberNotTheCLibrary) {
  EXPECT_EQ(qm::SystemErrorText(ELOOP), "符号链接层数过多");
  EXPECT_EQ(qm::SystemErrorText(EIO), "系统错误" + std::to_string(EIO));
  EXPECT_EQ(qm::SystemErrorText(std::make_error_code(std::errc::is_a_directory)), "是文件夹");
  // The bracket says what the code's own text does not.
  EXPECT_EQ(qm::SystemErrorNote("无法保存", EROFS), "无法保存：文件系统是只读的");
  EXPECT_EQ(qm::SystemErrorNote("无法保存", EACCES), "");
}

TEST(ErrorReasons, AnEnglishDetailStaysWithTheDeveloperAChineseOneReachesTheUser) {
  using qm::ErrorCode;
  using qm::MakeError;
  EXPECT_EQ(qm::ErrorReason(
                MakeError(ErrorCode::kCorrupt, "/a/b.xls: the compound file has no root directory"),
                "/a/b.xls"),
            "文件已损坏");
  // A Chinese name quoted in an English detail does not make it Chinese.
  EXPECT_EQ(qm::ErrorReason(MakeError(ErrorCode::kCorrupt, "b.xls: the worksheet \"一月\" is cut"),
                            "b.xls"),
            "文件已损坏");
  EXPECT_EQ(
      qm::ErrorReason(MakeError(ErrorCode::kNotSupported, "b.xls: 不支持的加密算法（编号26625）"),
                      "b.xls"),
      "不支持的文件格式（不支持的加密算法（编号26625））");
  EXPECT_EQ(
      qm::ErrorReason(MakeError(ErrorCode::kIo, "b.xls: x (Too many levels of symbolic links)",
                                "无法打开文件：符号链接层数过多"),
                      "b.xls"),
      "读写文件出错（无法打开文件：符号链接层数过多）");
}

}  // namespace
