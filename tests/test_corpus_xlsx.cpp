// Our reading of the first worksheet of every .xlsx/.xlsm in the shared corpus against the
// reference dumps, and a clean refusal for the files the reference could not read.
#include <gtest/gtest.h>

#include "corpus_util.h"
#include "test_support.h"
#include "workbook/io.h"

namespace qm {
namespace {

using testing::Allowance;
using testing::CorpusFile;

// Parsed once for both tests: the reference dumps are most of the suite's time.
const std::vector<CorpusFile>& XlsxFiles() {
  static const std::vector<CorpusFile> files =
      testing::CorpusFiles([](const nlohmann::json& j) { return j.value("format", "") == "xlsx"; });
  return files;
}
// Differences between the reference reader and us, each a deliberate decision.
std::vector<Allowance> XlsxAllowances() {
  return {
      // The reference leaves "_x000d_" escapes undecoded inside rich-text runs; the escape means
      // a carriage return wherever it appears.
      {"", "reference leaves _xHHHH_ escapes of rich-text runs undecoded",
       [](int, int, const nlohmann::json& ref, const CellValue& ours) {
         if (ref.is_null() || ref[2] != "text" || !ours.IsText()) return false;
         std::string want = ref[3];
         return want.find("_x") != std::string::npos && want != std::string(ours.text);
       }},
      // A string cell (t="str", usually a formula's result) whose cached value is empty is a
      // text cell holding "" to us, which is what the cell shows; the reference reads it as
      // empty.
      {"", "empty cached string of a t=\"str\" cell",
       [](int, int, const nlohmann::json& ref, const CellValue& ours) {
         return ref.is_null() && ours.IsText() && ours.text.empty();
       }},
      // An inline-string cell that keeps its text in <v> instead of <is> (one writer does
      // this); the reference drops the text, we keep it.
      {"poi/52575_main.xlsx", "inlineStr cell with its text in <v>",
       [](int r, int c, const nlohmann::json& ref, const CellValue& ours) {
         return r == 2 && c == 1 && ref.is_null() && ours.IsText();
       }},
  };
}

TEST(CorpusXlsx, FirstSheetMatchesReference) {
  const auto& files = XlsxFiles();
  if (files.empty()) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  int compared = 0;
  for (const auto& f : files) {
    if (!f.ref.value("ok", false)) continue;
    auto wb = ReadWorkbookFile(f.path, {true});
    if (!wb.ok()) {
      ADD_FAILURE() << f.rel << ": " << wb.error().detail;
      continue;
    }
    // The reference counts an Excel 4 macro sheet as the first worksheet; it is not one.
    if (f.rel == "poi/xlmmacro.xlsm") {
      EXPECT_EQ((*wb)->Worksheets(1)->Name(), "Sheet1");
      continue;
    }
    const Worksheet* ws = (*wb)->Worksheets(1);
    ASSERT_NE(ws, nullptr) << f.rel;
    EXPECT_EQ(ws->Name(), f.ref.value("sheet_name", "")) << f.rel;
    EXPECT_EQ((*wb)->styles().date1904, f.ref.value("date1904", false)) << f.rel;
    auto bad = testing::CompareFirstSheet(**wb, f, XlsxAllowances());
    for (const auto& line : bad) ADD_FAILURE() << f.rel << " " << line;
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST(CorpusXlsx, UnreadableFilesAreRefusedWithAReason) {
  for (const auto& f : XlsxFiles()) {
    if (f.ref.value("ok", false)) continue;
    auto wb = ReadWorkbookFile(f.path, {true});
    if (wb.ok()) continue;  // we may read what the reference could not
    EXPECT_NE(wb.error().detail.find(f.path), std::string::npos)
        << f.rel << ": " << wb.error().detail;
    EXPECT_GT(wb.error().detail.size(), f.path.size() + 10) << f.rel;
  }
}

}  // namespace
}  // namespace qm
