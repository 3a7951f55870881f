// Excel binary workbooks: every cell record, formats, merges and sheet states of packages built
// here record by record, the samples as LibreOffice reads them, and damaged or hostile parts
// refused with a Chinese reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "format_builders.h"
#include "format_samples.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/memory_budget.h"
#include "workbook/paths.h"
#include "workbook/value_text.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace testing::biff12;
using testing::XlsbBook;
using testing::XlsbSheet;

class XlsbTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::FreshTestFolder("qm_xlsb"); }
  void TearDown() override {
    memory::SetBudgetForTesting(0);
    fs::remove_all(dir_);
  }
  std::string Write(const XlsbBook& book, const std::string& name = "b.xlsb") {
    const std::string path = PathToUtf8(dir_ / PathFromUtf8(name));
    testing::WriteZip(path, testing::XlsbParts(book));
    return path;
  }
  fs::path dir_;
};

TEST_F(XlsbTest, EveryKindOfCellRecordKeepsItsValue) {
  XlsbBook book;
  book.strings = {"共享", "second"};
  book.fmts = {{164, "yyyy\"年\"m\"月\"d\"日\""}};
  book.xfs = {0, 14, 164, 10};
  XlsbSheet s{"数据", ""};
  s.records = RowHdr(0) + Rec(0x07, CellHead(0) + U32(0)) +     // shared string
              Rec(0x06, CellHead(1) + Wide("行内")) +           // inline string
              Rec(0x02, CellHead(2) + U32((42u << 2) | 2)) +    // RK integer
              Rec(0x02, CellHead(3) + U32((1234u << 2) | 3)) +  // RK integer / 100
              Rec(0x05, CellHead(4, 3) + F64(0.125)) +          // 0.00%
              Rec(0x03, CellHead(5) + U8(0x07)) + Rec(0x04, CellHead(6) + U8(1)) +
              Rec(0x01, CellHead(7, 1)) +  // a blank that keeps a date format
              RowHdr(2) + Rec(0x05, CellHead(0, 1) + F64(45352)) +
              Rec(0x05, CellHead(1, 2) + F64(45352.5)) +
              // Formulas: the cached value, whatever the formula bytes after it.
              Rec(0x08, CellHead(2) + Wide("结果") + U16(0) + U32(3) + "\x17\x01\x00") +
              Rec(0x09, CellHead(3) + F64(-2.5) + U16(0) + U32(0)) +
              Rec(0x0A, CellHead(4) + U8(0) + U16(0) + U32(0)) +
              Rec(0x0B, CellHead(5) + U8(0x2A) + U16(0) + U32(0)) +
              Rec(0x3E, CellHead(6) + U8(1) + Wide("富文本") + U32(0)) +
              Rec(0x07, CellHead(7) + U32(99));  // a dangling shared string index
  s.after = Rec(0xB1, U32(1)) + Rec(0xB0, U32(4) + U32(5) + U32(0) + U32(2)) + Rec(0xB2);
  book.sheets = {s};
  auto wb = ReadWorkbookFile(Write(book));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  EXPECT_EQ((*wb)->format(), SourceFormat::kXlsb);
  const Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.Name(), "数据");
  EXPECT_EQ(ws.Cells(1, 1).text, "共享");
  EXPECT_EQ(ws.Cells(1, 2).text, "行内");
  EXPECT_EQ(ws.Cells(1, 3).number, 42);
  EXPECT_EQ(ws.Cells(1, 4).number, 12.34);
  EXPECT_EQ(ValueText(ws.Cells(1, 5)), "0.125");
  const StyleTable& st = (*wb)->styles();
  EXPECT_EQ(st.NumFmtString(st.xf(ws.Cells(1, 5).style).num_fmt), "0.00%");
  EXPECT_STREQ(ErrorText(ws.Cells(1, 6).error), "#DIV/0!");
  EXPECT_TRUE(ws.Cells(1, 7).IsBool());
  EXPECT_TRUE(ws.Cells(1, 8).IsBlank());
  ASSERT_NE(ws.FindCell(1, 8), nullptr);  // format-only, as in .xlsx
  EXPECT_TRUE(ws.Cells(3, 1).is_date);
  EXPECT_EQ(ValueText(ws.Cells(3, 1)), "2024/3/1");
  EXPECT_TRUE(ws.Cells(3, 2).is_date);  // the custom format
  EXPECT_EQ(ws.Cells(3, 3).text, "结果");
  EXPECT_EQ(ws.Cells(3, 4).number, -2.5);
  EXPECT_TRUE(ws.Cells(3, 5).IsBool());
  EXPECT_EQ(ws.Cells(3, 5).number, 0);
  EXPECT_STREQ(ErrorText(ws.Cells(3, 6).error), "#N/A");
  EXPECT_EQ(ws.Cells(3, 7).text, "富文本");
  EXPECT_TRUE(ws.Cells(3, 8).IsBlank());
  EXPECT_EQ(ws.merges(), (std::vector<Range>{{5, 1, 6, 3}}));
}

