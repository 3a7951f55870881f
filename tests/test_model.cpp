// The in-memory model: used range, paste, row deletion, merged ranges, styles across workbooks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "workbook/store.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

std::shared_ptr<Worksheet> NewSheet() {
  return std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
}

TEST(UsedRange, EmptySheetReportsA1AloneAndCountsOneRow) {
  auto ws = NewSheet();
  EXPECT_EQ(ws->UsedRange(), (Range{1, 1, 1, 1}));
  EXPECT_EQ(ws->UsedRange().RowsCount(), 1);
  EXPECT_TRUE(ws->IsEmpty());
}

TEST(UsedRange, NeedNotStartAtA1AndCountsFormatOnlyCells) {
  auto ws = NewSheet();
  (void)ws->SetNumber(3, 2, 1);
  (void)ws->SetText(5, 4, "x");
  EXPECT_EQ(ws->UsedRange(), (Range{3, 2, 5, 4}));
  EXPECT_EQ(ws->UsedRange().RowsCount(), 3);
  uint16_t bold = ws->styles().AddXf(Xf{.font = ws->styles().AddFont(Font{.bold = true})});
  (void)ws->SetBlank(8, 1, bold);  // a formatted blank counts
  EXPECT_EQ(ws->UsedRange(), (Range{3, 1, 8, 4}));
  (void)ws->SetBlank(8, 1, 0);  // back to the default format: no longer used
  EXPECT_EQ(ws->UsedRange(), (Range{3, 2, 5, 4}));
}

TEST(Cells, WriteReadAndReplaceKeepsFormatUnlessGiven) {
  auto ws = NewSheet();
  (void)ws->SetNumber(1, 1, 2.5, 0);
  (void)ws->SetText(1, 3, "文本");
  (void)ws->SetBool(1, 2, true);
  (void)ws->SetError(2, 1, static_cast<uint8_t>(CellError::kNA));
  EXPECT_EQ(ws->Cells(1, 1).number, 2.5);
  EXPECT_EQ(ws->Cells(1, 3).text, "文本");
  EXPECT_TRUE(ws->Cells(1, 2).IsBool());
  EXPECT_TRUE(ws->Cells(2, 1).IsError());
  EXPECT_TRUE(ws->Cells(9, 9).IsBlank());
  EXPECT_TRUE(ws->Cells(0, 1).IsBlank());
  EXPECT_FALSE(ws->SetNumber(kMaxRows + 1, 1, 1).ok());
  EXPECT_FALSE(ws->SetNumber(1, kMaxCols + 1, 1).ok());
  uint16_t date = ws->styles().AddXf(Xf{.num_fmt = 14});
  (void)ws->SetNumber(4, 1, 45000, date);
  (void)ws->SetNumber(4, 1, 45001);  // keeps the date format
  EXPECT_TRUE(ws->Cells(4, 1).is_date);
}

TEST(Paste, OverExistingCellsReplacesTheAreaOnlyAndBlanksClear) {
  auto src = NewSheet();
  (void)src->SetNumber(1, 1, 1);
  (void)src->SetNumber(2, 2, 4);  // (1,2) and (2,1) are blank in the source
  auto dst = NewSheet();
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) (void)dst->SetNumber(r, c, 100 * r + c);
  ASSERT_TRUE(dst->PasteFrom(*src, src->UsedRange(), 2, 2).ok());
  EXPECT_EQ(dst->Cells(2, 2).number, 1);
  EXPECT_TRUE(dst->Cells(2, 3).IsBlank());
  EXPECT_TRUE(dst->Cells(3, 2).IsBlank());
  EXPECT_EQ(dst->Cells(3, 3).number, 4);
  EXPECT_EQ(dst->Cells(2, 1).number, 201);  // outside the area: untouched
  EXPECT_EQ(dst->Cells(2, 4).number, 204);
  EXPECT_EQ(dst->UsedRange(), (Range{1, 1, 3, 4}));
}

