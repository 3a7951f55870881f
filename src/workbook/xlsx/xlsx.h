// The .xlsx reader and writer behind ReadWorkbookBytes and SaveWorkbookFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../io.h"

namespace qm::xlsx {

// Reads .xlsx and .xlsm packages. Errors name `name` and the reason.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options);

// `warnings`, when given, receives what had to change to fit the format (texts cut, ...).
Status Write(const Workbook& wb, const std::string& path,
             std::vector<std::string>* warnings = nullptr);

}  // namespace qm::xlsx
