// What a save leaves behind and what it refuses: temporaries of killed or interrupted saves,
// read-only results, a result folder that is a link, OS failures by their code, and the writers'
// warnings reaching the user's log.
#include <gtest/gtest.h>

#include <csignal>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "test_engines_port.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/paths.h"
#include "workbook/store.h"
#include "workbook/temp_file.h"
#include "workbook/xls/xls.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class SaveSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::qm::testing::FreshTestFolder("qm_save");
    (void)wb_.AddWorksheet("S").SetText(1, 1, "x");
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::set<std::string> Names(const fs::path& d) const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(d)) out.insert(PathToUtf8(e.path().filename()));
    return out;
  }
  // Names are UTF-8 in the program; on Windows a plain char path would be the ANSI code page.
  std::string Path(const std::string& name) const { return PathToUtf8(dir_ / PathFromUtf8(name)); }

  fs::path dir_;
  Workbook wb_;
};

TEST_F(SaveSafetyTest, TemporaryPatternIsRecognisedAndNothingElse) {
  EXPECT_TRUE(IsTempFileName("~qm0123456789abcdef.xls.tmp"));
  EXPECT_TRUE(IsTempFileName("~qm0123456789ABCDEF.xlsx.tmp"));
  EXPECT_TRUE(IsTempFileName("~qm0123456789abcdef.tmp"));
  EXPECT_TRUE(IsTempFileName("~qm-result.tmp"));
  EXPECT_FALSE(IsTempFileName("~qm0123456789abcdef.xls"));
  EXPECT_FALSE(IsTempFileName("~qm0123456789abcdeg.xls.tmp"));
  EXPECT_FALSE(IsTempFileName("~qmnotes.tmp"));
  EXPECT_FALSE(IsTempFileName("合并结果.xls"));
  EXPECT_FALSE(IsTempFileName("~qm0123456789abcdef.my notes.tmp"));
}

// A save killed with SIGKILL leaves its temporary, unlocked; the next save into that folder
// removes it, whatever its age, and leaves only the result there.
TEST_F(SaveSafetyTest, TemporaryOfAKilledSaveIsRemovedByTheNextSave) {
  std::ofstream(dir_ / "~qm0123456789abcdef.xls.tmp") << std::string(1000, 'x');
  std::ofstream(dir_ / "~qmfedcba9876543210.xlsx.tmp") << "";
  std::ofstream(dir_ / "notes.tmp") << "kept";
  ASSERT_TRUE(SaveWorkbookFile(wb_, Path("合并结果.xls")));
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"合并结果.xls", "notes.tmp"}));
}

TEST_F(SaveSafetyTest, TemporaryHeldByARunningSaveIsLeftAlone) {
  auto held = TempFile::CreateBeside(Path("r.xls"));
  ASSERT_TRUE(held) << held.error().detail;
  const std::string name = PathToUtf8(PathFromUtf8((*held)->path()).filename());
  EXPECT_TRUE(IsTempFileName(name)) << name;
  RemoveStaleTempFiles(PathToUtf8(dir_));
  EXPECT_TRUE(fs::exists(PathFromUtf8((*held)->path())));
  // Once given up, it is gone at once: nothing is left behind to lock or clean.
  held->reset();
  EXPECT_TRUE(Names(dir_).empty());
}

TEST_F(SaveSafetyTest, SaveLeavesOnlyTheResultAndNoLockFile) {
  ASSERT_TRUE(SaveWorkbookFile(wb_, Path("a.xlsx")));
  ASSERT_TRUE(SaveWorkbookFile(wb_, Path("a.xlsx")));  // replacing the first
  EXPECT_EQ(Names(dir_), std::set<std::string>{"a.xlsx"});
}

#ifndef _WIN32
// SIGTERM or SIGINT while the temporary is open removes it before the process ends by that
// signal. (Windows has no such signals; a killed save's temporary goes at the next save.)
TEST_F(SaveSafetyTest, InterruptedSaveRemovesItsTemporary) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int sig : {SIGTERM, SIGINT}) {
    EXPECT_EXIT(
        {
          auto t = TempFile::CreateBeside(Path("r.xls"));
          if (!t || !fs::exists((*t)->path())) std::_Exit(3);
          std::raise(sig);
          std::_Exit(4);
        },
        ::testing::KilledBySignal(sig), "");
    EXPECT_TRUE(Names(dir_).empty()) << sig;
  }
}
#endif

TEST_F(SaveSafetyTest, ReadOnlyResultIsRefusedNotReplaced) {
  std::ofstream(dir_ / "r.xls") << "old";
  fs::permissions(dir_ / "r.xls", fs::perms::owner_read | fs::perms::group_read);
  auto r = SaveWorkbookFile(wb_, Path("r.xls"));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kPermission);
  EXPECT_EQ(r.error().detail, Path("r.xls") + ": cannot save: the file is read-only");
  {
    // Closed again before the next save: Windows cannot replace a file that is open.
    std::ifstream in(dir_ / "r.xls");
    std::string content;
    in >> content;
    EXPECT_EQ(content, "old");
  }
  EXPECT_EQ(Names(dir_), std::set<std::string>{"r.xls"});
#ifdef _WIN32
  // Windows keeps one read-only attribute, which the owner's write bit stands for.
  fs::permissions(dir_ / "r.xls", fs::perms::owner_write, fs::perm_options::add);
