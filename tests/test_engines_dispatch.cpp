// The dispatch table and the folder listing that the window and the command line share.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/core/dispatch.h"
#include "app/core/file_list.h"
#include "test_engines_port.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;

TEST(DispatchTest, OptionPairsMapToOneEngineAndModeAndKindClicksResetTheVariant) {
  EXPECT_EQ(Dispatch(0, 0), (DispatchChoice{Engine::kSafeMerge, 0}));  // fresh start
  EXPECT_EQ(Dispatch(1, 0), (DispatchChoice{Engine::kSafeMerge, 1}));
  EXPECT_EQ(Dispatch(0, 1), (DispatchChoice{Engine::kFastMerge, 0}));
  EXPECT_EQ(Dispatch(1, 1), (DispatchChoice{Engine::kFastMerge, 1}));
  EXPECT_EQ(Dispatch(2, 0), (DispatchChoice{Engine::kSmartMerge, 0}));
  EXPECT_EQ(Dispatch(2, 1), (DispatchChoice{Engine::kSmartMerge, 1}));
  EXPECT_FALSE(Dispatch(3, 0));
  EXPECT_FALSE(Dispatch(0, 2));

  EXPECT_EQ(VariantCaptions(2), (std::array<std::string, 2>{"横向合并", "纵横合并"}));
  EXPECT_EQ(VariantSelectedAfterKindClick(2), 1);
  EXPECT_EQ(VariantCaptions(1), (std::array<std::string, 2>{"安全合并", "快速合并"}));
  EXPECT_EQ(VariantSelectedAfterKindClick(1), 0);
  EXPECT_EQ(VariantSelectedAfterKindClick(0), 0);
}

TEST(DispatchTest, RunChoiceStartsTheChosenEngine) {
  Bench b;
  b.Add("a.xls", Rows{{"k"}, {1}});
  b.port.buttons = {Answer::kCancel};
  EXPECT_EQ(RunChoice(*Dispatch(1, 1), b.ctx).outcome, Outcome::kCancelled);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，合并前不检查表头是否规范。你确定要纵向覆盖合并这1个工作表吗？");
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qm_list_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / fs::u8path(name)) << "x"; }
  fs::path dir_;
};

TEST_F(FileListTest, WorkbooksAreListedInWindowsOrderWithoutLockFilesFoldersOrOtherFiles) {
  for (const char* n : {"b.xls", "A.XLSX", "a_2.xlsm", "~$b.xls", "c.csv", "Z.xls", "_x.xls",
                        "報表.xls", "a.xls.bak", "B1.Xls"})
    Touch(n);
  fs::create_directories(dir_ / "folder.xls");
  // Letters compare as lower case, so "_" (0x5F) sorts before every letter and "." before "_".
  EXPECT_EQ(ListWorkbooks(dir_.string()),
            (std::vector<std::string>{"_x.xls", "A.XLSX", "a_2.xlsm", "b.xls", "B1.Xls", "Z.xls",
                                      "報表.xls"}));
}

TEST_F(FileListTest, GetFileListLeavesTheArrayAloneWhenNothingMatches) {
  std::vector<std::string> names{"kept"};
  EXPECT_FALSE(GetFileList(dir_.string(), names, "*.xls"));
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
  Touch("one.xls");
  Touch("two.XLS");
  Touch("three.xlsx");
  EXPECT_TRUE(GetFileList(dir_.string(), names, "*.xls"));
  EXPECT_EQ(names, (std::vector<std::string>{"one.xls", "two.XLS"}));
}

TEST_F(FileListTest, LoadingAFolderShowsItWithASeparatorOrReportsThatNothingWasFound) {
  FolderListing none = LoadFolderListing(dir_.string(), "/elsewhere");
  EXPECT_FALSE(none.found);
  EXPECT_TRUE(none.names.empty());
  Touch("a.xls");
  FolderListing one = LoadFolderListing("", dir_.string());
  EXPECT_TRUE(one.found);
  EXPECT_EQ(one.folder, dir_.string() + "/");
  EXPECT_EQ(one.names, std::vector<std::string>{"a.xls"});
}

}  // namespace
}  // namespace qm::testing
