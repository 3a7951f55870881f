// The .xls reader: fixtures written by xlwt (tests/data/xls, see README.md) and record streams
// built byte by byte here for what no writer at hand produces (older BIFF versions, CONTINUE
// breaks in awkward places, shared formulas, hostile containers).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/office/cfb_reader.h"
#include "workbook/xls/xls_decrypt.h"

namespace qm {
namespace {

// --- Byte builders ------------------------------------------------------------------------------

struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(unsigned x) {
    v.push_back(static_cast<uint8_t>(x));
    return *this;
  }
  Bytes& u16(unsigned x) { return u8(x & 0xFF).u8(x >> 8 & 0xFF); }
  Bytes& u32(uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& f64(double d) {
    uint8_t b[8];
    std::memcpy(b, &d, 8);
    v.insert(v.end(), b, b + 8);
    return *this;
  }
  Bytes& raw(std::string_view s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& utf16(std::u16string_view s) {
    for (char16_t c : s) u16(c);
    return *this;
  }
};

// A record stream: each Rec appends id, length and body.
struct Stream {
  std::vector<uint8_t> v;
  Stream& Rec(uint16_t id, const Bytes& body) {
    Bytes h;
    h.u16(id).u16(static_cast<unsigned>(body.v.size()));
    v.insert(v.end(), h.v.begin(), h.v.end());
    v.insert(v.end(), body.v.begin(), body.v.end());
    return *this;
  }
  size_t size() const { return v.size(); }
};

Bytes Bof8(unsigned dt) {
  return Bytes().u16(0x0600).u16(dt).u16(0x0DBB).u16(0x07CC).u32(0).u32(6);
}
Bytes At(unsigned row, unsigned col, unsigned xf = 0) {
  return Bytes().u16(row).u16(col).u16(xf);
}

// A BIFF8 workbook stream: `globals` records (after BOF), then one substream per sheet; each
// sheet is (BOUNDSHEET type, BOF dt, records).
struct SheetSpec {
  std::string name;
  unsigned type = 0;  // 0 worksheet, 1 macro, 2 chart
  unsigned bof_dt = 0x10;
  Stream body;
};
std::vector<uint8_t> Workbook8(const Stream& globals, std::vector<SheetSpec> sheets,
                               bool break_offsets = false) {
  // Offsets are known only after the globals are laid out; BOUNDSHEET sizes do not depend on
  // them.
  auto boundsheet = [](const SheetSpec& s, uint32_t off) {
    return Bytes()
        .u32(off)
        .u8(0)
        .u8(s.type)
        .u8(static_cast<unsigned>(s.name.size()))
        .u8(0)
        .raw(s.name);
  };
  Stream g;
  g.Rec(0x0809, Bof8(5));
  g.v.insert(g.v.end(), globals.v.begin(), globals.v.end());
  size_t bs_at = g.size();
  for (auto& s : sheets) g.Rec(0x0085, boundsheet(s, 0));
  g.Rec(0x000A, Bytes());
  Stream out = g;
  std::vector<uint32_t> offs;
  for (auto& s : sheets) {
    offs.push_back(static_cast<uint32_t>(out.size()));
    out.Rec(0x0809, Bof8(s.bof_dt));
    out.v.insert(out.v.end(), s.body.v.begin(), s.body.v.end());
    out.Rec(0x000A, Bytes());
  }
  size_t at = bs_at;
  for (size_t i = 0; i < sheets.size(); ++i) {
    uint32_t off = break_offsets ? 0x7FFFFFF0u : offs[i];
    std::memcpy(&out.v[at + 4], &off, 4);
    at += 4 + 8 + sheets[i].name.size();
  }
  return out.v;
}

// A compound file with 512-byte sectors holding the given streams (each at least 4096 bytes or
// empty, so no mini stream is needed).
std::vector<uint8_t> Compound(const std::vector<std::pair<std::u16string, std::vector<uint8_t>>>& s,
                              bool fat_cycle = false) {
  const uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;
  std::vector<uint32_t> fat{0xFFFFFFFD, kEnd};  // sector 0 the table, sector 1 the directory
  std::vector<uint32_t> starts;
  std::vector<std::vector<uint8_t>> data;
  for (auto& [name, bytes] : s) {
    std::vector<uint8_t> d = bytes;
    if (!d.empty() && d.size() < 4096) d.resize(4096);
    size_t n = (d.size() + 511) / 512;
    starts.push_back(n ? static_cast<uint32_t>(fat.size()) : kEnd);
    for (size_t i = 0; i < n; ++i)
      fat.push_back(i + 1 < n ? static_cast<uint32_t>(fat.size() + 1) : kEnd);
    d.resize(n * 512);
    data.push_back(std::move(d));
  }
  if (fat_cycle && starts.size() && starts[0] != kEnd) fat[starts[0]] = starts[0];
  EXPECT_LE(fat.size(), 128u);
  fat.resize(128, kFree);
  Bytes h;
  h.raw("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1").raw(std::string(16, '\0'));
  h.u16(0x3E).u16(3).u16(0xFFFE).u16(9).u16(6).raw(std::string(6, '\0'));
  h.u32(0).u32(1).u32(1).u32(0).u32(4096).u32(kEnd).u32(0).u32(kEnd).u32(0);
  h.u32(0);
  for (int i = 1; i < 109; ++i) h.u32(kFree);
  Bytes f;
  for (uint32_t x : fat) f.u32(x);
  Bytes dir;
  auto entry = [&](std::u16string name, unsigned type, uint32_t right, uint32_t child,
                   uint32_t start, uint32_t size) {
    Bytes e;
    e.utf16(name).u16(0);
    e.raw(std::string(64 - 2 * (name.size() + 1), '\0'));
    e.u16(static_cast<unsigned>(2 * (name.size() + 1))).u8(type).u8(1);
    e.u32(kFree).u32(right).u32(child).raw(std::string(16 + 4 + 16, '\0'));
    e.u32(start).u32(size).u32(0);
    dir.v.insert(dir.v.end(), e.v.begin(), e.v.end());
  };
  entry(u"Root Entry", 5, kFree, s.empty() ? kFree : 1, kEnd, 0);
  for (size_t i = 0; i < s.size(); ++i)
    entry(s[i].first, 2, i + 1 < s.size() ? static_cast<uint32_t>(i + 2) : kFree, kFree, starts[i],
          static_cast<uint32_t>(s[i].second.empty() ? 0 : data[i].size()));
  EXPECT_LE(dir.v.size(), 512u);
  dir.v.resize(512, 0);
  std::vector<uint8_t> out = h.v;
  out.insert(out.end(), f.v.begin(), f.v.end());
  out.insert(out.end(), dir.v.begin(), dir.v.end());
  for (auto& d : data) out.insert(out.end(), d.begin(), d.end());
  return out;
}

Result<std::unique_ptr<Workbook>> ReadBytes(const std::vector<uint8_t>& b,
                                            const std::string& name = "test.xls",
                                            ReadOptions opt = {}) {
  return ReadWorkbookBytes(b.data(), b.size(), name, opt);
}

std::string Fixture(const std::string& name) {
  return std::string(QM_TEST_DATA) + "/xls/" + name;
}

// --- Fixtures written by xlwt -------------------------------------------------------------------

TEST(XlsFixtures, StyledSheetValuesFormatsAndLayout) {
  auto r = ReadWorkbookFile(Fixture("styled.xls"));
  ASSERT_TRUE(r) << r.error().detail;
  Workbook& wb = **r;
  EXPECT_EQ(wb.format(), SourceFormat::kBiff8);
  ASSERT_EQ(wb.WorksheetCount(), 2);
  const Worksheet& ws = *wb.Worksheets(1);
  EXPECT_EQ(ws.Name(), "数据");
  EXPECT_EQ(wb.Worksheets(2)->Cells(1, 1).text, "second sheet");

  EXPECT_EQ(ws.Cells(1, 1).text, "名称");
  EXPECT_EQ(ws.Cells(2, 1).text, "苹果 apple");
  EXPECT_EQ(ws.Cells(2, 2).number, 42);
  CellValue d = ws.Cells(2, 3);
  EXPECT_TRUE(d.IsNumber() && d.is_date);
  EXPECT_EQ(d.number, 45351);  // 2024-02-29
  EXPECT_EQ(ws.Cells(3, 1).text, "tab\tand  spaces ");
  EXPECT_EQ(ws.Cells(3, 2).number, -1234.5678);
  EXPECT_FALSE(ws.Cells(3, 2).is_date);  // "0.000;[Red]-0.000" holds no date letters
  EXPECT_NEAR(ws.Cells(3, 3).number, 45291 + (23 * 3600 + 59 * 60 + 58) / 86400.0, 1e-9);
  EXPECT_TRUE(ws.Cells(3, 3).is_date);
  EXPECT_TRUE(ws.Cells(4, 1).IsBool());
  EXPECT_EQ(ws.Cells(4, 1).number, 1);
  EXPECT_EQ(ws.Cells(4, 2).number, 0);
  EXPECT_TRUE(ws.Cells(5, 1).IsBlank());  // xlwt writes an empty string as a BLANK record
  EXPECT_EQ(ws.Cells(5, 2).number, 0.1);
  EXPECT_EQ(ws.Cells(5, 3).number, 1e300);
  EXPECT_EQ(ws.Cells(7, 1).text, std::string(9000, 'x'));
  std::string cjk;
  for (int i = 0; i < 5000; ++i) {
    char32_t c = 0x4E00 + i % 2000;
    cjk += static_cast<char>(0xE0 | c >> 12);
    cjk += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    cjk += static_cast<char>(0x80 | (c & 0x3F));
  }
  EXPECT_EQ(ws.Cells(8, 1).text, cjk);

  // Layout: the format-only cell D6 and the merged block count for the used range.
  EXPECT_EQ(ws.UsedRange(), (Range{1, 1, 10, 4}));
  ASSERT_EQ(ws.merges().size(), 1u);
  EXPECT_EQ(ws.merges()[0], (Range{9, 1, 10, 3}));
  EXPECT_EQ(ws.ColumnWidth(1), 30);
  EXPECT_EQ(ws.ColumnWidth(3), 12);
  EXPECT_EQ(ws.RowHeight(2), 30);

  // Styles: bold red Arial 14 on a solid yellow fill, thin left and double bottom borders.
  const StyleTable& st = wb.styles();
  const Xf& xf = st.xf(ws.Cells(1, 1).style);
  const Font& font = st.fonts()[xf.font];
  EXPECT_TRUE(font.bold);
  EXPECT_EQ(font.name, "Arial");
  EXPECT_EQ(font.size, 14);
  EXPECT_EQ(font.color, Rgb(0xFF0000));
  EXPECT_EQ(st.fills()[xf.fill].pattern, 1);
  EXPECT_EQ(st.fills()[xf.fill].fg, Rgb(0xFFFF00));
  EXPECT_EQ(st.borders()[xf.border].left.style, 1);
  EXPECT_EQ(st.borders()[xf.border].bottom.style, 6);
  EXPECT_EQ(xf.align.horizontal, 2);
  EXPECT_EQ(xf.align.vertical, 0);
  EXPECT_TRUE(xf.align.wrap);
  EXPECT_EQ(st.NumFmtString(st.xf(ws.Cells(3, 2).style).num_fmt), "0.000;[Red]-0.000");
}

TEST(XlsFixtures, DateModeAndFirstWorksheetOnly) {
  auto r = ReadWorkbookFile(Fixture("date1904.xls"), {true});
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_TRUE((*r)->styles().date1904);
  EXPECT_EQ((*r)->WorksheetCount(), 1);
  EXPECT_EQ((*r)->Worksheets(1)->Cells(2, 3).number, 45351 - 1462);
}

TEST(XlsFixtures, SharedStringsSplitOverManyContinueRecords) {
  auto r = ReadWorkbookFile(Fixture("many_strings.xls"));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  for (int i = 0; i < 3000; ++i) {
    std::string want;
    if (i % 3) {
      for (int k = 0; k < i % 7 + 1; ++k) want += "latin " + std::to_string(i) + " ";
    } else {
      for (int k = 0; k < i % 5 + 1; ++k) want += "中文字符串" + std::to_string(i);
    }
    ASSERT_EQ(ws.Cells(i / 10 + 1, i % 10 + 1).text, want) << "string " << i;
  }
}

TEST(XlsFixtures, DefaultPasswordIsDecryptedWithXorRc4AndCryptoApi) {
  auto plain = ReadWorkbookFile(Fixture("styled.xls"));
  ASSERT_TRUE(plain);
  for (const char* f : {"velvet_xor.xls", "velvet_rc4.xls", "velvet_cryptoapi.xls"}) {
    auto r = ReadWorkbookFile(Fixture(f));
    ASSERT_TRUE(r) << r.error().detail;
    const Worksheet& a = *(*plain)->Worksheets(1);
    const Worksheet& b = *(*r)->Worksheets(1);
    EXPECT_EQ(b.Name(), a.Name()) << f;
    ASSERT_EQ(b.RowCount(), a.RowCount()) << f;
    for (int row = 1; row <= a.RowCount(); ++row) {
      ASSERT_EQ(b.RowAt(row)->cells.size(), a.RowAt(row)->cells.size()) << f << " row " << row;
      for (const Cell& c : a.RowAt(row)->cells) {
        CellValue x = a.ValueOf(c), y = b.Cells(row, c.col);
        EXPECT_EQ(y.type, x.type);
        EXPECT_EQ(y.number, x.number);
        EXPECT_EQ(y.text, x.text);
      }
    }
  }
}

TEST(XlsFixtures, XorObfuscationOfARealFileOpensWithItsPasswordOnly) {
  // A file Excel obfuscated with the password "abc": the key and verifier in its FILEPASS must
  // match what we derive, and the records after it must decode to its three numbers.
  std::string path = std::string(QM_CORPUS_DIR) + "/poi/xor-encryption-abc.xls";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  cfb::Reader cfb;
  ASSERT_EQ(cfb.Open(file.data(), file.size()), "");
  std::vector<uint8_t> s = cfb.ReadStream(cfb.Find(u"Workbook"));
  size_t filepass = 0;
  for (size_t pos = 0; pos + 4 <= s.size(); pos += 4 + (s[pos + 2] | s[pos + 3] << 8))
    if ((s[pos] | s[pos + 1] << 8) == 0x002F) filepass = pos;
  ASSERT_GT(filepass, 0u);
  std::vector<uint8_t> copy = s;
  EXPECT_EQ(xls::DecryptWithDefaultPassword(copy, filepass), xls::DecryptOutcome::kWrongPassword);
  ASSERT_EQ(xls::DecryptWithPassword(s, filepass, "abc"), xls::DecryptOutcome::kDecrypted);
  std::vector<double> numbers;
  int codepage = 0;
  for (size_t pos = 0; pos + 4 <= s.size(); pos += 4 + (s[pos + 2] | s[pos + 3] << 8)) {
    int id = s[pos] | s[pos + 1] << 8;
    if (id == 0x0042) codepage = s[pos + 4] | s[pos + 5] << 8;
    if (id == 0x0203) {
      double d;
      std::memcpy(&d, &s[pos + 4 + 6], 8);
      numbers.push_back(d);
    }
  }
  EXPECT_EQ(codepage, 1200);
  EXPECT_EQ(numbers, (std::vector<double>{1, 2, 3}));
}

TEST(XlsFixtures, XorArrayOfAnEvenLengthPasswordStaysInBounds) {
  // Filling the array's tail for a password of even length once counted past pad byte 0 and
  // wrote outside the array. "pass" has four characters.
  std::ifstream in(Fixture("xor_password_pass.xls"), std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto refused = ReadBytes(file, "pass.xls");
  ASSERT_FALSE(refused);
  EXPECT_STREQ(ErrorCodeName(refused.error().code), "password");
  cfb::Reader cfb;
  ASSERT_EQ(cfb.Open(file.data(), file.size()), "");
  std::vector<uint8_t> s = cfb.ReadStream(cfb.Find(u"Workbook"));
  size_t filepass = 4 + (s[2] | s[3] << 8);  // right after the first BOF
  ASSERT_EQ(s[filepass], 0x2F);
  ASSERT_EQ(xls::DecryptWithPassword(s, filepass, "pass"), xls::DecryptOutcome::kDecrypted);
  s[filepass] = 0;  // the record is no longer a FILEPASS: read the plain stream as raw BIFF
  auto r = ReadBytes(s, "plain.xls");
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ((*r)->Worksheets(1)->Cells(2, 1).text, "苹果 apple");
  EXPECT_EQ((*r)->Worksheets(1)->Cells(3, 2).number, -1234.5678);
}

// --- BIFF8 records built by hand ----------------------------------------------------------------

TEST(XlsRecords, SharedStringsSwitchEncodingAndCarryRunsAndPhoneticAcrossContinue) {
  // String 0: "AB" + U+4E2D U+6587, characters split over SST and CONTINUE, the continuation
  // switching to 16-bit. String 1: rich text whose run list crosses into the next CONTINUE.
  // String 2: a phonetic block split over records. String 3: a plain string after them all.
  Bytes sst;
  sst.u32(4).u32(4);
  sst.u16(4).u8(0).raw("AB");
  Bytes c1;
  c1.u8(1).u16(0x4E2D).u16(0x6587);
  c1.u16(3).u8(0x08).u16(2).raw("abc").u32(0x00010000);  // first run here...
  Bytes c2;
  c2.u32(0x00020001);  // ...second run in the next record (no option byte before runs)
  c2.u16(2).u8(0x05).u32(8).u16('x').u16('y').raw("PHONE");
  Bytes c3;
  c3.raw("TIC").u16(5).u8(0).raw("after");
  Stream g;
  g.Rec(0x0042, Bytes().u16(1200)).Rec(0x00FC, sst).Rec(0x003C, c1).Rec(0x003C, c2).Rec(0x003C, c3);
  SheetSpec s{"S", 0, 0x10, {}};
  for (unsigned i = 0; i < 5; ++i) s.body.Rec(0x00FD, At(0, i).u32(i));  // the 5th is missing
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 1).text, "AB中文");
  EXPECT_EQ(ws.Cells(1, 2).text, "abc");
  EXPECT_EQ(ws.Cells(1, 3).text, "xy");
  EXPECT_EQ(ws.Cells(1, 4).text, "after");
  EXPECT_TRUE(ws.Cells(1, 5).IsText());  // an index past the table reads as empty text
}

TEST(XlsRecords, CellRecordsOfEveryKind) {
  Stream g;
  SheetSpec s{"Cells", 0, 0x10, {}};
  s.body.Rec(0x0203, At(0, 0).f64(3.25));                                // NUMBER
  s.body.Rec(0x027E, At(0, 1).u32(123 << 2 | 2));                        // RK integer
  s.body.Rec(0x027E, At(0, 2).u32(static_cast<uint32_t>(-5 << 2 | 3)));  // RK integer / 100
  uint64_t bits;
  double d = 1.5;
  std::memcpy(&bits, &d, 8);
  s.body.Rec(0x027E, At(0, 3).u32(static_cast<uint32_t>(bits >> 32)));  // RK double
  s.body.Rec(0x00BD, Bytes().u16(1).u16(2).u16(0).u32(7 << 2 | 2).u16(0).u32(8 << 2 | 2).u16(3));
  s.body.Rec(0x0205, At(1, 0).u8(1).u8(0));                                  // BOOLERR true
  s.body.Rec(0x0205, At(1, 1).u8(0x07).u8(1));                               // BOOLERR #DIV/0!
  s.body.Rec(0x0204, At(1, 4).u16(3).u8(0).raw("lbl"));                      // LABEL in BIFF8
  s.body.Rec(0x00D6, At(1, 5).u16(2).u8(1).u16(0x4F60).u16(0x597D).u16(0));  // RSTRING
  s.body.Rec(0x0201, At(2, 0));                                              // BLANK
  s.body.Rec(0x00BE, Bytes().u16(3).u16(2).u16(0).u16(0).u16(3));            // MULBLANK C4:D4
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 1).number, 3.25);
  EXPECT_EQ(ws.Cells(1, 2).number, 123);
  EXPECT_EQ(ws.Cells(1, 3).number, -0.05);
  EXPECT_EQ(ws.Cells(1, 4).number, 1.5);
  EXPECT_EQ(ws.Cells(2, 3).number, 7);
  EXPECT_EQ(ws.Cells(2, 4).number, 8);
  EXPECT_TRUE(ws.Cells(2, 1).IsBool());
  EXPECT_EQ(ws.Cells(2, 2).error, 0x07);
  EXPECT_EQ(ws.Cells(2, 5).text, "lbl");
  EXPECT_EQ(ws.Cells(2, 6).text, "你好");
  EXPECT_TRUE(ws.Cells(3, 1).IsBlank());
  EXPECT_EQ(ws.CellCount(), 13u);
  EXPECT_EQ(ws.UsedRange(), (Range{1, 1, 4, 6}));
}