TEST(Paste, UsedRangeNotAtA1LandsWithItsTopLeftAtTheTarget) {
  auto src = NewSheet();
  (void)src->SetText(3, 2, "h");
  (void)src->SetText(4, 3, "v");
  auto dst = NewSheet();
  (void)dst->SetNumber(1, 1, 0);
  ASSERT_TRUE(dst->PasteFrom(*src, src->UsedRange(), 2, 1).ok());
  EXPECT_EQ(dst->Cells(2, 1).text, "h");
  EXPECT_EQ(dst->Cells(3, 2).text, "v");
  EXPECT_EQ(dst->UsedRange(), (Range{1, 1, 3, 2}));
}

TEST(Paste, WholeRowReplacesTheRowIncludingCellsBeyondTheSource) {
  auto ws = NewSheet();
  for (int c = 1; c <= 5; ++c) (void)ws->SetNumber(2, c, c);
  (void)ws->SetNumber(5, 1, 9);
  ws->SetRowHeight(5, 30);
  ASSERT_TRUE(ws->PasteFrom(*ws, Range{5, 1, 5, kMaxCols}, 2, 1).ok());
  EXPECT_EQ(ws->Cells(2, 1).number, 9);
  for (int c = 2; c <= 5; ++c) EXPECT_TRUE(ws->Cells(2, c).IsBlank()) << c;
  EXPECT_EQ(ws->RowHeight(2), 30);
  EXPECT_EQ(ws->Cells(5, 1).number, 9);  // the source row stays
}

TEST(Paste, BeyondTheGridIsAnErrorNotATruncation) {
  auto src = NewSheet();
  (void)src->SetNumber(1, 1, 1);
  (void)src->SetNumber(3, 1, 1);
  auto dst = NewSheet();
  Status st = dst->PasteFrom(*src, src->UsedRange(), kMaxRows - 1, 1);
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(st.error().code, ErrorCode::kGridFull);
}

TEST(Paste, CarriesTextFormatsAndMergesAcrossWorkbooks) {
  Workbook a, b;
  Worksheet& s = a.AddWorksheet("A");
  uint16_t red = a.styles().AddXf(
      Xf{.font = a.styles().AddFont(Font{.bold = true, .color = Rgb(0xFF0000)}), .num_fmt = 14});
  (void)s.SetText(1, 1, "标题", red);
  (void)s.SetNumber(2, 1, 45000, red);
  s.AddMerge({1, 1, 1, 3});
  s.AddMerge({2, 2, 5, 2});  // sticks out of the copied area: stays behind
  Worksheet& d = b.AddWorksheet("B");
  d.AddMerge({10, 1, 10, 2});  // under the target: removed
  ASSERT_TRUE(d.PasteFrom(s, Range{1, 1, 2, 3}, 10, 1).ok());
  CellValue v = d.Cells(10, 1);
  EXPECT_EQ(v.text, "标题");
  const Xf& xf = b.styles().xf(v.style);
  EXPECT_TRUE(b.styles().fonts()[xf.font].bold);
  EXPECT_EQ(b.styles().fonts()[xf.font].color, Rgb(0xFF0000));
  EXPECT_TRUE(d.Cells(11, 1).is_date);
  ASSERT_EQ(d.merges().size(), 1u);
  EXPECT_EQ(d.merges()[0], (Range{10, 1, 10, 3}));
}

TEST(DeleteRows, InsideAndBelowTheUsedRange) {
  auto ws = NewSheet();
  for (int r = 1; r <= 6; ++r) (void)ws->SetNumber(r, 1, r);
  ws->AddMerge({5, 1, 6, 2});
  ws->DeleteRows(2);
  EXPECT_EQ(ws->Cells(2, 1).number, 3);
  EXPECT_EQ(ws->UsedRange().RowsCount(), 5);
  EXPECT_EQ(ws->merges()[0], (Range{4, 1, 5, 2}));
  ws->DeleteRows(100);  // far below: nothing moves
  EXPECT_EQ(ws->UsedRange().RowsCount(), 5);
  ws->DeleteRows(4);  // one row of a two-row merge: the merge shrinks to a row of two cells
  EXPECT_EQ(ws->merges()[0], (Range{4, 1, 4, 2}));
  ws->DeleteRows(4);
  EXPECT_TRUE(ws->merges().empty());
  EXPECT_EQ(ws->UsedRange(), (Range{1, 1, 3, 1}));
}

