// The dispatch table and the folder listing that the window and the command line share, and
// the window's option groups.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/option_groups.h"
#include "core/dispatch.h"
#include "core/file_list.h"
#include "test_engines_port.h"
#include "test_support.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;

TEST(DispatchTest, OptionPairsMapToOneEngineAndModeAndKindClicksResetTheVariant) {
  using K = MergeKind;
  using V = MergeVariant;
  EXPECT_EQ(Dispatch(K::kVertical, V::kSafe),
            (DispatchChoice{Engine::kSafeMerge, VerticalMode::kAppend}));  // fresh start
  EXPECT_EQ(Dispatch(K::kOverwrite, V::kSafe),
            (DispatchChoice{Engine::kSafeMerge, VerticalMode::kOverwrite}));
  EXPECT_EQ(Dispatch(K::kVertical, V::kFast),
            (DispatchChoice{Engine::kFastMerge, VerticalMode::kAppend}));
  EXPECT_EQ(Dispatch(K::kOverwrite, V::kFast),
            (DispatchChoice{Engine::kFastMerge, VerticalMode::kOverwrite}));
  EXPECT_EQ(Dispatch(K::kSmart, V::kHorizontal),
            (DispatchChoice{Engine::kSmartMerge, SmartMode::kHorizontal}));
  EXPECT_EQ(Dispatch(K::kSmart, V::kBoth), (DispatchChoice{Engine::kSmartMerge, SmartMode::kBoth}));
  EXPECT_FALSE(Dispatch(K::kSmart, V::kSafe));
  EXPECT_FALSE(Dispatch(K::kVertical, V::kHorizontal));
  // The same engine with the other kind of mode is another choice.
  EXPECT_NE((DispatchChoice{Engine::kSmartMerge, SmartMode::kHorizontal}),
            (DispatchChoice{Engine::kSmartMerge, VerticalMode::kAppend}));

  EXPECT_EQ(VariantCaptions(K::kSmart), (std::array<std::string, 2>{"横向合并", "纵横合并"}));
  EXPECT_EQ(VariantSelectedAfterKindClick(K::kSmart), 1);
  EXPECT_EQ(VariantCaptions(K::kOverwrite), (std::array<std::string, 2>{"安全合并", "快速合并"}));
  EXPECT_EQ(VariantSelectedAfterKindClick(K::kOverwrite), 0);
  EXPECT_EQ(VariantSelectedAfterKindClick(K::kVertical), 0);
}

// The window's buttons: the kind group top to bottom, the variant group's two buttons meaning
// safe/fast or horizontal/both by the kind; a group with nothing checked starts nothing.
TEST(DispatchTest, CheckedButtonsNameTheChoiceOfTheirKind) {
  EXPECT_EQ(ChoiceOfButtons(0, 0), Dispatch(MergeKind::kVertical, MergeVariant::kSafe));
  EXPECT_EQ(ChoiceOfButtons(1, 1), Dispatch(MergeKind::kOverwrite, MergeVariant::kFast));
  EXPECT_EQ(ChoiceOfButtons(2, 0), Dispatch(MergeKind::kSmart, MergeVariant::kHorizontal));
  EXPECT_EQ(ChoiceOfButtons(2, 1), Dispatch(MergeKind::kSmart, MergeVariant::kBoth));
  for (auto [kind, variant] : {std::pair{-1, 0}, {0, -1}, {3, 0}, {0, 2}})
    EXPECT_FALSE(ChoiceOfButtons(kind, variant)) << kind << " " << variant;
}

TEST(DispatchTest, RunChoiceStartsTheChosenEngine) {
  Bench b;
  b.Add("a.xls", Rows{{"k"}, {1}});
  b.port.buttons = {Answer::kCancel};
  EXPECT_EQ(RunChoice(*Dispatch(MergeKind::kOverwrite, MergeVariant::kFast), b.ctx).outcome,
            Outcome::kCancelled);
  EXPECT_EQ(b.port.dialogs[0].text,
            "执行此操作，合并前不检查表头是否规范。你确定要纵向覆盖合并这1个工作表吗？");
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ::qm::testing::FreshTestFolder("qm_list"); }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / fs::u8path(name)) << "x"; }
  fs::path dir_;
};

TEST_F(FileListTest, WorkbooksAreListedInWindowsOrderWithoutLockFilesFoldersOrOtherFiles) {
  for (const char* n : {"b.xls", "A.XLSX", "a_2.xlsm", "~$b.xls", "c.txt", "Z.xls", "_x.xls",
                        "報表.xls", "a.xls.bak", "B1.Xls"})
    Touch(n);
  fs::create_directories(dir_ / "folder.xls");
  // Letters compare as lower case, so "_" (0x5F) sorts before every letter and "." before "_".
  EXPECT_EQ(ListWorkbooks(dir_.string()),
            (std::vector<std::string>{"_x.xls", "A.XLSX", "a_2.xlsm", "b.xls", "B1.Xls", "Z.xls",
                                      "報表.xls"}));
}

// CSV exports, .ods, .et and .xlsb files were not listed at all, and nothing said so. They join
// the workbooks in the one folder order; web pages, XML and text stay out, as do the lock files
// of Office (~$) and LibreOffice (.~lock.<name>#).
TEST_F(FileListTest, TableFilesOfOtherProgramsAreListedAmongTheWorkbooks) {
  for (const char* n :
       {"3月.csv", "1月.xls", "10月.xlsb", "2月.ODS", "4月.fods", "5月.et", "6月.ett", "7月.tsv",
        "8月.xlsx", "9月.CSV", "a.htm", "b.html", "c.xml", "d.txt", "~$8月.xlsx", "~$3月.csv",
        ".~lock.2月.ODS#", "e.csv.bak", "f.etx"})
    Touch(n);
  EXPECT_EQ(ListWorkbooks(dir_.string()),
            (std::vector<std::string>{"1月.xls", "2月.ODS", "3月.csv", "4月.fods", "5月.et",
                                      "6月.ett", "7月.tsv", "8月.xlsx", "9月.CSV", "10月.xlsb"}));
}

// 10月 was listed before 1月: October became the template and September's record the newest.
TEST_F(FileListTest, MonthTenWasListedBeforeMonthOneSoDigitRunsNowCountByTheirValue) {
  for (const char* n : {"10月.xls", "1月.xls", "12月.xls", "2月.xls", "9月.xls", "11月.xls",
                        "第10批.xlsx", "第2批.xlsx", "01月.xls", "x9.xls", "x10a.xls", "x10.xls"})
    Touch(n);
  EXPECT_EQ(ListWorkbooks(dir_.string()),
            (std::vector<std::string>{"01月.xls", "1月.xls", "2月.xls", "9月.xls", "10月.xls",
                                      "11月.xls", "12月.xls", "x9.xls", "x10.xls", "x10a.xls",
                                      "第2批.xlsx", "第10批.xlsx"}));
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
