// The .xls and .xlsx writers: the record structure of our BIFF8 stream, other readers (xlrd,
// LibreOffice) seeing what we meant, saving through temporary files, and round trips through our
// own readers (skipped while a reader reports that it is not available).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "container_parts.h"
#include "corpus_util.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/paths.h"
#include "workbook/value_text.h"
#include "workbook/workbook.h"
#include "workbook/xls/biff_out.h"
#include "workbook/xls/xls.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ =
        fs::temp_directory_path() / ("qm-writers-" + std::to_string(::qm::testing::ProcessId()) +
                                     "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  // UTF-8, as the program takes names (a plain char path is the ANSI code page on Windows).
  std::string operator/(const std::string& name) const {
    return PathToUtf8(path_ / PathFromUtf8(name));
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

using testing::Shell;

std::string Repeat(std::string_view s, int n) {
  std::string o;
  for (int i = 0; i < n; ++i) o += s;
  return o;
}

// Random mixes of CJK, Latin and a few characters outside the BMP; enough of them that the
// shared string table runs over many CONTINUE records with breaks at every kind of place.
std::vector<std::string> MixedStrings(int count, uint32_t seed) {
  static const char* pieces[] = {"汉", "字", "表格", "a", "Z", "é", "ß", " ", "😀", "合并", "9"};
  std::mt19937 gen(seed);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    int len = 1 + static_cast<int>(gen() % 60);
    bool latin = gen() % 3 == 0;
    std::string s;
    for (int k = 0; k < len; ++k) s += pieces[latin ? 3 + gen() % 5 : gen() % 11];
    out.push_back(s + "#" + std::to_string(i));
  }
  return out;
}

struct Sample {
  Workbook wb;
  uint16_t bold = 0, date = 0, fill = 0, pct = 0;
  std::vector<std::string> texts;
};

// A workbook exercising every kind of content the writers handle. Row 1 holds a header; the
// mixed strings sit in column 1 from row 10; long strings in column 2.
std::unique_ptr<Sample> MakeSample(bool date1904 = false) {
  auto s = std::make_unique<Sample>();
  StyleTable& st = s->wb.styles();
  st.date1904 = date1904;
  s->bold = st.AddXf(Xf{.font = st.AddFont(Font{.bold = true, .color = Rgb(0x1F4E79)})});
  s->date = st.AddXf(Xf{.num_fmt = st.AddNumFmt("yyyy-mm-dd")});
  s->pct = st.AddXf(Xf{.num_fmt = st.AddNumFmt("0.000%")});
  Xf fx;
  fx.fill = st.AddFill(Fill{1, Rgb(0xFFC7CE), kAutoColor});
  fx.border = st.AddBorder(Border{.bottom = {2, Rgb(0xFF0000)}});
  fx.align.horizontal = 2;
  fx.align.wrap = true;
  s->fill = st.AddXf(fx);

  Worksheet& ws = s->wb.AddWorksheet("数据表");
  (void)ws.SetText(1, 1, "名称", s->bold);
  (void)ws.SetText(1, 2, "Amount", s->bold);
  (void)ws.SetText(1, 3, "日期", s->bold);
  const double numbers[] = {0,     1,         -7,        12.34,  0.1 + 0.2,        1e300,
                            -1e-5, 536870911, 536870912, 4.5e15, 123456789.123456, -0.5};
  for (int i = 0; i < 12; ++i) (void)ws.SetNumber(2 + i / 4, 4 + i % 4, numbers[i]);
  (void)ws.SetNumber(2, 3, 45000, s->date);
  (void)ws.SetNumber(3, 3, 45000.75, s->date);
  (void)ws.SetNumber(4, 3, 0.125, s->pct);
  (void)ws.SetBool(5, 1, true);
  (void)ws.SetBool(5, 2, false);
  (void)ws.SetError(5, 3, 0x07);
  (void)ws.SetError(5, 4, 0x2A);
  (void)ws.SetText(6, 1, "");
  (void)ws.SetText(6, 2, "a<b & \"c\" _x0041_ \x01 end ");
  (void)ws.SetText(6, 3, "  leading and trailing  ");
  (void)ws.SetText(6, 4, "line one\r\nline two\rthree\ttab");
  // Format-only blanks, adjacent (one MULBLANK) and alone.
  (void)ws.SetStyle(7, 1, s->fill);
  (void)ws.SetStyle(7, 2, s->fill);
  (void)ws.SetStyle(7, 3, s->bold);
  (void)ws.SetStyle(7, 6, s->fill);
  (void)ws.SetText(8, 1, "with fill", s->fill);
  (void)ws.SetNumber(8, 2, 3);
  (void)ws.SetFormula(8, 2, "1+2");
  (void)ws.SetText(8, 3, "abc");  // a text result needs a STRING record after the formula
  (void)ws.SetFormula(8, 3, "\"ab\"&\"c\"");
  (void)ws.SetBool(8, 4, true);
  (void)ws.SetFormula(8, 4, "1<2");

  s->texts = MixedStrings(3000, 7);
  for (size_t i = 0; i < s->texts.size(); ++i)
    (void)ws.SetText(10 + static_cast<int>(i), 1, s->texts[i]);
  (void)ws.SetText(10, 2, Repeat("长", 20000));     // UTF-16 across three CONTINUE records
  (void)ws.SetText(11, 2, Repeat("latin-", 3000));  // 8-bit across two
  (void)ws.SetText(12, 2, Repeat("😀", 5000));       // surrogate pairs across records
  (void)ws.SetText(13, 2, Repeat("汉a", 4111));     // a string ending right at a record boundary
  (void)ws.SetText(14, 2, s->texts[5]);             // a repeat of an earlier string

  ws.SetColumnWidth(1, 30);
  ws.SetColumnWidth(2, 12.5);
  ws.SetColumnWidth(3, 12.5);
  ws.SetRowHeight(1, 24);
  ws.AddMerge({1, 8, 2, 9});
  // More merged ranges than one record holds.
  for (int i = 0; i < 1100; ++i) ws.AddMerge({10 + 2 * i, 5, 11 + 2 * i, 6});

  Worksheet& second = s->wb.AddWorksheet("Second");
  (void)second.SetText(1, 1, "second sheet");
  (void)second.SetNumber(2, 1, 42);
  return s;
}

// ---------------------------------------------------------------------------------------------
// The BIFF8 stream, checked record by record.

using testing::WorkbookStream;

struct Rec {
  uint16_t id;
  size_t pos;  // of the header
  std::vector<uint8_t> data;
};

std::vector<Rec> Records(const std::vector<uint8_t>& s) {
  std::vector<Rec> out;
  size_t p = 0;
  while (p + 4 <= s.size()) {
    uint16_t id = s[p] | s[p + 1] << 8;
    uint16_t len = s[p + 2] | s[p + 3] << 8;
    if (id == 0 && len == 0) break;  // the zero padding at the end
    out.push_back({id, p, std::vector<uint8_t>(s.begin() + p + 4, s.begin() + p + 4 + len)});
    p += 4 + len;
  }
  return out;
}

uint32_t U32(const std::vector<uint8_t>& d, size_t o) {
  return d[o] | d[o + 1] << 8 | d[o + 2] << 16 | static_cast<uint32_t>(d[o + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& d, size_t o) {
  return static_cast<uint16_t>(d[o] | d[o + 1] << 8);
}

// Decodes the SST strictly: a string header and its first character always share a record, a
// CONTINUE that goes on with characters starts with the grbit byte, and no UTF-16 unit is split.
std::vector<std::u16string> StrictSst(const std::vector<Rec>& recs, size_t sst, std::string* why) {
  std::vector<std::u16string> out;
  uint32_t unique = U32(recs[sst].data, 4);
  size_t r = sst, o = 8;
  auto next_record = [&]() {
    ++r;
    o = 0;
    return r < recs.size() && recs[r].id == 0x003C;
  };
  for (uint32_t i = 0; i < unique; ++i) {
    if (o == recs[r].data.size() && !next_record()) return *why = "SST ends early", out;
    const auto& d = recs[r].data;
    if (o + 3 > d.size()) return *why = "string header split at string " + std::to_string(i), out;
    uint16_t cch = U16(d, o);
    bool wide = d[o + 2] & 1;
    if (d[o + 2] & ~1) return *why = "unexpected string flags", out;
    o += 3;
    if (cch && o + (wide ? 2 : 1) > d.size())
      return *why = "header without its first character at string " + std::to_string(i), out;
    std::u16string s;
    while (s.size() < cch) {
      const auto& dd = recs[r].data;
      if (o == dd.size()) {
        if (!s.empty() && s.back() >= 0xD800 && s.back() < 0xDC00)
          return *why = "surrogate pair split across records", out;
        if (!next_record()) return *why = "string runs past the SST", out;
        wide = recs[r].data[o++] & 1;
        continue;
      }
      if (wide) {
        if (o + 2 > dd.size()) return *why = "UTF-16 unit split", out;
        s += static_cast<char16_t>(U16(dd, o));
        o += 2;
      } else {
        s += static_cast<char16_t>(dd[o++]);
      }
    }
    out.push_back(std::move(s));
  }
  return out;
}

// The first sheet's INDEX points at DBCELLs, each DBCELL points back at its first ROW and at
// the first cell of every row.
void ExpectIndexAndDbcellsConsistent(const std::vector<Rec>& recs, size_t want_blocks) {
  std::map<size_t, size_t> at;
  for (size_t i = 0; i < recs.size(); ++i) at[recs[i].pos] = i;
  size_t bof1 = 0;
  for (size_t i = 1; i < recs.size(); ++i)
    if (recs[i].id == 0x0809) {
      bof1 = i;
      break;
    }
  const Rec& index = recs[bof1 + 1];
  ASSERT_EQ(index.id, 0x020B);
  size_t nblocks = (index.data.size() - 16) / 4;
  EXPECT_EQ(nblocks, want_blocks);
  ASSERT_TRUE(at.count(U32(index.data, 12)));
  EXPECT_EQ(recs[at[U32(index.data, 12)]].id, 0x0055);  // DEFCOLWIDTH
  for (size_t b = 0; b < nblocks; ++b) {
    size_t dbpos = U32(index.data, 16 + 4 * b);
    ASSERT_TRUE(at.count(dbpos)) << "block " << b;
    const Rec& db = recs[at[dbpos]];
    ASSERT_EQ(db.id, 0x00D7);
    size_t first_row = dbpos - U32(db.data, 0);
    ASSERT_TRUE(at.count(first_row));
    EXPECT_EQ(recs[at[first_row]].id, 0x0208);
    size_t cell = first_row + 20;
    for (size_t k = 4; k + 2 <= db.data.size(); k += 2) {
      cell += U16(db.data, k);
      ASSERT_TRUE(at.count(cell)) << "block " << b;
      uint16_t id = recs[at[cell]].id;
      EXPECT_TRUE(id != 0x0208 && id != 0x00D7) << std::hex << id;
    }
  }
}

TEST(XlsWriter, RecordStructureSstIndexDbcellMergesAndSizeLimits) {
  TempDir dir;
  auto s = MakeSample();
  std::string path = dir / "sample.xls";
  ASSERT_TRUE(xls::Write(s->wb, path).ok());
  std::vector<uint8_t> stream = WorkbookStream(path);
  ASSERT_GE(stream.size(), 4096u);
  std::vector<Rec> recs = Records(stream);
  std::map<size_t, size_t> at;  // stream position -> record number
  for (size_t i = 0; i < recs.size(); ++i) {
    at[recs[i].pos] = i;
    EXPECT_LE(recs[i].data.size(), 8224u) << "record " << std::hex << recs[i].id;
  }
  // Globals: BOUNDSHEET offsets land on the sheets' BOF records.
  int sheets = 0, fonts = 0;
  size_t sst = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    if (recs[i].id == 0x0031) ++fonts;
    if (recs[i].id == 0x00FC) sst = i;
    if (recs[i].id == 0x0085) {
      ++sheets;
      size_t bof = U32(recs[i].data, 0);
      ASSERT_TRUE(at.count(bof));
      EXPECT_EQ(recs[at[bof]].id, 0x0809);
      EXPECT_EQ(U16(recs[at[bof]].data, 2), 0x0010);
    }
  }
  EXPECT_EQ(sheets, 2);
  EXPECT_EQ(fonts, 5);  // four copies of the default font, then the bold one at index 5
  ASSERT_NE(sst, 0u);

  std::string why;
  std::vector<std::u16string> strings = StrictSst(recs, sst, &why);
  EXPECT_EQ(why, "");
  ASSERT_GT(strings.size(), 3000u);
  EXPECT_EQ(strings[1], u"Amount");
  size_t continues = 0;
  for (size_t i = sst + 1; i < recs.size() && recs[i].id == 0x003C; ++i) ++continues;
  EXPECT_GT(continues, 10u);

  // EXTSST buckets point at string starts inside the SST records.
  const Rec& ext = recs[sst + continues + 1];
  ASSERT_EQ(ext.id, 0x00FF);
  for (size_t b = 2; b + 8 <= ext.data.size(); b += 8) {
    uint32_t abs = U32(ext.data, b);
    uint16_t within = U16(ext.data, b + 4);
    auto it = at.upper_bound(abs);
    --it;
    EXPECT_EQ(abs - it->first, within);
  }

  ExpectIndexAndDbcellsConsistent(recs, (3008u + 31) / 32);  // rows 1-8 and 10-3009
  // 1,101 merged ranges need two records.
  int merge_records = 0;
  size_t merged = 0;
  for (const Rec& r : recs)
    if (r.id == 0x00E5) ++merge_records, merged += U16(r.data, 0);
  EXPECT_EQ(merge_records, 2);
  EXPECT_EQ(merged, 1101u);
}

TEST(XlsWriter, SheetLargerThanTheSpillThresholdKeepsIndexAndDbcellPointers) {
  // About 1.8 MB of number records against a 256 KB threshold: most of the sheet passes
  // through the temporary file.
  struct Threshold {
    size_t saved = xls::spill_threshold;
    Threshold() { xls::spill_threshold = 256 * 1024; }
    ~Threshold() { xls::spill_threshold = saved; }
  } lowered;
  TempDir dir;
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  for (int r = 1; r <= 20000; ++r)
    for (int c = 1; c <= 5; ++c) ws.AppendNumber(r, c, r * 0.37 + c / 3.0, 0);
  (void)wb.AddWorksheet("T").SetText(1, 1, "after");
  ASSERT_TRUE(xls::Write(wb, dir / "big.xls").ok());
  std::vector<Rec> recs = Records(WorkbookStream(dir / "big.xls"));
  ExpectIndexAndDbcellsConsistent(recs, 20000 / 32);
  size_t numbers = 0;
  for (const Rec& r : recs) {
    if (r.id == 0x0203 || r.id == 0x027E) ++numbers;         // NUMBER, RK
    if (r.id == 0x00BD) numbers += (r.data.size() - 6) / 6;  // MULRK
  }
  EXPECT_EQ(numbers, 100000u);
  EXPECT_EQ(recs.back().id, 0x000A);
}

TEST(XlsWriter, SurrogatePairIsNotSplitAcrossContinueRecords) {
  // One Latin letter first puts the record boundary between the halves of an emoji.
  TempDir dir;
  Workbook wb;
  (void)wb.AddWorksheet("S").SetText(1, 1, "a" + Repeat("😀", 5000));
  ASSERT_TRUE(xls::Write(wb, dir / "pairs.xls").ok());
  std::vector<Rec> recs = Records(WorkbookStream(dir / "pairs.xls"));
  size_t sst = 0;
  while (sst < recs.size() && recs[sst].id != 0x00FC) ++sst;
  ASSERT_LT(sst, recs.size());
  std::string why;
  auto strings = StrictSst(recs, sst, &why);
  EXPECT_EQ(why, "");
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0].size(), 10001u);
}

