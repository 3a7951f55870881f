// The package reader: the zip container under hostile input, and what the workbook parts mean.
// Packages are built here byte by byte, so every odd case is visible in the test itself.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "workbook/io.h"
#include "workbook/xlsx/xlsx.h"
#include "workbook/xlsx/xlsx_read_parts.h"
#include "workbook/xlsx/zip_reader.h"

namespace qm {
namespace {

struct Part {
  std::string name, data;
  bool deflate = true;
  int64_t declared_size = -1;  // what the directory claims; -1 = the truth
};

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 255);
  s += static_cast<char>((v >> 8) & 255);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

std::string RawDeflate(const std::string& in) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, in.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// A zip archive; with `zip64` the central directory keeps its sizes and offsets in ZIP64 fields.
std::string MakeZip(const std::vector<Part>& parts, bool zip64 = false) {
  std::string out, central;
  for (const auto& p : parts) {
    std::string body = p.deflate ? RawDeflate(p.data) : p.data;
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(p.data.data()), static_cast<uInt>(p.data.size())));
    uint64_t size = p.declared_size >= 0 ? static_cast<uint64_t>(p.declared_size) : p.data.size();
    uint32_t offset = static_cast<uint32_t>(out.size());
    Put32(out, 0x04034b50);
    Put16(out, 20), Put16(out, 0), Put16(out, p.deflate ? 8 : 0), Put32(out, 0), Put32(out, crc);
    Put32(out, static_cast<uint32_t>(body.size())), Put32(out, static_cast<uint32_t>(size));
    Put16(out, static_cast<uint32_t>(p.name.size())), Put16(out, 0);
    out += p.name + body;
    Put32(central, 0x02014b50);
    Put16(central, 45), Put16(central, 20), Put16(central, 0), Put16(central, p.deflate ? 8 : 0);
    Put32(central, 0), Put32(central, crc);
    std::string extra;
    if (zip64) {
      Put16(extra, 1), Put16(extra, 24), Put64(extra, size), Put64(extra, body.size()),
          Put64(extra, offset);
    }
    Put32(central, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(body.size()));
    Put32(central, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(size));
    Put16(central, static_cast<uint32_t>(p.name.size())),
        Put16(central, static_cast<uint32_t>(extra.size()));
    Put16(central, 0), Put16(central, 0), Put16(central, 0), Put32(central, 0);
    Put32(central, zip64 ? 0xFFFFFFFF : offset);
    central += p.name + extra;
  }
  uint64_t cd_offset = out.size();
  out += central;
  if (zip64) {
    uint64_t z64 = out.size();
    Put32(out, 0x06064b50), Put64(out, 44), Put16(out, 45), Put16(out, 45), Put32(out, 0),
        Put32(out, 0), Put64(out, parts.size()), Put64(out, parts.size()),
        Put64(out, central.size()), Put64(out, cd_offset);
    Put32(out, 0x07064b50), Put32(out, 0), Put64(out, z64), Put32(out, 1);
  }
  Put32(out, 0x06054b50), Put16(out, 0), Put16(out, 0);
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(parts.size()));
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(parts.size()));
  Put32(out, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(central.size()));
  Put32(out, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(cd_offset));
  Put16(out, 0);
  return out;
}

const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string Rels(const std::string& body) {
  return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
         body + "</Relationships>";
}
std::string Rel(const std::string& id, const std::string& type, const std::string& target) {
  return "<Relationship Id=\"" + id + "\" Type=\"" + kRel + "/" + type + "\" Target=\"" + target +
         "\"/>";
}
std::string Sheet(const std::string& body) {
  return std::string("<worksheet xmlns=\"") + kMain + "\">" + body + "</worksheet>";
}

struct Package {
  std::string sheet = Sheet("<sheetData/>");
  std::string sst, styles, workbook_pr;
  std::vector<Part> extra;
};

