// The optional column 来源文件: every data row of a result names the workbook it came from.
// Engines note which rows each workbook brought while they build the result and write the
// column once, after every header detection and key prompt, so that those see the tables as
// they would without it; a pass that moves whole rows afterwards carries the names along.
#pragma once

#include <string>
#include <vector>

#include "workbook/result.h"
#include "workbook/worksheet.h"

namespace qm::engine {

inline constexpr const char* kSourceColumnHeader = "来源文件";
inline constexpr const char* kSourceSheetColumnHeader = "来源工作表";

class SourceColumn {
 public:
  // `with_sheets`: a second column, 来源工作表, right of 来源文件 names each row's sheet (when a
  // run takes several sheets of a workbook).
  explicit SourceColumn(bool with_sheets = false) : with_sheets_(with_sheets) {}

  // Rows first..last of the result came from the workbook listed as `name`, from its sheet
  // `sheet`. A later note over the same rows wins, as a later paste over them does.
  void Note(int first, int last, const std::string& name, const std::string& sheet = {});

  // Writes the header into (header_row, column), formatted as the header cell to its left, and
  // the noted names into `column` (the sheets' into column + 1). Rows that hold nothing are left
  // without a name. Fails when a column lies beyond the grid.
  Status Write(Worksheet& sheet, int header_row, int column) const;

 private:
  struct Block {
    int first, last;
    std::string name, sheet;
  };
  struct Names {
    int first, last;  // the columns the names go into
  };
  Status WriteColumn(Worksheet& sheet, int header_row, int column, const char* header,
                     std::string Block::*text, Names names) const;

  bool with_sheets_;
  std::vector<Block> blocks_;
};

// The last row of a sheet's used range, 0 for an empty sheet.
int LastUsedRow(const Worksheet& sheet);

// Where the column 来源文件 goes once every table is in: one past the last used column, so that
// it never lands on a column that any table brought, however much wider than the template's
// header that table was.
int ColumnAfterAll(const Worksheet& sheet);

}  // namespace qm::engine
