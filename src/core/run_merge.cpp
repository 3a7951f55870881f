#include "core/run_merge.h"

#include <exception>

#include "core/dispatch.h"

namespace qm {

std::string PasswordQuestion::Text() const {
  return PasswordPrompt(file, wrong_before);
}

const char* TableStatusName(TableStatus status) {
  return FileStatusName(static_cast<FileStatus>(status));
}

namespace {

// Thrown through the engine when the user stopped the run; caught in RunMerge only.
struct StopRun {};

// The engines' port, answered from a request, an answers source and a view.
class RequestPort : public InteractionPort {
 public:
  RequestPort(const MergeRequest& request, Answers& answers, RunView& view)
      : request_(request), answers_(answers), view_(view) {}

  Answer Message(const std::string& text, const std::string& title, Buttons buttons) override {
    switch (buttons) {
      case Buttons::kOk:
        answers_.Acknowledge({text, title});
        return Answer::kOk;
      case Buttons::kOkCancel:
        return answers_.Confirm({text, title}) ? Answer::kOk : Answer::kCancel;
      case Buttons::kYesNo:
        if (answers_.AnswerSorted({text, title})) {
          Begin(ReportPlace::kStatusLines);
          return Answer::kYes;
        }
        return Answer::kNo;
    }
    return Answer::kCancel;
  }
  std::optional<std::string> Input(PromptKind kind, const std::string& prompt,
                                   const std::string& title,
                                   const std::string& default_answer) override {
    const InputQuestion q{kind, prompt, title, default_answer};
    return kind == PromptKind::kKeyColumn ? answers_.AnswerKeyColumn(q)
                                          : answers_.AnswerHeaderRows(q);
  }
  std::optional<std::string> AskPassword(const std::string& file, bool wrong_before) override {
    CheckStop();
    return answers_.AnswerPassword({file, wrong_before});
  }
  void ReplaceLog(const std::string& text) override {
    Begin(ReportPlace::kLog);
    view_.ReplaceLog(text);
  }
  void AppendLog(const std::string& line) override {
    CheckStop();
    view_.AppendLog(line);
  }
  void ScrollLogToEnd() override { view_.ScrollLogToEnd(); }
  void SetProgressMax(double max) override { view_.SetProgressMax(max); }
  void SetProgressValue(double value) override {
    CheckStop();
    view_.SetProgressValue(value);
  }
  void ClearStatus() override { view_.ClearStatus(); }
  void PrintStatus(const std::string& line) override {
    Begin(ReportPlace::kLog);
    CheckStop();
    view_.PrintStatus(line);
  }
  std::string SourceFolder() override { return request_.folder; }
  std::vector<std::string> FileList() override { return request_.files; }
  void SetCurrentEntry(size_t index) override { view_.SetCurrentEntry(index); }
  void ShowResult(const std::string& path) override { view_.ShowResult(path); }
  void ReportFile(const FileOutcome& o) override {
    view_.ReportTable(
        {o.index, o.name, {}, static_cast<TableStatus>(o.status), o.rows, o.code, o.reason});
  }

 private:
  void Begin(ReportPlace where) {
    if (begun_) return;
    begun_ = true;
    view_.BeginReport(where);
  }
  void CheckStop() {
    if (request_.StopRequested() && std::uncaught_exceptions() == 0) throw StopRun{};
  }

  const MergeRequest& request_;
  Answers& answers_;
  RunView& view_;
  bool begun_ = false;
};

}  // namespace

RunResult RunMerge(const MergeRequest& request, Answers& answers, RunView& view,
                   HeaderState& header, WorkbookStore* store) {
  const std::optional<DispatchChoice> choice = Dispatch(request.kind, request.variant);
  if (!choice) return {Outcome::kEmpty, std::nullopt};
  RequestPort port(request, answers, view);
  DiskStore disk;
  Application app(store ? *store : disk);
  MergeContext ctx{app, port, header, request.passwords, request.source_column};
  try {
    return RunChoice(*choice, ctx);
  } catch (const StopRun&) {
    app.Quit();
    view.AppendLog(kStoppedByUserLine);
    view.ScrollLogToEnd();
    return {Outcome::kInterrupted, std::nullopt};
  }
}

}  // namespace qm
