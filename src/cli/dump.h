// quillmere-cli --dump: the first worksheet of a workbook, as JSON or as a table for people.
#pragma once

#include <string>

namespace qm {

// Prints to standard output; returns the exit status (2 when the file cannot be read).
int RunDump(const std::string& path, bool json);

}  // namespace qm
