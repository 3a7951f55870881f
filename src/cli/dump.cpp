#include "cli/dump.h"

#include <iostream>

#include "workbook/io.h"

namespace qm {

int RunDump(const std::string& path, bool) {
  auto r = ReadWorkbookFile(path, {true});
  if (!r) {
    std::cerr << r.error().detail << "\n";
    return 2;
  }
  return 0;
}

}  // namespace qm