std::string MakeXlsx(const Package& p) {
  std::vector<Part> parts = {
      {"_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/workbook.xml"))},
      {"xl/workbook.xml", std::string("<workbook xmlns=\"") + kMain + "\" xmlns:r=\"" + kRel +
                              "\">" + p.workbook_pr +
                              "<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
                              "</workbook>"},
      {"xl/_rels/workbook.xml.rels", Rels(Rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                                          Rel("rId2", "sharedStrings", "/xl/sharedStrings.xml") +
                                          Rel("rId3", "styles", "styles.xml"))},
      {"xl/worksheets/sheet1.xml", p.sheet}};
  if (!p.sst.empty()) parts.push_back({"xl/sharedStrings.xml", p.sst});
  if (!p.styles.empty()) parts.push_back({"xl/styles.xml", p.styles});
  for (const auto& e : p.extra) parts.push_back(e);
  return MakeZip(parts);
}

Result<std::unique_ptr<Workbook>> ReadBytes(const std::string& bytes, ReadOptions o = {}) {
  return xlsx::Read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "book.xlsx", o);
}

std::unique_ptr<Workbook> MustRead(const Package& p) {
  auto r = ReadBytes(MakeXlsx(p));
  EXPECT_TRUE(r.ok()) << r.error().detail;
  return r.ok() ? std::move(*r) : std::make_unique<Workbook>();
}

// --- The zip container -------------------------------------------------------------------------

TEST(XlsxZip, ReadsStoredDeflatedAndZip64EntriesByCaseInsensitiveName) {
  for (bool zip64 : {false, true}) {
    std::string z = MakeZip({{"a.xml", "stored text", false},
                             {"Dir/B.xml", std::string(100000, 'x') + "end"},
                             {"a.xml", "later copy wins", false}},
                            zip64);
    auto a = zip::Archive::Open(reinterpret_cast<const uint8_t*>(z.data()), z.size(), "t.zip");
    ASSERT_TRUE(a.ok()) << a.error().detail;
    const zip::Entry* b = a->Find("/dir/b.XML");
    ASSERT_NE(b, nullptr);
    auto text = a->ReadAll(*b);
    ASSERT_TRUE(text.ok()) << text.error().detail;
    EXPECT_EQ(text->size(), 100003u);
    EXPECT_EQ(*a->ReadAll(*a->Find("a.xml")), "later copy wins");
  }
}

TEST(XlsxZip, BombsAreRefusedNamingTheFileAndEntry) {
  // One entry of zeros far beyond any worksheet's compression ratio.
  Package p;
  p.sheet = Sheet("<sheetData/>") + std::string(4 << 20, ' ');
  auto r = ReadBytes(MakeXlsx(p));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kTooLarge);
  EXPECT_NE(r.error().detail.find("book.xlsx"), std::string::npos);
  EXPECT_NE(r.error().detail.find("xl/worksheets/sheet1.xml"), std::string::npos);
  EXPECT_NE(r.error().detail.find("zip bomb"), std::string::npos);

  // Caps on one entry and on the whole archive, whatever the ratio.
  std::string z =
      MakeZip({{"a", std::string(5000, 'a'), false}, {"b", std::string(5000, 'b'), false}});
  zip::Limits lim;
  lim.max_entry_bytes = 4000;
  auto a = zip::Archive::Open(reinterpret_cast<const uint8_t*>(z.data()), z.size(), "t.zip", lim);
  EXPECT_EQ(a->ReadAll(a->entries()[0]).error().code, ErrorCode::kTooLarge);
  lim.max_entry_bytes = 1 << 20;
  lim.max_total_bytes = 8000;
  a = zip::Archive::Open(reinterpret_cast<const uint8_t*>(z.data()), z.size(), "t.zip", lim);
  EXPECT_TRUE(a->ReadAll(a->entries()[0]).ok());
  EXPECT_EQ(a->ReadAll(a->entries()[1]).error().code, ErrorCode::kTooLarge);
}

