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
#ifdef __GLIBC__
  // Large blocks (the result's row array, text blocks, a source file's bytes) come from the
  // system and go back to it when freed. glibc would raise this threshold after the first such
  // block is freed, and the later ones would then linger in the heap after a table is done.
  static const bool fixed_threshold = mallopt(M_MMAP_THRESHOLD, 256 * 1024) != 0;
  (void)fixed_threshold;
#endif
  for (size_t k = 0; k < files.size(); ++k) {
    TableOutcome o;
    o.file_index = k;
    o.name = files[k];
    outcomes_.push_back({std::move(o)});
  }
}

EngineRun::~EngineRun() {
  reader_.Drop();
  for (const auto& file : outcomes_)
    for (const TableOutcome& o : file) Emit(ev::TableDone{o});
}

TableOutcome& EngineRun::OutcomeOf(size_t k, size_t slot) {
  std::vector<TableOutcome>& file = outcomes_[k];
  while (file.size() <= slot) file.push_back(file.front());
  return file[slot];
}

void EngineRun::SetOutcome(size_t k, TableStatus status, std::optional<long long> rows) {
  if (k >= outcomes_.size()) return;
  outcomes_[k].front().status = status;
  outcomes_[k].front().rows = rows;
}

void EngineRun::SetOutcome(const SourceTable& table, TableStatus status,
                           std::optional<long long> rows) {
  if (table.file_index >= outcomes_.size()) return;
  TableOutcome& o = OutcomeOf(table.file_index, table.slot);
  o.status = status;
  o.rows = rows;
}

void EngineRun::SetByName(size_t k, TableOutcome::ByName account) {
  if (k < outcomes_.size()) outcomes_[k].front().by_name = std::move(account);
}

void EngineRun::SetByName(const SourceTable& table, TableOutcome::ByName account) {
  if (table.file_index < outcomes_.size())
    OutcomeOf(table.file_index, table.slot).by_name = std::move(account);
}

