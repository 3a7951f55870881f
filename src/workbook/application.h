// The application facade the engines drive: the same operations a spreadsheet program offers
// through automation, carried out in-process on the model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "io.h"
#include "result.h"
#include "workbook.h"

namespace qm {

class Application;

// The open workbooks of an application.
class Workbooks {
 public:
  explicit Workbooks(Application& app) : app_(app) {}

  // A new workbook whose first worksheet is empty.
  Workbook* Add();
  // Opens a file read-only, without prompts; the reader is chosen by the file's content.
  Result<Workbook*> Open(const std::string& full_path, const ReadOptions& options = {});
  int Count() const { return static_cast<int>(open_.size()); }
  Workbook* Item(int index);  // 1-based

  // Closes without saving and without a prompt.
  void Close(Workbook* wb);
  void CloseAll() { open_.clear(); }

 private:
  Application& app_;
  std::vector<std::unique_ptr<Workbook>> open_;
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
  Application() : workbooks_(*this) {}

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
  Workbooks workbooks_;
  CopiedRange clip_;
  bool quit_ = false;
};

}  // namespace qm
