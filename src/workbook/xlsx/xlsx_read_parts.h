// Pieces of the package reader that are worth testing on their own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::xlsx {

// Decodes the _xHHHH_ escapes of a text (surrogate pairs joined, "_x005F_" an underscore).
std::string DecodeEscapes(std::string_view s);

// "AB12" -> row 12, col 28 (1-based). False when `ref` is not a cell reference; row or column
// may come back beyond the grid (the caller decides).
bool ParseCellRef(std::string_view ref, int& row, int& col);

// An ISO 8601 date, date-time or time as a serial day number of the given date system.
std::optional<double> IsoToSerial(std::string_view iso, bool date1904);

// Resolves a relationship target against the folder of the part that owns it ("xl/").
std::string ResolveTarget(std::string_view base_dir, std::string_view target);

}  // namespace qm::xlsx
