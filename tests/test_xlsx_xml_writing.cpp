// The element writer behind the .xlsx styles part, and that part of a saved workbook byte for
// byte: spreadsheet programs are picky about its element order and about which elements close
// with an end tag, so any change to how it is built must leave the bytes alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/workbook.h"
#include "workbook/xlsx/xlsx.h"
#include "workbook/xlsx/xml_writer.h"
#include "workbook/xlsx/zip_reader.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using xlsx::XmlWriter;

TEST(XmlWriter, ElementWithNothingInsideClosesItselfUnlessGivenEvenEmptyText) {
  std::string o = "<?xml?>";
  XmlWriter x(o);
  x.Start("a").End();
  x.Start("b").Attr("k", "v").End();
  x.Start("c").Text("").End();
  x.Start("d").Attr("k", 1).Text("").End();
  EXPECT_EQ(o, "<?xml?><a/><b k=\"v\"/><c></c><d k=\"1\"></d>");
  EXPECT_EQ(x.depth(), 0u);
}

TEST(XmlWriter, NestedElementsCloseInnermostFirstWithTheirOwnNames) {
  std::string o;
  XmlWriter x(o);
  x.Start("root").Start("list").Attr("count", 2);
  EXPECT_EQ(x.depth(), 2u);
  x.Start("item").Text("one").End();
  x.Start("item").Start("empty").End().Text("two").End();
  x.End();
  x.Start("tail").End();
  EXPECT_EQ(x.depth(), 1u);
  x.End();
  EXPECT_EQ(o,
            "<root><list count=\"2\"><item>one</item><item><empty/>two</item></list><tail/>"
            "</root>");
}

TEST(XmlWriter, TextAndAttributeValuesAreEscapedAlike) {
  // Markup characters, a literal escape sequence (which a reader would decode), controls XML
  // cannot carry or would not keep (CR), bytes that are not UTF-8, and what passes untouched:
  // tab, LF, non-hex or upper-case "_X" look-alikes and characters beyond the BMP.
  const std::string raw =
      "a<b & \"c\" > d _x0041_ \x01\r\t\n _x00zz_ _X0041_ \xFF\xC3 \xE6\xB1\x89 "
      "\xF0\x9F\x98\x80";
  const std::string escaped =
      "a&lt;b &amp; &quot;c&quot; &gt; d _x005F_x0041_ _x0001__x000D_\t\n _x00zz_ _X0041_ "
      "\xEF\xBF\xBD\xEF\xBF\xBD \xE6\xB1\x89 \xF0\x9F\x98\x80";
  std::string o;
  XmlWriter x(o);
  x.Start("t").Attr("v", raw).Text(raw).End();
  EXPECT_EQ(o, "<t v=\"" + escaped + "\">" + escaped + "</t>");
}

TEST(XmlWriter, NumbersAreWrittenInFullAndDoublesAsTheShortestExactText) {
  std::string o;
  XmlWriter x(o);
  x.Start("n")
      .Attr("neg", -42)
      .Attr("byte", uint8_t{255})
      .Attr("big", size_t{18446744073709551615u})
      .Attr("sum", 0.1 + 0.2)
      .Attr("half", 10.5)
      .Attr("huge", 1e300)
      .Attr("whole", 11.0)
      .End();
  EXPECT_EQ(o,
            "<n neg=\"-42\" byte=\"255\" big=\"18446744073709551615\" sum=\"0.30000000000000004\" "
            "half=\"10.5\" huge=\"1e+300\" whole=\"11\"/>");
}

// The text of one part of the package at `path`, or "" when it cannot be read.
std::string ReadPart(const fs::path& path, const std::string& part) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto zip = zip::Archive::Open(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                path.string());
  if (!zip.ok()) return {};
  const zip::Entry* e = zip->Find(part);
  if (!e) return {};
  auto text = zip->ReadAll(*e);
  return text.ok() ? *text : std::string();
}