TEST(XlsxZip, EntryExpandingPastItsDeclaredSizeIsRefused) {
  // Some zip libraries read on past the declared size; the count here is our own.
  Package p;
  p.extra = {};
  std::string z = MakeZip({{"x", std::string(1000, 'q'), true, 100}});
  auto a = zip::Archive::Open(reinterpret_cast<const uint8_t*>(z.data()), z.size(), "t.zip");
  auto r = a->ReadAll(a->entries()[0]);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().detail.find("declared size"), std::string::npos) << r.error().detail;
}

TEST(XlsxZip, TruncatedOrDamagedPackagesAreRefusedNeverCrash) {
  std::string good = MakeXlsx(Package{});
  ASSERT_TRUE(ReadBytes(good).ok());
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    auto r = ReadBytes(good.substr(0, cut));
    if (!r.ok()) {
      EXPECT_NE(r.error().detail.find("book.xlsx"), std::string::npos);
    }
  }
  for (size_t i = 0; i < good.size(); i += 3) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x5A);
    (void)ReadBytes(bad);
  }
  // A flipped bit in stored data passes every length check; only the CRC catches it.
  std::string z = MakeZip({{"a.xml", "<a>payload</a>", false}});
  z[z.find("payload")] ^= 1;
  auto a = zip::Archive::Open(reinterpret_cast<const uint8_t*>(z.data()), z.size(), "t.zip");
  ASSERT_TRUE(a.ok());
  auto r = a->ReadAll(a->entries()[0]);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().detail.find("CRC"), std::string::npos);
}

// A binary workbook (.xlsb) renamed to .xlsx was parsed as XML and refused as "malformed XML",
// which tells the user nothing; the .xlsb reader takes it now (this one without sheets).
TEST(XlsxZip, BinaryWorkbookGoesToTheXlsbReader) {
  std::string z = MakeZip({{"_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/workbook.bin"))},
                           {"xl/workbook.bin", std::string("\x83\x01\x00\x80\x01\x00", 6)}});
  auto r = ReadBytes(z);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kNotAWorkbook);
  EXPECT_EQ(r.error().detail, "book.xlsx: 工作簿中没有工作表");
}

// --- Parts of the package ----------------------------------------------------------------------

TEST(XlsxParts, CellReferencesDatesEscapesAndTargets) {
  int r = 0, c = 0;
  EXPECT_TRUE(xlsx::ParseCellRef("AB12", r, c));
  EXPECT_EQ(r, 12);
  EXPECT_EQ(c, 28);
  EXPECT_TRUE(xlsx::ParseCellRef("$XFD$1048576", r, c));
  EXPECT_EQ(c, 16384);
  EXPECT_FALSE(xlsx::ParseCellRef("12", r, c));
  EXPECT_FALSE(xlsx::ParseCellRef("A", r, c));
  EXPECT_FALSE(xlsx::ParseCellRef("A1B", r, c));
  EXPECT_FALSE(xlsx::ParseCellRef("A99999999999999", r, c));

  EXPECT_EQ(*xlsx::IsoToSerial("1900-01-01", false), 1);
  EXPECT_EQ(*xlsx::IsoToSerial("1900-03-01", false), 61);  // after the fictitious 29 Feb 1900
  EXPECT_EQ(*xlsx::IsoToSerial("2024-02-29T12:00:00", false), 45351.5);
  EXPECT_EQ(*xlsx::IsoToSerial("1904-01-02", true), 1);
  EXPECT_DOUBLE_EQ(*xlsx::IsoToSerial("06:00:00", false), 0.25);
  EXPECT_FALSE(xlsx::IsoToSerial("yesterday", false));

  EXPECT_EQ(xlsx::DecodeEscapes("a_x000D__x000A_b"), "a\r\nb");
  EXPECT_EQ(xlsx::DecodeEscapes("_x005F_x000D_"), "_x000D_");  // an escaped underscore
  EXPECT_EQ(xlsx::DecodeEscapes("_xD83D__xDE00_"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(xlsx::DecodeEscapes("_xD83D_ lone"), "\xEF\xBF\xBD lone");
  EXPECT_EQ(xlsx::DecodeEscapes("_x12_ _xZZZZ_"), "_x12_ _xZZZZ_");

  EXPECT_EQ(xlsx::ResolveTarget("xl/", "worksheets/sheet1.xml"), "xl/worksheets/sheet1.xml");
  EXPECT_EQ(xlsx::ResolveTarget("xl/", "/xl/a.xml"), "xl/a.xml");
  EXPECT_EQ(xlsx::ResolveTarget("xl/worksheets/", "../sharedStrings.xml"), "xl/sharedStrings.xml");
  EXPECT_EQ(xlsx::ResolveTarget("xl/", "../../../etc/passwd"), "etc/passwd");
}

TEST(XlsxRead, SharedStringsJoinRunsSkipPhoneticsKeepWhitespace) {
  Package p;
  p.sst =
      std::string("<sst xmlns=\"") + kMain + "\">" +
      "<si><t xml:space=\"preserve\">  two spaces </t></si>"
      "<si><r><rPr><b/></rPr><t>Rich</t></r><r><t>_x000D_\nText</t></r></si>"
      "<si><t>東京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh><phoneticPr fontId=\"1\"/></si>"
      "<si><t/></si></sst>";
  p.sheet = Sheet(
      "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
      "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c>"
      "<c r=\"E1\" t=\"s\"><v>99</v></c></row></sheetData>");
  auto wb = MustRead(p);
  const Worksheet& ws = *wb->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 1).text, "  two spaces ");
  EXPECT_EQ(ws.Cells(1, 2).text, "Rich\r\nText");
  EXPECT_EQ(ws.Cells(1, 3).text, "東京");
  EXPECT_TRUE(ws.Cells(1, 4).IsText());   // a stored empty string is text
  EXPECT_TRUE(ws.Cells(1, 5).IsBlank());  // an index past the table reads as nothing
}