// ---------------------------------------------------------------------------------------------
// The .xlsx package, read part by part with an independent zip reader.

using testing::PackageParts;

// A formula over the 8,192-character limit went into the package as it was, which spreadsheet
// programs repair by dropping it; now the cell keeps only its cached value.
TEST(XlsxWriter, FormulaOverTheLengthLimitKeepsOnlyItsCachedValue) {
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  std::string at_limit = "1" + Repeat("+1", 4095);  // 8,191 characters
  std::string over = at_limit + "+1";               // 8,193
  (void)ws.SetNumber(1, 1, 4096);
  ASSERT_TRUE(ws.SetFormula(1, 1, at_limit).ok());
  (void)ws.SetNumber(2, 1, 4097);
  ASSERT_TRUE(ws.SetFormula(2, 1, over).ok());
  TempDir dir;
  ASSERT_TRUE(SaveWorkbookFile(wb, dir / "long.xlsx").ok());
  const std::string sheet = PackageParts(dir / "long.xlsx")["xl/worksheets/sheet1.xml"];
  EXPECT_NE(sheet.find("<c r=\"A1\"><f>" + at_limit + "</f><v>4096</v></c>"), std::string::npos);
  EXPECT_NE(sheet.find("<c r=\"A2\"><v>4097</v></c>"), std::string::npos);
}

