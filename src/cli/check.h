// quillmere-cli --check: reads every listed workbook as a merge would and says, per file, what a
// merge would find, without writing anything. What a user runs before a long merge.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/byname_layout.h"
#include "merge/request.h"

namespace qm {

// One table a merge would take: the first worksheet of a file, or each sheet the sheet choice
// takes from it. A file that cannot be read, or lacks the sheet, is one entry.
struct CheckedFile {
  std::string name;
  bool readable = false;
  std::string format, sheet;  // readable files; the format with a text file's encoding
  std::string log_name;       // the file, with the sheet in ［］ when not the first one
  bool sheet_hidden = false;  // the sheet merged is hidden
  std::vector<std::string> hidden_left_out;  // hidden sheets the choice passes over
  long long rows = 0, cols = 0;              // the sheet's used range
  int header_row = 0, header_width = 0;
  std::string header_text;             // the header list's text form, compared with the template's
  std::optional<bool> header_matches;  // null when this file or the template is unreadable
  std::string code, reason;            // unreadable files
  // What the by-name merge would do with the table's columns: those it would add to the result
  // and the result's it would lack (empty for the template).
  std::vector<byname::TableColumn> columns;
  std::vector<std::string> columns_added, columns_missing;
};

// Reads `files` of `folder` (the first is the template) on `workers` threads at once, protected
// ones with the default password or one of `passwords`, and takes the tables `sheets` chooses;
// the results keep the list order.
std::vector<CheckedFile> CheckFiles(const std::string& folder,
                                    const std::vector<std::string>& files, unsigned workers,
                                    const std::vector<std::string>& passwords = {},
                                    const SheetChoice& sheets = {});

// Prints the results (an aligned table, or JSON) and returns the exit status: 0 when every file
// is readable, 3 when some are not. What only a sheet choice other than the first sheet brings
// (the hidden sheets passed over) is said only then.
int PrintCheck(const std::vector<CheckedFile>& checked, bool json, const SheetChoice& sheets = {});

}  // namespace qm