void EngineRun::SkipUnreadable(size_t k, const Error& error) {
  const std::string reason = ErrorReason(error, SourcePath(k));
  if (k < outcomes_.size()) {
    TableOutcome& o = outcomes_[k].front();
    o.status = TableStatus::kUnreadable;
    o.rows.reset();
    o.code = ErrorCodeName(error.code);
    o.reason = reason;
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
  options.first_worksheet_only = FirstSheetOnly(ctx_.request.sheets);
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
  pending_.clear();
  auto table = OpenFile(k);
  // The next workbooks are read while this one is merged, with the passwords as they now stand:
  // two at a time keep both cores reading while the merge itself takes little. With passwords
  // to try only the next one is: the password that opens it moves to the front of the list,
  // and the read after it must start with that order or pay for a key derivation per password.
  const size_t ahead = Passwords().empty() ? WorkbookReader::kReadAhead : 1;
  for (size_t j = k + 1; j < files.size() && j <= k + ahead; ++j)
    reader_.Prefetch(SourcePath(j), SourceOptions(j, true));
  return table;
}

SourceTable EngineRun::TableOf(size_t k, const std::shared_ptr<Workbook>& wb, int sheet_index,
                               size_t slot) {
  SourceTable table;
  table.file_index = k;
  table.file = files[k];
  table.workbook = wb;
  table.sheet_index = sheet_index;
  table.slot = slot;
  table.sheet = table.Sheet().Name();
  table.log_name = TableLogName(files[k], *wb, sheet_index);
  if (k < outcomes_.size()) OutcomeOf(k, slot).sheet = table.sheet;
  return table;
}

Result<SourceTable> EngineRun::OpenFile(size_t k) {
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
  const std::shared_ptr<Workbook> wb = std::move(r.value());
  auto chosen = ChooseSheets(*wb, ctx_.request.sheets, SourcePath(k));
  if (!chosen) return chosen.error();
  SourceTable table = TableOf(k, wb, chosen->sheets.front(), 0);
  if (FirstSheets()) {
    // The first worksheet is merged even when hidden, but a user who sees other tabs would not
    // expect it.
    if (const Worksheet& first = table.Sheet(); first.IsHidden())
      Emit(ev::FirstSheetHidden{files[k], first.Name()});
  } else {
    for (size_t j = 1; j < chosen->sheets.size(); ++j)
      pending_.push_back(TableOf(k, wb, chosen->sheets[j], j));
    hidden_ = std::move(chosen->hidden);
  }
  return table;
}

void EngineRun::AnnounceTemplate() {
  template_announced_ = true;
  if (FirstSheets()) Emit(ev::TableChecking{1, files[0]});
}

void EngineRun::TellTable(size_t k, const std::string& log_name, bool checking) {
  if (checking) Emit(ev::TableChecking{number_, log_name});
  if (!hidden_.empty()) Emit(ev::HiddenSheetsLeftOut{files[k], std::move(hidden_)});
  hidden_.clear();
}

Next EngineRun::NextTable(SourceTable& table) {
  for (;;) {
    if (StopRequested()) return Next::kStopped;
    if (!pending_.empty()) {
      table = std::move(pending_.front());
      pending_.erase(pending_.begin());
      ++number_;
      TellTable(table.file_index, table.log_name);
      return Next::kTable;
    }
    if (next_file_ >= files.size()) return Next::kEnd;
    const size_t k = next_file_++;
    ++number_;
    // Which sheet a file gives is known once it has been read; the first sheet is named before.
    if (FirstSheets()) Emit(ev::TableChecking{number_, files[k]});
    auto opened = OpenTable(k);
    if (!opened) {
      if (StopRequested()) return Next::kStopped;
      if (!FirstSheets()) Emit(ev::TableChecking{number_, files[k]});
      SkipUnreadable(k, opened.error());
      Progress(static_cast<double>(k + 1));
      continue;
    }
    table = std::move(*opened);
    if (!FirstSheets()) TellTable(k, table.log_name);
    return Next::kTable;
  }
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
  const Range area = src.UsedRange();
  // The result's rows are reserved for this table and as many rows for each file still to be
  // read, so that a result of many similar tables grows its row array a few times rather than
  // by doubling, which copies it and holds both copies at the peak.
  const size_t left = files.size() > next_file_ ? files.size() - next_file_ : 0;
  sheet->ReserveRows(static_cast<long long>(row) +
                     area.RowsCount() * static_cast<long long>(left + 1));
  return sheet->PasteFrom(src, area, row, 1);
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
  pending_.clear();
  result.reset();
  sheet = nullptr;
}

std::optional<RunResult> EngineRun::OpenTemplate(SourceTable& tpl) {
  auto opened = OpenTable(0);
  const bool tell = template_announced_ && !FirstSheets();
  if (!opened) {
    if (StopRequested()) return Interrupt();
    if (tell) Emit(ev::TableChecking{1, files[0]});
    return FailTemplate(opened.error());
  }
  // The sorted smart merge names no table, but the hidden sheets left out all the same.
  if (!FirstSheets()) TellTable(0, opened->log_name, tell);
  template_sheet_ = opened->sheet;
  tpl = std::move(*opened);
  return std::nullopt;
}

std::optional<RunResult> EngineRun::TakeTemplate() {
  SourceTable tpl;
  if (auto ended = OpenTemplate(tpl)) return ended;
  if (Status st = PasteTemplate(tpl.Sheet()); !st) return Fail(st.error(), SourcePath(0));
  CloseTable(tpl);
  SetOutcome(tpl, TableStatus::kTemplate, ResultRows());
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
  for (auto& file : outcomes_)
    for (TableOutcome& o : file) {
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
    TableOutcome& o = outcomes_[0].front();
    o.status = TableStatus::kUnreadable;
    o.code = ErrorCodeName(error.code);
    o.reason = ErrorReason(error, SourcePath(0));
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
