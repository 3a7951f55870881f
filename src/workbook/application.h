// The application facade the engines drive: the same operations a spreadsheet program offers
// through automation, carried out in-process on the model.
#pragma once

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "io.h"
#include "result.h"
#include "workbook.h"

namespace qm {

class Application;

// Where an application reads and writes workbook files. The default goes to disk through the
// readers and writers; tests and benchmarks put workbooks in memory instead.
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
  std::vector<std::pair<std::string, std::shared_ptr<const Workbook>>> files_;
  std::vector<std::string> folders_;
};

// A deep copy: cells, formats, merged ranges, column widths and row heights of every sheet.
// Raises memory::BudgetExceeded when the copy would pass the memory budget.
std::unique_ptr<Workbook> CloneWorkbook(const Workbook& wb);

// The open workbooks of an application.
class Workbooks {
 public:
  explicit Workbooks(Application& app) : app_(app) {}

  // A new workbook whose first worksheet is empty.
  Workbook* Add();
  // Opens a file read-only, without prompts; the reader is chosen by the file's content.
  // `*used_password`, when given, receives the password of `options.passwords` that opened it.
  Result<Workbook*> Open(const std::string& full_path, const ReadOptions& options = {},
                         std::string* used_password = nullptr);
  // Starts reading a file in the background, so that a later Open of the same path with the same
  // options (passwords included) finds it read (its outcome, error included, is handed out
  // then). One at a time: a new prefetch or an Open of another path drops the pending one.
  void Prefetch(const std::string& full_path, const ReadOptions& options = {});
  int Count() const { return static_cast<int>(open_.size()); }
  Workbook* Item(int index);  // 1-based

  // Closes without saving and without a prompt.
  void Close(Workbook* wb);
  void CloseAll();

 private:
  Application& app_;
  std::vector<std::unique_ptr<Workbook>> open_;
  struct ReadOutcome {
    Result<std::unique_ptr<Workbook>> workbook;
    std::string used_password;
  };
  std::string prefetch_path_;
  bool prefetch_first_only_ = false;
  std::vector<std::string> prefetch_passwords_;
  std::future<ReadOutcome> prefetch_;
};

// A copied area: the sheet it came from (kept alive) and the rectangle, with the column widths
// and row heights it had so a caller can apply them to the target.
struct CopiedRange {
  std::shared_ptr<const Worksheet> sheet;
  Range area;
  std::vector<double> column_widths;  // per column of the area; 0 = default width
  std::vector<double> row_heights;    // per row of the area; 0 = default height
};

class Application {
 public:
  Application() : store_(&disk_), workbooks_(*this) {}
  // Reads and writes through `store`, which must outlive the application.
  explicit Application(WorkbookStore& store) : store_(&store), workbooks_(*this) {}

  WorkbookStore& store() { return *store_; }

  Workbooks& workbooks() { return workbooks_; }

  // While false, closing, saving and quitting never prompt (there are no prompts in-process;
  // the flag is kept so callers can set and read it as they would on a real application).
  bool DisplayAlerts = true;
  // Set at the end of a run; the front end decides what showing the result means.
  bool Visible = false;

  // Copy of a sheet's area into the application's own clipboard (the system clipboard is never
  // touched). `RowsOf(r)` gives the area of a whole row.
  void Copy(const std::shared_ptr<const Worksheet>& sheet, const Range& area);
  static Range RowsOf(int r) { return Range{r, 1, r, kMaxCols}; }
  const CopiedRange* Clipboard() const { return clip_.sheet ? &clip_ : nullptr; }
  void ClearClipboard() { clip_ = CopiedRange{}; }

  // Pastes values, formulas and formats of the copied area with its top-left at (r, c).
  Status PasteSpecial(Worksheet& target, int r, int c);

  Result<SaveResult> SaveAs(const Workbook& wb, const std::string& full_path);

  // Ends the application: every workbook is closed unsaved.
  void Quit();
  bool HasQuit() const { return quit_; }

 private:
  DiskStore disk_;  // before workbooks_: a background read may still use it while they go
  WorkbookStore* store_;
  Workbooks workbooks_;
  CopiedRange clip_;
  bool quit_ = false;
};

}  // namespace qm
