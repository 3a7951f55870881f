// The text form of a cell value, as a cell shows it and as header lists and logs quote it.
#pragma once

#include <string>

#include "workbook/cell.h"

namespace qm {

// The text form of a value: "" for blank, numbers with up to 15 significant digits, dates as
// yyyy/m/d [h:mm:ss], booleans as True/False, errors as their display text.
std::string ValueText(const CellValue& v);
std::string NumberText(double d);
std::string DateText(double serial, bool date1904);

// A cell is empty when its value as text is the empty string. Errors are not empty.
bool IsEmptyValue(const CellValue& v);

}  // namespace qm