Bytes Formula(unsigned row, unsigned col, Bytes value, Bytes rgce) {
  Bytes b = At(row, col);
  b.v.insert(b.v.end(), value.v.begin(), value.v.end());
  b.u16(0).u32(0).u16(static_cast<unsigned>(rgce.v.size()));
  b.v.insert(b.v.end(), rgce.v.begin(), rgce.v.end());
  return b;
}
Bytes Special(unsigned type, unsigned v) {
  return Bytes().u8(type).u8(0).u8(v).u8(0).u16(0).u16(0xFFFF);
}

TEST(XlsRecords, FormulaCachedValuesIncludingStringsAfterSharedAndArrayFormulas) {
  Stream g;
  SheetSpec s{"F", 0, 0x10, {}};
  Bytes num_ptg = Bytes().u8(0x1F).f64(2);
  Bytes exp = Bytes().u8(0x01).u16(0).u16(1);
  s.body.Rec(0x0006, Formula(0, 0, Bytes().f64(2), num_ptg));
  // B1 anchors a shared formula: FORMULA, SHRFMLA, then the STRING with its cached text, which
  // itself continues in a CONTINUE record with 16-bit characters.
  s.body.Rec(0x0006, Formula(0, 1, Special(0, 0), exp));
  s.body.Rec(0x04BC, Bytes().u16(0).u16(1).u8(1).u8(1).u8(0).u8(2).u16(3).u8(0x1E).u16(1));
  s.body.Rec(0x0207, Bytes().u16(4).u8(0).raw("sh"));
  s.body.Rec(0x003C, Bytes().u8(1).u16(0x8868).u16(0x683C));
  s.body.Rec(0x0006, Formula(1, 1, Special(0, 0), exp));  // B2 uses the same shared formula
  s.body.Rec(0x0207, Bytes().u16(2).u8(0).raw("b2"));
  s.body.Rec(0x0006, Formula(0, 2, Special(0, 0), Bytes().u8(0x01).u16(0).u16(2)));
  s.body.Rec(0x0221, Bytes().u16(0).u16(0).u8(2).u8(2).u16(0).u32(0).u16(3).u8(0x1E).u16(1));
  s.body.Rec(0x0207, Bytes().u16(5).u8(0).raw("array"));
  s.body.Rec(0x0006, Formula(0, 3, Special(1, 1), num_ptg));
  s.body.Rec(0x0006, Formula(0, 4, Special(2, 0x2A), num_ptg));
  s.body.Rec(0x0006, Formula(0, 5, Special(3, 0), num_ptg));
  // A string result whose STRING record never comes: empty text, not a lost cell.
  s.body.Rec(0x0006, Formula(0, 6, Special(0, 0), num_ptg));
  s.body.Rec(0x0203, At(0, 7).f64(9));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 1).number, 2);
  EXPECT_EQ(ws.Cells(1, 2).text, "sh表格");
  EXPECT_EQ(ws.Cells(2, 2).text, "b2");
  EXPECT_EQ(ws.Cells(1, 3).text, "array");
  EXPECT_TRUE(ws.Cells(1, 4).IsBool());
  EXPECT_EQ(ws.Cells(1, 4).number, 1);
  EXPECT_EQ(ws.Cells(1, 5).error, 0x2A);
  EXPECT_TRUE(ws.Cells(1, 6).IsText());
  EXPECT_TRUE(ws.Cells(1, 7).IsText());
  EXPECT_EQ(ws.Cells(1, 8).number, 9);
}