TEST(XlsxRead, EveryCellTypeAndImplicitPositions) {
  Package p;
  p.workbook_pr = "<workbookPr date1904=\"true\"/>";
  p.sheet = Sheet(
      "<sheetData><row r=\"2\">"
      "<c r=\"A2\"><v>1.5e3</v></c>"
      "<c t=\"inlineStr\"><is><r><t>in</t></r><r><t xml:space=\"preserve\">line </t></r>"
      "<rPh><t>x</t></rPh></is></c>"
      "<c t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c>"
      "<c t=\"b\"><v>1</v></c><c t=\"e\"><v>#DIV/0!</v></c>"
      "<c t=\"d\"><v>1904-01-03T12:00:00</v></c>"
      "<c><v></v></c><c t=\"str\"><v/></c>"
      "</row><row><c><v>7</v></c></row></sheetData>");
  auto wb = MustRead(p);
  const Worksheet& ws = *wb->Worksheets(1);
  EXPECT_TRUE(wb->styles().date1904);
  EXPECT_EQ(ws.Cells(2, 1).number, 1500);
  EXPECT_EQ(ws.Cells(2, 2).text, "inline ");
  EXPECT_EQ(ws.Cells(2, 3).text, "ab");
  EXPECT_EQ(ws.Cells(2, 3).formula, "\"a\"&\"b\"");
  EXPECT_TRUE(ws.Cells(2, 4).IsBool());
  EXPECT_EQ(ws.Cells(2, 4).number, 1);
  EXPECT_EQ(ws.Cells(2, 5).error, static_cast<uint8_t>(CellError::kDiv0));
  EXPECT_EQ(ws.Cells(2, 6).number, 2.5);
  EXPECT_TRUE(ws.Cells(2, 7).IsBlank());
  EXPECT_TRUE(ws.Cells(2, 8).IsText());
  EXPECT_EQ(ws.Cells(3, 1).number, 7);  // a row without r follows the previous one
}