TEST(XlsxWriter, PackagePartsEscapingCarriageReturnsContentTypeAndSheetNames) {
  TempDir dir;
  auto s = MakeSample(true);
  s->wb.Worksheets(2)->SetName("一个超过三十一个字符的非常非常长的工作表名称用来测试截断是否正确");
  auto saved = SaveWorkbookFile(s->wb, dir / "p.xlsm");
  ASSERT_TRUE(saved.ok());
  auto parts = PackageParts(saved->path);
  for (const char* name : {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml",
                           "xl/_rels/workbook.xml.rels", "xl/styles.xml", "xl/sharedStrings.xml",
                           "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"})
    EXPECT_TRUE(parts.count(name)) << name;
  EXPECT_NE(parts["[Content_Types].xml"].find("sheet.macroEnabled.main+xml"), std::string::npos);
  const std::string& book = parts["xl/workbook.xml"];
  EXPECT_NE(book.find("date1904=\"1\""), std::string::npos);
  EXPECT_NE(book.find("fullCalcOnLoad=\"1\""), std::string::npos);
  EXPECT_NE(book.find("name=\"一个超过三十一个字符的非常非常长的工作表名称用来测试截断是否正\""),
            std::string::npos)
      << book;
  const std::string& sst = parts["xl/sharedStrings.xml"];
  EXPECT_NE(sst.find("a&lt;b &amp; &quot;c&quot; _x005F_x0041_ _x0001_ end "), std::string::npos);
  EXPECT_NE(sst.find("<t xml:space=\"preserve\">  leading and trailing  </t>"), std::string::npos);
  // A raw CR would come back as LF from any XML parser.
  EXPECT_NE(sst.find("line one_x000D_\nline two_x000D_three\ttab"), std::string::npos);
  const std::string& sheet = parts["xl/worksheets/sheet1.xml"];
  EXPECT_NE(sheet.find("<c r=\"B8\"><f>1+2</f><v>3</v></c>"), std::string::npos);
  EXPECT_NE(sheet.find("<mergeCell ref=\"H1:I2\"/>"), std::string::npos);
  EXPECT_NE(sheet.find("<col min=\"2\" max=\"3\" width=\"12.5\" customWidth=\"1\"/>"),
            std::string::npos);
  EXPECT_NE(sheet.find("<row r=\"1\" ht=\"24\" customHeight=\"1\">"), std::string::npos);
  // The sheet went through several deflated pieces and still reads whole.
  EXPECT_EQ(sheet.substr(sheet.size() - 12), "</worksheet>");
}

