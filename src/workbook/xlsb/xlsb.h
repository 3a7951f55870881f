// The reader of Excel binary workbooks (.xlsb): a zip package like .xlsx whose parts are BIFF12
// record streams instead of XML.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../io.h"
#include "../xlsx/zip_reader.h"

namespace qm::xlsb {

// Worksheets with their values (a formula's cell keeps its cached value), shared strings, the
// styles' number formats (so dates stay dates), merged ranges, column widths and hidden sheets.
// Chart, macro and dialog sheets are left out. Errors name `name` and the reason.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options);

// The same for a package already open (the .xlsx reader hands over one whose main part is
// binary, as a decrypted .xlsb is).
Result<std::unique_ptr<Workbook>> ReadArchive(zip::Archive& zip, const std::string& name,
                                              const ReadOptions& options);

}  // namespace qm::xlsb
