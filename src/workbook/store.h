// Where workbooks are read from and saved to: the files on disk, or, for tests and benchmarks,
// workbooks held in memory; and the reader that reads the next source ahead.
#pragma once

#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "io.h"
#include "result.h"
#include "workbook.h"

namespace qm {

// Where workbook files are read and written. The default goes to disk through the readers and
// writers; tests and benchmarks put workbooks in memory instead.
class WorkbookStore {
 public:
  virtual ~WorkbookStore() = default;
  // `*used_password`, when given, receives the password of `options.passwords` that opened the
  // file, or "" when it needed none of them.
  virtual Result<std::unique_ptr<Workbook>> Read(const std::string& path,
                                                 const ReadOptions& options,
                                                 std::string* used_password) = 0;
  virtual Result<SaveResult> Save(const Workbook& wb, const std::string& path) = 0;
  // Creates a folder when it is missing; `created` tells whether it had to be made.
  virtual Status MakeFolder(const std::string& path, bool& created) = 0;
  // Removes a folder made by MakeFolder, when it is still empty.
  virtual void RemoveEmptyFolder(const std::string& path) = 0;
};

class DiskStore : public WorkbookStore {
 public:
  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options,
                                         std::string* used_password) override;
  Result<SaveResult> Save(const Workbook& wb, const std::string& path) override;
  Status MakeFolder(const std::string& path, bool& created) override;
  void RemoveEmptyFolder(const std::string& path) override;
};

// Workbooks held by full path. Every read hands out a deep copy, so changes to an opened
// workbook never reach the stored one, as with files on disk. A save stores a copy; a name
// ending in .xls whose content exceeds that grid is stored under the .xlsx name instead.
class MemoryStore : public WorkbookStore {
 public:
  void Put(const std::string& path, std::unique_ptr<Workbook> wb);
  const Workbook* Get(const std::string& path) const;
  bool Has(const std::string& path) const { return Get(path) != nullptr; }
  size_t FileCount() const { return files_.size(); }
  // Makes the next saves fail with this error (an empty detail clears it).
  Error fail_saves;
  // What the next saves report as the writer's warnings.
  std::vector<std::string> save_warnings;

  // Stored workbooks are never protected: no password is ever used.
  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options,
                                         std::string* used_password) override;
  Result<SaveResult> Save(const Workbook& wb, const std::string& path) override;
  Status MakeFolder(const std::string& path, bool& created) override;
  void RemoveEmptyFolder(const std::string& path) override;
  bool HasFolder(const std::string& path) const;

 private:
  Result<SaveResult> SaveHere(const Workbook& wb, const std::string& path);

  std::vector<std::pair<std::string, std::shared_ptr<const Workbook>>> files_;
  std::vector<std::string> folders_;
};

// A deep copy: cells, formats, merged ranges, column widths and row heights of every sheet.
// Raises memory::BudgetExceeded when the copy would pass the memory budget.
std::unique_ptr<Workbook> CloneWorkbook(const Workbook& wb);

// Reads workbooks through a store, the next one ahead on a thread of its own while the current
// one is merged, so that reading and merging overlap.
class WorkbookReader {
 public:
  explicit WorkbookReader(WorkbookStore& store) : store_(store) {}
  ~WorkbookReader() { Drop(); }
  WorkbookReader(const WorkbookReader&) = delete;
  WorkbookReader& operator=(const WorkbookReader&) = delete;

  // Reads a file read-only; a workbook without a worksheet is damaged. A read started ahead for
  // the same path and options (passwords included) is handed out instead of reading again.
  // `*used_password`, when given, receives the password of `options.passwords` that opened it.
  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options = {},
                                         std::string* used_password = nullptr);
  // Starts reading a file in the background, unless it is being read already. Reads run one
  // after another on threads of their own, at most kReadAhead at a time (a new one waits for
  // the oldest); a read of a path drops the pending reads started before its own.
  void Prefetch(const std::string& path, const ReadOptions& options = {});
  // Waits for the pending reads and drops them.
  void Drop();
  static constexpr size_t kReadAhead = 2;

  WorkbookStore& store() { return store_; }

 private:
  struct ReadOutcome {
    Result<std::unique_ptr<Workbook>> workbook;
    std::string used_password;
  };
  WorkbookStore& store_;
  struct Ahead {
    std::string path;
    bool first_only = false;
    std::vector<std::string> passwords;
    std::future<ReadOutcome> outcome;
    // Whether this read gives what a read of `p` with `options` would.
    bool Serves(const std::string& p, const ReadOptions& options) const;
  };
  std::deque<Ahead> ahead_;
};

}  // namespace qm