TEST_F(XlsbTest, SheetStatesDateSystemAndChartSheets) {
  XlsbBook book;
  book.date1904 = true;
  book.xfs = {0, 14};
  book.sheets = {{"图表", "", 0, true},
                 {"可见", RowHdr(0) + Rec(0x05, CellHead(0, 1) + F64(1))},
                 {"隐藏", "", 1},
                 {"深度隐藏", "", 2}};
  auto wb = ReadWorkbookFile(Write(book));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  ASSERT_EQ((*wb)->WorksheetCount(), 3);  // a chart sheet is no worksheet
  EXPECT_EQ((*wb)->Worksheets(1)->Name(), "可见");
  EXPECT_FALSE((*wb)->Worksheets(1)->IsHidden());
  EXPECT_TRUE((*wb)->Worksheets(2)->IsHidden());
  EXPECT_TRUE((*wb)->Worksheets(3)->IsHidden());
  EXPECT_TRUE((*wb)->styles().date1904);
  EXPECT_EQ(ValueText((*wb)->Worksheets(1)->Cells(1, 1)), "1904/1/2");
  auto first = ReadWorkbookFile(Write(book), {true});
  ASSERT_TRUE(first.ok());
  EXPECT_EQ((*first)->WorksheetCount(), 1);
  // The .xlsx reader, which a decrypted package goes to, hands an .xlsb over.
  const std::string bytes = testing::Slurp(PathFromUtf8(Write(book)));
  auto handed = xlsx::Read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "d", {});
  ASSERT_TRUE(handed.ok()) << handed.error().detail;
  EXPECT_EQ((*handed)->format(), SourceFormat::kXlsb);
  EXPECT_EQ((*handed)->WorksheetCount(), 3);
}

TEST_F(XlsbTest, DamagedPartsAreRefusedWithAChineseReason) {
  auto book_with = [](const std::string& records) {
    XlsbBook b;
    b.sheets = {{"S", records}};
    return b;
  };
  struct Case {
    std::string name;
    testing::Parts parts;
    ErrorCode code;
    std::string reason;
  };
  testing::Parts cut = testing::XlsbParts(book_with(RowHdr(0) + Rec(0x05, CellHead(0) + F64(1))));
  for (auto& [part, data] : cut)
    if (part == "xl/worksheets/sheet1.bin") data.resize(data.size() - 12);
  testing::Parts no_sheet = testing::XlsbParts(book_with(""));
  std::erase_if(no_sheet, [](const auto& p) { return p.first == "xl/worksheets/sheet1.bin"; });
  const std::vector<Case> cases = {
      {"cut.xlsb", cut, ErrorCode::kCorrupt,
       "文件已损坏（xl/worksheets/sheet1.bin中有残缺的记录）"},
      {"short.xlsb", testing::XlsbParts(book_with(RowHdr(0) + Rec(0x05, CellHead(0) + U16(1)))),
       ErrorCode::kCorrupt, "文件已损坏（xl/worksheets/sheet1.bin中有残缺的记录）"},
      {"far.xlsb", testing::XlsbParts(book_with(RowHdr(1048576))), ErrorCode::kTooLarge,
       "文件太大（单元格（第1048577行第1列）超出了1048576行、16384列的工作表范围）"},
      {"wide.xlsb", testing::XlsbParts(book_with(RowHdr(0) + Rec(0x05, CellHead(16384) + F64(1)))),
       ErrorCode::kTooLarge,
       "文件太大（单元格（第1行第16385列）超出了1048576行、16384列的工作表范围）"},
      {"gone.xlsb", no_sheet, ErrorCode::kCorrupt,
       "文件已损坏（缺少工作表“S”的部件xl/worksheets/sheet1.bin）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathToUtf8(dir_ / PathFromUtf8(c.name));
    testing::WriteZip(path, c.parts);
    auto wb = ReadWorkbookFile(path);
    ASSERT_FALSE(wb.ok());
    EXPECT_EQ(wb.error().code, c.code) << wb.error().detail;
    EXPECT_EQ(ErrorReason(wb.error(), path), c.reason);
  }
}

TEST_F(XlsbTest, CellsPastTheMemoryBudgetEndTheReadWithNoMemory) {
  XlsbBook book;
  std::string records;
  for (uint32_t r = 0; r < 20000; ++r) {
    records += RowHdr(r);
    for (uint32_t c = 0; c < 20; ++c) records += Rec(0x05, CellHead(c) + F64(r * 20.0 + c));
  }
  book.sheets = {{"S", records}};
  const std::string path = Write(book);
  const size_t baseline = memory::InUse();
  memory::SetBudgetForTesting(memory::InUse() + (size_t{2} << 20));
  auto r = ReadWorkbookFile(path);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
  EXPECT_EQ(ErrorReason(r.error(), path).rfind("内存不足（", 0), 0u);
  EXPECT_EQ(memory::InUse(), baseline);
  memory::SetBudgetForTesting(0);
  auto ok = ReadWorkbookFile(path);
  ASSERT_TRUE(ok.ok()) << ok.error().detail;
  EXPECT_EQ((*ok)->Worksheets(1)->CellCount(), size_t{20000} * 20);
}

TEST(XlsbSamples, MatchTheirReferenceDumps) {
  if (testing::FormatSamples("xlsb").empty()) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats/xlsb");
  }
  EXPECT_EQ(testing::ExpectSamplesReadAsReference("xlsb", "xlsb", true), 16);
  // Dates stay dates.
  auto wb = ReadWorkbookFile(QM_CORPUS_DIR "/formats/xlsb/1904__1900.xlsb");
  ASSERT_TRUE(wb.ok());
  EXPECT_TRUE((*wb)->Worksheets(1)->Cells(1, 2).is_date);
}

}  // namespace
}  // namespace qm