// ---------------------------------------------------------------------------------------------
// Other readers.

const char* kPython = "/usr/bin/python3";

nlohmann::json XlrdDump(const std::string& path) {
  std::string out =
      Shell(std::string(kPython) + " " + QM_SOURCE_DIR + "/tools/xlrd_dump.py '" + path + "' 2>&1");
  nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << out.substr(0, 2000);
  return j;
}

bool HavePythonModule(const char* module) {
  int st = 0;
  Shell(std::string(kPython) + " -c 'import " + module + "' 2>/dev/null", &st);
  return st == 0;
}

// What xlrd (.xls) or openpyxl (.xlsx) reads from our file, cell by cell, against the model.
void ExpectIndependentReaderAgrees(const char* ext, const char* module) {
  if (!HavePythonModule(module)) {
    SKIP_WITHOUT_CHECKER("python3-" + std::string(module) + " is not installed");
  }
  for (bool d1904 : {false, true}) {
    SCOPED_TRACE(d1904 ? "1904" : "1900");
    TempDir dir;
    auto s = MakeSample(d1904);
    std::string path = dir / ("sample" + std::string(ext));
    auto saved = SaveWorkbookFile(s->wb, path);
    ASSERT_TRUE(saved.ok());
    nlohmann::json j = XlrdDump(path);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["datemode"], d1904 ? 1 : 0);
    ASSERT_EQ(j["sheets"].size(), 2u);
    const auto& sh = j["sheets"][0];
    EXPECT_EQ(sh["name"], "数据表");
    const Worksheet& ws = *s->wb.Worksheets(1);
    size_t seen = 0, blanks = 0;
    for (const auto& c : sh["cells"]) {
      int r = c[0], col = c[1];
      std::string type = c[2];
      CellValue want = ws.Cells(r, col);
      SCOPED_TRACE("cell " + std::to_string(r) + "," + std::to_string(col));
      EXPECT_EQ(c[4].get<bool>(), want.style == s->bold) << "bold font";
      EXPECT_EQ(c[6].get<std::string>(), want.style == s->fill ? "FFC7CE" : "") << "fill";
      if (type == "blank") {
        EXPECT_TRUE(want.IsBlank());
        EXPECT_NE(want.style, 0);
        ++blanks;
        continue;
      }
      ++seen;
      switch (want.type) {
        case CellType::kNumber:
          EXPECT_EQ(type, want.is_date ? "date" : "number");
          EXPECT_EQ(c[3].get<double>(), want.number);
          if (want.style == s->pct) {
            EXPECT_EQ(c[5], "0.000%");
          }
          break;
        case CellType::kText: {
          EXPECT_EQ(type, "text");
          std::string expect(want.text);
          // openpyxl decodes the _x005F_ escape but leaves those of control characters as they
          // are written (Excel decodes both).
          if (std::string(ext) == ".xlsx") {
            for (size_t p; (p = expect.find('\x01')) != std::string::npos;)
              expect.replace(p, 1, "_x0001_");
            for (size_t p; (p = expect.find('\r')) != std::string::npos;)
              expect.replace(p, 1, "_x000D_");
          }
          EXPECT_EQ(c[3].get<std::string>(), expect);
          break;
        }
        case CellType::kBool:
          EXPECT_EQ(type, "bool");
          EXPECT_EQ(c[3].get<double>(), want.number);
          break;
        case CellType::kError:
          EXPECT_EQ(type, "error");
          EXPECT_EQ(c[3].get<std::string>(), ErrorText(want.error));
          break;
        case CellType::kBlank:
          ADD_FAILURE() << "the reader sees a value we did not write";
      }
    }
    EXPECT_EQ(seen, ws.CellCount() - 4);
    EXPECT_EQ(blanks, 4u);
    EXPECT_EQ(sh["merged"].size(), 1101u);
    EXPECT_EQ(sh["merged"][0], nlohmann::json::parse("[1,8,2,9]"));
    EXPECT_EQ(sh["widths"]["1"], 30 * 256);
    EXPECT_EQ(sh["widths"]["2"], 3200);
    EXPECT_EQ(j["sheets"][1]["cells"][1][3], 42);
  }
}

TEST(Interop, XlrdReadsOurXlsValuesDatesBoldFillsMergesAndWidths) {
  ExpectIndependentReaderAgrees(".xls", "xlrd");
}

TEST(Interop, OpenpyxlReadsOurXlsxValuesDatesBoldFillsMergesAndWidths) {
  ExpectIndependentReaderAgrees(".xlsx", "openpyxl");
}

TEST(Interop, BoolWithANumberPayloadStaysTrueAndNonFiniteNumbersBecomeNumErrors) {
  if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-xlrd or python3-openpyxl is not installed");
  }
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  Cell b{};
  b.number = 1.0;  // a reader may leave the value in number form
  b.col = 1;
  b.type = static_cast<uint32_t>(CellType::kBool);
  ws.AppendCell(1, b);
  (void)ws.SetNumber(1, 2, std::numeric_limits<double>::infinity());
  (void)ws.SetNumber(1, 3, std::nan(""));
  TempDir dir;
  for (const char* name : {"nf.xls", "nf.xlsx"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(SaveWorkbookFile(wb, dir / name).ok());
    nlohmann::json j = XlrdDump(dir / name);
    ASSERT_TRUE(j.is_object());
    const auto& cells = j["sheets"][0]["cells"];
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0][2], "bool");
    EXPECT_EQ(cells[0][3], 1);
    EXPECT_EQ(cells[1][2], "error");
    EXPECT_EQ(cells[1][3], "#NUM!");
    EXPECT_EQ(cells[2][3], "#NUM!");
  }
}

