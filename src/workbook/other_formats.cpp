#include "other_formats.h"

#include <string_view>

#include "ods/ods.h"
#include "xlsb/xlsb.h"
#include "xlsx/xlsx.h"
#include "xlsx/zip_reader.h"
#include "xmlss/xmlss.h"

namespace qm {

namespace {

constexpr std::string_view kOdsMime = "application/vnd.oasis.opendocument.spreadsheet";
constexpr std::string_view kXmlssNamespace = "urn:schemas-microsoft-com:office:spreadsheet";
constexpr std::string_view kOfficeNamespace = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

// The start of a document as one byte per character: UTF-16 keeps its low bytes (the markup
// that decides is ASCII), everything else its bytes.
std::string AsciiHead(const uint8_t* d, size_t n) {
  constexpr size_t kHead = 32768;
  std::string out;
  size_t i = 0;
  int utf16 = 0;  // 1 little endian, 2 big endian
  if (n >= 2 && d[0] == 0xFF && d[1] == 0xFE)
    utf16 = 1, i = 2;
  else if (n >= 2 && d[0] == 0xFE && d[1] == 0xFF)
    utf16 = 2, i = 2;
  else if (n >= 2 && d[0] == '<' && d[1] == 0)
    utf16 = 1;
  else if (n >= 2 && d[0] == 0 && d[1] == '<')
    utf16 = 2;
  else if (n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF)
    i = 3;
  if (utf16) {
    for (; i + 1 < n && out.size() < kHead; i += 2) {
      const uint8_t lo = utf16 == 1 ? d[i] : d[i + 1], hi = utf16 == 1 ? d[i + 1] : d[i];
      out += hi == 0 ? static_cast<char>(lo) : '?';
    }
  } else {
    out.assign(reinterpret_cast<const char*>(d + i), std::min(n - i, kHead));
  }
  return out;
}

// The root element's start tag ("<ss:Workbook xmlns=...>"), after the declaration, processing
// instructions, comments and a document type; "" when the text does not start like XML.
std::string_view RootTag(std::string_view s) {
  size_t i = 0;
  for (;;) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    if (i >= s.size() || s[i] != '<') return {};
    std::string_view rest = s.substr(i);
    std::string_view close;
    if (rest.rfind("<?", 0) == 0)
      close = "?>";
    else if (rest.rfind("<!--", 0) == 0)
      close = "-->";
    else if (rest.rfind("<!DOCTYPE", 0) == 0 && rest.find('[') < rest.find('>'))
      close = "]>";  // with an internal subset, whose declarations hold '>' too
    else if (rest.rfind("<!", 0) == 0)
      close = ">";
    else
      return rest.substr(0, rest.find('>'));
    const size_t end = rest.find(close);
    if (end == std::string_view::npos) return {};
    i += end + close.size();
  }
}

std::string_view LocalOf(std::string_view tag) {
  size_t end = 1;
  while (end < tag.size() && tag[end] != ' ' && tag[end] != '\t' && tag[end] != '\r' &&
         tag[end] != '\n' && tag[end] != '/' && tag[end] != '>')
    ++end;
  std::string_view name = tag.substr(1, end - 1);
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace

XmlKind SniffXml(const uint8_t* data, size_t size) {
  const std::string head = AsciiHead(data, size);
  const std::string_view tag = RootTag(head);
  if (tag.empty()) return XmlKind::kNone;
  const std::string_view local = LocalOf(tag);
  if (local == "Workbook" && tag.find(kXmlssNamespace) != std::string_view::npos)
    return XmlKind::kXmlSpreadsheet;
  if (local == "document" && tag.find(kOfficeNamespace) != std::string_view::npos) {
    // A flat text or drawing document is no table.
    const size_t mime = tag.find("mimetype=");
    if (mime != std::string_view::npos)
      return tag.substr(mime + 10, kOdsMime.size()) == kOdsMime ? XmlKind::kFlatOds
                                                                : XmlKind::kNone;
    return head.find(":spreadsheet") != std::string::npos ? XmlKind::kFlatOds : XmlKind::kNone;
  }
  return XmlKind::kNone;
}

PackageKind SniffPackage(const uint8_t* data, size_t size) {
  auto zip = zip::Archive::Open(data, size, "");
  if (!zip.ok()) return PackageKind::kOoxml;
  if (const zip::Entry* mime = zip->Find("mimetype"); mime && mime->size < 256) {
    auto text = zip->ReadAll(*mime);
    // Spreadsheets and their templates.
    if (text.ok() && std::string_view(*text).rfind(kOdsMime, 0) == 0) return PackageKind::kOds;
  }
  if (zip->Find("xl/workbook.xml")) return PackageKind::kOoxml;
  if (zip->Find("xl/workbook.bin")) return PackageKind::kXlsb;
  if (const zip::Entry* types = zip->Find("[Content_Types].xml");
      types && types->size < (1 << 20)) {
    auto text = zip->ReadAll(*types);
    if (text.ok() && text->find("sheet.binary.macroEnabled.main") != std::string::npos)
      return PackageKind::kXlsb;
  }
  // An OpenDocument package that lost its mimetype entry still has its content and manifest.
  if (!zip->Find("[Content_Types].xml") && zip->Find("content.xml") &&
      zip->Find("META-INF/manifest.xml"))
    return PackageKind::kOds;
  return PackageKind::kOoxml;
}

Result<std::unique_ptr<Workbook>> ReadPackage(const uint8_t* data, size_t size,
                                              const std::string& name, const ReadOptions& options) {
  switch (SniffPackage(data, size)) {
    case PackageKind::kOds:
      return ods::Read(data, size, name, options);
    case PackageKind::kXlsb:
      return xlsb::Read(data, size, name, options);
    case PackageKind::kOoxml:
      break;
  }
  return xlsx::Read(data, size, name, options);
}

Result<std::unique_ptr<Workbook>> ReadXmlDocument(XmlKind kind, const uint8_t* data, size_t size,
                                                  const std::string& name,
                                                  const ReadOptions& options) {
  if (kind == XmlKind::kFlatOds) return ods::ReadFlat(data, size, name, options);
  return xmlss::Read(data, size, name, options);
}

}  // namespace qm
