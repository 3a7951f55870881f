#include "core/run_merge.h"

#include "core/dispatch.h"
#include "merge/presenter.h"

namespace qm {

RunResult RunMerge(const MergeRequest& request, Answers& answers, RunView& view,
                   HeaderState& header, WorkbookStore* store) {
  const std::optional<DispatchChoice> choice = Dispatch(request.kind, request.variant);
  if (!choice) return {Outcome::kEmpty, std::nullopt};
  Presenter presenter(view);
  DiskStore disk;
  MergeContext ctx{request, answers, presenter, header, store ? *store : disk};
  return RunChoice(*choice, ctx);
}

}  // namespace qm
