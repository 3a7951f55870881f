// quillmere-cli with protected workbooks: --password for a merge, --dump and --check, on the
// encrypted fixtures. The passwords never show on the terminal or in the transcript.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Ran {
  int status = -1;
  std::string out, err, transcript_text;
  json transcript;
};

using qm::testing::Slurp;

fs::path Data(const std::string& rel) {
  return fs::path(QM_TEST_DATA) / rel;
}

// Every password given in these tests, some of them wrong.
const std::vector<std::string> kSecrets = {"rc4pass", "secret128", "sha1-pw", "标准Std1",
                                           "wrong-guess"};

class CliPasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::qm::testing::FreshTestFolder("qm_clipw");
    fs::create_directories(Src());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Src() const { return dir_ / "src"; }
  std::string Folder() const { return "'" + Src().string() + "'"; }

  // The template and two copies of it under RC4 and RC4 CryptoAPI.
  void WriteXlsFolder(bool protected_template = false) {
    fs::copy_file(Data(protected_template ? "encrypted/rc4.xls" : "xls/styled.xls"),
                  Src() / "1模板.xls");
    fs::copy_file(Data("encrypted/rc4.xls"), Src() / "2甲.xls");
    fs::copy_file(Data("encrypted/cryptoapi_128.xls"), Src() / "3乙.xls");
  }

  Ran Run(const std::string& args, bool transcript = true) {
    const fs::path out = dir_ / "out.txt", err = dir_ / "err.txt", tr = dir_ / "t.json";
    fs::remove(tr);
    std::string cmd = std::string(QM_CLI_PATH) + " " + args;
    if (transcript) cmd += " --transcript '" + tr.string() + "'";
    cmd += " </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
    Ran r;
    const int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    if (fs::exists(tr)) {
      r.transcript_text = Slurp(tr);
      r.transcript = json::parse(r.transcript_text);
    }
    return r;
  }

  static void ExpectNoSecret(const Ran& r) {
    for (const std::string& s : kSecrets) {
      EXPECT_EQ(r.out.find(s), std::string::npos) << s << " in " << r.out;
      EXPECT_EQ(r.err.find(s), std::string::npos) << s << " in " << r.err;
      EXPECT_EQ(r.transcript_text.find(s), std::string::npos) << s;
    }
  }

  fs::path dir_;
};

TEST_F(CliPasswordTest, RightPasswordsAfterAWrongOneMergeEveryProtectedSource) {
  WriteXlsFolder();
  Ran r = Run(Folder() +
              " --kind vertical --variant safe --password wrong-guess --password rc4pass"
              " --password=secret128");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.transcript["outcome"], "done");
  ASSERT_EQ(r.transcript["files"].size(), 3u);
  EXPECT_EQ(r.transcript["files"][1]["status"], "merged");
  EXPECT_EQ(r.transcript["files"][2]["status"], "merged");
  EXPECT_EQ(r.transcript["summary"]["unreadable"], 0);
  EXPECT_TRUE(fs::exists(Src() / "合并结果" / "合并结果.xls"));
  ExpectNoSecret(r);
}

TEST_F(CliPasswordTest, WithoutTheirPasswordsProtectedSourcesAreSkippedAndATemplateEndsTheRun) {
  WriteXlsFolder();
  Ran r = Run(Folder() + " --kind vertical --variant safe --password wrong-guess");
  EXPECT_EQ(r.status, 3) << r.err;
  for (int k : {1, 2}) {
    EXPECT_EQ(r.transcript["files"][k]["status"], "unreadable");
    EXPECT_EQ(r.transcript["files"][k]["code"], "password");
    EXPECT_EQ(r.transcript["files"][k]["reason"], "文件受密码保护，密码不对或未提供");
  }
  EXPECT_NE(r.out.find("无法读取，已跳过：2甲.xls（文件受密码保护，密码不对或未提供）"),
            std::string::npos)
      << r.out;
  // Nothing asked: the command line has no password box.
  for (const json& d : r.transcript["dialogs"]) EXPECT_NE(d["kind"], "input") << d;
  ExpectNoSecret(r);

  fs::remove_all(dir_);
  fs::create_directories(Src());
  WriteXlsFolder(true);
  Ran t = Run(Folder() + " --kind vertical --variant safe --password secret128");
  EXPECT_EQ(t.status, 2) << t.err;
  EXPECT_NE(t.err.find("合并失败：" + (Src() / "1模板.xls").string() +
                       "：文件受密码保护，密码不对或未提供"),
            std::string::npos)
      << t.err;
  EXPECT_EQ(t.transcript["files"][0]["code"], "password");
  EXPECT_FALSE(fs::exists(Src() / "合并结果"));
  ExpectNoSecret(t);
}