#else
  // Any write bit lets it be replaced.
  fs::permissions(dir_ / "r.xls", fs::perms::others_write, fs::perm_options::add);
#endif
  auto replaced = SaveWorkbookFile(wb_, Path("r.xls"));
  EXPECT_TRUE(replaced) << replaced.error().detail;
}

#ifdef _WIN32
// The last result still open in the spreadsheet program: Windows refuses to replace it, and the
// user is told why rather than only "permission denied"; once it is closed the save goes through.
TEST_F(SaveSafetyTest, ResultOpenInAnotherProgramIsNamedAsSuch) {
  ASSERT_TRUE(SaveWorkbookFile(wb_, Path("合并结果.xls")));
  {
    std::ifstream open_elsewhere(PathFromUtf8(Path("合并结果.xls")), std::ios::binary);
    ASSERT_TRUE(open_elsewhere);
    auto r = SaveWorkbookFile(wb_, Path("合并结果.xls"));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, ErrorCode::kPermission);
    EXPECT_EQ(ErrorReason(r.error()), "没有读写权限（文件正被其他程序打开，请关闭后再试）");
    EXPECT_EQ(Names(dir_), std::set<std::string>{"合并结果.xls"});  // no temporary left
  }
  EXPECT_TRUE(SaveWorkbookFile(wb_, Path("合并结果.xls")));
}
#else  // making a symbolic link takes administrator rights on Windows
TEST_F(SaveSafetyTest, ResultFolderThatIsALinkIsRefused) {
  fs::create_directory(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "合并结果");
  DiskStore store;
  bool created = true;
  Status st = store.MakeFolder(Path("合并结果"), created);
  ASSERT_FALSE(st);
  EXPECT_FALSE(created);
  EXPECT_EQ(st.error().code, ErrorCode::kNotRegular);
  EXPECT_EQ(ErrorReason(st.error()), "不是普通文件（是符号链接）");
  // A dangling link is refused the same way instead of being created through.
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  EXPECT_FALSE(store.MakeFolder(Path("dangling"), created));
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
}
#endif

TEST_F(SaveSafetyTest, OsFailuresOfASaveKeepTheirCode) {
#ifndef _WIN32
  // No space left: every write to /dev/full fails with ENOSPC.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(xlsx::Write(wb_, "/dev/full").error().code, ErrorCode::kDiskFull);
    EXPECT_EQ(xls::Write(wb_, "/dev/full").error().code, ErrorCode::kDiskFull);
  }
#endif
  auto missing = SaveWorkbookFile(wb_, Path("no/such/r.xls"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::kMissing);
  // A folder where the result should go: the rename is refused for what it is.
  fs::create_directory(dir_ / "r.xlsx");
  auto folder = SaveWorkbookFile(wb_, Path("r.xlsx"));
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().code, ErrorCode::kNotRegular) << folder.error().detail;
  EXPECT_EQ(Names(dir_), std::set<std::string>{"r.xlsx"});
#ifndef _WIN32
  // Without write permission on the folder (root writes anyway, so only checked for others).
  if (::geteuid() != 0) {
    fs::create_directory(dir_ / "ro");
    fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    auto denied = SaveWorkbookFile(wb_, Path("ro/r.xls"));
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().code, ErrorCode::kPermission);
    fs::permissions(dir_ / "ro", fs::perms::owner_all);
  }
#endif
}

// --- The writers' warnings reach the user ---------------------------------------------------

using testing::Bench;
using testing::Rows;

TEST(SaveWarningsTest, EveryWarningOfTheSaveBecomesALogLineBeforeTheClosingOne) {
  const std::vector<std::string> warnings = {"1段文本超过32767个字符，已截断",
                                             "2个合并单元格区域与其他区域重叠，已忽略"};
  for (int engine = 0; engine < 3; ++engine) {
    SCOPED_TRACE(engine);
    Bench b;
    b.Add("a.xls", Rows{{"k", "v"}, {1, 2}});
    b.Add("b.xls", Rows{{"k", "v"}, {3, 4}});
    b.store.save_warnings = warnings;
    b.port.inputs = {"1", "1"};
    RunResult r = engine == 0   ? FastMerge(VerticalMode::kAppend, b.ctx)
                  : engine == 1 ? SafeMerge(VerticalMode::kAppend, b.ctx)
                                : SmartMerge(SmartMode::kBoth, b.ctx);
    ASSERT_EQ(r.outcome, Outcome::kDone);
    std::vector<std::string> lines = b.port.LogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{warnings[0], warnings[1], "合并操作结束！"}));
  }
}

TEST(SaveWarningsTest, SortedSmartMergeTellsTheWarningsOnItsStatusLines) {
  Bench b;
  b.Add("a.xls", Rows{{"k", "v"}, {1, 2}});
  b.Add("b.xls", Rows{{"k", "w"}, {1, 4}});
  b.store.save_warnings = {"1段文本超过32767个字符，已截断"};
  b.port.inputs = {"1"};
  b.port.buttons = {testing::Answer::kYes};
  ASSERT_EQ(SmartMerge(SmartMode::kHorizontal, b.ctx).outcome, Outcome::kDone);
  EXPECT_EQ(b.port.status,
            (std::vector<std::string>{"开始智能合并...", "1段文本超过32767个字符，已截断",
                                      "智能合并操作完成！"}));
}

}  // namespace
}  // namespace qm
