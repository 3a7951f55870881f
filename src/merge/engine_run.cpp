#include "merge/engine_run.h"

#include <algorithm>
#include <cmath>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "merge/typed_number.h"

namespace qm::engine {

int AskKeyColumn(InteractionPort& port, const HeaderList& list, int header_width) {
  const InputPrompt prompt = KeyPrompt(list);
  double k = RoundHalfEven(ReadTypedNumber(
      port.Input(PromptKind::kKeyColumn, prompt.prompt, prompt.title, prompt.default_answer)));
  if (!std::isfinite(k) || k < 1 || k > header_width) return 0;
  return static_cast<int>(k);
}

std::string SwitchedToXlsxLine(const std::string& path) {
  return "结果超出.xls格式的行列上限，已保存为" + path;
}

std::string HiddenFirstSheetLine(const std::string& file, const std::string& sheet) {
  return "注意：" + file + "的第一个工作表“" + sheet + "”是隐藏的";
}

std::string TryingPasswordsLine(const std::string& file) {
  return "正在尝试密码：" + file;
}

std::string SkippedLine(const std::string& file, const std::string& reason) {
  return "无法读取，已跳过：" + file + "（" + reason + "）";
}

EngineRun::~EngineRun() {
  for (Workbook* wb : open_sources_) app.workbooks().Close(wb);
  // Every listed file gets its outcome, however the run ended.
  for (const FileOutcome& o : outcomes_) port.ReportFile(o);
}

void EngineRun::TakeFiles() {
  files = port.FileList();
  outcomes_.clear();
  for (size_t k = 0; k < files.size(); ++k) {
    FileOutcome o;
    o.index = k;
    o.name = files[k];
    outcomes_.push_back(std::move(o));
  }
}

void EngineRun::SetOutcome(size_t k, FileStatus status, std::optional<long long> rows) {
  if (k >= outcomes_.size()) return;
  outcomes_[k].status = status;
  outcomes_[k].rows = rows;
}

void EngineRun::SkipUnreadable(size_t k, const Error& error, ReportTo where) {
  const std::string reason = ErrorReason(error, SourcePath(k));
  if (k < outcomes_.size()) {
    outcomes_[k].status = FileStatus::kUnreadable;
    outcomes_[k].rows.reset();
    outcomes_[k].code = ErrorCodeName(error.code);
    outcomes_[k].reason = reason;
  }
  const std::string line = SkippedLine(files[k], reason);
  if (where == ReportTo::kStatus) {
    port.PrintStatus(line);
  } else {
    AppendLog(line);
    ScrollLog();
  }
}

long long EngineRun::ResultRows() const {
  if (!sheet || sheet->IsEmpty()) return 0;
  return sheet->UsedRange().RowsCount();
}

void EngineRun::AppendLog(const std::string& line) {
  port.AppendLog(line);
}

void EngineRun::ScrollLog() {
  port.ScrollLogToEnd();
}

void EngineRun::TakeFolder() {
  folder = WithTrailingSeparator(port.SourceFolder());
}

void EngineRun::CreateResult() {
  result = app.workbooks().Add();
  sheet = result->Worksheets(1);
  app.DisplayAlerts = false;
}

namespace {
// The reader's refusal of a protected file that none of the passwords tried opens; other
// protection (a kind the reader cannot decrypt) is not worth asking about.
bool WantsPassword(const Result<Workbook*>& r) {
  return !r && r.error().code == ErrorCode::kEncrypted && r.error().note == "密码不对或未提供";
}
}  // namespace

ReadOptions EngineRun::SourceOptions(size_t k, bool ahead) {
  ReadOptions options;
  options.first_worksheet_only = true;
  options.passwords = Passwords();
  // The read-ahead runs on another thread, which must not talk to the port; the run reads the
  // file again itself when it gets there.
  if (ahead)
    options.before_slow_tries = [] { return false; };
  else
    options.before_slow_tries = [this, k] {
      AnnounceSlowTries(k);
      return true;
    };
  return options;
}

void EngineRun::AnnounceSlowTries(size_t k) {
  if (std::find(announced_.begin(), announced_.end(), k) != announced_.end()) return;
  announced_.push_back(k);
  port.Notice(TryingPasswordsLine(files[k]));
}

void EngineRun::RememberPassword(const std::string& password) {
  if (password.empty()) return;
  std::vector<std::string>& list = Passwords();
  list.erase(std::remove(list.begin(), list.end(), password), list.end());
  list.insert(list.begin(), password);
}

Result<Workbook*> EngineRun::OpenSource(size_t k) {
  const ReadOptions options = SourceOptions(k, false);
  std::string used;
  auto r = app.workbooks().Open(SourcePath(k), options, &used);
  if (!r && IsTriesPutOff(r.error())) r = app.workbooks().Open(SourcePath(k), options, &used);
  // Every try of a modern encryption costs a hundred thousand rounds of hashing or more: a
  // password that failed on this file, the default one included, is not tried on it again.
  std::vector<std::string> tried = PasswordsToTry(options);
  for (bool wrong = false; WantsPassword(r); wrong = true) {
    std::optional<std::string> answer = port.AskPassword(files[k], wrong);
    if (!answer) break;
    if (std::find(tried.begin(), tried.end(), *answer) != tried.end()) continue;
    tried.push_back(*answer);
    ReadOptions one = options;
    one.passwords = {*answer};
    one.try_default_password = false;
    r = app.workbooks().Open(SourcePath(k), one, &used);
  }
  if (r) {
    open_sources_.push_back(*r);
    RememberPassword(used);
    // The first worksheet is merged even when hidden, but a user who sees other tabs would
    // not expect it.
    if (const Worksheet* first = (*r)->Worksheets(1); first && first->IsHidden()) {
      const std::string line = HiddenFirstSheetLine(files[k], first->Name());
      if (notices_to == ReportTo::kStatus) {
        port.PrintStatus(line);
      } else {
        AppendLog(line);
        ScrollLog();
      }
    }
  }
  // The next workbook is read while this one is merged, with the passwords as they now stand.
  if (r && k + 1 < files.size())
    app.workbooks().Prefetch(SourcePath(k + 1), SourceOptions(k + 1, true));
  return r;
}

void EngineRun::CloseSource(Workbook* wb) {
  open_sources_.erase(std::remove(open_sources_.begin(), open_sources_.end(), wb),
                      open_sources_.end());
#ifdef __GLIBC__
  const bool large = wb->Worksheets(1)->CellCount() >= 50000;
#endif
  app.workbooks().Close(wb);
#ifdef __GLIBC__
  // A large closed source leaves many small freed blocks; hand them back so that the memory in
  // use stays near what the result needs instead of growing with every table read.
  if (large) malloc_trim(0);
#endif
}

Status EngineRun::PasteUsedRange(const Workbook& src, int row) {
  std::shared_ptr<const Worksheet> ws = src.SharedWorksheet(1);
  app.Copy(ws, ws->UsedRange());
  Status st = app.PasteSpecial(*sheet, row, 1);
  if (!st) {
    Error e = st.error();
    e.detail = src.FullName() + ": " + e.detail;
    return e;
  }
  return st;
}

Status EngineRun::PasteTemplate(const Workbook& src) {
  if (Status st = PasteUsedRange(src, 1); !st) return st;
  const CopiedRange* clip = app.Clipboard();
  const Worksheet& ws = *src.Worksheets(1);
  sheet->default_column_width = ws.default_column_width;
  sheet->default_row_height = ws.default_row_height;
  for (size_t i = 0; i < clip->column_widths.size(); ++i)
    if (clip->column_widths[i] > 0)
      sheet->SetColumnWidth(static_cast<int>(i) + 1, clip->column_widths[i]);
  for (size_t i = 0; i < clip->row_heights.size(); ++i)
    if (clip->row_heights[i] > 0)
      sheet->SetRowHeight(static_cast<int>(i) + 1, clip->row_heights[i]);
  return Status::Ok();
}

namespace {
void Discard(EngineRun& run) {
  for (int i = run.app.workbooks().Count(); i >= 1; --i)
    run.app.workbooks().Close(run.app.workbooks().Item(i));
  run.result = nullptr;
  run.sheet = nullptr;
  run.app.Quit();
}
}  // namespace

std::optional<RunResult> EngineRun::TakeTemplate() {
  auto tpl = OpenSource(0);
  if (!tpl) return FailTemplate(tpl.error());
  if (Status st = PasteTemplate(**tpl); !st) return Fail(st.error(), SourcePath(0));
  CloseSource(*tpl);
  SetOutcome(0, FileStatus::kTemplate, ResultRows());
  return std::nullopt;
}

RunResult EngineRun::Stop() {
  Discard(*this);
  return {Outcome::kStopped, std::nullopt};
}

RunResult EngineRun::Cancel() {
  Discard(*this);
  for (FileOutcome& o : outcomes_) {
    o.status = FileStatus::kNotReached;
    o.rows.reset();
  }
  return {Outcome::kCancelled, std::nullopt};
}

RunResult EngineRun::StopAtKey(ReportTo where) {
  if (where == ReportTo::kStatus)
    port.PrintStatus(kStoppedLine);
  else
    port.ReplaceLog(kStoppedLine);
  port.Message(kStopMessage, kAppTitle, Buttons::kOk);
  return Stop();
}

RunResult EngineRun::Fail(const Error& error, const std::string& file) {
  std::string name = file;
  // Details name their file first ("path: reason").
  if (name.empty()) name = error.detail.substr(0, error.detail.find(": "));
  port.Message("合并失败：" + name + "：" + ErrorReason(error, name), kAppTitle, Buttons::kOk);
  Discard(*this);
  return {Outcome::kFailed, std::nullopt};
}

RunResult EngineRun::FailTemplate(const Error& error) {
  if (!outcomes_.empty()) {
    outcomes_[0].status = FileStatus::kUnreadable;
    outcomes_[0].code = ErrorCodeName(error.code);
    outcomes_[0].reason = ErrorReason(error, SourcePath(0));
  }
  return Fail(error, SourcePath(0));
}

Result<SaveResult> EngineRun::Save(const std::string& name, std::string& switched_line) {
  bool created = false;
  std::string out_folder = ResultFolder();
  if (Status st = app.store().MakeFolder(out_folder, created); !st) return st.error();
  // The writer needs room of its own; give back what building the result left spare.
  sheet->ShrinkToFit();
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  auto saved = app.SaveAs(*result, WithTrailingSeparator(out_folder) + name);
  if (!saved) {
    if (created) app.store().RemoveEmptyFolder(out_folder);
    return saved;
  }
  if (saved->switched_to_xlsx) switched_line = SwitchedToXlsxLine(saved->path);
  result->SetFullName(saved->path);
  return saved;
}

RunResult EngineRun::Finish(const std::string& path) {
  app.Visible = true;
  port.ShowResult(path);
  return {Outcome::kDone, path};
}

RunResult EngineRun::SaveAndFinish(const std::string& name, ReportTo where,
                                   const std::string& end_line, bool alerts_back,
                                   const std::vector<std::string>& last_notes) {
  // Saved before the closing line, so that a failed save is never announced as the end.
  std::string switched;
  auto saved = Save(name, switched);
  if (!saved) return Fail(saved.error());
  if (alerts_back) app.DisplayAlerts = true;
  auto tell = [&](const std::string& line) {
    if (where == ReportTo::kStatus)
      port.PrintStatus(line);
    else
      AppendLog(line);
  };
  if (!switched.empty()) tell(switched);
  for (const std::string& w : saved->warnings) tell(w);
  for (const std::string& note : last_notes) tell(note);
  tell(end_line);
  if (where == ReportTo::kLog) ScrollLog();
  return Finish(saved->path);
}

}  // namespace qm::engine

namespace qm {

std::string PasswordPrompt(const std::string& file, bool wrong_before) {
  return wrong_before ? file + " 的密码不对，请重新输入打开密码："
                      : file + " 受密码保护，请输入打开密码：";
}

const char* FileStatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kTemplate:
      return "template";
    case FileStatus::kMerged:
      return "merged";
    case FileStatus::kHeaderMismatch:
      return "header-mismatch";
    case FileStatus::kUnreadable:
      return "unreadable";
    case FileStatus::kNotReached:
      return "not-reached";
  }
  return "not-reached";
}

}  // namespace qm
