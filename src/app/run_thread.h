// One merge on a worker thread. The run's questions are asked on the GUI thread while the run
// waits for the answer; what it shows reaches the GUI thread queued, in the order it was shown.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "merge/answers.h"
#include "merge/engines.h"
#include "merge/run_view.h"

class QObject;

namespace qm {

class RunThread {
 public:
  using Body = std::function<RunResult(Answers&, RunView&)>;
  using Done = std::function<void(const RunResult&)>;

  // Starts `body` on a new thread. `answers` and `view` are called on the thread of `gui` only,
  // and `done` there too, once the body has returned and everything it showed has been shown.
  RunThread(QObject* gui, Answers& answers, RunView& view, Body body, Done done);
  // Releases a question still waiting and waits for the thread to end.
  ~RunThread();

  RunThread(const RunThread&) = delete;
  RunThread& operator=(const RunThread&) = delete;

  // From now on every question is answered as closing its box answers it (Cancel, No), without
  // asking; one the run is waiting on now is answered so too. For a run the user stopped, and
  // for a window going away.
  void Release();

 private:
  struct Shared;
  class Bridge;

  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Bridge> bridge_;
  std::thread thread_;
};

}  // namespace qm
