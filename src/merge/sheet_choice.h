// Which sheets of a read workbook become tables, as the request's sheet choice says. The merge,
// --check and --dump choose the same way.
#pragma once

#include <string>
#include <vector>

#include "merge/request.h"
#include "workbook/result.h"
#include "workbook/workbook.h"

namespace qm {

struct ChosenSheets {
  std::vector<int> sheets;          // 1-based, in tab order; never empty
  std::vector<std::string> hidden;  // hidden sheets passed over that a user would look for
};

// The sheets `choice` takes from `wb`, read from `path`. A CSV file or a web page is one table
// whatever the choice. Fails with ErrorCode::kNoSheet when the workbook has no sheet of that
// name, or no visible sheet where visible ones are asked for.
Result<ChosenSheets> ChooseSheets(const Workbook& wb, const SheetChoice& choice,
                                  const std::string& path);

// Whether reading the first worksheet alone is enough for `choice`.
inline bool FirstSheetOnly(const SheetChoice& choice) {
  return choice.mode == SheetMode::kFirst;
}

// The name the log gives a table: the file alone for a file's first sheet, else the file and
// the sheet in full-width brackets: "一月.xlsx［明细］".
std::string TableLogName(const std::string& file, const Workbook& wb, int sheet_index);

}  // namespace qm
