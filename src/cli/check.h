// quillmere-cli --check: reads every listed workbook as a merge would and says, per file, what a
// merge would find, without writing anything. What a user runs before a long merge.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm {

struct CheckedFile {
  std::string name;
  bool readable = false;
  std::string format, sheet;     // readable files
  bool sheet_hidden = false;     // the first worksheet, the one merged, is hidden
  long long rows = 0, cols = 0;  // the first worksheet's used range
  int header_row = 0, header_width = 0;
  std::string header_text;             // the header list's text form, compared with the template's
  std::optional<bool> header_matches;  // null when this file or the template is unreadable
  std::string code, reason;            // unreadable files
};

// Reads `files` of `folder` (the first is the template) on `workers` threads at once, protected
// ones with the default password or one of `passwords`; the results keep the list order.
std::vector<CheckedFile> CheckFiles(const std::string& folder,
                                    const std::vector<std::string>& files, unsigned workers,
                                    const std::vector<std::string>& passwords = {});

// Prints the results (an aligned table, or JSON) and returns the exit status: 0 when every file
// is readable, 3 when some are not.
int PrintCheck(const std::vector<CheckedFile>& checked, bool json);

}  // namespace qm
