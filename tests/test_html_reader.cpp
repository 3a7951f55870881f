// Web pages as sources: the first table with cells, spans as merged ranges, blanks collapsed as
// browsers collapse them, the page's encoding, and cells typed as CSV fields are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "corpus_util.h"
#include "test_support.h"
#include "workbook/html/html_reader.h"
#include "workbook/io.h"
#include "workbook/memory_budget.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

Result<std::unique_ptr<Workbook>> ReadPage(const std::string& bytes,
                                           const std::string& name = "page.html") {
  return ReadWorkbookBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), name);
}

// The first sheet as rows of "" (blank), "n:<number>", "d:<serial>" or the text itself.
std::vector<std::vector<std::string>> Grid(const Workbook& wb) {
  const Worksheet* ws = wb.Worksheets(1);
  std::vector<std::vector<std::string>> out;
  for (int r = 1; r <= ws->RowCount(); ++r) {
    std::vector<std::string> row;
    for (const Cell& c : ws->RowAt(r)->cells) {
      row.resize(c.col - 1);
      const CellValue v = ws->ValueOf(c);
      char num[64];
      std::snprintf(num, sizeof num, "%.15g", v.number);
      row.push_back(v.IsText() ? std::string(v.text)
                               : (v.is_date ? "d:" : "n:") + std::string(num));
    }
    out.push_back(row);
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

using GridT = std::vector<std::vector<std::string>>;

TEST(HtmlReader, PagesAreToldFromOtherMarkupByHowTheyStart) {
  const char* pages[] = {
      "<html><body></body></html>",
      "\xEF\xBB\xBF  <HTML xmlns:x=\"urn:schemas-microsoft-com:office:excel\">",
      "<!DOCTYPE html>\n<p>x",
      "<!doctype HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">",
      "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\">",
      "<!-- exported -->\r\n<table><tr><td>1</td></tr></table>",
      "<meta charset=gbk><table>",
      "\r\n\r\n<TABLE border=1>",
  };
  for (const char* p : pages)
    EXPECT_TRUE(html::LooksLikeHtml(reinterpret_cast<const uint8_t*>(p), std::strlen(p))) << p;
  const char* others[] = {
      "<?xml version=\"1.0\"?>\n<?mso-application progid=\"Excel.Sheet\"?>\n<Workbook>",
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\">",
      "<tablex>",
      "名称,数量\r\n",
      "<",
      "<!-- never closed",
      "a<html>",
  };
  for (const char* p : others)
    EXPECT_FALSE(html::LooksLikeHtml(reinterpret_cast<const uint8_t*>(p), std::strlen(p))) << p;
  const std::string utf16("\xFF\xFE<\0t\0a\0b\0l\0e\0>\0", 16);
  EXPECT_TRUE(html::LooksLikeHtml(reinterpret_cast<const uint8_t*>(utf16.data()), utf16.size()));
}

TEST(HtmlReader, AnExcelStyleExportReadsItsFirstTableWithCells) {
  auto r = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/text/gbk_meta.html");
  ASSERT_TRUE(r) << r.error().detail;
  const Workbook& wb = **r;
  EXPECT_EQ(SourceFormatText(wb), "html");
  EXPECT_EQ(wb.text_encoding(), "GB18030");  // from the http-equiv content type "gbk"
  EXPECT_EQ(wb.Worksheets(1)->Name(), "gbk_meta");
  // The first table has only blanks and an image; the third is never reached. Blanks collapse,
  // <br> is a line break, entities are decoded; "007" keeps its zeros where the cell's class or
  // its own style says text, and is text anyway by the typing rules elsewhere.
  EXPECT_EQ(Grid(wb), (GridT{{"2023年 一月 报表"},
                             {"北京", "007", "n:1234.5"},
                             {"", "0012", "d:44931"},
                             {"A & B <C>", "第一行\n第二行", "18位110101199003071234"},
                             {"110101199003071234", "-007", "12.0"}}));
  EXPECT_EQ(wb.Worksheets(1)->merges(), (std::vector<Range>{{1, 1, 1, 3}, {2, 1, 3, 1}}));
  const Worksheet& ws = *wb.Worksheets(1);
  EXPECT_EQ(ws.styles().NumFmtString(ws.styles().xf(ws.Cells(3, 3).style).num_fmt), "yyyy-mm-dd");
}

TEST(HtmlReader, TheStyleSaysTextOnlyForTheMsoTextFormat) {
  auto r = ReadPage(
      "<style>.t {mso-number-format:\"\\@\";} td.n {mso-number-format:\"0\\.00\";}"
      " .a, .b {mso-number-format:'\\@'}</style>"
      "<table><tr><td class=t>1.5</td><td class=n>1.5</td><td class=b>2023-01-05</td>"
      "<td style=\"mso-number-format:'\\@'\">12</td><td>12</td></tr></table>");
  ASSERT_TRUE(r);
  EXPECT_EQ(Grid(**r), (GridT{{"1.5", "n:1.5", "2023-01-05", "12", "n:12"}}));
}

TEST(HtmlReader, SpansFillTheGridAsBrowsersLayItOut) {
  // B1 spans two rows and two columns: row 2 starts in A, then skips B and C.
  auto r = ReadPage(
      "<table><tr><td>a</td><td rowspan=2 colspan=2>b</td><td>c</td></tr>"
      "<tr><td>d</td><td>e</td></tr>"
      "<tr><td colspan=0>f</td><td rowspan=x>g</td></tr></table>");
  ASSERT_TRUE(r);
  EXPECT_EQ(Grid(**r), (GridT{{"a", "b", "", "c"}, {"d", "", "", "e"}, {"f", "g"}}));
  EXPECT_EQ((*r)->Worksheets(1)->merges(), (std::vector<Range>{{1, 2, 2, 3}}));
  // Excel's mark for a span that only lets text run on is no merge; spans beyond what HTML
  // allows are cut to it.
  auto run_on = ReadPage(
      "<table><tr><td colspan=3 style='mso-ignore:colspan'>long</td><td>x</td></tr>"
      "<tr><td rowspan=999999 colspan=5000>y</td></tr></table>");
  ASSERT_TRUE(run_on);
  EXPECT_EQ(Grid(**run_on), (GridT{{"long", "", "", "x"}, {"y"}}));
  EXPECT_EQ((*run_on)->Worksheets(1)->merges(), (std::vector<Range>{{2, 1, 65535, 1000}}));
}

TEST(HtmlReader, BrokenPagesReadAsBrowsersReadThem) {
  // No </td>, </tr> or </table>, a cell before any row, nbsp, an unknown entity.
  auto r = ReadPage("<table><td>x<td>&nbsp;<tr><td>1&nbsp;2<td>&bogus; y", "broken.xls");
  ASSERT_TRUE(r);
  EXPECT_EQ(Grid(**r), (GridT{{"x"}, {"1 2", "&bogus; y"}}));
  // A table inside a cell is a table of its own; the outer one, started first, is read.
  auto nested = ReadPage(
      "<table><tr><td>outer<table><tr><td>inner</td></tr></table></td><td>2</td></tr></table>");
  ASSERT_TRUE(nested);
  EXPECT_EQ(Grid(**nested), (GridT{{"outer", "n:2"}}));
  // Tables nested past any sense are read as text of the cell that holds them.
  std::string deep = "<table><tr><td>top</td><td>";
  for (int i = 0; i < 100000; ++i) deep += "<table><tr><td>";
  auto very_deep = ReadPage(deep + "x");
  ASSERT_TRUE(very_deep);
  EXPECT_EQ(Grid(**very_deep)[0][0], "top");
  // A layout table whose only cell holds the data table: the data table is read.
  auto layout = ReadPage(
      "<table><tr><td> <table><tr><td>名称</td><td>3</td></tr></table> </td></tr></table>");
  ASSERT_TRUE(layout);
  EXPECT_EQ(Grid(**layout), (GridT{{"名称", "n:3"}}));
}

TEST(HtmlReader, ThePageSaysItsEncodingOrTheBytesDo) {
  const std::pair<const char*, const char*> fixtures[] = {
      {"no_charset.htm", "GB18030"}, {"utf16_page.xls", "UTF-16LE"}, {"plain_utf8.html", "UTF-8"}};
  for (const auto& [file, encoding] : fixtures) {
    auto r = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/text/" + file);
    ASSERT_TRUE(r) << file << ": " << r.error().detail;
    EXPECT_EQ((*r)->text_encoding(), encoding) << file;
    EXPECT_EQ(Grid(**r)[0][0], "名称") << file;
  }
  // The meta tag names a set other than the bytes' first guess.
  auto latin = ReadPage(
      "<meta http-equiv='Content-Type' content='text/html;charset=ISO-8859-1'>"
      "<table><tr><td>Gr\xFC\xDF"
      "e \x80</td></tr></table>");
  ASSERT_TRUE(latin);
  EXPECT_EQ(Grid(**latin), (GridT{{"Grüße €"}}));
  auto unknown = ReadPage("<meta charset=\"x-unknown\"><table><tr><td>名</td></tr></table>");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(Grid(**unknown), (GridT{{"名"}}));
}

TEST(HtmlReader, APageWithoutATableOfCellsIsNoWorkbook) {
  for (const char* page : {"<html><body>请先登录</body></html>",
                           "<table><tr><td> </td></tr></table>", "<html><table></table></html>"}) {
    auto r = ReadPage(page, "export.xls");
    ASSERT_FALSE(r) << page;
    EXPECT_EQ(r.error().code, ErrorCode::kNotAWorkbook);
    EXPECT_EQ(ErrorReason(r.error(), "export.xls"), "不是Excel工作簿（网页中没有含数据的表格）");
  }
}

TEST(HtmlReader, LimitsEndTheReadWithAReason) {
  std::string rows = "<table>";
  for (int i = 0; i < 20000; ++i) rows += "<tr><td>张三</td><td>李四</td><td>1</td></tr>";
  memory::SetBudgetForTesting(1 << 20);
  auto r = ReadPage(rows + "</table>");
  memory::SetBudgetForTesting(0);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
  EXPECT_EQ(memory::InUse(), 0u);

  auto wide = ReadPage("<table><tr><td colspan=1000>a</td>" + [] {
    std::string s;
    for (int i = 0; i < 16; ++i) s += "<td colspan=1000></td>";
    return s;
  }() + "<td>past</td></tr></table>");
  ASSERT_FALSE(wide);
  EXPECT_EQ(ErrorReason(wide.error(), "page.html"), "文件太大（超过16384列）");
}

// The web pages of the shared corpus, saved by Excel, read as LibreOffice read them (its
// reference dumps beside them).
TEST(HtmlCorpus, SamplesReadAsTheReferenceDumpsSay) {
  auto files =
      testing::CorpusFiles([](const nlohmann::json& j) { return j.value("kind", "") == "htm"; });
  if (files.empty()) {
    SKIP_OR_FAIL("the shared corpus has no web pages (../shared/corpus/formats/htm)");
  }
  for (const auto& f : files) {
    auto r = ReadWorkbookFile(f.path);
    ASSERT_TRUE(r) << f.rel << ": " << r.error().detail;
    EXPECT_EQ((*r)->format(), SourceFormat::kHtml);
    const auto bad = testing::CompareFirstSheet(**r, f);
    EXPECT_TRUE(bad.empty()) << f.rel << ":\n" << ::testing::PrintToString(bad);
  }
  // sized_boxen's spans are all marked mso-ignore:colspan: text running on, no merged cells.
  auto boxen = ReadWorkbookFile(std::string(QM_CORPUS_DIR) + "/formats/htm/sized_boxen.htm");
  ASSERT_TRUE(boxen);
  EXPECT_EQ((*boxen)->text_encoding(), "macintosh");
  EXPECT_TRUE((*boxen)->Worksheets(1)->merges().empty());
}

// LibreOffice's own reading of the corpus pages and of a plain page of ours: the same cells,
// except the texts our typing keeps (LibreOffice makes numbers of "007" and of 18-digit IDs) and
// the dates it leaves as text.
TEST(HtmlReaderLibreOffice, PagesReadAsLibreOfficeReadsThem) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  const fs::path dir = testing::FreshTestFolder("qm_html_lo");
  const std::vector<fs::path> pages = {fs::path(QM_CORPUS_DIR) / "formats/htm/crlf__crlf.htm",
                                       fs::path(QM_CORPUS_DIR) / "formats/htm/sized_boxen.htm",
                                       fs::path(QM_TEST_DATA) / "text/plain_utf8.html"};
  std::vector<std::string> names;
  for (const fs::path& p : pages) {
    ASSERT_TRUE(fs::exists(p)) << p;
    fs::copy_file(p, dir / p.filename());
    names.push_back(p.filename().string());
  }
  const testing::Conversion conv = testing::ConvertWithLibreOffice(
      dir, names, "xlsx:Calc MS Excel 2007 XML", "out", "HTML (StarCalc)");
  ASSERT_TRUE(conv.ok) << conv.console;
  for (const std::string& name : names) {
    auto lo = ReadWorkbookFile((dir / "out" / (fs::path(name).stem().string() + ".xlsx")).string());
    auto ours = ReadWorkbookFile((dir / name).string());
    ASSERT_TRUE(lo && ours) << name;
    const Worksheet& a = *(*ours)->Worksheets(1);
    const Worksheet& b = *(*lo)->Worksheets(1);
    // LibreOffice keeps formatted blank cells (a hidden row of Excel's, the cells a span
    // covers), so the cells of both ranges are compared, blanks included.
    const Range ra = a.UsedRange(), rb = b.UsedRange();
    const Range used{1, 1, std::max(ra.r2, rb.r2), std::max(ra.c2, rb.c2)};
    for (int r = used.r1; r <= used.r2; ++r) {
      for (int c = used.c1; c <= used.c2; ++c) {
        const CellValue x = a.Cells(r, c), y = b.Cells(r, c);
        const std::string at = name + " (" + std::to_string(r) + "," + std::to_string(c) + ")";
        if (x.IsText() && y.IsNumber() && (x.text == "007" || x.text == "110101199003071234"))
          continue;
        if (x.is_date && y.IsText() && (y.text == "2023-01-05")) continue;
        ASSERT_EQ(x.type, y.type) << at;
        if (x.IsText()) {
          EXPECT_EQ(x.text, y.text) << at;
        }
        if (x.IsNumber()) {
          EXPECT_EQ(x.number, y.number) << at;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qm
