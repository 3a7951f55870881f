// Fixtures of the package formats made in the tests themselves: zip packages through the
// project's own zip writer, and the BIFF12 records of .xlsb parts byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "workbook/utf.h"
#include "workbook/xlsx/zip_deflate.h"

namespace qm::testing {

using Parts = std::vector<std::pair<std::string, std::string>>;

// Writes `parts` (name, bytes) as a zip package at `path`.
inline void WriteZip(const std::string& path, const Parts& parts) {
  xlsx::ZipDeflateWriter zip;
  ASSERT_TRUE(zip.Open(path).ok()) << path;
  for (const auto& [name, data] : parts) ASSERT_TRUE(zip.AddPart(name, data).ok()) << name;
  ASSERT_TRUE(zip.Finish().ok()) << path;
}

namespace biff12 {

inline std::string U8(uint8_t v) {
  return std::string(1, static_cast<char>(v));
}
inline std::string U16(uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
inline std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
inline std::string F64(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return U32(static_cast<uint32_t>(bits)) + U32(static_cast<uint32_t>(bits >> 32));
}
// An XLWideString: the count of UTF-16 units, then the units.
inline std::string Wide(const std::string& utf8) {
  const std::u16string u = Utf8ToUtf16(utf8);
  std::string s = U32(static_cast<uint32_t>(u.size()));
  for (char16_t c : u) s += U16(static_cast<uint16_t>(c));
  return s;
}
// A record: its type and size in seven-bit groups, then the body.
inline std::string Rec(uint32_t type, const std::string& body = "") {
  std::string s;
  s += static_cast<char>((type & 0x7F) | (type > 0x7F ? 0x80 : 0));
  if (type > 0x7F) s += static_cast<char>((type >> 7) & 0x7F);
  uint32_t n = static_cast<uint32_t>(body.size());
  do {
    uint8_t b = n & 0x7F;
    n >>= 7;
    if (n) b |= 0x80;
    s += static_cast<char>(b);
  } while (n);
  return s + body;
}
// The Cell structure that starts every cell record: column and cell format.
inline std::string CellHead(uint32_t col, uint32_t xf = 0) {
  return U32(col) + U32(xf);
}
inline std::string RowHdr(uint32_t row) {
  return Rec(0x00, U32(row) + U32(0) + U16(300) + U16(0) + U8(0) + U32(0));
}

}  // namespace biff12

struct XlsbSheet {
  XlsbSheet(std::string n, std::string r = "", uint32_t s = 0, bool c = false)
      : name(std::move(n)), records(std::move(r)), state(s), chart(c) {}
  std::string name;
  std::string records;  // the records between BrtBeginSheetData and BrtEndSheetData
  uint32_t state = 0;   // 0 visible, 1 hidden, 2 very hidden
  bool chart = false;   // a chart sheet: no worksheet
  std::string after;    // records after the sheet data (merged ranges)
};

struct XlsbBook {
  std::vector<XlsbSheet> sheets;
  std::vector<std::string> strings;               // the shared strings
  std::vector<std::pair<int, std::string>> fmts;  // custom number formats
  std::vector<uint16_t> xfs = {0};                // the cell formats' number format ids
  bool date1904 = false;
};

// The parts of an .xlsb package holding `book`.
inline Parts XlsbParts(const XlsbBook& book) {
  using namespace biff12;
  Parts parts;
  std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/"
      "package/2006/content-types\"><Default Extension=\"bin\" ContentType=\"application/"
      "vnd.ms-excel.sheet.binary.macroEnabled.main\"/></Types>";
  parts.push_back({"[Content_Types].xml", types});
  parts.push_back({"_rels/.rels",
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                   "relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas."
                   "openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                   "Target=\"xl/workbook.bin\"/></Relationships>"});
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rS\" Type=\"" +
      rel +
      "styles\" Target=\"styles.bin\"/>"
      "<Relationship Id=\"rT\" Type=\"" +
      rel + "sharedStrings\" Target=\"sharedStrings.bin\"/>";
  std::string wb =
      Rec(0x83) + Rec(0x99, U32(book.date1904 ? 1 : 0) + U32(0) + Wide("")) + Rec(0x8F);
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlsbSheet& s = book.sheets[i];
    const std::string id = "rId" + std::to_string(i + 1);
    const std::string part =
        (s.chart ? "chartsheets/sheet" : "worksheets/sheet") + std::to_string(i + 1) + ".bin";
    rels += "<Relationship Id=\"" + id + "\" Type=\"" + rel +
            (s.chart ? "chartsheet" : "worksheet") + "\" Target=\"" + part + "\"/>";
    wb += Rec(0x9C, U32(s.state) + U32(static_cast<uint32_t>(i + 1)) + Wide(id) + Wide(s.name));
    parts.push_back(
        {"xl/" + part, Rec(0x81) + Rec(0x91) + s.records + Rec(0x92) + s.after + Rec(0x82)});
  }
  wb += Rec(0x90) + Rec(0x84);
  parts.push_back({"xl/workbook.bin", wb});
  parts.push_back({"xl/_rels/workbook.bin.rels", rels + "</Relationships>"});
  std::string sst = Rec(0x9F, U32(static_cast<uint32_t>(book.strings.size())) +
                                  U32(static_cast<uint32_t>(book.strings.size())));
  for (const std::string& s : book.strings) sst += Rec(0x13, U8(0) + Wide(s));
  parts.push_back({"xl/sharedStrings.bin", sst + Rec(0xA0)});
  std::string styles = Rec(0x296);
  for (const auto& [id, code] : book.fmts)
    styles += Rec(0x2C, U16(static_cast<uint16_t>(id)) + Wide(code));
  // A style format first, which cells never index, then the cell formats.
  styles += Rec(0x272) + Rec(0x2F, U16(0xFFFF) + U16(0) + std::string(12, '\0')) + Rec(0x273);
  styles += Rec(0x269);
  for (uint16_t fmt : book.xfs) styles += Rec(0x2F, U16(0) + U16(fmt) + std::string(12, '\0'));
  styles += Rec(0x26A) + Rec(0x297);
  parts.push_back({"xl/styles.bin", styles});
  return parts;
}

}  // namespace qm::testing