TEST(XlsxRead, CellsOutOfColumnOrderAreSortedAndTheLaterDuplicateWins) {
  Package p;
  p.sheet = Sheet(
      "<sheetData><row r=\"1\"><c r=\"C1\"><v>3</v></c><c r=\"A1\"><f>1+0</f><v>1</v></c>"
      "<c r=\"B1\"><v>2</v></c><c r=\"A1\"><v>9</v></c></row>"
      "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row></sheetData>");
  auto wb = MustRead(p);
  const Worksheet& ws = *wb->Worksheets(1);
  const Row* row = ws.RowAt(1);
  ASSERT_EQ(row->cells.size(), 3u);
  EXPECT_EQ(row->cells[0].col, 1);
  EXPECT_EQ(row->cells[2].col, 3);
  EXPECT_EQ(ws.Cells(1, 1).number, 9);
  EXPECT_EQ(ws.Cells(1, 2).number, 2);
  EXPECT_EQ(ws.Cells(2, 1).number, 4);
}

TEST(XlsxRead, SharedFormulasKeepTheMasterAndCachedValues) {
  Package p;
  p.sheet = Sheet(
      "<sheetData><row r=\"1\"><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1*2</f><v>2</v>"
      "</c></row><row r=\"2\"><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row>"
      "<row r=\"3\"><c r=\"B3\"><f t=\"shared\" si=\"7\"/><v>6</v></c></row></sheetData>");
  auto wb = MustRead(p);
  const Worksheet& ws = *wb->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 2).formula, "A1*2");
  EXPECT_EQ(ws.Cells(2, 2).number, 4);
  EXPECT_EQ(ws.Cells(3, 2).number, 6);  // unknown group: the cached value alone
  EXPECT_TRUE(ws.Cells(3, 2).formula.empty());
}

TEST(XlsxRead, StylesDatesLayoutAndMerges) {
  Package p;
  p.styles =
      std::string("<styleSheet xmlns=\"") + kMain + "\">" +
      "<numFmts count=\"1\"><numFmt numFmtId=\"164\" "
      "formatCode=\"yyyy&quot;年&quot;m&quot;月&quot;\"/>"
      "</numFmts><fonts><font><sz val=\"10\"/><name val=\"Arial\"/></font>"
      "<font><b/><i/><color rgb=\"FFFF0000\"/><sz val=\"14\"/><name val=\"宋体\"/></font>"
      "<font><color theme=\"1\"/></font></fonts>"
      "<fills><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
      "patternType=\"gray125\"/></fill><fill><patternFill patternType=\"solid\"><fgColor "
      "indexed=\"10\"/></patternFill></fill></fills>"
      "<borders><border/><border><left style=\"thin\"><color rgb=\"FF0000FF\"/></left>"
      "<bottom style=\"double\"/></border></borders>"
      "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
      "<cellXfs><xf numFmtId=\"0\" fontId=\"0\"/><xf numFmtId=\"164\" fontId=\"1\" fillId=\"2\" "
      "borderId=\"1\"><alignment horizontal=\"center\" vertical=\"top\" wrapText=\"1\"/>"
      "</xf><xf numFmtId=\"14\" fontId=\"2\"/><xf numFmtId=\"2\" fontId=\"99\"/></cellXfs>"
      "</styleSheet>";
  p.sheet = Sheet(
      "<sheetFormatPr defaultRowHeight=\"15\"/><cols><col min=\"2\" max=\"3\" width=\"20.5\" "
      "customWidth=\"1\"/><col min=\"5\" max=\"16384\" width=\"9\"/></cols><sheetData>"
      "<row r=\"1\" ht=\"30\" customHeight=\"1\"><c r=\"A1\" s=\"1\"><v>45000</v></c>"
      "<c r=\"B1\" s=\"2\"><v>1</v></c><c r=\"C1\" s=\"3\"><v>1</v></c><c r=\"D1\" s=\"1\"/>"
      "<c r=\"E1\" s=\"77\"><v>3</v></c></row></sheetData>"
      "<mergeCells count=\"1\"><mergeCell ref=\"A3:C4\"/></mergeCells>");
  auto wb = MustRead(p);
  const Worksheet& ws = *wb->Worksheets(1);
  const StyleTable& st = wb->styles();
  CellValue a1 = ws.Cells(1, 1);
  EXPECT_TRUE(a1.is_date);  // custom format with y and m outside quotes
  EXPECT_TRUE(ws.Cells(1, 2).is_date);
  EXPECT_FALSE(ws.Cells(1, 3).is_date);
  EXPECT_EQ(st.fonts()[0].name, "Arial");
  const Xf& x = st.xf(a1.style);
  EXPECT_TRUE(st.fonts()[x.font].bold && st.fonts()[x.font].italic);
  EXPECT_EQ(st.fonts()[x.font].color, Rgb(0xFF0000));
  EXPECT_EQ(st.fonts()[x.font].size, 14);
  EXPECT_EQ(st.fills()[x.fill].pattern, 1);
  EXPECT_EQ(st.fills()[x.fill].fg, Rgb(0xFF0000));  // indexed 10 of the default palette
  EXPECT_EQ(st.borders()[x.border].left.style, 1);
  EXPECT_EQ(st.borders()[x.border].left.color, Rgb(0x0000FF));
  EXPECT_EQ(st.borders()[x.border].bottom.style, 6);
  EXPECT_EQ(x.align.horizontal, 2);
  EXPECT_EQ(x.align.vertical, 0);
  EXPECT_TRUE(x.align.wrap);
  EXPECT_EQ(st.fonts()[st.xf(ws.Cells(1, 2).style).font].color, Rgb(0x000000));  // theme dark 1
  EXPECT_EQ(st.xf(ws.Cells(1, 3).style).font, 0);  // a font index past the table
  EXPECT_TRUE(ws.Cells(1, 4).IsBlank());
  EXPECT_EQ(ws.Cells(1, 4).style, a1.style);  // format-only cells keep their format
  EXPECT_EQ(ws.Cells(1, 5).style, 0);         // a style index past the table
  EXPECT_EQ(ws.ColumnWidth(2), 20.5);
  EXPECT_EQ(ws.ColumnWidth(3), 20.5);
  EXPECT_EQ(ws.ColumnWidth(4), 0);
  EXPECT_EQ(ws.RowHeight(1), 30);
  EXPECT_EQ(ws.default_row_height, 15);
  ASSERT_EQ(ws.merges().size(), 1u);
  EXPECT_EQ(ws.merges()[0], (Range{3, 1, 4, 3}));
}

