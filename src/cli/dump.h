// quillmere-cli --dump: the first worksheet of a workbook (or the sheets --sheet chooses), as JSON
// or as a table for people.
#pragma once

#include <string>
#include <vector>

#include "merge/request.h"

namespace qm {

// Prints to standard output, one sheet after the other (in JSON one object per line); returns
// the exit status (2 when the file cannot be read or lacks the sheet). A protected workbook is
// opened with the default password or one of `passwords`.
int RunDump(const std::string& path, bool json, const std::vector<std::string>& passwords = {},
            const SheetChoice& sheets = {});

}  // namespace qm