// An array formula keeps its cached results, texts included (each cell's STRING follows its
// FORMULA, after the ARRAY record at the anchor), and carries no formula: written back as a plain
// one it would compute something else.
TEST(XlsRecords, ArrayFormulaCellsKeepTheirCachedResultsAndCarryNoFormula) {
  Stream g;
  SheetSpec s{"A", 0, 0x10, {}};
  // C1:C2 = {=UPPER(...)} with text results.
  s.body.Rec(0x0006, Formula(0, 2, Special(0, 0), Bytes().u8(0x01).u16(0).u16(2)));
  s.body.Rec(0x0221, Bytes().u16(0).u16(1).u8(2).u8(2).u16(0).u32(0).u16(3).u8(0x1E).u16(1));
  s.body.Rec(0x0207, Bytes().u16(3).u8(0).raw("TOP"));
  s.body.Rec(0x0006, Formula(1, 2, Special(0, 0), Bytes().u8(0x01).u16(0).u16(2)));
  s.body.Rec(0x0207, Bytes().u16(6).u8(0).raw("BOTTOM"));
  // D1 = {=SUM(A1:A5*B1:B5)} with 55.
  s.body.Rec(0x0006, Formula(0, 3, Bytes().f64(55), Bytes().u8(0x01).u16(0).u16(3)));
  s.body.Rec(0x0221, Bytes().u16(0).u16(0).u8(3).u8(3).u16(0).u32(0).u16(3).u8(0x1E).u16(1));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 3).text, "TOP");
  EXPECT_EQ(ws.Cells(2, 3).text, "BOTTOM");
  EXPECT_EQ(ws.Cells(1, 4).number, 55);
  for (int row : {1, 2}) EXPECT_EQ(ws.Cells(row, 3).formula, "") << row;
  EXPECT_EQ(ws.Cells(1, 4).formula, "");
}

