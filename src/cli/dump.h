// quillmere-cli --dump: the first worksheet of a workbook, as JSON or as a table for people.
#pragma once

#include <string>
#include <vector>

namespace qm {

// Prints to standard output; returns the exit status (2 when the file cannot be read). A
// protected workbook is opened with the default password or one of `passwords`.
int RunDump(const std::string& path, bool json, const std::vector<std::string>& passwords = {});

}  // namespace qm