// A workbook whose style table reaches every branch of the styles part: custom, East Asian and
// dangling number formats, every font decoration, patterned fills with and without colours,
// borders with diagonals and out-of-range styles, alignment and protection.
void AddStyles(Workbook& wb) {
  StyleTable& st = wb.styles();
  const uint16_t custom = st.AddNumFmt("0.0 \"<kg>\" & _x0041_");
  const uint16_t plain = st.AddNumFmt("yyyy-mm-dd");

  const uint16_t decorated = st.AddFont(Font{.name = "Times & \"Roman\"",
                                             .size = 10.5,
                                             .bold = true,
                                             .italic = true,
                                             .strike = true,
                                             .underline = 1,
                                             .script = 1,
                                             .color = Rgb(0x1F4E79),
                                             .family = 2,
                                             .charset = 134});
  const uint16_t dbl = st.AddFont(Font{.name = "", .underline = 2, .script = 2, .family = 107});
  const uint16_t acct = st.AddFont(Font{.name = "Arial", .underline = 0x21});
  const uint16_t dacct = st.AddFont(Font{.name = "Arial", .size = 9, .underline = 0x22});

  const uint16_t solid = st.AddFill(Fill{1, Rgb(0xFFC7CE), Rgb(0x000000)});
  const uint16_t bare = st.AddFill(Fill{1, kAutoColor, kAutoColor});
  const uint16_t odd = st.AddFill(Fill{200, Rgb(0x00FF00), kAutoColor});

  Border box;
  box.left = {1, kAutoColor};
  box.right = {2, Rgb(0xFF0000)};
  box.bottom = {99, Rgb(0x0000FF)};
  box.diagonal = {7, kAutoColor};
  box.diag_up = true;
  box.diag_down = true;
  const uint16_t boxed = st.AddBorder(box);
  const uint16_t top = st.AddBorder(Border{.top = {13, Rgb(0x123456)}});

  st.AddXf(Xf{.font = decorated, .fill = solid, .border = boxed, .num_fmt = custom});
  st.AddXf(Xf{.font = dbl, .num_fmt = 31});    // East Asian date: written out with its text
  st.AddXf(Xf{.font = acct, .num_fmt = 200});  // neither defined nor built in: General
  st.AddXf(Xf{.font = dacct, .fill = bare, .border = top, .num_fmt = plain});
  Xf aligned{.fill = odd, .num_fmt = 10};
  aligned.align = {
      .horizontal = 3, .vertical = 0, .wrap = true, .shrink = true, .indent = 2, .rotation = 90};
  st.AddXf(aligned);
  Xf centred;
  centred.align.horizontal = 7;
  centred.align.vertical = 4;
  centred.align.rotation = 255;
  centred.locked = false;
  centred.hidden = true;
  st.AddXf(centred);
  Xf unlocked;
  unlocked.locked = false;
  st.AddXf(unlocked);
  st.AddXf(Xf{.font = 500, .fill = 500, .border = 500});  // indexes past the tables
}

