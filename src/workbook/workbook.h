// A workbook: worksheets in tab order over one style table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "result.h"
#include "style.h"
#include "worksheet.h"

namespace qm {

// What a workbook was read from; "" for a new workbook.
enum class SourceFormat {
  kNone,
  kBiff2,
  kBiff3,
  kBiff4,
  kBiff5,
  kBiff8,
  kXlsx,
  kCsv,             // comma- or tab-separated text
  kHtml,            // a web page's table
  kXmlSpreadsheet,  // XML Spreadsheet 2003
  kOds,             // OpenDocument, packaged (.ods) or flat (.fods)
  kEt,              // a WPS workbook: BIFF8 in a compound file WPS wrote
  kXlsb,            // Excel binary workbook (BIFF12)
};
const char* SourceFormatName(SourceFormat f);  // "biff8", "xlsx", ... as the dump prints it

class Workbook;
// The format with what else a text source was read with, as the dump prints it:
// "csv (GB18030, ',')", "csv (UTF-16LE, '\t')"; otherwise SourceFormatName.
std::string SourceFormatText(const Workbook& wb);

class Workbook {
 public:
  Workbook();

  // Worksheets in tab order; chart and macro sheets are not kept here.
  int WorksheetCount() const { return static_cast<int>(sheets_.size()); }
  // 1-based, as the automation model counts; nullptr when there is no such sheet.
  Worksheet* Worksheets(int index);
  const Worksheet* Worksheets(int index) const;
  std::shared_ptr<Worksheet> SharedWorksheet(int index) const;
  Worksheet& AddWorksheet(std::string name);

  StyleTable& styles() { return *styles_; }
  const StyleTable& styles() const { return *styles_; }
  const std::shared_ptr<StyleTable>& shared_styles() const { return styles_; }

  // The full path the workbook was opened from or last saved to ("" for a new one).
  const std::string& FullName() const { return full_name_; }
  void SetFullName(std::string path) { full_name_ = std::move(path); }
  SourceFormat format() const { return format_; }
  void SetFormat(SourceFormat f) { format_ = f; }
  // The character set ("GB18030", "UTF-8", ...) and, for CSV, the separator a text source was
  // read with; "" and 0 for the other formats.
  const std::string& text_encoding() const { return text_encoding_; }
  char text_separator() const { return text_separator_; }
  void SetTextSource(std::string encoding, char separator) {
    text_encoding_ = std::move(encoding);
    text_separator_ = separator;
  }

  // Notes a reader or writer wants the caller to see (a string cut at the cell limit, ...).
  std::vector<std::string> warnings;

 private:
  std::shared_ptr<StyleTable> styles_;
  std::vector<std::shared_ptr<Worksheet>> sheets_;
  std::string full_name_;
  SourceFormat format_ = SourceFormat::kNone;
  std::string text_encoding_;
  char text_separator_ = 0;
};

}  // namespace qm
