#include "store.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

#include "memory_budget.h"
#include "paths.h"

namespace qm {

namespace {

// A read whose running out of memory (or any other exception) becomes an error value naming the
// file: a background read's exception would otherwise surface later, where nothing expects it.
Result<std::unique_ptr<Workbook>> GuardedRead(WorkbookStore& store, const std::string& path,
                                              const ReadOptions& options,
                                              std::string* used_password) {
  try {
    return store.Read(path, options, used_password);
  } catch (const std::bad_alloc&) {
    return MakeError(ErrorCode::kNoMemory, path + ": not enough memory to hold the workbook",
                     "系统无法分配更多内存");
  } catch (const std::exception& e) {
    return MakeError(ErrorCode::kIo, path + ": reading the file failed (" + e.what() + ")");
  }
}

}  // namespace

bool WorkbookReader::Ahead::Serves(const std::string& p, const ReadOptions& options) const {
  // A read ahead with other passwords may have been refused where these would open the file.
  return path == p && first_only == options.first_worksheet_only && passwords == options.passwords;
}

void WorkbookReader::Prefetch(const std::string& path, const ReadOptions& options) {
  for (const Ahead& a : ahead_)
    if (a.Serves(path, options)) return;
  // Dropping a read waits for it: a future of std::async blocks until its work is done.
  if (ahead_.size() >= kReadAhead) ahead_.pop_front();
  WorkbookStore* store = &store_;
  Ahead a{path, options.first_worksheet_only, options.passwords, {}};
  try {
    a.outcome = std::async(std::launch::async, [store, path, options] {
      ReadOutcome out{MakeError(ErrorCode::kIo, ""), {}};
      out.workbook = GuardedRead(*store, path, options, &out.used_password);
      return out;
    });
  } catch (const std::exception&) {
    // No thread to spare (a low address-space limit, ...): the file is read when asked for.
    return;
  }
  ahead_.push_back(std::move(a));
}

Result<std::unique_ptr<Workbook>> WorkbookReader::Read(const std::string& path,
                                                       const ReadOptions& options,
                                                       std::string* used_password) {
  Result<std::unique_ptr<Workbook>> r = MakeError(ErrorCode::kIo, "");
  std::string used;
  auto match = std::find_if(ahead_.begin(), ahead_.end(),
                            [&](const Ahead& a) { return a.Serves(path, options); });
  if (match != ahead_.end()) {
    // Reads started before this one are not wanted any more.
    ahead_.erase(ahead_.begin(), match);
    ReadOutcome got = ahead_.front().outcome.get();
    ahead_.pop_front();
    r = std::move(got.workbook);
    used = std::move(got.used_password);
  } else {
    // Reads of this path with other options, and those before them, are dropped.
    auto last = std::find_if(ahead_.rbegin(), ahead_.rend(),
                             [&](const Ahead& a) { return a.path == path; });
    ahead_.erase(ahead_.begin(), last.base());
    r = GuardedRead(store_, path, options, &used);
  }
  if (used_password) *used_password = r ? used : std::string();
  if (r && (*r)->WorksheetCount() == 0)
    return MakeError(ErrorCode::kCorrupt, path + ": the workbook has no worksheet", "没有工作表");
  return r;
}

void WorkbookReader::Drop() {
  ahead_.clear();
}

// --- Stores ------------------------------------------------------------------------------------

namespace fs = std::filesystem;

Result<std::unique_ptr<Workbook>> DiskStore::Read(const std::string& path,
                                                  const ReadOptions& options,
                                                  std::string* used_password) {
  return ReadWorkbookFile(path, options, used_password);
}

Result<SaveResult> DiskStore::Save(const Workbook& wb, const std::string& path) {
  return SaveWorkbookFile(wb, path);
}

Status DiskStore::MakeFolder(const std::string& path, bool& created) {
  created = false;
  std::error_code ec;
  fs::path p = PathFromUtf8(path);
  // A link would send the result wherever it leads, possibly outside the source folder.
  if (fs::is_symlink(fs::symlink_status(p, ec)))
    return MakeError(ErrorCode::kNotRegular,
                     path + ": the folder is a symbolic link; nothing is written through it",
                     "是符号链接");
  if (fs::is_directory(p, ec)) return Status::Ok();
  created = fs::create_directory(p, ec);
  if (ec || !fs::is_directory(p))
    return MakeError(ec ? ErrorCodeFromSystem(ec) : ErrorCode::kNotRegular,
                     path + ": cannot create the folder (" +
                         (ec ? ec.message() : std::string("not a folder")) + ")",
                     ec ? SystemErrorNote("无法创建文件夹", ec) : "无法创建文件夹：已存在同名文件");
  return Status::Ok();
}

void DiskStore::RemoveEmptyFolder(const std::string& path) {
  std::error_code ec;
  fs::path p = PathFromUtf8(path);
  if (fs::is_directory(p, ec) && fs::is_empty(p, ec)) fs::remove(p, ec);
}

std::unique_ptr<Workbook> CloneWorkbook(const Workbook& wb) {
  auto out = std::make_unique<Workbook>();
  out->styles() = wb.styles();
  out->SetFullName(wb.FullName());
  out->SetFormat(wb.format());
  out->SetTextSource(wb.text_encoding(), wb.text_separator());
  for (int i = 1; i <= wb.WorksheetCount(); ++i) {
    const Worksheet& src = *wb.Worksheets(i);
    Worksheet& dst = out->AddWorksheet(src.Name());
    dst.SetHidden(src.IsHidden());
    dst.default_column_width = src.default_column_width;
    dst.default_row_height = src.default_row_height;
    for (const auto& [c, w] : src.column_widths()) dst.SetColumnWidth(c, w);
    // A whole-row paste carries cells, formats, merged ranges and row heights. A copy cut short
    // by the memory budget must not pass for the whole workbook.
    if (src.RowCount() > 0) {
      Status st = dst.PasteFrom(src, Range{1, 1, src.RowCount(), kMaxCols}, 1, 1);
      if (!st && st.error().code == ErrorCode::kNoMemory) throw memory::BudgetExceeded();
    }
  }
  return out;
}

static std::string WithExtension(const std::string& path, const char* ext) {
  fs::path p = PathFromUtf8(path);
  p.replace_extension(ext);
  return PathToUtf8(p);
}

void MemoryStore::Put(const std::string& path, std::unique_ptr<Workbook> wb) {
  for (auto& f : files_)
    if (f.first == path) {
      f.second = std::move(wb);
      return;
    }
  files_.emplace_back(path, std::move(wb));
}

const Workbook* MemoryStore::Get(const std::string& path) const {
  for (const auto& f : files_)
    if (f.first == path) return f.second.get();
  return nullptr;
}

Result<std::unique_ptr<Workbook>> MemoryStore::Read(const std::string& path, const ReadOptions&,
                                                    std::string* used_password) {
  if (used_password) used_password->clear();
  const Workbook* wb = Get(path);
  if (!wb) {
    Error e = MakeError(ErrorCode::kMissing, path + ": cannot open the file (no such file)");
    e.file = path;
    return e;
  }
  try {
    auto copy = CloneWorkbook(*wb);
    copy->SetFullName(path);
    return copy;
  } catch (const std::bad_alloc& e) {
    return MakeError(ErrorCode::kNoMemory, path + ": not enough memory to hold the workbook",
                     memory::NoMemoryNote(e));
  }
}

Result<SaveResult> MemoryStore::Save(const Workbook& wb, const std::string& path) {
  auto r = SaveHere(wb, path);
  if (r || !r.error().file.empty()) return r;
  Error e = r.error();
  e.file = path;
  return e;
}

Result<SaveResult> MemoryStore::SaveHere(const Workbook& wb, const std::string& path) {
  if (!fail_saves.detail.empty()) return fail_saves;
  SaveResult out{path, false, save_warnings};
  std::string ext = PathToUtf8(PathFromUtf8(path).extension());
  if ((ext == ".xls" || ext == ".XLS") && !FitsXlsGrid(wb)) {
    out.path = WithExtension(path, ".xlsx");
    out.switched_to_xlsx = true;
  }
  std::string folder = PathToUtf8(PathFromUtf8(out.path).parent_path());
  if (!folder.empty() && !HasFolder(folder)) {
    Error e = MakeError(ErrorCode::kIo, out.path + ": cannot save: the folder does not exist",
                        "保存到的文件夹不存在");
    e.file = out.path;
    return e;
  }
  try {
    Put(out.path, CloneWorkbook(wb));
  } catch (const std::bad_alloc& e) {
    return MakeError(ErrorCode::kNoMemory, out.path + ": not enough memory to hold the workbook",
                     memory::NoMemoryNote(e));
  }
  return out;
}

bool MemoryStore::HasFolder(const std::string& path) const {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  return std::find(folders_.begin(), folders_.end(), p) != folders_.end();
}

Status MemoryStore::MakeFolder(const std::string& path, bool& created) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  created = !HasFolder(p);
  if (created) folders_.push_back(p);
  return Status::Ok();
}

void MemoryStore::RemoveEmptyFolder(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  for (const auto& f : files_)
    if (PathToUtf8(PathFromUtf8(f.first).parent_path()) == p) return;
  folders_.erase(std::remove(folders_.begin(), folders_.end(), p), folders_.end());
}

}  // namespace qm
