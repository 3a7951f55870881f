// What the .xls reader gathers from the workbook globals for the sheets: the text decoding, the
// shared strings, the cell formats and where the sheets are.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../memory_budget.h"
#include "../result.h"
#include "../text_pool.h"
#include "../workbook.h"
#include "biff_in.h"
#include "xls_styles.h"

namespace qm::xls {

struct SheetInfo {
  std::string name;
  uint32_t offset = 0;
  uint8_t type = 0;  // 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
  bool hidden = false;
};

struct Book {
  explicit Book(const std::string& file_name) : name(file_name) {}

  Error Fail(ErrorCode code, const std::string& why) const {
    return MakeError(code, name + ": " + why);
  }
  // Takes one record of the globals, or of a BIFF2-4 sheet, which carries them itself. False at
  // FILEPASS, where reading stops until the stream is decrypted.
  bool GlobalRecord(const BiffRecord& r, RecordReader& rr);
  // Brings the style table up to date with the format records read so far.
  void BuildStyles() { styles.Build(wb->styles(), text.biff); }

  const std::string& name;
  BiffText text;
  std::unique_ptr<Workbook> wb;
  TextPool sst;
  memory::Account sst_account;  // what sst holds, charged to the memory budget
  std::vector<SheetInfo> sheets;
  StyleReader styles;
  bool pending_filepass = false;
  size_t filepass_at = 0;

 private:
  void ReadSst(const BiffRecord& r, RecordReader& rr);
};

// Reads a sheet substream from just after its BOF into `ws`. BIFF2-4 sheets have no globals
// before them and carry their formats among the cells (`embedded_globals`).
std::optional<Error> ReadSheet(Book& book, RecordReader& rr, Worksheet& ws, bool embedded_globals);

}  // namespace qm::xls
