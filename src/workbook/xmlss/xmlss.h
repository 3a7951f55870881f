// The reader of XML Spreadsheet 2003 documents (<Workbook xmlns="urn:schemas-microsoft-com:
// office:spreadsheet">), which many systems export under an .xls or .xml name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../io.h"

namespace qm::xmlss {

// Worksheets with their values, the styles' number formats, merged ranges, hidden sheets, row
// heights and column widths. Formulas are not kept: a cell holds the value Excel saved with it.
// Errors name `name` and the reason.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options);

}  // namespace qm::xmlss
