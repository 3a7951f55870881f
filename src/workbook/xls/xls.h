// The .xls reader and writer behind ReadWorkbookBytes and SaveWorkbookFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../io.h"

namespace qm::cfb {
class Reader;
}

namespace qm::xls {

// Reads BIFF2 to BIFF8, in a compound file or raw. Errors name `name` and the reason.
// `used_password` receives the user's password that opened the file ("" when none was needed).
// An encrypted .xlsx package in a compound file is not BIFF: the caller decrypts it (see
// office/ooxml_decrypt.h) and hands the package to the package reader.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options,
                                       std::string* used_password = nullptr);

// The same for a compound file the caller has opened already.
Result<std::unique_ptr<Workbook>> Read(const cfb::Reader& cfb, const std::string& name,
                                       const ReadOptions& options,
                                       std::string* used_password = nullptr);

// Writes BIFF8. `warnings`, when given, receives what had to change to fit the format (texts
// cut, formulas written as their values, ...).
Status Write(const Workbook& wb, const std::string& path,
             std::vector<std::string>* warnings = nullptr);

}  // namespace qm::xls
