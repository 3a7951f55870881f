// CSV and tab-separated text as sources: encodings, separators, quotes, and cells typed without
// losing what the text showed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/memory_budget.h"
#include "workbook/text/csv_reader.h"
#include "workbook/text/encoding.h"
#include "workbook/text/typed_text.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using text::TypedText;

Result<std::unique_ptr<Workbook>> ReadText(const std::string& bytes, const std::string& name) {
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

TEST(TypedText, PlainNumbersBecomeNumbersAndWhatANumberWouldChangeStaysText) {
  const std::pair<const char*, double> numbers[] = {{"1234.5", 1234.5},
                                                    {"-12.5", -12.5},
                                                    {"+5", 5},
                                                    {".5", 0.5},
                                                    {"0", 0},
                                                    {"-0", 0},
                                                    {"0.25", 0.25},
                                                    {"1.5E+3", 1500},
                                                    {"2e-3", 0.002},
                                                    {"123456789012345", 123456789012345.0},
                                                    {"0.000000000000000001", 1e-18},
                                                    {"100", 100}};
  for (const auto& [s, want] : numbers) {
    const TypedText t = text::TypeText(s);
    EXPECT_EQ(t.kind, TypedText::kNumber) << s;
    EXPECT_EQ(t.number, want) << s;
    if (want == 0) {
      EXPECT_FALSE(std::signbit(t.number)) << s << " must not be a negative zero";
    }
  }
  const char* texts[] = {"007",
                         "-007",
                         "00.5",
                         "12.0",
                         "12.",
                         "-3.000",
                         "1.0E5",  // what a number would not show
                         "110101199003071234",
                         "6222020200112233445",
                         "1234567890123456",  // over 15 digits
                         "11010119900307123X",
                         "1,234",
                         "50%",
                         "TRUE",
                         "=SUM(A1:A2)",
                         " 12",
                         "12 ",
                         "1e",
                         "1E400",
                         "1.5e-400",
                         "inf",
                         "nan",
                         "0x10",
                         "--1",
                         "+",
                         "-",
                         ".",
                         "1.2.3",
                         "١٢",
                         "１２",
                         ""};
  for (const char* s : texts) EXPECT_EQ(text::TypeText(s).kind, TypedText::kText) << s;
}

TEST(TypedText, DatesThatExistBecomeDatesShownAsTheyWereWritten) {
  struct Case {
    const char* text;
    double serial;
    const char* format;
  };
  const Case dates[] = {
      {"2023-01-05", 44931, "yyyy-mm-dd"},
      {"2023-1-5", 44931, "yyyy-m-d"},
      {"2023/1/5", 44931, "yyyy/m/d"},
      {"2023/01/5", 44931, "yyyy/mm/d"},
      {"2023年1月5日", 44931, "yyyy\"年\"m\"月\"d\"日\""},
      {"2023年01月05日", 44931, "yyyy\"年\"mm\"月\"dd\"日\""},
      {"2023-01-05 09:30", 44931 + 9.5 / 24, "yyyy-mm-dd hh:mm"},
      {"2023/1/5 9:30:15", 44931 + (9 * 3600 + 30 * 60 + 15) / 86400.0, "yyyy/m/d h:mm:ss"},
      {"2024-02-29", 45351, "yyyy-mm-dd"},
      // The 1900 system counts a 29 February 1900 that never was.
      {"1900-01-01", 1, "yyyy-mm-dd"},
      {"1900-02-28", 59, "yyyy-mm-dd"},
      {"1900-03-01", 61, "yyyy-mm-dd"},
      {"9999-12-31", 2958465, "yyyy-mm-dd"},
  };
  for (const Case& c : dates) {
    const TypedText t = text::TypeText(c.text);
    ASSERT_EQ(t.kind, TypedText::kDate) << c.text;
    EXPECT_NEAR(t.number, c.serial, 1e-9) << c.text;
    EXPECT_EQ(text::DateFormatString(t.form), c.format) << c.text;
  }
  const char* texts[] = {
      "2023-02-29",        "1900-02-29",     "2023-13-01",       "2023-00-10",
      "2023-04-31",        "1899-12-31",     "2023-1-32",        "2023-01-05 24:00",
      "2023-01-05 9:60",   "2023-01-05 9:3", "2023-01-05T09:30", "2023-01-05  09:30",
      "2023-01-05 09:30:", "2023-1/5",       "23-01-05",         "2023年1月5",
      "2023/1/5 ",         "2023-001-05",    "12023-01-05",      "2023-01-05 09:30:15.5"};
  for (const char* s : texts) EXPECT_EQ(text::TypeText(s).kind, TypedText::kText) << s;
}

TEST(CsvReader, QuotesSeparatorsAndLineBreaksAsRfc4180) {
  // Quoted separators, doubled quotes, a line break inside quotes (LF in the cell), an empty
  // field, CR LF, LF and CR line ends mixed, and a quote left open until the end.
  auto r = ReadText(
      "a,\"b,c\",\"say \"\"hi\"\"\"\r\n"
      "\"two\r\nlines\",,x\n"
      "\"\"\rlast,\"\",\"end\r",
      "q.csv");
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ(
      Grid(**r),
      (GridT{{"a", "b,c", "say \"hi\""}, {"two\nlines", "", "x"}, {}, {"last", "", "end\n"}}));
  auto no_break = ReadText("a,b\r\n1,2", "n.csv");
  ASSERT_TRUE(no_break);
  EXPECT_EQ(Grid(**no_break), (GridT{{"a", "b"}, {"n:1", "n:2"}}));
  // Text after a closing quote is kept as it stands; nothing is trimmed; quotes inside an
  // unquoted field are plain characters.
  auto lenient = ReadText("\"ab\"cd, x ,a\"b\"\n", "l.csv");
  ASSERT_TRUE(lenient);
  EXPECT_EQ(Grid(**lenient), (GridT{{"abcd", " x ", "a\"b\""}}));
}

TEST(CsvReader, EmptyLinesKeepTheirRowsAndATrailingSeparatorAddsNothing) {
  auto r = ReadText("h1,h2,\r\n\r\n\r\n1,2,\r\n", "e.csv");
  ASSERT_TRUE(r);
  EXPECT_EQ(Grid(**r), (GridT{{"h1", "h2"}, {}, {}, {"n:1", "n:2"}}));
  EXPECT_EQ((*r)->Worksheets(1)->UsedRange(), (Range{1, 1, 4, 2}));
}

TEST(CsvReader, TheEncodingIsTheMarksOrValidUtf8OrElseGb18030) {
  const std::string gbk_name = "\xD0\xD5\xC3\xFB";  // 姓名 in GBK
  struct Case {
    std::string bytes;
    const char* format;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF姓名,1\r\n", "csv (UTF-8, ',')"},
      {"姓名,1\r\n", "csv (UTF-8, ',')"},
      {gbk_name + ",1\r\n", "csv (GB18030, ',')"},
      {std::string("\xFF\xFE\xD3\x59\x0D\x54,\0001\0", 10), "csv (UTF-16LE, ',')"},
      {std::string("\xFE\xFF\x59\xD3\x54\x0D\0,\0001", 10), "csv (UTF-16BE, ',')"},
  };
  for (const Case& c : cases) {
    auto r = ReadText(c.bytes, "enc.csv");
    ASSERT_TRUE(r) << c.format;
    EXPECT_EQ(SourceFormatText(**r), c.format);
    EXPECT_EQ(Grid(**r), (GridT{{"姓名", "n:1"}})) << c.format;
  }
  // A four-byte GB18030 character (U+20000).
  auto four = ReadText("\x95\x32\x82\x36,1\r\n", "four.csv");
  ASSERT_TRUE(four);
  EXPECT_EQ(Grid(**four), (GridT{{"\xF0\xA0\x80\x80", "n:1"}}));
#ifndef _WIN32
  // A byte that is no character: one replacement character, and the comma after it still
  // separates (Windows' converter has its own way with such bytes).
  auto stray = ReadText("\x81,\xD0\xD5\r\n", "stray.csv");
  ASSERT_TRUE(stray);
  EXPECT_EQ(Grid(**stray), (GridT{{"\xEF\xBF\xBD", "姓"}}));
#endif
}

// The table-driven GB18030 decoder against characters of each kind of code: two bytes, four
// bytes in the BMP, four bytes beyond it, and bytes that are no character.
TEST(CsvReader, Gb18030DecodesEveryKindOfCode) {
  const std::pair<std::string, std::string> codes[] = {
      {"\xA1\xA1", "\u3000"},
      {"\xA2\xE3", "\u20AC"},  // ideographic space, euro
      {"\xB0\xA1\xD5\xC5", "啊张"},
      {"\x81\x40", "\u4E02"},
      {"\x81\x30\x81\x30", "\u0080"},
      {"\x84\x31\xA4\x39", "\uFFFF"},
      {"\x90\x30\x81\x30", "\U00010000"},
      {"\xE3\x32\x9A\x35", "\U0010FFFF"},
      {"a\x80"
       "b",
       "a\uFFFDb"},
      {"\xFF", "\uFFFD"},
      {"\x81", "\uFFFD"},
      {"\x81\x7F", "\uFFFD\x7F"},
  };
  // Without the system's GB18030 (Wine) these read as GBK has them, or not at all.
  const std::vector<std::string> need_gb18030 = {"\xA2\xE3", "\x81\x30\x81\x30",
                                                 "\x84\x31\xA4\x39"};
  text::Gb18030Decoder gb;
  for (const auto& [bytes, want] : codes) {
    if (!text::SystemKnowsGb18030() &&
        std::find(need_gb18030.begin(), need_gb18030.end(), bytes) != need_gb18030.end())
      continue;
    std::string out;
    gb.Decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    EXPECT_EQ(out, want) << ::testing::PrintToString(bytes);
  }
}

TEST(CsvReader, TheSeparatorFollowsTheNameAndTheFirstLines) {
  struct Case {
    const char* text;
    const char* name;
    char sep;
  };
  const Case cases[] = {
      {"a,b\tc\n1,2\t3\n", "x.tsv", '\t'},  // .tsv is tab-separated whatever it holds
      {"a\tb\n1\t2\n", "x.xls", '\t'},      // an export under a workbook's name
      {"a\tb\n1\t2\n", "x.txt", '\t'},
      {"a\tb,c\n1\t2,3\n", "x.xls", '\t'},  // tabs first for .xls and .txt
      {"a\tb\n1\t2\t3\n", "x.xls", ','},    // tabs, but not evenly
      {"a,b\n1,2\n", "x.csv", ','},
      {"a;b\n1;2\n", "x.csv", ';'},
      {"a;b\n1,5;2,25\n", "x.csv", ';'},  // decimal commas do not split evenly
      {"a;b,c\n1;2,3\n", "x.csv", ','},   // both split evenly: the comma wins
      {"a\tb\n1\t2\n", "x.csv", '\t'},
      {"\"x;y\",b\n1,2\n", "x.csv", ','},   // a quoted separator does not count
      {"title\na;b\n1;2\n", "x.csv", ','},  // the first lines must all agree
      {"abc\n", "x.csv", ','},
      {"a;b\n\n1;2\n", "x.CSV", ';'},  // empty lines do not count
  };
  for (const Case& c : cases)
    EXPECT_EQ(text::DetectSeparator(c.text, c.name), c.sep) << c.text << " as " << c.name;
  auto r = ReadText("Name;Betrag\r\nMüller;1,5\r\n", "euro.csv");
  ASSERT_TRUE(r);
  EXPECT_EQ(SourceFormatText(**r), "csv (UTF-8, ';')");
  EXPECT_EQ(Grid(**r), (GridT{{"Name", "Betrag"}, {"Müller", "1,5"}}));
  auto tab = ReadText("a\tb\r\n", "t.tsv");
  ASSERT_TRUE(tab);
  EXPECT_EQ(SourceFormatText(**tab), "csv (UTF-8, '\\t')");
}

// What every fixture of tools/make_text_fixtures.py holds, however it is encoded and separated.
const GridT kFixtureTable = {
    {"姓名", "身份证号", "账号", "工号", "金额", "日期", "时间", "备注"},
    {"张三", "110101199003071234", "6222020200112233445", "007", "n:1234.5", "d:44931",
     "d:44931.3958333333", "多行\n备注"},
    {"李四", "11010119900307123X", "n:622202020011223", "-007", "-12.0", "d:44931", "2023-02-29",
     "他说\"好\""},
    {"王五", "", "", "n:12", "n:1500", "d:44931", "d:44931.3960069444", "=SUM(A1:A2)"},
    {"赵六", "TRUE", "50%", "1,234", "n:0.5", "n:0.5", "12.", "  前后空格  "},
};

TEST(CsvReader, EveryFixtureReadsTheSameTableWhateverItsEncodingAndSeparator) {
  const std::pair<const char*, const char*> fixtures[] = {
      {"gbk_comma.csv", "csv (GB18030, ',')"}, {"utf8_bom.csv", "csv (UTF-8, ',')"},
      {"utf8_lf.csv", "csv (UTF-8, ',')"},     {"utf16le_tab.txt", "csv (UTF-16LE, '\\t')"},
      {"utf16be.csv", "csv (UTF-16BE, ',')"},  {"erp_export.xls", "csv (GB18030, '\\t')"},
  };
  for (const auto& [file, format] : fixtures) {
    auto r = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/text/" + file);
    ASSERT_TRUE(r) << file << ": " << r.error().detail;
    EXPECT_EQ(SourceFormatText(**r), format);
    EXPECT_EQ(Grid(**r), kFixtureTable) << file;
    EXPECT_EQ((*r)->Worksheets(1)->Name(), fs::path(file).stem().string());
  }
  // Dates keep the form they were written in.
  auto r = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/text/gbk_comma.csv");
  ASSERT_TRUE(r);
  const Worksheet& ws = *(*r)->Worksheets(1);
  auto format = [&](int row, int col) {
    return ws.styles().NumFmtString(ws.styles().xf(ws.Cells(row, col).style).num_fmt);
  };
  EXPECT_EQ(format(2, 6), "yyyy-mm-dd");
  EXPECT_EQ(format(2, 7), "yyyy/m/d h:mm");
  EXPECT_EQ(format(3, 6), "yyyy\"年\"m\"月\"d\"日\"");
  EXPECT_EQ(format(4, 6), "yyyy/mm/dd");
  EXPECT_EQ(format(4, 7), "yyyy-mm-dd hh:mm:ss");
}

TEST(CsvReader, ATableBeyondTheGridIsRefusedNotCut) {
  std::string rows;
  rows.reserve(2 * (kMaxRows + 1));
  for (int i = 0; i <= kMaxRows; ++i) rows += "1\n";
  auto tall = ReadText(rows, "tall.csv");
  ASSERT_FALSE(tall);
  EXPECT_EQ(tall.error().code, ErrorCode::kTooLarge);
  EXPECT_EQ(ErrorReason(tall.error(), "tall.csv"), "文件太大（超过1048576行）");
  // Empty lines past the last row hold nothing to lose.
  rows.resize(2 * kMaxRows);
  rows += "\n\n\n";
  EXPECT_TRUE(ReadText(rows, "full.csv"));

  auto wide = ReadText(std::string(kMaxCols, ',') + "x\n", "wide.csv");
  ASSERT_FALSE(wide);
  EXPECT_EQ(ErrorReason(wide.error(), "wide.csv"), "文件太大（超过16384列）");
}

TEST(CsvReader, ATextLargerThanTheMemoryBudgetEndsWithNoMemory) {
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "张三,李四,王五,赵六\r\n";
  memory::SetBudgetForTesting(1 << 20);
  auto r = ReadText(big, "big.csv");
  memory::SetBudgetForTesting(0);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
  EXPECT_EQ(memory::InUse(), 0u);
}

TEST(CsvReader, TextUnderAWorkbooksNameIsReadAndOtherContentStillRefused) {
  auto csv = ReadText("名称,数量\r\n苹果,3\r\n", "export.xls");
  ASSERT_TRUE(csv);
  EXPECT_EQ((*csv)->format(), SourceFormat::kCsv);
  EXPECT_EQ(Grid(**csv), (GridT{{"名称", "数量"}, {"苹果", "n:3"}}));
  // An XML document that is no web page is for another reader; binary bytes are no text.
  auto xml = ReadText("<?xml version=\"1.0\"?><Workbook/>", "export.xls");
  ASSERT_FALSE(xml);
  EXPECT_EQ(xml.error().code, ErrorCode::kNotAWorkbook);
  auto binary = ReadText(std::string("\x01\x02\x00\x05", 4), "export.xls");
  ASSERT_FALSE(binary);
  EXPECT_EQ(ErrorReason(binary.error(), "export.xls"),
            "不是Excel工作簿（既不是Excel文件也不是zip压缩包）");
}

// LibreOffice, told each fixture's encoding and separator and a Chinese locale, reads the same
// cells, except where our typing keeps a text that LibreOffice turns into a number, a boolean or
// a formula.
TEST(CsvReaderLibreOffice, FixturesReadAsLibreOfficeReadsThemButForTheTextsWeKeep) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  const fs::path dir = testing::FreshTestFolder("qm_csv_lo");
  // Separator, quote, LibreOffice's number of the character set, first line, column formats,
  // language (2052: zh-CN, whose dates are year first), quoted fields as text, detect dates.
  const std::pair<const char*, const char*> fixtures[] = {
      {"gbk_comma.csv", "44,34,85,1,,2052,false,true"},
      {"utf8_lf.csv", "44,34,76,1,,2052,false,true"},
      {"utf16le_tab.txt", "9,34,65535,1,,2052,false,true"},
      {"semicolon.csv", "59,34,76,1,,2052,false,true"},
  };
  const std::vector<std::string> kept_texts = {"110101199003071234",
                                               "6222020200112233445",
                                               "007",
                                               "-007",
                                               "-12.0",
                                               "=SUM(A1:A2)",
                                               "TRUE",
                                               "50%",
                                               "1,234",
                                               "12.",
                                               "1,5",
                                               "-2,25"};
  std::vector<std::string> kept;
  for (const auto& [file, options] : fixtures) {
    fs::copy_file(fs::path(QM_TEST_DATA) / "text" / file, dir / file);
    const testing::Conversion conv =
        testing::ConvertWithLibreOffice(dir, {file}, "xlsx:Calc MS Excel 2007 XML", "out",
                                        std::string("Text - txt - csv (StarCalc):") + options);
    ASSERT_TRUE(conv.ok) << "LibreOffice could not convert " << file << ":\n" << conv.console;
    auto lo = ReadWorkbookFile((dir / "out" / (fs::path(file).stem().string() + ".xlsx")).string());
    auto ours = ReadWorkbookFile((dir / file).string());
    ASSERT_TRUE(lo && ours) << file;
    const Worksheet& a = *(*ours)->Worksheets(1);
    const Worksheet& b = *(*lo)->Worksheets(1);
    const Range used = a.UsedRange();
    EXPECT_EQ(b.UsedRange(), used) << file;
    for (int r = used.r1; r <= used.r2; ++r) {
      for (int c = used.c1; c <= used.c2; ++c) {
        const CellValue x = a.Cells(r, c), y = b.Cells(r, c);
        const std::string at =
            std::string(file) + " (" + std::to_string(r) + "," + std::to_string(c) + ")";
        if (x.IsText() && !y.IsText() && !y.IsBlank()) {
          // A text we keep: it must be one of those the typing rules name.
          EXPECT_NE(std::find(kept_texts.begin(), kept_texts.end(), x.text), kept_texts.end())
              << at << ": LibreOffice made a number of \"" << x.text << "\"";
          continue;
        }
        ASSERT_EQ(x.type, y.type) << at;
        if (x.IsText()) {
          EXPECT_EQ(x.text, y.text) << at;
        }
        if (x.IsNumber()) {
          EXPECT_NEAR(x.number, y.number, 1e-9 * std::max(1.0, std::fabs(x.number))) << at;
          EXPECT_EQ(x.is_date, y.is_date) << at;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qm
