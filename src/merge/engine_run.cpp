#include "merge/engine_run.h"

#include <algorithm>
#include <cmath>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "merge/typed_number.h"

namespace qm::engine {

int AskKeyColumn(Answers& answers, const HeaderList& list, int header_width) {
  const InputPrompt prompt = KeyPrompt(list);
  double k = RoundHalfEven(ReadTypedNumber(answers.AnswerKeyColumn(
      {PromptKind::kKeyColumn, prompt.prompt, prompt.title, prompt.default_answer})));
  if (!std::isfinite(k) || k < 1 || k > header_width) return 0;
  return static_cast<int>(k);
}

EngineRun::EngineRun(MergeContext& ctx)
    : ctx_(ctx),
      answers(ctx.answers),
      files(ctx.request.files),
      folder(WithTrailingSeparator(ctx.request.folder)),
      reader_(ctx.store) {
  for (size_t k = 0; k < files.size(); ++k) {
    TableOutcome o;
    o.file_index = k;
    o.name = files[k];
    outcomes_.push_back(std::move(o));
  }
}

EngineRun::~EngineRun() {
  reader_.Drop();
  for (const TableOutcome& o : outcomes_) Emit(ev::TableDone{o});
}

void EngineRun::SetOutcome(size_t k, TableStatus status, std::optional<long long> rows) {
  if (k >= outcomes_.size()) return;
  outcomes_[k].status = status;
  outcomes_[k].rows = rows;
}

void EngineRun::SkipUnreadable(size_t k, const Error& error) {
  const std::string reason = ErrorReason(error, SourcePath(k));
  if (k < outcomes_.size()) {
    outcomes_[k].status = TableStatus::kUnreadable;
    outcomes_[k].rows.reset();
    outcomes_[k].code = ErrorCodeName(error.code);
    outcomes_[k].reason = reason;
  }
  Emit(ev::TableUnreadable{files[k], reason});
}

long long EngineRun::ResultRows() const {
  if (!sheet || sheet->IsEmpty()) return 0;
  return sheet->UsedRange().RowsCount();
}

void EngineRun::CreateResult() {
  result = std::make_unique<Workbook>();
  sheet = &result->AddWorksheet("Sheet1");
}

ReadOptions EngineRun::SourceOptions(size_t k, bool ahead) {
  ReadOptions options;
  options.first_worksheet_only = true;
  options.passwords = Passwords();
  // The read-ahead runs on another thread, which must not report; the run reads the file again
  // itself when it gets there.
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
  Emit(ev::PasswordTriesTakeLong{files[k]});
}

void EngineRun::RememberPassword(const std::string& password) {
  if (password.empty()) return;
  std::vector<std::string>& list = Passwords();
  list.erase(std::remove(list.begin(), list.end(), password), list.end());
  list.insert(list.begin(), password);
}

Result<SourceTable> EngineRun::OpenTable(size_t k) {
  const ReadOptions options = SourceOptions(k, false);
  std::string used;
  auto r = reader_.Read(SourcePath(k), options, &used);
  if (!r && r.error().code == ErrorCode::kTriesPutOff)
    r = reader_.Read(SourcePath(k), options, &used);
  // Every try of a modern encryption costs a hundred thousand rounds of hashing or more: a
  // password that failed on this file, the default one included, is not tried on it again.
  std::vector<std::string> tried = PasswordsToTry(options);
  // Other protection (a kind the reader cannot decrypt) is not worth asking about.
  for (bool wrong = false; !r && r.error().code == ErrorCode::kWrongPassword; wrong = true) {
    if (StopRequested()) break;
    std::optional<std::string> answer = answers.AnswerPassword({files[k], wrong});
    if (!answer) break;
    if (std::find(tried.begin(), tried.end(), *answer) != tried.end()) continue;
    tried.push_back(*answer);
    ReadOptions one = options;
    one.passwords = {*answer};
    one.try_default_password = false;
    r = reader_.Read(SourcePath(k), one, &used);
  }
  if (!r) return r.error();
  RememberPassword(used);
  SourceTable table;
  table.file_index = k;
  table.file = files[k];
  table.workbook = std::move(r.value());
  // The first worksheet is merged even when hidden, but a user who sees other tabs would not
  // expect it.
  if (const Worksheet& first = table.Sheet(); first.IsHidden())
    Emit(ev::FirstSheetHidden{files[k], first.Name()});
  // The next workbook is read while this one is merged, with the passwords as they now stand.
  if (k + 1 < files.size()) reader_.Prefetch(SourcePath(k + 1), SourceOptions(k + 1, true));
  return table;
}

void EngineRun::CloseTable(SourceTable& table) {
#ifdef __GLIBC__
  const bool large = table.workbook && table.Sheet().CellCount() >= 50000;
#endif
  table.workbook.reset();
#ifdef __GLIBC__
  // A large closed source leaves many small freed blocks; hand them back so that the memory in
  // use stays near what the result needs instead of growing with every table read.
  if (large) malloc_trim(0);
#endif
}

Status EngineRun::PasteUsedRange(const Worksheet& src, int row) {
  return sheet->PasteFrom(src, src.UsedRange(), row, 1);
}

Status EngineRun::PasteTemplate(const Worksheet& src) {
  if (Status st = PasteUsedRange(src, 1); !st) return st;
  sheet->default_column_width = src.default_column_width;
  sheet->default_row_height = src.default_row_height;
  // The block lands at (1, 1), so its first column's width goes to column 1, and so on.
  const Range area = src.UsedRange();
  for (int c = area.c1; c <= area.c2; ++c)
    if (const double w = src.ColumnWidth(c); w > 0) sheet->SetColumnWidth(c - area.c1 + 1, w);
  for (int r = area.r1; r <= area.r2; ++r)
    if (const double h = src.RowHeight(r); h > 0) sheet->SetRowHeight(r - area.r1 + 1, h);
  return Status::Ok();
}

void EngineRun::Discard() {
  reader_.Drop();
  result.reset();
  sheet = nullptr;
}

std::optional<RunResult> EngineRun::TakeTemplate() {
  auto tpl = OpenTable(0);
  if (!tpl) {
    if (StopRequested()) return Interrupt();
    return FailTemplate(tpl.error());
  }
  if (Status st = PasteTemplate(tpl->Sheet()); !st) return Fail(st.error(), SourcePath(0));
  CloseTable(*tpl);
  SetOutcome(0, TableStatus::kTemplate, ResultRows());
  return std::nullopt;
}

RunResult EngineRun::StopAtKey() {
  Emit(ev::KeyRefused{});
  answers.Acknowledge({texts::kStopMessage, texts::kAppTitle});
  Discard();
  return {Outcome::kStopped, std::nullopt};
}

RunResult EngineRun::Cancel() {
  Discard();
  for (TableOutcome& o : outcomes_) {
    o.status = TableStatus::kNotReached;
    o.rows.reset();
  }
  return {Outcome::kCancelled, std::nullopt};
}

RunResult EngineRun::Interrupt() {
  Discard();
  Emit(ev::Interrupted{});
  return {Outcome::kInterrupted, std::nullopt};
}

RunResult EngineRun::Fail(const Error& error, const std::string& file) {
  const std::string name = file.empty() ? error.file : file;
  answers.Acknowledge({"合并失败：" + name + "：" + ErrorReason(error, name), texts::kAppTitle});
  Discard();
  return {Outcome::kFailed, std::nullopt};
}

RunResult EngineRun::FailTemplate(const Error& error) {
  if (!outcomes_.empty()) {
    outcomes_[0].status = TableStatus::kUnreadable;
    outcomes_[0].code = ErrorCodeName(error.code);
    outcomes_[0].reason = ErrorReason(error, SourcePath(0));
  }
  return Fail(error, SourcePath(0));
}

RunResult EngineRun::SaveAndFinish(const std::string& name, std::vector<std::string> notes) {
  if (StopRequested()) return Interrupt();
  WorkbookStore& store = ctx_.store;
  bool created = false;
  const std::string out_folder = ResultFolder();
  if (Status st = store.MakeFolder(out_folder, created); !st) return Fail(st.error(), out_folder);
  // The writer needs room of its own; give back what building the result left spare.
  reader_.Drop();
  sheet->ShrinkToFit();
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  const std::string path = WithTrailingSeparator(out_folder) + name;
  auto saved = store.Save(*result, path);
  if (!saved) {
    if (created) store.RemoveEmptyFolder(out_folder);
    return Fail(saved.error(), saved.error().file.empty() ? path : saved.error().file);
  }
  Emit(ev::Saved{saved->path, saved->switched_to_xlsx, saved->warnings, std::move(notes)});
  return {Outcome::kDone, saved->path};
}

}  // namespace qm::engine
