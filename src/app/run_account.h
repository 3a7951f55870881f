// The account of a run as the window keeps it: per table.
#pragma once

#include <vector>

#include "core/run_summary.h"
#include "merge/run_view.h"

namespace qm {

// The run's account counted from its tables, as the log's closing line counts it.
RunSummary SummarizeTables(const std::vector<TableOutcome>& tables);

}  // namespace qm