// A data table's result cells carry a TABLE record between their FORMULA and its STRING, and the
// text read as empty (a real data-table sample, row 27, columns C and D). The STRING belongs to
// the last FORMULA whatever records stand between; only the next cell ends the wait.
TEST(XlsRecords, StringAfterATableRecordIsTheTextOfTheFormulaBeforeIt) {
  Stream g;
  SheetSpec s{"T", 0, 0x10, {}};
  const Bytes tbl = Bytes().u8(0x02).u16(26).u16(2);  // ptgTbl: the table anchored at C27
  // C27 and D27: text results of a two-column data table; TABLE follows the first cell only.
  s.body.Rec(0x0006, Formula(26, 2, Special(0, 0), tbl));
  s.body.Rec(0x0236, Bytes().u16(26).u16(27).u8(2).u8(3).u16(0x0C).u16(0).u16(0).u16(0).u16(1));
  s.body.Rec(0x0207, Bytes().u16(2).u8(1).utf16(u"北京"));
  s.body.Rec(0x0006, Formula(26, 3, Special(0, 0), tbl));
  s.body.Rec(0x0207, Bytes().u16(3).u8(0).raw("top"));
  // E27: ARRAY, SHRFMLA, TABLE and a record the reader does not know, then the STRING.
  s.body.Rec(0x0006, Formula(26, 4, Special(0, 0), Bytes().u8(0x01).u16(26).u16(4)));
  s.body.Rec(0x0221, Bytes().u16(26).u16(26).u8(4).u8(4).u16(0).u32(0).u16(3).u8(0x1E).u16(1));
  s.body.Rec(0x04BC, Bytes().u16(26).u16(26).u8(4).u8(4).u8(0).u8(1).u16(3).u8(0x1E).u16(1));
  s.body.Rec(0x0236, Bytes().u16(26).u16(26).u8(4).u8(4).u16(0).u16(0).u16(0).u16(0).u16(0));
  s.body.Rec(0x0868, Bytes().u16(0x0868).u16(0).u32(0).u32(0));
  s.body.Rec(0x0207, Bytes().u16(4).u8(0).raw("last"));
  // F27: its STRING never comes; the next cell ends the wait and a stray STRING after it is
  // nobody's.
  s.body.Rec(0x0006, Formula(26, 5, Special(0, 0), tbl));
  s.body.Rec(0x0236, Bytes().u16(26).u16(26).u8(5).u8(5).u16(0).u16(0).u16(0).u16(0).u16(0));
  s.body.Rec(0x0203, At(26, 6).f64(7));
  s.body.Rec(0x0207, Bytes().u16(5).u8(0).raw("stray"));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(27, 3).text, "北京");
  EXPECT_EQ(ws.Cells(27, 4).text, "top");
  EXPECT_EQ(ws.Cells(27, 5).text, "last");
  EXPECT_TRUE(ws.Cells(27, 6).IsText());
  EXPECT_EQ(ws.Cells(27, 6).text, "");
  EXPECT_EQ(ws.Cells(27, 7).number, 7);
  // A data table's cells compute through the table, not through a formula of their own.
  EXPECT_EQ(ws.Cells(27, 3).formula, "");
}