TEST(XlsxRead, StrictNamespacesReadLikeTransitional) {
  const std::string strict_main = "http://purl.oclc.org/ooxml/spreadsheetml/main";
  const std::string strict_rel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  auto rel = [&](const std::string& id, const std::string& type, const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + strict_rel + "/" + type + "\" Target=\"" +
           target + "\"/>";
  };
  std::string z = MakeZip(
      {{"_rels/.rels", Rels(rel("r1", "officeDocument", "xl/workbook.xml"))},
       {"xl/workbook.xml", "<x:workbook xmlns:x=\"" + strict_main + "\" xmlns:r=\"" + strict_rel +
                               "\"><x:sheets><x:sheet name=\"Strict\" sheetId=\"1\" r:id=\"a\"/>"
                               "</x:sheets></x:workbook>"},
       {"xl/_rels/workbook.xml.rels", Rels(rel("a", "worksheet", "worksheets/s.xml") +
                                           rel("b", "sharedStrings", "sharedStrings.xml"))},
       {"xl/sharedStrings.xml",
        "<sst xmlns=\"" + strict_main + "\"><si><t>strict text</t></si></sst>"},
       {"xl/worksheets/s.xml", "<worksheet xmlns=\"" + strict_main +
                                   "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                   "<c r=\"B1\"><v>2</v></c></row></sheetData></worksheet>"}});
  auto r = ReadBytes(z);
  ASSERT_TRUE(r.ok()) << r.error().detail;
  EXPECT_EQ((*r)->Worksheets(1)->Name(), "Strict");
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 1).text, "strict text");
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 2).number, 2);
}

