// Which reader a zip package or an XML document goes to, by what it holds: an OpenDocument or an
// Excel binary (.xlsb) package rather than an .xlsx, an XML Spreadsheet 2003 or a flat
// OpenDocument file rather than some other XML. Names and extensions play no part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io.h"

namespace qm {

enum class PackageKind { kOoxml, kXlsb, kOds };
// Looks at the package's entries (and, for OpenDocument, its mimetype); kOoxml when nothing
// says otherwise, so the .xlsx reader gives its own reasons for what it cannot read.
PackageKind SniffPackage(const uint8_t* data, size_t size);

enum class XmlKind { kNone, kXmlSpreadsheet, kFlatOds };
// Looks at the root element of an XML document (UTF-8, UTF-16 or an 8-bit encoding).
XmlKind SniffXml(const uint8_t* data, size_t size);

// Reads a zip package of any of the kinds above.
Result<std::unique_ptr<Workbook>> ReadPackage(const uint8_t* data, size_t size,
                                              const std::string& name, const ReadOptions& options);
// Reads an XML document of a kind other than kNone.
Result<std::unique_ptr<Workbook>> ReadXmlDocument(XmlKind kind, const uint8_t* data, size_t size,
                                                  const std::string& name,
                                                  const ReadOptions& options);

}  // namespace qm