TEST_F(CliPasswordTest, DumpAndCheckOpenProtectedWorkbooksWithTheGivenPasswords) {
  const std::string agile = "'" + Data("encrypted/agile_aes128_sha1.xlsx").string() + "'";
  const Ran plain = Run("--dump '" + Data("xlsx/dump_sample.xlsx").string() + "' --json", false);
  ASSERT_EQ(plain.status, 0);
  const Ran opened =
      Run("--dump " + agile + " --json --password wrong-guess --password sha1-pw", false);
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out, plain.out);
  ExpectNoSecret(opened);
  const Ran refused = Run("--dump " + agile + " --password wrong-guess", false);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  ExpectNoSecret(refused);

  fs::copy_file(Data("xlsx/dump_sample.xlsx"), Src() / "1.xlsx");
  fs::copy_file(Data("encrypted/standard_aes128.xlsx"), Src() / "2.xlsx");
  fs::copy_file(Data("encrypted/agile_aes128_sha1.xlsx"), Src() / "3.xlsx");
  const Ran all =
      Run("--check " + Folder() + " --json --password 标准Std1 --password sha1-pw", false);
  EXPECT_EQ(all.status, 0) << all.out;
  const json j = json::parse(all.out);
  ASSERT_EQ(j["files"].size(), 3u);
  EXPECT_EQ(j["files"][1]["header_matches"], true);
  EXPECT_EQ(j["files"][2]["header_matches"], true);
  ExpectNoSecret(all);
  const Ran some = Run("--check " + Folder() + " --json --password sha1-pw", false);
  EXPECT_EQ(some.status, 3);
  const json s = json::parse(some.out);
  EXPECT_EQ(s["files"][1]["code"], "password");
  EXPECT_EQ(s["files"][1]["reason"], "文件受密码保护，密码不对或未提供");
  EXPECT_EQ(s["files"][2]["status"], "readable");
}

// A thousand copies of one wrong password cost a thousand key derivations, and slow tries ran
// with no sign of life. Now a repeat costs nothing, and tries over two million hash rounds are
// announced on standard error (standard output is the log).
TEST_F(CliPasswordTest, RepeatedPasswordsCostOneTryAndSlowTriesAreAnnouncedOnStandardError) {
  fs::copy_file(Data("xlsx/dump_sample.xlsx"), Src() / "1.xlsx");
  fs::copy_file(Data("encrypted/agile_aes128_sha1.xlsx"), Src() / "2甲.xlsx");
  std::string repeated;
  for (int i = 0; i < 1000; ++i) repeated += " --password wrong-guess";
  const Ran same = Run(Folder() + " --kind vertical --variant safe" + repeated);
  EXPECT_EQ(same.status, 3) << same.err;
  EXPECT_EQ(same.transcript["files"][1]["code"], "password");
  EXPECT_EQ(same.err.find("正在尝试密码"), std::string::npos) << same.err;
  ExpectNoSecret(same);

  // The right password first, then twenty more: 22 distinct tries at 100,000 rounds could cost
  // 2.2 million rounds, so the user is told, although the second try opens the file.
  std::string many = " --password sha1-pw";
  for (int i = 0; i < 20; ++i) many += " --password wrong-guess" + std::to_string(i);
  const Ran slow = Run(Folder() + " --kind vertical --variant safe" + many);
  EXPECT_EQ(slow.status, 0) << slow.err;
  EXPECT_NE(slow.err.find("正在尝试密码：2甲.xlsx\n"), std::string::npos) << slow.err;
  EXPECT_EQ(slow.out.find("正在尝试密码"), std::string::npos) << slow.out;
  EXPECT_EQ(slow.transcript_text.find("正在尝试密码"), std::string::npos);
  EXPECT_EQ(slow.transcript["files"][1]["status"], "merged");
  ExpectNoSecret(slow);
}

}  // namespace
