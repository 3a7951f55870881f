// OpenDocument spreadsheets, flat and packaged: value types and their formats, repeated and
// spanned cells, hidden tables, repeats charged to the memory budget, packages found by what they
// hold, the samples as LibreOffice reads them, and damaged files refused with a Chinese reason.
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

namespace qm {
namespace {

namespace fs = std::filesystem;

const char* const kNamespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";

// A flat document: data styles and cell styles, then the tables.
std::string Flat(const std::string& tables, const std::string& styles = "",
                 const std::string& settings = "") {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document") + kNamespaces +
         " office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument."
         "spreadsheet\"><office:automatic-styles>" +
         styles + "</office:automatic-styles><office:body><office:spreadsheet>" + settings +
         tables + "</office:spreadsheet></office:body></office:document>";
}

Result<std::unique_ptr<Workbook>> ReadText(const std::string& text,
                                           const std::string& name = "表.fods",
                                           ReadOptions options = {}) {
  return ReadWorkbookBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name,
                           options);
}

const char* const kStyles =
    "<number:date-style style:name=\"D1\"><number:year number:style=\"long\"/><number:text>-"
    "</number:text><number:month number:style=\"long\"/><number:text>-</number:text>"
    "<number:day number:style=\"long\"/></number:date-style>"
    "<number:time-style style:name=\"T1\" number:truncate-on-overflow=\"false\"><number:hours/>"
    "<number:text>:</number:text><number:minutes number:style=\"long\"/></number:time-style>"
    "<number:percentage-style style:name=\"P1\"><number:number number:decimal-places=\"1\" "
    "number:min-integer-digits=\"1\"/><number:text>%</number:text></number:percentage-style>"
    "<number:number-style style:name=\"N2P0\"><number:number number:decimal-places=\"2\" "
    "number:min-integer-digits=\"1\" number:grouping=\"true\"/><number:text> 元</number:text>"
    "</number:number-style><number:number-style style:name=\"N2\"><style:text-properties "
    "fo:color=\"#ff0000\"/><number:text>-</number:text><number:number number:decimal-places=\"2\" "
    "number:min-integer-digits=\"1\" number:grouping=\"true\"/><number:text> 元</number:text>"
    "<style:map style:condition=\"value()&gt;=0\" style:apply-style-name=\"N2P0\"/>"
    "</number:number-style>"
    "<style:style style:name=\"date\" style:family=\"table-cell\" style:data-style-name=\"D1\"/>"
    "<style:style style:name=\"dur\" style:family=\"table-cell\" style:data-style-name=\"T1\"/>"
    "<style:style style:name=\"pct\" style:family=\"table-cell\" style:data-style-name=\"P1\"/>"
    "<style:style style:name=\"money\" style:family=\"table-cell\" style:data-style-name=\"N2\"/>"
    "<style:style style:name=\"child\" style:family=\"table-cell\" "
    "style:parent-style-name=\"date\"/>"
    "<style:style style:name=\"hid\" style:family=\"table\"><style:table-properties "
    "table:display=\"false\"/></style:style>";

TEST(OpenDocument, ValuesOfEveryTypeKeepTheirFormats) {
  auto wb = ReadText(
      Flat("<table:table table:name=\"数据\"><table:table-row>"
           "<table:table-cell office:value-type=\"float\" office:value=\"1.5\"><text:p>1.5</text:p>"
           "</table:table-cell>"
           "<table:table-cell office:value-type=\"percentage\" office:value=\"0.255\" "
           "table:style-name=\"pct\"><text:p>25.5%</text:p></table:table-cell>"
           "<table:table-cell office:value-type=\"currency\" office:currency=\"CNY\" "
           "office:value=\"-1234.5\" table:style-name=\"money\"><text:p>-1,234.50 元</text:p>"
           "</table:table-cell>"
           "<table:table-cell office:value-type=\"date\" office:date-value=\"2024-03-01\" "
           "table:style-name=\"child\"><text:p>2024-03-01</text:p></table:table-cell>"
           // A date whose style shows no date; a duration past a day.
           "<table:table-cell office:value-type=\"date\" office:date-value=\"2024-03-01T06:00:00\">"
           "<text:p>x</text:p></table:table-cell>"
           "<table:table-cell office:value-type=\"time\" office:time-value=\"PT26H30M00S\" "
           "table:style-name=\"dur\"><text:p>26:30</text:p></table:table-cell>"
           "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\">"
           "<text:p>TRUE</text:p></table:table-cell>"
           "<table:table-cell table:formula=\"of:=1/0\" office:value-type=\"float\" "
           "office:value=\"0\" calcext:value-type=\"error\"><text:p>#DIV/0!</text:p>"
           "</table:table-cell></table:table-row><table:table-row>"
           // Text: paragraphs are lines, white space collapses, text:s keeps spaces.
           "<table:table-cell office:value-type=\"string\"><text:p>第一行</text:p><text:p>  两个"
           "\n   空格<text:s text:c=\"2\"/>和<text:tab/>制表<text:line-break/>换行 "
           "<text:span>跨度</text:span></text:p><office:annotation><dc:creator>某人</dc:creator>"
           "<text:p>批注</text:p></office:annotation></table:table-cell>"
           // A formula's string result is kept as saved.
           "<table:table-cell table:formula=\"of:=&quot;a&quot;\" office:value-type=\"string\" "
           "office:string-value=\"a&#13;&#10;b\"><text:p>a b</text:p></table:table-cell>"
           "<table:table-cell><text:p>无类型</text:p></table:table-cell>"
           "</table:table-row></table:table>",
           kStyles));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  EXPECT_EQ((*wb)->format(), SourceFormat::kOds);
  const Worksheet& ws = *(*wb)->Worksheets(1);
  const StyleTable& st = (*wb)->styles();
  auto fmt = [&](int r, int c) { return st.NumFmtString(st.xf(ws.Cells(r, c).style).num_fmt); };
  EXPECT_EQ(ws.Cells(1, 1).number, 1.5);
  EXPECT_EQ(fmt(1, 1), "General");
  EXPECT_EQ(ws.Cells(1, 2).number, 0.255);
  EXPECT_EQ(fmt(1, 2), "0.0%");
  EXPECT_EQ(ws.Cells(1, 3).number, -1234.5);
  EXPECT_EQ(fmt(1, 3), "#,##0.00\" 元\";[Red]-#,##0.00\" 元\"");
  EXPECT_TRUE(ws.Cells(1, 4).is_date);
  EXPECT_EQ(fmt(1, 4), "yyyy-mm-dd");  // the parent style's
  EXPECT_EQ(ws.Cells(1, 4).number, 45352);
  EXPECT_TRUE(ws.Cells(1, 5).is_date);
  EXPECT_EQ(ws.Cells(1, 5).number, 45352.25);
  EXPECT_TRUE(ws.Cells(1, 6).is_date);
  EXPECT_DOUBLE_EQ(ws.Cells(1, 6).number, 26.5 / 24);
  EXPECT_EQ(fmt(1, 6), "[h]:mm");
  EXPECT_TRUE(ws.Cells(1, 7).IsBool());
  EXPECT_EQ(ws.Cells(1, 7).number, 1);
  ASSERT_TRUE(ws.Cells(1, 8).IsError());
  EXPECT_STREQ(ErrorText(ws.Cells(1, 8).error), "#DIV/0!");
  EXPECT_EQ(ws.Cells(2, 1).text, "第一行\n两个 空格  和\t制表\n换行 跨度");
  EXPECT_EQ(ws.Cells(2, 2).text, "a\r\nb");
  EXPECT_EQ(ws.Cells(2, 3).text, "无类型");
}

TEST(OpenDocument, RepeatsAreLaidOutSpansMergeAndEmptyRepeatsCostNothing) {
  auto wb = ReadText(Flat(
      "<table:table table:name=\"S\">"
      "<table:table-column table:number-columns-repeated=\"16384\"/>"
      "<table:table-row table:number-rows-repeated=\"3\">"
      "<table:table-cell office:value-type=\"string\" table:number-columns-repeated=\"2\">"
      "<text:p>重复</text:p></table:table-cell>"
      "<table:table-cell table:number-columns-repeated=\"3\"/>"
      "<table:table-cell office:value-type=\"float\" office:value=\"7\"/>"
      "<table:table-cell table:style-name=\"date\" table:number-columns-repeated=\"16378\"/>"
      "</table:table-row>"
      "<table:table-row><table:table-cell office:value-type=\"string\" "
      "table:number-columns-spanned=\"2\" table:number-rows-spanned=\"2\"><text:p>合并</text:p>"
      "</table:table-cell><table:covered-table-cell><text:p>藏</text:p>"
      "</table:covered-table-cell><table:table-cell office:value-type=\"float\" "
      "office:value=\"3\"/></table:table-row>"
      "<table:table-row><table:covered-table-cell table:number-columns-repeated=\"2\"/>"
      "<table:table-cell office:value-type=\"float\" office:value=\"4\"/></table:table-row>"
      // LibreOffice fills the table out to the grid's end with styled empty rows.
      "<table:table-row table:style-name=\"ro1\" table:number-rows-repeated=\"1048571\">"
      "<table:table-cell table:style-name=\"date\" table:number-columns-repeated=\"16384\"/>"
      "</table:table-row></table:table>",
      kStyles));
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  const Worksheet& ws = *(*wb)->Worksheets(1);
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(ws.Cells(r, 1).text, "重复");
    EXPECT_EQ(ws.Cells(r, 2).text, "重复");
    EXPECT_EQ(ws.Cells(r, 6).number, 7);
  }
  EXPECT_EQ(ws.Cells(4, 1).text, "合并");
  EXPECT_TRUE(ws.Cells(4, 2).IsBlank());
  EXPECT_EQ(ws.Cells(4, 3).number, 3);
  EXPECT_EQ(ws.Cells(5, 3).number, 4);
  EXPECT_EQ(ws.merges(), (std::vector<Range>{{4, 1, 5, 2}}));
  EXPECT_EQ(ws.CellCount(), size_t{3 * 3 + 3});
  EXPECT_EQ(ws.RowCount(), 5);
}

