#include "app/run_thread.h"

#include <QMetaObject>
#include <QObject>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

namespace qm {

// What the worker and the GUI thread share: the answer a question waits for, and whether
// questions are still asked at all. It outlives the RunThread when a posted question does.
struct RunThread::Shared {
  std::mutex mutex;
  std::condition_variable answered;
  bool released = false;
};

// The run's answers source and view on the worker: each call goes to the window's own on the
// GUI thread.
class RunThread::Bridge : public Answers, public RunView {
 public:
  Bridge(QObject* gui, Answers& answers, RunView& view, std::shared_ptr<Shared> shared)
      : gui_(gui), answers_(answers), view_(view), shared_(std::move(shared)) {}

  bool Confirm(const Confirmation& q) override {
    return Ask<bool>([a = &answers_, q] { return a->Confirm(q); }, false);
  }
  bool AnswerSorted(const SortedQuestion& q) override {
    return Ask<bool>([a = &answers_, q] { return a->AnswerSorted(q); }, false);
  }
  std::optional<std::string> AnswerHeaderRows(const InputQuestion& q) override {
    return Ask<std::optional<std::string>>([a = &answers_, q] { return a->AnswerHeaderRows(q); },
                                           std::nullopt);
  }
  std::optional<std::string> AnswerKeyColumn(const InputQuestion& q) override {
    return Ask<std::optional<std::string>>([a = &answers_, q] { return a->AnswerKeyColumn(q); },
                                           std::nullopt);
  }
  std::optional<std::string> AnswerPassword(const PasswordQuestion& q) override {
    return Ask<std::optional<std::string>>([a = &answers_, q] { return a->AnswerPassword(q); },
                                           std::nullopt);
  }
  void Acknowledge(const Notice& n) override {
    Ask<bool>(
        [a = &answers_, n] {
          a->Acknowledge(n);
          return true;
        },
        true);
  }

  void BeginReport(ReportPlace where) override {
    Show([where](RunView& v) { v.BeginReport(where); });
  }
  void ReplaceLog(const std::string& text) override {
    Show([text](RunView& v) { v.ReplaceLog(text); });
  }
  void AppendLog(const std::string& line) override {
    Show([line](RunView& v) { v.AppendLog(line); });
  }
  void ScrollLogToEnd() override {
    Show([](RunView& v) { v.ScrollLogToEnd(); });
  }
  void SetProgressMax(double max) override {
    Show([max](RunView& v) { v.SetProgressMax(max); });
  }
  void SetProgressValue(double value) override {
    Show([value](RunView& v) { v.SetProgressValue(value); });
  }
  void ClearStatus() override {
    Show([](RunView& v) { v.ClearStatus(); });
  }
  void PrintStatus(const std::string& line) override {
    Show([line](RunView& v) { v.PrintStatus(line); });
  }
  void SetCurrentEntry(size_t index) override {
    Show([index](RunView& v) { v.SetCurrentEntry(index); });
  }
  void ShowNotice(const std::string& line) override {
    Show([line](RunView& v) { v.ShowNotice(line); });
  }
  void ShowResult(const std::string& path) override {
    Show([path](RunView& v) { v.ShowResult(path); });
  }
  void ReportTable(const TableOutcome& outcome) override {
    Show([outcome](RunView& v) { v.ReportTable(outcome); });
  }

  // Runs `f` on the GUI thread after everything posted before it.
  template <class F>
  void Post(F f) {
    QMetaObject::invokeMethod(gui_, std::move(f), Qt::QueuedConnection);
  }

 private:
  template <class F>
  void Show(F f) {
    Post([v = &view_, f = std::move(f)] { f(*v); });
  }

  // Posts the question behind everything shown so far and waits for its answer. A released
  // run gets `closed` at once; so does one released while it waits, though the question may
  // still be on its way to the GUI thread.
  template <class T, class F>
  T Ask(F ask, T closed) {
    auto answer = std::make_shared<std::optional<T>>();
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      if (shared_->released) return closed;
    }
    Post([shared = shared_, answer, ask = std::move(ask), closed] {
      bool released;
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        released = shared->released;
      }
      T value = released ? closed : ask();
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        *answer = std::move(value);
      }
      shared->answered.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->answered.wait(lock, [&] { return answer->has_value() || shared_->released; });
    return answer->has_value() ? std::move(**answer) : closed;
  }

  QObject* gui_;
  Answers& answers_;
  RunView& view_;
  std::shared_ptr<Shared> shared_;
};

RunThread::RunThread(QObject* gui, Answers& answers, RunView& view, Body body, Done done)
    : shared_(std::make_shared<Shared>()),
      bridge_(std::make_unique<Bridge>(gui, answers, view, shared_)) {
  thread_ = std::thread([bridge = bridge_.get(), body = std::move(body), done = std::move(done)] {
    RunResult result{Outcome::kFailed, std::nullopt};
    try {
      result = body(*bridge, *bridge);
    } catch (const std::bad_alloc&) {
      // The engines report running out of memory as a value; this is the last line of defence,
      // so the window learns that the run is over instead of the program ending.
      bridge->AppendLog("合并失败：内存不足");
    } catch (const std::exception&) {
      bridge->AppendLog("合并失败：程序出错");
    }
    bridge->Post([done, result] { done(result); });
  });
}

RunThread::~RunThread() {
  Release();
  if (thread_.joinable()) thread_.join();
}

void RunThread::Release() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->released = true;
  }
  shared_->answered.notify_all();
}

}  // namespace qm
