// One merge, start to end: the request says what to merge, the answers source answers the run's
// questions, and the view shows what the run reports. Shared by the window (which calls it on a
// worker thread) and the command line.
#pragma once

#include "merge/answers.h"
#include "merge/engines.h"
#include "merge/request.h"
#include "merge/run_view.h"

namespace qm {

// Runs the merge `request` asks for on the calling thread and returns how it ended. `header`
// holds the header values that persist from run to run; `store` is where workbooks are read and
// written (null: the files on disk). A request whose stop flag is set ends the run with nothing
// written and the log's last line 已停止，未保存结果 (Outcome::kInterrupted).
RunResult RunMerge(const MergeRequest& request, Answers& answers, RunView& view,
                   HeaderState& header, WorkbookStore* store = nullptr);

}  // namespace qm