// East Asian built-in date formats (ids 27-36, 50-58) are unknown to readers of other locales:
// undefined, a merged Chinese date ("yyyy"年"m"月"d"日"" maps to id 31) came out as a bare
// serial number in openpyxl and without a format in xlrd.
TEST(Interop, EastAsianBuiltinDateFormatsAreWrittenOutSoEveryReaderSeesDates) {
  if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-xlrd or python3-openpyxl is not installed");
  }
  Workbook wb;
  StyleTable& st = wb.styles();
  Worksheet& ws = wb.AddWorksheet("S");
  const uint16_t ids[] = {st.AddNumFmt("yyyy\"年\"m\"月\"d\"日\""), 32, 57};
  EXPECT_EQ(ids[0], 31);
  for (int i = 0; i < 3; ++i)
    (void)ws.SetNumber(1, i + 1, 45000.5, st.AddXf(Xf{.num_fmt = ids[i]}));
  // A dangling custom id falls back to General instead of a reference readers must repair.
  (void)ws.SetNumber(1, 4, 7, st.AddXf(Xf{.num_fmt = 200}));
  TempDir dir;
  for (const char* name : {"cjk.xls", "cjk.xlsx"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(SaveWorkbookFile(wb, dir / name).ok());
    nlohmann::json j = XlrdDump(dir / name);
    ASSERT_TRUE(j.is_object());
    const auto& cells = j["sheets"][0]["cells"];
    ASSERT_EQ(cells.size(), 4u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(cells[i][2], "date");
      EXPECT_EQ(cells[i][5], st.NumFmtString(ids[i]));
    }
    EXPECT_EQ(cells[3][2], "number");
    EXPECT_EQ(cells[3][5], "General");
    auto back = ReadWorkbookFile(dir / name);
    ASSERT_TRUE(back.ok());
    CellValue v = (*back)->Worksheets(1)->Cells(1, 1);
    EXPECT_TRUE(v.is_date);
    EXPECT_EQ((*back)->styles().NumFmtString((*back)->styles().xf(v.style).num_fmt),
              "yyyy\"年\"m\"月\"d\"日\"");
  }
}

// .xls fonts may carry any byte as their family; written as is, openpyxl refused the package
// ("Max value is 14") and the schema forbids it.
TEST(Interop, FontFamilyOutsideTheXlsxRangeIsLeftOut) {
  if (!HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-openpyxl is not installed");
  }
  Workbook wb;
  StyleTable& st = wb.styles();
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetText(1, 1, "odd",
                   st.AddXf(Xf{.font = st.AddFont(Font{.name = "Arial", .family = 107})}));
  (void)ws.SetText(1, 2, "swiss",
                   st.AddXf(Xf{.font = st.AddFont(Font{.name = "Arial", .family = 2})}));
  TempDir dir;
  ASSERT_TRUE(SaveWorkbookFile(wb, dir / "family.xlsx").ok());
  nlohmann::json j = XlrdDump(dir / "family.xlsx");
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["sheets"][0]["cells"].size(), 2u);
  EXPECT_NE(PackageParts(dir / "family.xlsx")["xl/styles.xml"].find("<family val=\"2\"/>"),
            std::string::npos);
}

TEST(Interop, OverlappingMergedRangesAreLeftOutAndReported) {
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetText(1, 1, "a");
  ws.AddMerge({1, 1, 2, 2});
  ws.AddMerge({2, 2, 3, 3});  // overlaps the first
  ws.AddMerge({5, 1, 6, 1});
  ws.AddMerge({1, 3, 9000, 3});  // large, overlaps nothing
  ws.AddMerge({8, 1, 8, 5});     // crosses the large one
  TempDir dir;
  for (const char* name : {"m.xls", "m.xlsx"}) {
    SCOPED_TRACE(name);
    auto saved = SaveWorkbookFile(wb, dir / name);
    ASSERT_TRUE(saved.ok());
    ASSERT_EQ(saved->warnings.size(), 1u);
    EXPECT_EQ(saved->warnings[0].rfind("2个合并单元格区域", 0), 0u) << saved->warnings[0];
    if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
      if (testing::CheckersRequired())
        ADD_FAILURE() << "python3-xlrd or python3-openpyxl is not installed";
      continue;
    }
    nlohmann::json j = XlrdDump(dir / name);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["sheets"][0]["merged"],
              nlohmann::json::parse("[[1,1,2,2],[5,1,6,1],[1,3,9000,3]]"));
  }
}

TEST(Interop, SheetNamesAreMadeValidAndUniqueAndAnEmptyWorkbookGetsOneSheet) {
  if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-xlrd or python3-openpyxl is not installed");
  }
  Workbook wb;
  const std::string long_name = Repeat("长", 40);
  for (const std::string& n : {std::string("a/b"), std::string("A_b"), std::string("'quoted'"),
                               std::string(""), long_name, long_name})
    (void)wb.AddWorksheet(n).SetNumber(1, 1, 1);
  const std::vector<std::string> want = {"a_b",    "A_b (2)",        "quoted",
                                         "Sheet4", Repeat("长", 31), Repeat("长", 27) + " (2)"};
  TempDir dir;
  for (const char* name : {"n.xls", "n.xlsx"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(SaveWorkbookFile(wb, dir / name).ok());
    nlohmann::json j = XlrdDump(dir / name);
    ASSERT_TRUE(j.is_object());
    std::vector<std::string> got;
    for (const auto& sh : j["sheets"]) got.push_back(sh["name"]);
    EXPECT_EQ(got, want);
    // A workbook without sheets still makes a file the programs open: one empty sheet.
    Workbook empty;
    ASSERT_TRUE(SaveWorkbookFile(empty, dir / ("e" + std::string(name))).ok());
    nlohmann::json e = XlrdDump(dir / ("e" + std::string(name)));
    ASSERT_TRUE(e.is_object());
    ASSERT_EQ(e["sheets"].size(), 1u);
    EXPECT_EQ(e["sheets"][0]["name"], "Sheet1");
  }
}