TEST(OpenDocument, HiddenTablesTheNullDateAndTheFirstTableAlone) {
  const std::string doc = Flat(
      "<table:table table:name=\"一\"><table:table-row><table:table-cell "
      "office:value-type=\"date\" office:date-value=\"1904-01-02\"/></table:table-row>"
      "</table:table><table:table table:name=\"二\" table:style-name=\"hid\"/>"
      "<table:table table:name=\"三\"/>",
      kStyles,
      "<table:calculation-settings><table:null-date table:date-value=\"1904-01-01\"/>"
      "</table:calculation-settings>");
  auto wb = ReadText(doc);
  ASSERT_TRUE(wb.ok()) << wb.error().detail;
  ASSERT_EQ((*wb)->WorksheetCount(), 3);
  EXPECT_FALSE((*wb)->Worksheets(1)->IsHidden());
  EXPECT_TRUE((*wb)->Worksheets(2)->IsHidden());
  EXPECT_FALSE((*wb)->Worksheets(3)->IsHidden());
  EXPECT_TRUE((*wb)->styles().date1904);
  EXPECT_EQ((*wb)->Worksheets(1)->Cells(1, 1).number, 1);
  auto first = ReadText(doc, "a.fods", {true});
  ASSERT_TRUE(first.ok());
  EXPECT_EQ((*first)->WorksheetCount(), 1);
}

class OpenDocumentFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::FreshTestFolder("qm_ods"); }
  void TearDown() override {
    memory::SetBudgetForTesting(0);
    fs::remove_all(dir_);
  }
  // A package: mimetype, manifest, the data styles in styles.xml, the tables in content.xml.
  std::string Package(
      const std::string& name, const std::string& tables,
      const std::string& mimetype = "application/vnd.oasis.opendocument.spreadsheet",
      const std::string& manifest_extra = "") {
    const std::string path = PathToUtf8(dir_ / PathFromUtf8(name));
    testing::Parts parts;
    if (!mimetype.empty()) parts.push_back({"mimetype", mimetype});
    parts.push_back({"META-INF/manifest.xml",
                     "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:"
                     "manifest:1.0\"><manifest:file-entry manifest:full-path=\"content.xml\">" +
                         manifest_extra + "</manifest:file-entry></manifest:manifest>"});
    parts.push_back({"styles.xml", std::string("<office:document-styles") + kNamespaces +
                                       "><office:styles>" + kStyles +
                                       "</office:styles></office:document-styles>"});
    if (!tables.empty())
      parts.push_back({"content.xml", std::string("<office:document-content") + kNamespaces +
                                          "><office:body><office:spreadsheet>" + tables +
                                          "</office:spreadsheet></office:body>"
                                          "</office:document-content>"});
    testing::WriteZip(path, parts);
    return path;
  }
  fs::path dir_;
};

const char* const kDateTable =
    "<table:table table:name=\"表\"><table:table-row><table:table-cell office:value-type=\"date\" "
    "office:date-value=\"2024-03-01\" table:style-name=\"date\"/></table:table-row></table:table>";

TEST_F(OpenDocumentFiles, PackagesAreFoundByWhatTheyHoldAndStylesComeFromStylesXml) {
  for (const auto& [name, mime] :
       {std::pair{"a.ods", "application/vnd.oasis.opendocument.spreadsheet"},
        std::pair{"模板.ots", "application/vnd.oasis.opendocument.spreadsheet-template"},
        std::pair{"named.xlsx", "application/vnd.oasis.opendocument.spreadsheet"},
        std::pair{"nomime.ods", ""}}) {
    SCOPED_TRACE(name);
    auto wb = ReadWorkbookFile(Package(name, kDateTable, mime));
    ASSERT_TRUE(wb.ok()) << wb.error().detail;
    EXPECT_EQ((*wb)->format(), SourceFormat::kOds);
    EXPECT_EQ(ValueText((*wb)->Worksheets(1)->Cells(1, 1)), "2024/3/1");
  }
}