TEST(DeleteRows, RowSetMatchesOneByOneDeletion) {
  auto a = NewSheet(), b = NewSheet();
  for (int r = 1; r <= 50; ++r) {
    (void)a->SetNumber(r, 1 + r % 3, r);
    (void)b->SetNumber(r, 1 + r % 3, r);
  }
  std::vector<int> rows = {40, 3, 17, 18, 3, 50, 60};
  a->DeleteRowSet(rows);
  for (int r : {60, 50, 40, 18, 17, 3}) b->DeleteRows(r);
  ASSERT_EQ(a->UsedRange(), b->UsedRange());
  for (int r = 1; r <= 50; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(a->Cells(r, c).number, b->Cells(r, c).number);
}

TEST(WorkbookReaderTest, ReadAndSaveFailuresNameTheFile) {
  DiskStore disk;
  WorkbookReader reader(disk);
  auto missing = reader.Read("/nonexistent/月报.xls");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().detail.find("/nonexistent/月报.xls"), std::string::npos);
  // The failure carries its file: nobody has to take the name back out of the message.
  EXPECT_EQ(missing.error().file, "/nonexistent/月报.xls");

  auto dir = std::filesystem::temp_directory_path() / "qm_model_test";
  std::filesystem::create_directories(dir);
  auto html = dir / "page.xls";
  std::ofstream(html) << "<html><body>not a workbook</body></html>";
  auto bad = reader.Read(html.string());
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().code, ErrorCode::kNotAWorkbook);
  EXPECT_NE(bad.error().detail.find("page.xls"), std::string::npos);

  Workbook wb;
  wb.AddWorksheet("Sheet1");
  const std::string target = (dir / "no-such-folder" / "r.xls").string();
  auto saved = disk.Save(wb, target);
  ASSERT_FALSE(saved.ok());
  EXPECT_NE(saved.error().detail.find("no-such-folder"), std::string::npos);
  EXPECT_EQ(saved.error().file, target);
  std::filesystem::remove_all(dir);
}

TEST(Layering, NoQtHeaderUnderTheSpreadsheetLayerOrTheEngines) {
  namespace fs = std::filesystem;
  for (const char* sub : {"src/workbook", "src/merge"}) {
    for (const auto& e : fs::recursive_directory_iterator(fs::path(QM_SOURCE_DIR) / sub)) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path());
      std::string line;
      while (std::getline(in, line)) {
        auto p = line.find("#include");
        if (p == std::string::npos) continue;
        auto q = line.find_first_of("<\"", p);
        ASSERT_FALSE(q != std::string::npos && q + 1 < line.size() && line[q + 1] == 'Q')
            << e.path() << ": " << line;
      }
    }
  }
}

// The command line and the shared core stand beside the window, not on it: nothing of theirs may
// include a header of src/app.
TEST(Layering, NothingUnderTheCommandLineOrTheCoreIncludesTheWindow) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* sub : {"src/cli", "src/core"}) {
    for (const auto& e : fs::recursive_directory_iterator(fs::path(QM_SOURCE_DIR) / sub)) {
      if (!e.is_regular_file()) continue;
      ++files;
      std::ifstream in(e.path());
      std::string line;
      while (std::getline(in, line)) {
        auto p = line.find("#include");
        if (p == std::string::npos) continue;
        EXPECT_EQ(line.find("app/", p), std::string::npos) << e.path() << ": " << line;
      }
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace qm
