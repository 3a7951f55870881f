#include "app/run_account.h"

namespace qm {

RunSummary SummarizeTables(const std::vector<TableOutcome>& tables) {
  std::vector<FileOutcome> files;
  files.reserve(tables.size());
  for (const TableOutcome& t : tables)
    files.push_back(
        {t.file_index, t.name, static_cast<FileStatus>(t.status), t.rows, t.code, t.reason});
  return Summarize(files);
}

}  // namespace qm