// A branch workbook may keep its raw data on a hidden first sheet; both formats keep the mark
// through our reader and writer, and other programs see it as we do.
TEST(Interop, HiddenSheetsStayHiddenAndAllHiddenStillLeavesOneToShow) {
  if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-xlrd or python3-openpyxl is not installed");
  }
  Workbook wb;
  Worksheet& raw = wb.AddWorksheet("原始数据");
  raw.SetHidden(true);
  (void)raw.SetNumber(1, 1, 1);
  (void)wb.AddWorksheet("三月").SetNumber(1, 1, 2);
  Workbook all_hidden;
  (void)all_hidden.AddWorksheet("甲").SetNumber(1, 1, 1);
  all_hidden.Worksheets(1)->SetHidden(true);
  TempDir dir;
  for (const char* ext : {".xls", ".xlsx"}) {
    SCOPED_TRACE(ext);
    const std::string path = dir / ("h" + std::string(ext));
    ASSERT_TRUE(SaveWorkbookFile(wb, path).ok());
    nlohmann::json j = XlrdDump(path);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["sheets"][0]["hidden"], true);
    EXPECT_EQ(j["sheets"][1]["hidden"], false);
    auto back = ReadWorkbookFile(path);
    ASSERT_TRUE(back.ok());
    EXPECT_TRUE((*back)->Worksheets(1)->IsHidden());
    EXPECT_FALSE((*back)->Worksheets(2)->IsHidden());

    const std::string lone = dir / ("a" + std::string(ext));
    ASSERT_TRUE(SaveWorkbookFile(all_hidden, lone).ok());
    nlohmann::json a = XlrdDump(lone);
    ASSERT_TRUE(a.is_object());
    EXPECT_EQ(a["sheets"][0]["hidden"], false);
  }
}

TEST(Interop, InvalidUtf8BecomesReplacementCharactersInsteadOfABrokenFile) {
  if (!HavePythonModule("xlrd") || !HavePythonModule("openpyxl")) {
    SKIP_WITHOUT_CHECKER("python3-xlrd or python3-openpyxl is not installed");
  }
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetText(1, 1,
                   "a\xFF"
                   "b\xED\xA0\x80"
                   "c\xE6\xB1");  // stray byte, surrogate, cut short
  (void)ws.SetText(2, 1, "fine 汉字");
  TempDir dir;
  for (const char* name : {"u.xls", "u.xlsx"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(SaveWorkbookFile(wb, dir / name).ok());
    nlohmann::json j = XlrdDump(dir / name);
    ASSERT_TRUE(j.is_object());
    const auto& cells = j["sheets"][0]["cells"];
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0][3], "a\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFD\uFFFD");
    EXPECT_EQ(cells[1][3], "fine 汉字");
  }
}

std::vector<std::string> CsvLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

TEST(Interop, LibreOfficeConvertsBothFormatsWithTheSameValuesAndNoWarning) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  TempDir dir;
  Workbook wb;
  StyleTable& st = wb.styles();
  uint16_t bold = st.AddXf(Xf{.font = st.AddFont(Font{.bold = true})});
  Worksheet& ws = wb.AddWorksheet("结果");
  (void)ws.SetText(1, 1, "名称", bold);
  (void)ws.SetText(1, 2, "数量");
  (void)ws.SetText(1, 3, "x");
  (void)ws.SetText(2, 1, "苹果, \"红\"");
  (void)ws.SetNumber(2, 2, 12.5);
  (void)ws.SetNumber(2, 3, 3);
  (void)ws.SetFormula(2, 3, "B2-9.5");
  (void)ws.SetText(3, 1, Repeat("长文本", 3000));
  (void)ws.SetNumber(3, 2, -4);
  (void)ws.SetError(3, 3, 0x07);
  ws.AddMerge({5, 1, 5, 3});
  (void)ws.SetText(5, 1, "merged");
  ASSERT_TRUE(xls::Write(wb, dir / "r1.xls").ok());
  ASSERT_TRUE(xlsx::Write(wb, dir / "r2.xlsx").ok());
  testing::Conversion conv = testing::ConvertWithLibreOffice(
      dir.path(), {"r1.xls", "r2.xlsx"}, "csv:Text - txt - csv (StarCalc):44,34,76");
  ASSERT_TRUE(conv.ok) << "LibreOffice could not convert:\n" << conv.console;
  // Only the successful attempt's lines are judged below.
  std::string console = conv.console.substr(conv.console.rfind("--- attempt"));
  std::vector<std::string> want = {"名称,数量,x", "\"苹果, \"\"红\"\"\",12.5,3",
                                   Repeat("长文本", 3000) + ",-4,#DIV/0!", ",,", "merged,,"};
  for (const char* name : {"r1", "r2"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CsvLines(dir / ("out/" + std::string(name) + ".csv")), want) << console;
  }
  // Anything beyond the conversion lines and the sandbox's missing Java is a complaint.
  std::istringstream lines(console);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("convert ", 0) == 0 || line.rfind("--- attempt", 0) == 0 ||
        line.find("javaldx") != std::string::npos || line.empty())
      continue;
    ADD_FAILURE() << "LibreOffice said: " << line;
  }
}

// ---------------------------------------------------------------------------------------------
// Saving.

TEST(SaveWorkbookFile, XlsNameIsAlwaysBiff8AndReplacesTheOldFileWithoutLeftovers) {
  TempDir dir;
  std::string path = dir / "结果.xls";
  { std::ofstream(PathFromUtf8(path)) << "old content"; }
  Workbook wb;
  (void)wb.AddWorksheet("S").SetNumber(1, 1, 1);
  auto r = SaveWorkbookFile(wb, path);
  ASSERT_TRUE(r.ok()) << r.error().detail;
  EXPECT_EQ(r->path, path);
  EXPECT_FALSE(r->switched_to_xlsx);
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  EXPECT_EQ(std::string(magic, 4), std::string("\xD0\xCF\x11\xE0", 4));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(SaveWorkbookFile, OverTheXlsGridWritesXlsxUnderTheSameBaseName) {
  TempDir dir;
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetNumber(1, 1, 1);
  (void)ws.SetNumber(1, 257, 2);
  auto r = SaveWorkbookFile(wb, dir / "big.xls");
  ASSERT_TRUE(r.ok()) << r.error().detail;
  EXPECT_TRUE(r->switched_to_xlsx);
  EXPECT_EQ(r->path, dir / "big.xlsx");
  EXPECT_FALSE(fs::exists(dir / "big.xls"));
  std::ifstream in(r->path, std::ios::binary);
  char magic[2] = {};
  in.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "PK");
  // Called directly, the .xls writer refuses rather than dropping cells.
  auto st = xls::Write(wb, dir / "direct.xls");
  EXPECT_EQ(st.error().code, ErrorCode::kInvalidArgument);
}

