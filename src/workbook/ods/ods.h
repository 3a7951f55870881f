// The reader of OpenDocument spreadsheets: the zip package (.ods, .ots) and the flat XML file
// (.fods).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../io.h"

namespace qm::ods {

// Tables with their values (a formula's cell keeps the value saved with it), number formats
// turned into the equivalent Excel format codes, merged ranges from spans, hidden tables.
// Repeated rows and columns that hold a value are charged to the memory budget before they are
// expanded; empty ones, styled or not, are only skipped over. Errors name `name` and the reason.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options);
Result<std::unique_ptr<Workbook>> ReadFlat(const uint8_t* data, size_t size,
                                           const std::string& name, const ReadOptions& options);

}  // namespace qm::ods
