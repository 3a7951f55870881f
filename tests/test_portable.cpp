// What the systems do differently, behaving the same for the user: paths inside the program,
// Chinese names through listing, saving and reading, hidden files, and the writers' spill file
// in the temporary folder (and a word in the log when there is none). The Windows build runs
// these under Wine.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/file_list.h"
#include "test_engines_port.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/paths.h"
#include "workbook/temp_file.h"
#include "workbook/xls/biff_out.h"
#include "workbook/xls/xls.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class PortableTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::FreshTestFolder("qm_portable"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Dir() const { return PathToUtf8(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / PathFromUtf8(name)) << "x"; }

  fs::path dir_;
};

// Sets the variable that names the temporary folder for as long as it lives.
class TemporaryFolderVariable {
 public:
  explicit TemporaryFolderVariable(const std::string& value) {
    if (const char* old = std::getenv(kName)) old_ = old;
    Set(value.c_str());
  }
  ~TemporaryFolderVariable() { Set(old_ ? old_->c_str() : nullptr); }

 private:
#ifdef _WIN32
  static constexpr const char* kName = "TMP";  // GetTempPath looks at TMP first
  static void Set(const char* v) {
    SetEnvironmentVariableA(kName, v);
    _putenv_s(kName, v ? v : "");
  }
#else
  static constexpr const char* kName = "TMPDIR";
  static void Set(const char* v) {
    v ? setenv(kName, v, 1) : unsetenv(kName);
  }
#endif
  std::optional<std::string> old_;
};

TEST_F(PortableTest, PathsInsideTheProgramUseSlashesOnEverySystem) {
  EXPECT_EQ(WithTrailingSeparator("data"), "data/");
  EXPECT_EQ(WithTrailingSeparator("data/"), "data/");
  EXPECT_EQ(WithTrailingSeparator("data\\"), "data\\");  // a Windows user's own separator stays
  EXPECT_EQ(WithTrailingSeparator(""), "");
  EXPECT_EQ(
      PathToUtf8(PathFromUtf8("月报") / PathFromUtf8("合并结果") / PathFromUtf8("合并结果.xls")),
      "月报/合并结果/合并结果.xls");
}

TEST_F(PortableTest, ChineseNamesSurviveListingSavingAndReading) {
  const std::string folder = Dir() + "/月报";
  fs::create_directories(PathFromUtf8(folder));
  ASSERT_TRUE(
      SaveWorkbookFile(*testing::Book({{"姓名", "金额"}, {"张三", 1}}), folder + "/一月.xlsx"));
  ASSERT_TRUE(
      SaveWorkbookFile(*testing::Book({{"姓名", "金额"}, {"李四", 2}}), folder + "/二月.xls"));
  const std::vector<std::string> names = ListWorkbooks(folder);
  ASSERT_EQ(names, (std::vector<std::string>{"一月.xlsx", "二月.xls"}));
  for (const std::string& n : names) {
    auto wb = ReadWorkbookFile(folder + "/" + n);
    ASSERT_TRUE(wb) << n << ": " << wb.error().detail;
    EXPECT_EQ(testing::Show((*wb)->Worksheets(1)->Cells(1, 1)), "t:姓名") << n;
  }
}

TEST_F(PortableTest, HiddenFilesAreNotListed) {
  Touch("a.xls");
  Touch(".b.xls");
#ifdef _WIN32
  Touch("c.xls");
  ASSERT_TRUE(SetFileAttributesW((dir_ / "c.xls").c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
  EXPECT_EQ(ListWorkbooks(Dir()), std::vector<std::string>{"a.xls"});
}

// A sheet larger than the spill threshold goes through a file in the temporary folder; where
// none can be made the save still succeeds, from memory, and the log says why.
TEST_F(PortableTest, SpillFileLivesInTheTemporaryFolderOrTheLogSaysWhyNot) {
  const size_t threshold = xls::spill_threshold;
  xls::spill_threshold = 4096;
  auto wb = testing::Book({{"编号", "名称"}});
  for (int r = 2; r <= 3000; ++r) {
    (void)wb->Worksheets(1)->SetNumber(r, 1, r);
    (void)wb->Worksheets(1)->SetText(r, 2, "第" + std::to_string(r) + "行");
  }
  for (bool usable : {true, false}) {
    SCOPED_TRACE(usable ? "temporary folder" : "no temporary folder");
    const std::string tmp = Dir() + (usable ? "/tmp" : "/missing");
    if (usable) fs::create_directories(PathFromUtf8(tmp));
    TemporaryFolderVariable var(tmp);
    {
      std::FILE* f = OpenSpillFile();
      EXPECT_EQ(f != nullptr, usable);
      if (f) std::fclose(f);
    }
    std::vector<std::string> warnings;
    const std::string out = Dir() + "/结果.xls";
    ASSERT_TRUE(xls::Write(*wb, out, &warnings));
    EXPECT_EQ(warnings.empty(), usable);
    if (!usable) {
      EXPECT_EQ(warnings, std::vector<std::string>{
                              "无法在临时文件夹中创建临时文件，结果只能全部在内存中写出"});
    }
    auto back = ReadWorkbookFile(out);
    ASSERT_TRUE(back) << back.error().detail;
    EXPECT_EQ(testing::Show((*back)->Worksheets(1)->Cells(3000, 2)), "t:第3000行");
    // Nothing is left in the temporary folder once the file is closed.
    if (usable) {
      EXPECT_TRUE(fs::is_empty(PathFromUtf8(tmp)));
    }
  }
  xls::spill_threshold = threshold;
}

}  // namespace
}  // namespace qm