TEST(SaveWorkbookFile, FailureNamesThePathAndLeavesNothingBehind) {
  TempDir dir;
  Workbook wb;
  (void)wb.AddWorksheet("S").SetNumber(1, 1, 1);
  fs::create_directories(dir / "taken.xlsx");  // a folder where the file should go
  auto r = SaveWorkbookFile(wb, dir / "taken.xlsx");
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().detail.find("taken.xlsx"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  auto missing = SaveWorkbookFile(wb, dir / "no-such-folder/x.xls");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::kMissing);
}

TEST(SaveWorkbookFile, TextOverTheCellLimitIsCutAndReported) {
  TempDir dir;
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetText(1, 1, Repeat("字", 40000));
  (void)ws.SetText(2, 1, Repeat("a", 32767));  // exactly at the limit: kept whole
  for (const char* name : {"cut.xls", "cut.xlsx"}) {
    auto r = SaveWorkbookFile(wb, dir / name);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->warnings.size(), 1u) << name;
    EXPECT_EQ(r->warnings[0], "1段文本超过32767个字符，已截断");
  }
  if (!HavePythonModule("xlrd")) {
    if (testing::CheckersRequired()) ADD_FAILURE() << "python3-xlrd is not installed";
    return;
  }
  nlohmann::json j = XlrdDump(dir / "cut.xls");
  const auto& cells = j["sheets"][0]["cells"];
  EXPECT_EQ(testing::Utf8Length(cells[0][3].get<std::string>()), 32767u);
  EXPECT_EQ(cells[1][3].get<std::string>().size(), 32767u);
}

// ---------------------------------------------------------------------------------------------
// Round trips through our own readers.

std::unique_ptr<Workbook> ReadBack(const std::string& path) {
  auto r = ReadWorkbookFile(path);
  EXPECT_TRUE(r.ok()) << r.error().detail;
  return r.ok() ? std::move(*r) : nullptr;
}

void ExpectSameSheet(const Worksheet& a, const Worksheet& b) {
  EXPECT_EQ(a.Name(), b.Name());
  for (int r = 1; r <= a.RowCount(); ++r) {
    for (const Cell& c : a.RowAt(r)->cells) {
      CellValue x = a.ValueOf(c), y = b.Cells(r, c.col);
      SCOPED_TRACE("cell " + std::to_string(r) + "," + std::to_string(c.col));
      ASSERT_EQ(x.type, y.type);
      EXPECT_EQ(x.is_date, y.is_date);
      if (x.IsText()) {
        EXPECT_EQ(x.text, y.text);
      } else if (x.IsNumber() || x.IsBool()) {
        EXPECT_EQ(x.number, y.number);
      } else if (x.IsError()) {
        EXPECT_EQ(x.error, y.error);
      }
      const Xf &fx = a.styles().xf(x.style), &fy = b.styles().xf(y.style);
      EXPECT_EQ(a.styles().fonts()[fx.font].bold, b.styles().fonts()[fy.font].bold);
      EXPECT_EQ(a.styles().NumFmtString(fx.num_fmt), b.styles().NumFmtString(fy.num_fmt));
      EXPECT_EQ(a.styles().fills()[fx.fill].pattern, b.styles().fills()[fy.fill].pattern);
      EXPECT_EQ(a.styles().fills()[fx.fill].fg, b.styles().fills()[fy.fill].fg);
      EXPECT_EQ(fx.align, fy.align);
    }
  }
  EXPECT_EQ(a.merges(), b.merges());
  for (const auto& [col, w] : a.column_widths()) EXPECT_NEAR(b.ColumnWidth(col), w, 1.0 / 256);
  for (int r = 1; r <= a.RowCount(); ++r)
    if (a.RowAt(r)->custom_height) {
      EXPECT_EQ(a.RowHeight(r), b.RowHeight(r));
    }
}

// A 1904 source pasted into a new (1900) result kept its serial numbers, so every date moved
// back four years and a day on the way to the saved file.
TEST(RoundTrip, DatesOfA1904SourceKeepTheirDayThroughPasteAndSave) {
  Workbook src;
  src.styles().date1904 = true;
  const uint16_t date = src.styles().AddXf(Xf{.num_fmt = 14});
  Worksheet& s = src.AddWorksheet("S");
  (void)s.SetNumber(1, 1, 43538, date);  // 2023-03-15 counted from 1904
  (void)s.SetNumber(1, 2, 43538);        // a plain number stays as it is
  for (bool result1904 : {false, true}) {
    Workbook result;
    result.styles().date1904 = result1904;
    Worksheet& ws = result.AddWorksheet("R");
    ASSERT_TRUE(ws.PasteFrom(s, s.UsedRange(), 1, 1).ok());
    TempDir dir;
    auto saved = SaveWorkbookFile(result, dir / "r.xls");
    ASSERT_TRUE(saved.ok());
    auto back = ReadWorkbookFile(saved->path);
    ASSERT_TRUE(back.ok());
    CellValue v = (*back)->Worksheets(1)->Cells(1, 1);
    EXPECT_TRUE(v.is_date);
    EXPECT_EQ(DateText(v.number, v.date1904), "2023/3/15");
    EXPECT_EQ((*back)->Worksheets(1)->Cells(1, 2).number, 43538);
  }
}

// A source cell format naming a number format its file never defined came out, when the result
// had its own format under that id, as a new custom format with an empty format string instead
// of General.
TEST(RoundTrip, DanglingNumberFormatOfASourceDoesNotPickUpTheResultsFormat) {
  Workbook src;
  Worksheet& s = src.AddWorksheet("S");
  (void)s.SetNumber(1, 1, 42, src.styles().AddXf(Xf{.num_fmt = 170}));
  Workbook result;
  StyleTable& st = result.styles();
  st.SetNumFmt(170, "yyyy-mm-dd");
  Worksheet& ws = result.AddWorksheet("R");
  (void)ws.SetNumber(2, 1, 45000, st.AddXf(Xf{.num_fmt = 170}));
  ASSERT_TRUE(ws.PasteFrom(s, s.UsedRange(), 1, 1).ok());
  EXPECT_FALSE(ws.Cells(1, 1).is_date);
  EXPECT_EQ(st.NumFmtString(st.xf(ws.Cells(1, 1).style).num_fmt), "General");
  EXPECT_EQ(st.num_fmts().size(), 1u);
  TempDir dir;
  auto saved = SaveWorkbookFile(result, dir / "r.xls");
  ASSERT_TRUE(saved.ok());
  auto back = ReadWorkbookFile(saved->path);
  ASSERT_TRUE(back.ok());
  EXPECT_FALSE((*back)->Worksheets(1)->Cells(1, 1).is_date);
  EXPECT_TRUE((*back)->Worksheets(1)->Cells(2, 1).is_date);
}