// A FORMULA of 15,000 nested parentheses, signs or percent signs killed the save of a .xls
// result, leaving no message and a temporary file behind. The text is read; the .xls save writes
// the cached values and counts them, the .xlsx save writes the values alone.
TEST(XlsRecords, DeeplyNestedFormulasAreReadAndSavedAsTheirCachedValues) {
  Stream g;
  SheetSpec s{"D", 0, 0x10, {}};
  auto deep = [](uint8_t ptg) {
    Bytes b = Bytes().u8(0x1E).u16(1);
    b.v.insert(b.v.end(), 15000, ptg);
    return b;
  };
  s.body.Rec(0x0006, Formula(0, 0, Bytes().f64(1), deep(0x15)));
  s.body.Rec(0x0006, Formula(0, 1, Bytes().f64(-1), deep(0x13)));
  s.body.Rec(0x0006, Formula(0, 2, Special(0, 0), deep(0x14)));
  s.body.Rec(0x0207, Bytes().u16(3).u8(0).raw("pct"));
  s.body.Rec(0x0006, Formula(0, 3, Bytes().f64(2), Bytes().u8(0x1E).u16(1).u8(0x1E).u16(1).u8(3)));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 1).formula.size(), 30001u);

  const auto dir = testing::FreshTestFolder("qm_deep_formulas");
  for (const char* name : {"deep.xls", "deep.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir / name).string();
    auto saved = SaveWorkbookFile(**r, path);
    ASSERT_TRUE(saved) << saved.error().detail;
    const bool xls = std::string_view(name).ends_with(".xls");
    EXPECT_EQ(saved->warnings, xls ? std::vector<std::string>{"3个公式无法写入.xls，已改为其值"}
                                   : std::vector<std::string>{});
    auto back = ReadWorkbookFile(path);
    ASSERT_TRUE(back) << back.error().detail;
    const Worksheet& ws = *(*back)->Worksheets(1);
    EXPECT_EQ(ws.Cells(1, 1).number, 1);
    EXPECT_EQ(ws.Cells(1, 2).number, -1);
    EXPECT_EQ(ws.Cells(1, 3).text, "pct");
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(ws.Cells(1, c).formula, "") << c;
    EXPECT_EQ(ws.Cells(1, 4).formula, "1+1");
  }
  std::filesystem::remove_all(dir);
}

