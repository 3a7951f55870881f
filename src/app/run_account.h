// How the window tells what became of each table of a run: the icon and tooltip of a list entry,
// and the account that stands in the tips panel's place after a run.
#pragma once

#include <QIcon>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "core/run_summary.h"
#include "merge/run_view.h"

namespace qm {

// One icon per outcome, drawn by the program: the template and a merged table a tick (blue and
// green), a header that differs an orange exclamation mark, an unreadable file a red cross, a
// table the run never reached an empty grey ring.
QIcon OutcomeIcon(TableStatus status);

// What a list entry's tooltip says of its table: "已合并12行", "无法读取，已跳过：<reason>" ...
QString OutcomeToolTip(const TableOutcome& outcome);

// The run's account counted from its tables, as the log's closing line counts it.
RunSummary SummarizeTables(const std::vector<TableOutcome>& tables);

// The account as a page: `heading` (the log's account line, which names the result, or the
// log's last line for a run that saved nothing), for a saved result a link that opens its folder,
// and a table of every table with its file, outcome, rows and reason.
QString AccountPage(const std::string& heading, const std::vector<TableOutcome>& tables,
                    const std::optional<std::string>& result_path);

}  // namespace qm
