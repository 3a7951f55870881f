// quillmere-cli: the merge engines without a window.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/dump.h"

int main(int argc, char** argv) {
  CLI::App app{"Merges the workbooks of one folder into one result workbook."};
  std::string dump;
  bool json = false;
  app.add_option("--dump", dump, "print the first worksheet of a workbook");
  app.add_flag("--json", json, "with --dump: print JSON");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 64;
  }
  if (!dump.empty()) return qm::RunDump(dump, json);
  std::cerr << "nothing to do\n";
  return 64;
}