TEST(XlsRecords, FirstWorksheetSkipsChartsMacroSheetsAndEmbeddedCharts) {
  Stream g;
  SheetSpec chart{"Chart1", 2, 0x20, {}};
  chart.body.Rec(0x0203, At(0, 0).f64(1));
  SheetSpec macro{"Macro1", 1, 0x40, {}};
  SheetSpec ws{"Real", 0, 0x10, {}};
  ws.body.Rec(0x0203, At(0, 0).f64(5));
  // An embedded chart inside the worksheet has its own BOF/EOF; cells after it still belong to
  // the worksheet, cells inside it do not.
  ws.body.Rec(0x0809, Bof8(0x20)).Rec(0x0203, At(9, 9).f64(99)).Rec(0x000A, Bytes());
  ws.body.Rec(0x0203, At(1, 0).f64(6));
  for (bool broken : {false, true}) {
    auto r = ReadBytes(Workbook8(g, {chart, macro, ws}, broken));
    ASSERT_TRUE(r) << r.error().detail;
    ASSERT_EQ((*r)->WorksheetCount(), 1);
    const Worksheet& w = *(*r)->Worksheets(1);
    EXPECT_EQ(w.Name(), "Real");
    EXPECT_EQ(w.Cells(1, 1).number, 5);
    EXPECT_EQ(w.Cells(2, 1).number, 6);
    EXPECT_TRUE(w.Cells(10, 10).IsBlank());
  }
}

TEST(XlsRecords, RowHeightsColumnWidthsAndMergesPastTheFirstRecord) {
  Stream g;
  SheetSpec s{"L", 0, 0x10, {}};
  s.body.Rec(0x0208, Bytes().u16(4).u16(0).u16(1).u16(600).u16(0).u16(0).u16(0x140).u16(15));
  s.body.Rec(0x007D, Bytes().u16(1).u16(300).u16(20 * 256).u16(15).u16(0).u16(0));
  Bytes m;
  m.u16(2).u16(0).u16(1).u16(0).u16(1).u16(3).u16(3).u16(2).u16(5);
  s.body.Rec(0x00E5, m);
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r);
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.RowHeight(5), 30);
  EXPECT_EQ(ws.ColumnWidth(2), 20);
  EXPECT_EQ(ws.ColumnWidth(256), 20);  // a range past the last column is clipped to the grid
  EXPECT_EQ(ws.ColumnWidth(257), 0);
  ASSERT_EQ(ws.merges().size(), 2u);
  EXPECT_EQ(ws.merges()[1], (Range{4, 3, 4, 6}));
}

TEST(XlsRecords, DefaultPaletteColourOfTheLastIndexStaysInBounds) {
  // Reading colour index 63 once read past the end of the built-in palette.
  Stream g;
  Bytes font;
  font.u16(200).u16(0).u16(63).u16(400).u16(0).u8(0).u8(0).u8(0).u8(0).u8(5).u8(0).raw("Arial");
  g.Rec(0x0031, font);
  Bytes xf;
  xf.u16(0).u16(0).u16(1).u8(0).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0);
  g.Rec(0x00E0, xf);
  SheetSpec s{"P", 0, 0x10, {}};
  s.body.Rec(0x0203, At(0, 0, 0).f64(1));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)->styles().fonts()[0].color, Rgb(0x333333));
}

// --- Older BIFF versions
// --------------------------------------------------------------------------

TEST(XlsOlderBiff, Biff5TextUsesTheCodePageAnd1252WhenItIsMissing) {
  for (bool gbk : {true, false}) {
    Stream st;
    st.Rec(0x0809, Bytes().u16(0x0500).u16(5).u16(0).u16(0));
    if (gbk) st.Rec(0x0042, Bytes().u16(936));
    size_t bs = st.size();
    std::string name = gbk ? "\xCA\xFD\xBE\xDD" : "\x80uro";  // 数据 in GBK / "€uro" in 1252
    st.Rec(0x0085, Bytes().u32(0).u8(0).u8(0).u8(static_cast<unsigned>(name.size())).raw(name));
    st.Rec(0x000A, Bytes());
    uint32_t off = static_cast<uint32_t>(st.size());
    std::memcpy(&st.v[bs + 4], &off, 4);
    st.Rec(0x0809, Bytes().u16(0x0500).u16(0x10).u16(0).u16(0));
    std::string text = gbk ? "\xD6\xD0\xCE\xC4" : "caf\xE9";  // 中文 / café
    st.Rec(0x0204, At(0, 0).u16(static_cast<unsigned>(text.size())).raw(text));
    st.Rec(0x0006, Formula(0, 1, Special(0, 0), Bytes().u8(0x17).u8(1).raw("x")));
    st.Rec(0x0207, Bytes().u16(text.size()).raw(text));
    st.Rec(0x000A, Bytes());
    auto r = ReadBytes(st.v);
    ASSERT_TRUE(r) << r.error().detail;
    EXPECT_EQ((*r)->format(), SourceFormat::kBiff5);
    const Worksheet& ws = *(*r)->Worksheets(1);
    EXPECT_EQ(ws.Name(), gbk ? "数据" : "€uro");
    EXPECT_EQ(ws.Cells(1, 1).text, gbk ? "中文" : "café");
    EXPECT_EQ(ws.Cells(1, 2).text, gbk ? "中文" : "café");
  }
}