TEST(XlsxStylesPart, SavedStylesKeepTheirExactBytes) {
  const fs::path dir =
      fs::temp_directory_path() / ("qm-styles-part-" + std::to_string(::qm::testing::ProcessId()));
  fs::create_directories(dir);
  const fs::path path = dir / "styles.xlsx";
  Workbook wb;
  AddStyles(wb);
  ASSERT_TRUE(wb.AddWorksheet("S").SetText(1, 1, "styled", 1).ok());
  ASSERT_TRUE(xlsx::Write(wb, path.string()).ok());
  const std::string styles = ReadPart(path, "xl/styles.xml");
  fs::remove_all(dir);
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
      R"(<numFmts count="3">)"
      R"(<numFmt numFmtId="31" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/>)"
      R"(<numFmt numFmtId="164" formatCode="0.0 &quot;&lt;kg&gt;&quot; &amp; _x005F_x0041_"/>)"
      R"(<numFmt numFmtId="165" formatCode="yyyy-mm-dd"/></numFmts>)"
      R"(<fonts count="5">)"
      R"(<font><sz val="11"/><name val="宋体"/></font>)"
      R"(<font><b/><i/><strike/><u val="single"/><vertAlign val="superscript"/><sz)"
      R"( val="10.5"/><color rgb="FF1F4E79"/><name val="Times &amp; &quot;Roman&quot;"/><family)"
      R"( val="2"/><charset val="134"/></font>)"
      R"(<font><u val="double"/><vertAlign val="subscript"/><sz val="11"/><name)"
      R"( val="Arial"/></font>)"
      R"(<font><u val="singleAccounting"/><sz val="11"/><name val="Arial"/></font>)"
      R"(<font><u val="doubleAccounting"/><sz val="9"/><name val="Arial"/></font></fonts>)"
      R"(<fills count="5">)"
      R"(<fill><patternFill patternType="none"/></fill>)"
      R"(<fill><patternFill patternType="gray125"></patternFill></fill>)"
      R"(<fill><patternFill patternType="solid"><fgColor rgb="FFFFC7CE"/><bgColor)"
      R"( rgb="FF000000"/></patternFill></fill>)"
      R"(<fill><patternFill patternType="solid"></patternFill></fill>)"
      R"(<fill><patternFill patternType="solid"><fgColor)"
      R"( rgb="FF00FF00"/></patternFill></fill></fills>)"
      R"(<borders count="3">)"
      R"(<border><left/><right/><top/><bottom/><diagonal/></border>)"
      R"(<border diagonalUp="1" diagonalDown="1"><left style="thin"><color)"
      R"( auto="1"/></left><right style="medium"><color rgb="FFFF0000"/></right><top/><bottom)"
      R"( style="thin"><color rgb="FF0000FF"/></bottom><diagonal style="hair"><color)"
      R"( auto="1"/></diagonal></border>)"
      R"(<border><left/><right/><top style="slantDashDot"><color)"
      R"( rgb="FF123456"/></top><bottom/><diagonal/></border></borders>)"
      R"(<cellStyleXfs count="1">)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
      R"(<cellXfs count="9">)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
      R"(<xf numFmtId="164" fontId="1" fillId="2" borderId="1" xfId="0" applyNumberFormat="1")"
      R"( applyFont="1" applyFill="1" applyBorder="1"/>)"
      R"(<xf numFmtId="31" fontId="2" fillId="0" borderId="0" xfId="0" applyNumberFormat="1")"
      R"( applyFont="1"/>)"
      R"(<xf numFmtId="0" fontId="3" fillId="0" borderId="0" xfId="0" applyFont="1"/>)"
      R"(<xf numFmtId="165" fontId="4" fillId="3" borderId="2" xfId="0" applyNumberFormat="1")"
      R"( applyFont="1" applyFill="1" applyBorder="1"/>)"
      R"(<xf numFmtId="10" fontId="0" fillId="4" borderId="0" xfId="0" applyNumberFormat="1")"
      R"( applyFill="1" applyAlignment="1"><alignment horizontal="right" vertical="top")"
      R"( textRotation="90" wrapText="1" indent="2" shrinkToFit="1"/></xf>)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0" applyAlignment="1")"
      R"( applyProtection="1"><alignment horizontal="distributed" vertical="distributed")"
      R"( textRotation="255"/><protection locked="0" hidden="1"/></xf>)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0")"
      R"( applyProtection="1"><protection locked="0"/></xf>)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0" applyFont="1")"
      R"( applyFill="1" applyBorder="1"/></cellXfs>)"
      R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0")"
      R"( builtinId="0"/></cellStyles></styleSheet>)";
  EXPECT_EQ(styles, expected);
}

}  // namespace
}  // namespace qm