TEST_F(OpenDocumentFiles, DamagedOrEncryptedPackagesAreRefusedWithAChineseReason) {
  const std::string encrypted =
      Package("enc.ods", kDateTable, "application/vnd.oasis.opendocument.spreadsheet",
              "<manifest:encryption-data manifest:checksum-type=\"SHA1/1K\"/>");
  auto e = ReadWorkbookFile(encrypted);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.error().code, ErrorCode::kEncrypted);
  EXPECT_EQ(ErrorReason(e.error(), encrypted), "文件受密码保护，不支持打开加密的OpenDocument文件");
  const std::string empty = Package("empty.ods", "");
  auto m = ReadWorkbookFile(empty);
  ASSERT_FALSE(m.ok());
  EXPECT_EQ(ErrorReason(m.error(), empty), "文件已损坏（OpenDocument文件中缺少content.xml）");
  const std::string broken = Package("broken.ods", "<table:table table:name=\"x\">");
  auto b = ReadWorkbookFile(broken);
  ASSERT_FALSE(b.ok());
  EXPECT_EQ(b.error().code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(b.error(), broken).rfind("文件已损坏（XML格式错误，第1行：", 0), 0u)
      << ErrorReason(b.error(), broken);
  auto none = ReadText(Flat(""));
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(ErrorReason(none.error()), "不是Excel工作簿（OpenDocument文件中没有表格）");
}

// A row of 16,384 values repeated a million times is a few hundred bytes of XML and sixteen
// billion cells: it must end as quickly as today's cell bombs do, before a cell is made.
TEST_F(OpenDocumentFiles, RepeatedRowBombEndsWithNoMemoryOrTooLarge) {
  const std::string cell =
      "<table:table-cell office:value-type=\"float\" office:value=\"1\" "
      "table:number-columns-repeated=\"16384\"/>";
  const std::string bomb = Flat(
      "<table:table table:name=\"B\"><table:table-row table:number-rows-repeated=\"1000000\">" +
      cell + "</table:table-row></table:table>");
  const size_t baseline = memory::InUse();
  auto r = ReadText(bomb, "bomb.fods");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
  EXPECT_EQ(ErrorReason(r.error(), "bomb.fods").rfind("内存不足（重复的行或列展开后超过可用的", 0),
            0u)
      << ErrorReason(r.error(), "bomb.fods");
  EXPECT_EQ(memory::InUse(), baseline);
  // Past the last row of the grid.
  auto far =
      ReadText(Flat("<table:table table:name=\"B\"><table:table-row "
                    "table:number-rows-repeated=\"1048576\"/><table:table-row>" +
                    cell + "</table:table-row></table:table>"));
  ASSERT_FALSE(far.ok());
  EXPECT_EQ(far.error().code, ErrorCode::kTooLarge);
  // Under a low budget, a modest repeat ends the same way; with the budget back it is read.
  const std::string modest = Flat(
      "<table:table table:name=\"B\"><table:table-row table:number-rows-repeated=\"50000\">"
      "<table:table-cell office:value-type=\"float\" office:value=\"1\" "
      "table:number-columns-repeated=\"20\"/></table:table-row></table:table>");
  memory::SetBudgetForTesting(memory::InUse() + (size_t{4} << 20));
  auto low = ReadText(modest);
  ASSERT_FALSE(low.ok());
  EXPECT_EQ(low.error().code, ErrorCode::kNoMemory);
  memory::SetBudgetForTesting(0);
  auto ok = ReadText(modest);
  ASSERT_TRUE(ok.ok()) << ok.error().detail;
  EXPECT_EQ((*ok)->Worksheets(1)->CellCount(), size_t{50000} * 20);
}

TEST(OpenDocumentSamples, MatchTheirReferenceDumps) {
  if (testing::FormatSamples("ods").empty()) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats/ods");
  }
  EXPECT_EQ(testing::ExpectSamplesReadAsReference("ods", "ods", true), 4);
  EXPECT_EQ(testing::ExpectSamplesReadAsReference("fods", "ods", true), 1);
  // Dates stay dates.
  auto wb = ReadWorkbookFile(QM_CORPUS_DIR "/formats/ods/1904__1904.ods");
  ASSERT_TRUE(wb.ok());
  EXPECT_TRUE((*wb)->Worksheets(1)->Cells(2, 2).is_date);
  EXPECT_EQ(ValueText((*wb)->Worksheets(1)->Cells(2, 2)), "1904/1/12");
}

}  // namespace
}  // namespace qm