TEST(XlsxRead, EntityDeclarationsAndAbsurdDimensionsAreRefused) {
  Package bomb;
  bomb.sst = std::string(
                 "<?xml version=\"1.0\"?><!DOCTYPE sst [<!ENTITY a \"aaaaaaaaaa\">"
                 "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>") +
             "<sst xmlns=\"" + kMain + "\"><si><t>&b;</t></si></sst>";
  auto r = ReadBytes(MakeXlsx(bomb));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kTooLarge);
  EXPECT_NE(r.error().detail.find("book.xlsx"), std::string::npos);
  EXPECT_NE(r.error().detail.find("entity"), std::string::npos);

  for (const char* cell : {"<c r=\"A1048577\"><v>1</v></c>", "<c r=\"XFE1\"><v>1</v></c>"}) {
    Package p;
    p.sheet = Sheet(std::string("<sheetData><row>") + cell + "</row></sheetData>");
    r = ReadBytes(MakeXlsx(p));
    ASSERT_FALSE(r.ok()) << cell;
    EXPECT_EQ(r.error().code, ErrorCode::kTooLarge);
    EXPECT_NE(r.error().detail.find("outside the grid"), std::string::npos);
  }
  Package row;
  row.sheet = Sheet("<sheetData><row r=\"2000000\"/></sheetData>");
  EXPECT_FALSE(ReadBytes(MakeXlsx(row)).ok());

  // Fonts are matched one by one when they join the style table; tens of thousands of them
  // would take minutes, so such a table is refused.
  Package fonts;
  fonts.styles = std::string("<styleSheet xmlns=\"") + kMain + "\"><fonts>";
  for (int i = 0; i < 9000; ++i)
    fonts.styles += "<font><sz val=\"" + std::to_string(i % 400 + 1) + "\"/></font>";
  fonts.styles += "</fonts></styleSheet>";
  r = ReadBytes(MakeXlsx(fonts));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kTooLarge);
}

TEST(XlsxRead, FirstWorksheetInTabOrderSkipsChartAndMacroSheets) {
  std::vector<Part> parts = {
      {"_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/workbook.xml"))},
      {"xl/workbook.xml",
       std::string("<workbook xmlns=\"") + kMain + "\" xmlns:r=\"" + kRel +
           "\"><sheets><sheet name=\"Chart\" sheetId=\"3\" r:id=\"c\"/>"
           "<sheet name=\"Second\" sheetId=\"2\" r:id=\"b\"/>"
           "<sheet name=\"Third\" sheetId=\"1\" r:id=\"a\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", Rels(Rel("a", "worksheet", "worksheets/sheet1.xml") +
                                          Rel("b", "worksheet", "/xl/worksheets/sheet2.xml") +
                                          Rel("c", "chartsheet", "chartsheets/sheet1.xml"))},
      {"xl\\worksheets\\sheet1.xml", Sheet("<sheetData/>")},  // a writer with Windows paths
      {"xl/worksheets/sheet2.xml", Sheet("<sheetData/>")}};
  std::string z = MakeZip(parts);
  auto all = ReadBytes(z);
  ASSERT_TRUE(all.ok()) << all.error().detail;
  ASSERT_EQ((*all)->WorksheetCount(), 2);
  EXPECT_EQ((*all)->Worksheets(1)->Name(), "Second");
  EXPECT_EQ((*all)->Worksheets(2)->Name(), "Third");
  auto first = ReadBytes(z, {true});
  ASSERT_TRUE(first.ok());
  EXPECT_EQ((*first)->WorksheetCount(), 1);
  EXPECT_EQ((*first)->Worksheets(1)->Name(), "Second");
}

// Inputs the fuzzer once crashed or hung on; each must now read or be refused cleanly.
TEST(XlsxRead, FuzzRegressionsReadOrRefuse) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(QM_TEST_DATA) / "fuzz-regressions" / "xlsx";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().extension() == ".md") continue;
    auto r = ReadWorkbookFile(e.path().string());
    if (!r.ok()) {
      EXPECT_FALSE(r.error().detail.empty()) << e.path();
    }
  }
}

}  // namespace
}  // namespace qm
