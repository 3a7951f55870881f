// XML Spreadsheet 2003: values, positions, merges, number formats and hidden sheets of documents
// written here, the samples as LibreOffice reads them, and damaged documents refused with a
// Chinese reason.
#include <gtest/gtest.h>

#include <string>

#include "format_samples.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/utf.h"
#include "workbook/value_text.h"

namespace qm {
namespace {

std::string Doc(const std::string& body, const std::string& styles = "",
                const std::string& decl = "<?xml version=\"1.0\"?>") {
  return decl +
         "\n<?mso-application progid=\"Excel.Sheet\"?>\n"
         "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
         " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
         " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\n"
         " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
         " xmlns:html=\"http://www.w3.org/TR/REC-html40\">\n"
         "<Styles><Style ss:ID=\"Default\" ss:Name=\"Normal\"><NumberFormat/></Style>" +
         styles + "</Styles>\n" + body + "</Workbook>\n";
}

Result<std::unique_ptr<Workbook>> ReadText(const std::string& text,
                                           const std::string& name = "导出.xls",
                                           ReadOptions options = {}) {
  return ReadWorkbookBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name,
                           options);
}

TEST(XmlSpreadsheet, CellsTakeTheirTypesPositionsAndMergedRanges) {
  auto wb = ReadText(
      Doc("<Worksheet ss:Name=\"数据\"><Table>"
          "<Row><Cell><Data ss:Type=\"String\">编号</Data></Cell>"
          "<Cell ss:MergeAcross=\"1\"><Data ss:Type=\"String\">名称</Data></Cell>"
          "<Cell><Data ss:Type=\"Number\">1.5E3</Data></Cell></Row>"
          // A row index jumps; a cell index skips columns; MergeDown spans rows.
          "<Row ss:Index=\"3\"><Cell ss:Index=\"2\" ss:MergeDown=\"2\"><Data ss:Type=\"Boolean\">1"
          "</Data></Cell><Cell><Data ss:Type=\"Error\">#DIV/0!</Data></Cell>"
          "<Cell><ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\"><B>粗</B>"
          "<Font html:Color=\"#FF0000\">红</Font> 字</ss:Data>"
          "<Comment><Data>批注不是值</Data></Comment></Cell>"
          "<Cell><Data ss:Type=\"String\">  两边有空格&#10;第二行 </Data></Cell>"
          "<Cell><Data ss:Type=\"Number\">12abc</Data></Cell>"
          // Control characters, which Excel writes as references XML does not allow.
          "<Cell><Data ss:Type=\"String\">&#7;响铃&#x1;</Data></Cell></Row>"
          // A span of rows with only formats moves the next row down.
          "<Row ss:Span=\"2\"/><Row><Cell><Data ss:Type=\"String\">after span</Data></Cell></Row>"
          "</Table></Worksheet>"));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  EXPECT_EQ((*wb)->format(), SourceFormat::kXmlSpreadsheet);
  const Worksheet& ws = *(*wb)->Worksheets(1);
  EXPECT_EQ(ws.Name(), "数据");
  EXPECT_EQ(ws.Cells(1, 1).text, "编号");
  EXPECT_EQ(ws.Cells(1, 2).text, "名称");
  EXPECT_TRUE(ws.Cells(1, 3).IsBlank());  // under the merged range
  EXPECT_EQ(ws.Cells(1, 4).number, 1500);
  EXPECT_TRUE(ws.Cells(3, 2).IsBool());
  EXPECT_EQ(ws.Cells(3, 2).number, 1);
  ASSERT_TRUE(ws.Cells(3, 3).IsError());
  EXPECT_STREQ(ErrorText(ws.Cells(3, 3).error), "#DIV/0!");
  EXPECT_EQ(ws.Cells(3, 4).text, "粗红 字");
  EXPECT_EQ(ws.Cells(3, 5).text, "  两边有空格\n第二行 ");
  EXPECT_EQ(ws.Cells(3, 6).text, "12abc");  // not a number after all: kept as it stands
  EXPECT_EQ(ws.Cells(3, 7).text, "\x07响铃\x01");
  EXPECT_EQ(ws.Cells(7, 1).text, "after span");  // a span of 2 is two rows more
  EXPECT_EQ(ws.merges(), (std::vector<Range>{{1, 2, 1, 3}, {3, 2, 5, 2}}));
}

TEST(XmlSpreadsheet, NumberFormatsComeFromStylesAndDateTimesStayDates) {
  auto wb = ReadText(Doc(
      "<Worksheet ss:Name=\"S\"><Table>"
      "<Column ss:StyleID=\"pct\"/>"
      "<Row><Cell><Data ss:Type=\"Number\">0.25</Data></Cell>"
      "<Cell ss:StyleID=\"short\"><Data ss:Type=\"DateTime\">2024-03-01T00:00:00.000</Data></Cell>"
      "<Cell ss:StyleID=\"child\"><Data ss:Type=\"Number\">45000</Data></Cell>"
      // A DateTime whose style forgot the format, with a time of day.
      "<Cell><Data ss:Type=\"DateTime\">2024-03-01T12:00:00.000</Data></Cell>"
      "<Cell ss:StyleID=\"fixed\"><Data ss:Type=\"Number\">3.14159</Data></Cell></Row>"
      "<Row ss:StyleID=\"short\"><Cell ss:Index=\"2\"><Data ss:Type=\"Number\">45352</Data></Cell>"
      "</Row></Table></Worksheet>",
      "<Style ss:ID=\"pct\"><NumberFormat ss:Format=\"Percent\"/></Style>"
      "<Style ss:ID=\"short\"><NumberFormat ss:Format=\"Short Date\"/></Style>"
      "<Style ss:ID=\"parent\"><NumberFormat ss:Format=\"yyyy&quot;年&quot;m&quot;月&quot;\"/>"
      "</Style><Style ss:ID=\"child\" ss:Parent=\"parent\"><Font ss:Bold=\"1\"/></Style>"
      "<Style ss:ID=\"fixed\"><NumberFormat ss:Format=\"Fixed\"/></Style>"));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  const Worksheet& ws = *(*wb)->Worksheets(1);
  const StyleTable& st = (*wb)->styles();
  EXPECT_EQ(st.NumFmtString(st.xf(ws.Cells(1, 1).style).num_fmt), "0.00%");  // the column's
  EXPECT_TRUE(ws.Cells(1, 2).is_date);
  EXPECT_EQ(ws.Cells(1, 2).number, 45352);
  EXPECT_TRUE(ws.Cells(1, 3).is_date);  // the parent's format
  EXPECT_TRUE(ws.Cells(1, 4).is_date);
  EXPECT_EQ(ws.Cells(1, 4).number, 45352.5);
  EXPECT_EQ(ValueText(ws.Cells(1, 4)), "2024/3/1 12:00:00");
  EXPECT_FALSE(ws.Cells(1, 5).is_date);
  EXPECT_EQ(st.NumFmtString(st.xf(ws.Cells(1, 5).style).num_fmt), "0.00");
  EXPECT_TRUE(ws.Cells(2, 2).is_date);  // the row's style
}

TEST(XmlSpreadsheet, HiddenSheetsAreMarkedAndTheFirstWorksheetAloneIsReadWhenAsked) {
  const std::string doc = Doc(
      "<Worksheet ss:Name=\"一\"><Table><Row><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>"
      "</Table></Worksheet>"
      "<Worksheet ss:Name=\"二\"><Table/><WorksheetOptions xmlns=\"urn:schemas-microsoft-com:"
      "office:excel\"><Visible>SheetHidden</Visible></WorksheetOptions></Worksheet>"
      "<Worksheet ss:Name=\"三\"><WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:"
      "excel\"><Visible>SheetVeryHidden</Visible></WorksheetOptions></Worksheet>"
      "<ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\"><Date1904/>"
      "</ExcelWorkbook>");
  auto all = ReadText(doc);
  ASSERT_TRUE(all.ok()) << all.error().detail;
  ASSERT_EQ((*all)->WorksheetCount(), 3);
  EXPECT_FALSE((*all)->Worksheets(1)->IsHidden());
  EXPECT_TRUE((*all)->Worksheets(2)->IsHidden());
  EXPECT_TRUE((*all)->Worksheets(3)->IsHidden());
  EXPECT_TRUE((*all)->styles().date1904);
  auto first = ReadText(doc, "a.xml", {true});
  ASSERT_TRUE(first.ok()) << first.error().detail;
  EXPECT_EQ((*first)->WorksheetCount(), 1);
}

TEST(XmlSpreadsheet, IsReadByWhatItHoldsInAnyEncodingExpatOrTheSystemKnows) {
  const std::string body =
      "<Worksheet ss:Name=\"表\"><Table><Row><Cell><Data ss:Type=\"String\">汉字</Data></Cell>"
      "</Row></Table></Worksheet>";
  // UTF-16 with its byte order mark, as some exporters write it.
  const std::string utf8 = Doc(body, "", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
  const std::u16string units = u"\uFEFF" + Utf8ToUtf16(utf8);
  std::string utf16(reinterpret_cast<const char*>(units.data()), units.size() * 2);
  // GBK, declared: 表 is B1ED, 汉字 BABA D7D6.
  std::string gbk = Doc(
      "<Worksheet ss:Name=\"\xB1\xED\"><Table><Row><Cell><Data ss:Type=\"String\">\xBA\xBA\xD7\xD6"
      "</Data></Cell></Row></Table></Worksheet>",
      "", "<?xml version=\"1.0\" encoding=\"GB2312\"?>");
  for (const auto& [text, name] :
       {std::pair{utf16, std::string("报表.xls")}, std::pair{gbk, std::string("报表.txt")},
        std::pair{"\xEF\xBB\xBF" + Doc(body), std::string("报表")}}) {
    SCOPED_TRACE(name);
    auto wb = ReadText(text, name);
    ASSERT_TRUE(wb.ok()) << wb.error().detail;
    EXPECT_EQ((*wb)->format(), SourceFormat::kXmlSpreadsheet);
    EXPECT_EQ((*wb)->Worksheets(1)->Name(), "表");
    EXPECT_EQ((*wb)->Worksheets(1)->Cells(1, 1).text, "汉字");
  }
  // Other XML stays refused as before.
  auto other = ReadText("<?xml version=\"1.0\"?><Workbook xmlns=\"urn:example\"/>");
  ASSERT_FALSE(other.ok());
  EXPECT_EQ(other.error().code, ErrorCode::kNotAWorkbook);
}

TEST(XmlSpreadsheet, DamagedDocumentsAreRefusedWithAChineseReason) {
  struct Case {
    std::string text;
    ErrorCode code;
    std::string reason;
  };
  const Case cases[] = {
      {Doc("<Worksheet ss:Name=\"S\"><Table><Row><Cell></Row></Table></Worksheet>"),
       ErrorCode::kCorrupt, "文件已损坏（XML格式错误，第9行：标签不配对）"},
      {"<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaaaaaa\">]>"
       "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet/></Workbook>",
       ErrorCode::kTooLarge, "文件太大（声明了XML实体“a”，可能是实体炸弹，已拒绝）"},
      {Doc("<Worksheet ss:Name=\"S\"><Table><Row ss:Index=\"1048577\"><Cell><Data ss:Type="
           "\"Number\">1</Data></Cell></Row></Table></Worksheet>"),
       ErrorCode::kTooLarge,
       "文件太大（单元格（第1048577行第1列）超出了1048576行、16384列的工作表范围）"},
      {Doc(""), ErrorCode::kNotAWorkbook, "不是Excel工作簿（XML表格中没有工作表）"},
  };
  for (const Case& c : cases) {
    auto wb = ReadText(c.text, "坏.xls");
    ASSERT_FALSE(wb.ok()) << c.reason;
    EXPECT_EQ(wb.error().code, c.code) << wb.error().detail;
    EXPECT_EQ(ErrorReason(wb.error(), "坏.xls"), c.reason);
    EXPECT_EQ(wb.error().detail.rfind("坏.xls: ", 0), 0u) << wb.error().detail;
  }
}

TEST(XmlSpreadsheetSamples, MatchTheirReferenceDumps) {
  if (testing::FormatSamples("xml").empty()) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats/xml");
  }
  // LibreOffice shows every sheet of an XML Spreadsheet as visible; the states are checked on
  // sheet_visibility.xml below instead.
  EXPECT_EQ(testing::ExpectSamplesReadAsReference("xml", "xml-spreadsheet", false), 24);
  auto vis = ReadWorkbookFile(QM_CORPUS_DIR "/formats/xml/sheet_visibility.xml");
  ASSERT_TRUE(vis.ok());
  ASSERT_EQ((*vis)->WorksheetCount(), 3);
  EXPECT_FALSE((*vis)->Worksheets(1)->IsHidden());
  EXPECT_TRUE((*vis)->Worksheets(2)->IsHidden());
  EXPECT_TRUE((*vis)->Worksheets(3)->IsHidden());
  // Dates stay dates.
  auto dates = ReadWorkbookFile(QM_CORPUS_DIR "/formats/xml/xlsx-stream-d-date-cell.xlsb.xml");
  ASSERT_TRUE(dates.ok());
  EXPECT_TRUE((*dates)->Worksheets(1)->Cells(7, 2).is_date);
  EXPECT_EQ((*dates)->Worksheets(1)->Cells(7, 2).number, 1.5);
}

}  // namespace
}  // namespace qm