TEST(XlsOlderBiff, SingleSheetBiff4Biff3AndBiff2WithFormatsInTheSheet) {
  struct Case {
    uint16_t bof;
    SourceFormat format;
  };
  for (Case c : {Case{0x0409, SourceFormat::kBiff4}, Case{0x0209, SourceFormat::kBiff3}}) {
    Stream st;
    st.Rec(c.bof, Bytes().u16(0).u16(0x10).u16(0));
    Bytes fmt;
    if (c.bof == 0x0409) fmt.u16(0);
    st.Rec(c.bof == 0x0409 ? 0x041E : 0x001E, Bytes(fmt).u8(8).raw("General"));
    st.Rec(c.bof == 0x0409 ? 0x041E : 0x001E, Bytes(fmt).u8(10).raw("yyyy-mm-dd"));
    Bytes xf;
    xf.u8(0).u8(1).raw(std::string(10, '\0'));
    st.Rec(c.bof == 0x0409 ? 0x0443 : 0x0243, Bytes().u8(0).u8(0).raw(std::string(10, '\0')));
    st.Rec(c.bof == 0x0409 ? 0x0443 : 0x0243, xf);
    st.Rec(0x0203, At(0, 0, 1).f64(45000));
    st.Rec(0x0204, At(0, 1, 0).u16(2).raw("ok"));
    st.Rec(0x000A, Bytes());
    auto r = ReadBytes(st.v, "/some/dir/old.xls");
    ASSERT_TRUE(r) << r.error().detail;
    EXPECT_EQ((*r)->format(), c.format);
    const Worksheet& ws = *(*r)->Worksheets(1);
    EXPECT_EQ(ws.Name(), "old");  // a lone sheet is named after its file
    EXPECT_TRUE(ws.Cells(1, 1).is_date);
    EXPECT_EQ(ws.Cells(1, 2).text, "ok");
  }
  Stream b2;
  b2.Rec(0x0009, Bytes().u16(2).u16(0x10));
  b2.Rec(0x0003, Bytes().u16(0).u16(0).u8(0).u8(0).u8(0).f64(2.5));
  b2.Rec(0x0002, Bytes().u16(0).u16(1).u8(0).u8(0).u8(0).u16(7));
  b2.Rec(0x0004, Bytes().u16(0).u16(2).u8(0).u8(0).u8(0).u8(2).raw("hi"));
  b2.Rec(0x000A, Bytes());
  auto r = ReadBytes(b2.v);
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ((*r)->format(), SourceFormat::kBiff2);
  const Worksheet& ws = *(*r)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 1).number, 2.5);
  EXPECT_EQ(ws.Cells(1, 2).number, 7);
  EXPECT_EQ(ws.Cells(1, 3).text, "hi");
}

// --- Containers and bad input -------------------------------------------------------------------

std::vector<uint8_t> SimpleBook() {
  Stream g;
  SheetSpec s{"S", 0, 0x10, {}};
  s.body.Rec(0x0203, At(0, 0).f64(1));
  s.body.Rec(0x0203, At(1, 0).f64(2));
  return Workbook8(g, {s});
}

TEST(XlsContainer, StreamNameIsMatchedWithoutCaseAndBookIsAccepted) {
  for (std::u16string name : {u"workbook", u"WORKBOOK", u"Book"}) {
    auto r = ReadBytes(Compound({{u"\x05SummaryInformation", {}}, {name, SimpleBook()}}));
    ASSERT_TRUE(r) << r.error().detail;
    EXPECT_EQ((*r)->Worksheets(1)->Cells(2, 1).number, 2);
  }
}

TEST(XlsContainer, RefusesWhatIsNotAWorkbookNamingTheFile) {
  // Web pages and text under a workbook's name are read (their own tests); XML of another kind
  // and bytes of no known kind are not.
  std::string xml = "<?xml version=\"1.0\"?><note><to>x</to></note>";
  std::string binary("\x7F\x01\x00\x02", 4);
  for (const std::string& s : {xml, binary}) {
    std::vector<uint8_t> b(s.begin(), s.end());
    auto r = ReadBytes(b, "report.xls");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, ErrorCode::kNotAWorkbook);
    EXPECT_NE(r.error().detail.find("report.xls"), std::string::npos);
    EXPECT_NE(r.error().detail.find("not a workbook"), std::string::npos);
  }
  // A compound file without any workbook stream (a Word document, say).
  auto r = ReadBytes(Compound({{u"WordDocument", std::vector<uint8_t>(5000, 1)}}), "doc.xls");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNotAWorkbook);
}

// "Not a workbook" alone left users guessing why a file that opens in Excel was refused. Web
// pages and text under a workbook's name are read now; what is left says what it seems to be.
TEST(XlsContainer, NotAWorkbookSaysWhatTheFileSeemsToBe) {
  const std::pair<std::string, std::string> cases[] = {
      {"<?xml version=\"1.0\"?><Workbook/>", "a web page or XML document"},
      {std::string("\x01\x02\x00\x05", 4), "neither an Excel nor a zip package file"}};
  for (const auto& [content, why] : cases) {
    auto r = ReadBytes(std::vector<uint8_t>(content.begin(), content.end()), "export.xls");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().detail.find("export.xls: not a workbook (" + why), std::string::npos)
        << r.error().detail;
  }
  const std::string page = "\xEF\xBB\xBF <html><table></table></html>";
  auto empty_page = ReadBytes(std::vector<uint8_t>(page.begin(), page.end()), "export.xls");
  ASSERT_FALSE(empty_page);
  EXPECT_EQ(ErrorReason(empty_page.error(), "export.xls"),
            "不是Excel工作簿（网页中没有含数据的表格）");
  auto csv = ReadBytes({'a', ',', 'b', '\n'}, "export.xls");
  ASSERT_TRUE(csv);
  EXPECT_EQ((*csv)->format(), SourceFormat::kCsv);
  auto empty = ReadBytes({}, "export.xls");
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().code, ErrorCode::kEmpty);
  EXPECT_STREQ(ErrorCodeName(empty.error().code), "empty");
  EXPECT_EQ(ErrorReason(empty.error(), "export.xls"), "文件是空的");
}