// Font names longer than 31 characters make the FONT record invalid.
TEST(XlsWriter, FontNamesAreCutTo31Characters) {
  Workbook wb;
  StyleTable& st = wb.styles();
  std::string name(40, 'F');
  (void)wb.AddWorksheet("S").SetText(1, 1, "x",
                                     st.AddXf(Xf{.font = st.AddFont(Font{.name = name})}));
  TempDir dir;
  ASSERT_TRUE(xls::Write(wb, dir / "f.xls").ok());
  int fonts = 0;
  for (const Rec& r : Records(WorkbookStream(dir / "f.xls")))
    if (r.id == 0x0031) {
      ++fonts;
      ASSERT_GE(r.data.size(), 15u);
      EXPECT_LE(r.data[14], 31);
      EXPECT_EQ(r.data.size(), 16u + r.data[14] * (r.data[15] & 1 ? 2u : 1u));
    }
  EXPECT_EQ(fonts, 5);
  auto back = ReadWorkbookFile(dir / "f.xls");
  ASSERT_TRUE(back.ok());
  EXPECT_EQ((*back)->styles().fonts().back().name, name.substr(0, 31));
}

// The .xlsx writer escapes a CR (and a literal "_x0041_") in a formula's text result, and the
// reader kept those escapes as text.
TEST(RoundTrip, EscapesInAFormulasTextResultComeBackDecoded) {
  Workbook wb;
  Worksheet& ws = wb.AddWorksheet("S");
  (void)ws.SetText(1, 1, "a\rb _x0041_");
  (void)ws.SetFormula(1, 1, "\"a\"&CHAR(13)&\"b _x0041_\"");
  TempDir dir;
  ASSERT_TRUE(SaveWorkbookFile(wb, dir / "esc.xlsx").ok());
  auto back = ReadWorkbookFile(dir / "esc.xlsx");
  ASSERT_TRUE(back.ok());
  EXPECT_EQ((*back)->Worksheets(1)->Cells(1, 1).text, "a\rb _x0041_");
}

TEST(RoundTrip, GeneratedSheetsThroughBothFormats) {
  for (const char* name : {"rt.xls", "rt.xlsx"}) {
    for (bool d1904 : {false, true}) {
      SCOPED_TRACE(std::string(name) + (d1904 ? " 1904" : " 1900"));
      TempDir dir;
      auto s = MakeSample(d1904);
      auto saved = SaveWorkbookFile(s->wb, dir / name);
      ASSERT_TRUE(saved.ok()) << saved.error().detail;
      auto back = ReadBack(saved->path);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->styles().date1904, d1904);
      ASSERT_EQ(back->WorksheetCount(), 2);
      ExpectSameSheet(*s->wb.Worksheets(1), *back->Worksheets(1));
      ExpectSameSheet(*s->wb.Worksheets(2), *back->Worksheets(2));
    }
  }
}

// Mismatches between the values of the first sheet as read from a source and as read back
// after we wrote it: the writer's faults, apart from the readers' own.
std::vector<std::string> ValueDifferences(const Worksheet& a, const Worksheet& b) {
  std::vector<std::string> bad;
  auto where = [](int r, int c) { return std::to_string(r) + "," + std::to_string(c) + ": "; };
  for (int r = 1; r <= std::max(a.RowCount(), b.RowCount()) && bad.size() < 10; ++r) {
    auto compare = [&](const Worksheet& x, const Worksheet& y, bool extra_only) {
      const Row* row = x.RowAt(r);
      if (!row) return;
      for (const Cell& c : row->cells) {
        CellValue u = x.ValueOf(c), v = y.Cells(r, c.col);
        if (extra_only) {
          if (!u.IsBlank() && a.Cells(r, c.col).IsBlank())
            bad.push_back(where(r, c.col) + "a value appeared");
          continue;
        }
        bool same = u.type == v.type;
        if (u.IsNumber() && !std::isfinite(u.number))  // written as #NUM!
          same = v.IsError() && v.error == 0x24;
        else if (same && u.IsNumber())
          same = u.number == v.number && u.is_date == v.is_date;
        else if (same && u.IsText())
          same = u.text == v.text ||
                 (testing::Utf8Length(std::string(u.text)) > 32767 && u.text.starts_with(v.text));
        else if (same && u.IsBool())
          same = u.number == v.number;
        else if (same && u.IsError())
          same = u.error == v.error;
        if (!same) bad.push_back(where(r, c.col) + "changed");
      }
    };
    compare(a, b, false);
    compare(b, a, true);
  }
  return bad;
}

TEST(RoundTrip, CorpusFirstSheetsSurviveWritingInBothFormats) {
  // Every workbook of up to 512 KB that our readers accept (the rest keeps the suite fast and
  // is covered by the readers' own corpus tests); the reference dumps are not needed here.
  std::vector<fs::path> files;
  if (fs::is_directory(QM_CORPUS_DIR))
    for (const auto& e : fs::recursive_directory_iterator(QM_CORPUS_DIR))
      if (e.is_regular_file() && e.path().extension() != ".json" && e.path().extension() != ".md" &&
          e.file_size() <= 512 * 1024)
        files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  TempDir dir;
  int written = 0;
  for (const auto& f : files) {
    ReadOptions opt;
    opt.first_worksheet_only = true;
    auto src = ReadWorkbookFile(f.string(), opt);
    if (!src.ok() || (*src)->WorksheetCount() == 0) continue;
    for (const char* ext : {".xls", ".xlsx"}) {
      SCOPED_TRACE(f.filename().string() + " as " + ext);
      auto saved = SaveWorkbookFile(**src, dir / ("c" + std::string(ext)));
      ASSERT_TRUE(saved.ok()) << saved.error().detail;
      auto back = ReadBack(saved->path);
      ASSERT_TRUE(back);
      ++written;
      EXPECT_EQ(back->styles().date1904, (*src)->styles().date1904);
      std::vector<std::string> bad = ValueDifferences(*(*src)->Worksheets(1), *back->Worksheets(1));
      EXPECT_TRUE(bad.empty()) << bad.size() << " differences, first " << bad.front();
    }
  }
  // The corpus holds hundreds of workbooks our readers accept; none means the walk is broken.
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace qm