// A folder named like a workbook made the file reading throw out of the library (an abort).
TEST(XlsContainer, FolderNamedLikeAWorkbookIsRefusedWithTheReasonInsteadOfACrash) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("qm-folder-" + std::to_string(::qm::testing::ProcessId()) + ".xls");
  std::filesystem::create_directories(dir);
  auto r = ReadWorkbookFile(dir.string());
  std::filesystem::remove(dir);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNotRegular);
  EXPECT_NE(r.error().detail.find(dir.string()), std::string::npos);
  EXPECT_NE(r.error().detail.find("folder"), std::string::npos);
  auto missing = ReadWorkbookFile((dir / "none.xls").string());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::kMissing);
  EXPECT_NE(missing.error().detail.find("No such file"), std::string::npos);
}

TEST(XlsContainer, EncryptedPackagesAndRealPasswordsAreRefusedAsPasswordProtected) {
  auto r = ReadBytes(
      Compound({{u"EncryptionInfo", std::vector<uint8_t>(4096, 0)}, {u"EncryptedPackage", {}}}),
      "secret.xlsx");
  ASSERT_FALSE(r);
  EXPECT_STREQ(ErrorCodeName(r.error().code), "password");
  EXPECT_NE(r.error().detail.find("secret.xlsx"), std::string::npos);
  EXPECT_NE(r.error().detail.find("文件受密码保护"), std::string::npos);

  // RC4 whose verifier does not match the default password, and XOR obfuscation.
  Bytes rc4;
  rc4.u16(1).u16(1).u16(1).raw(std::string(48, '\x5A'));
  Bytes xr;
  xr.u16(0).u16(0x1234).u16(0x5678);
  for (const Bytes& fp : {rc4, xr}) {
    Stream g;
    g.Rec(0x002F, fp);
    auto e = ReadBytes(Workbook8(g, {{"S", 0, 0x10, {}}}), "locked.xls");
    ASSERT_FALSE(e);
    EXPECT_STREQ(ErrorCodeName(e.error().code), "password");
    EXPECT_NE(e.error().detail.find("locked.xls: "), std::string::npos);
  }
}

TEST(XlsContainer, Biff5FilePassIsRefusedAsPasswordProtected) {
  Stream st;
  st.Rec(0x0809, Bytes().u16(0x0500).u16(5).u16(0).u16(0));
  st.Rec(0x002F, Bytes().u16(0x1234).u16(0x5678));
  st.Rec(0x000A, Bytes());
  auto r = ReadBytes(st.v, "old.xls");
  ASSERT_FALSE(r);
  EXPECT_STREQ(ErrorCodeName(r.error().code), "password");
}

TEST(XlsContainer, TruncatedOrLoopingInputGivesAClearErrorOrThePartRead) {
  std::vector<uint8_t> book = SimpleBook();
  // Cut inside the last cell record: the sheet keeps the first cell and the workbook says so.
  std::vector<uint8_t> cut(book.begin(), book.end() - 10);
  auto r = ReadBytes(cut, "cut.xls");
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 1).number, 1);
  ASSERT_EQ((*r)->warnings.size(), 1u);
  EXPECT_NE((*r)->warnings[0].find("truncated"), std::string::npos);
  // Cut inside the globals: nothing to read.
  std::vector<uint8_t> head(book.begin(), book.begin() + 30);
  auto h = ReadBytes(head, "head.xls");
  ASSERT_FALSE(h);
  EXPECT_EQ(h.error().code, ErrorCode::kCorrupt);
  EXPECT_NE(h.error().detail.find("head.xls"), std::string::npos);
  // A container cut after its header, and one whose sector chain loops on itself.
  std::vector<uint8_t> cfb = Compound({{u"Workbook", book}});
  auto c = ReadBytes(std::vector<uint8_t>(cfb.begin(), cfb.begin() + 600), "c.xls");
  EXPECT_FALSE(c);
  auto t0 = std::chrono::steady_clock::now();
  auto loop = ReadBytes(Compound({{u"Workbook", book}}, true), "loop.xls");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  if (!loop) {
    EXPECT_NE(loop.error().detail.find("loop.xls"), std::string::npos);
  }
}

TEST(XlsContainer, SheetBofCutOffByTheStreamEndIsRefusedNotDereferenced) {
  // A sheet offset pointing at a BOF whose body runs past the end once crashed the reader.
  std::vector<uint8_t> book = SimpleBook();
  size_t sheet_at = book.size() - (4 + 16) - 2 * (4 + 14) - 4;
  std::vector<uint8_t> cut(book.begin(), book.begin() + sheet_at + 10);
  auto r = ReadBytes(cut, "bof.xls");
  ASSERT_FALSE(r);
  EXPECT_NE(r.error().detail.find("bof.xls"), std::string::npos);
}

TEST(XlsContainer, SharedStringCountThatLiesDoesNotReserveMemory) {
  Stream g;
  g.Rec(0x00FC, Bytes().u32(0xFFFFFFFF).u32(0xFFFFFFFF).u16(1).u8(0).raw("z"));
  SheetSpec s{"S", 0, 0x10, {}};
  s.body.Rec(0x00FD, At(0, 0).u32(0));
  auto r = ReadBytes(Workbook8(g, {s}));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 1).text, "z");
}

// Every input a fuzzer once broke a reader with must now be read or refused cleanly.
TEST(FuzzRegressions, EveryKeptInputIsReadOrRefused) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(QM_TEST_DATA) / "fuzz-regressions";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().filename() == "README.md") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (bool first : {true, false}) {
      auto r = ReadWorkbookBytes(b.data(), b.size(), e.path().string(), {first});
      if (!r) {
        EXPECT_FALSE(r.error().detail.empty()) << e.path();
      }
    }
  }
}

}  // namespace
}  // namespace qm
