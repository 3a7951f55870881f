#include "workbook.h"

namespace qm {

const char* SourceFormatName(SourceFormat f) {
  switch (f) {
    case SourceFormat::kBiff2:
      return "biff2";
    case SourceFormat::kBiff3:
      return "biff3";
    case SourceFormat::kBiff4:
      return "biff4";
    case SourceFormat::kBiff5:
      return "biff5";
    case SourceFormat::kBiff8:
      return "biff8";
    case SourceFormat::kXlsx:
      return "xlsx";
    case SourceFormat::kCsv:
      return "csv";
    case SourceFormat::kHtml:
      return "html";
    case SourceFormat::kXmlSpreadsheet:
      return "xml-spreadsheet";
    case SourceFormat::kOds:
      return "ods";
    case SourceFormat::kEt:
      return "et";
    case SourceFormat::kXlsb:
      return "xlsb";
    case SourceFormat::kNone:
      break;
  }
  return "";
}

std::string SourceFormatText(const Workbook& wb) {
  std::string out = SourceFormatName(wb.format());
  if (wb.format() == SourceFormat::kCsv) {
    const char sep = wb.text_separator();
    out += " (" + wb.text_encoding() + ", '" +
           (sep == '\t' ? std::string("\\t") : std::string(1, sep)) + "')";
  }
  return out;
}

Workbook::Workbook() : styles_(std::make_shared<StyleTable>()) {}

Worksheet* Workbook::Worksheets(int index) {
  return index >= 1 && index <= WorksheetCount() ? sheets_[static_cast<size_t>(index - 1)].get()
                                                 : nullptr;
}

const Worksheet* Workbook::Worksheets(int index) const {
  return const_cast<Workbook*>(this)->Worksheets(index);
}

std::shared_ptr<Worksheet> Workbook::SharedWorksheet(int index) const {
  return index >= 1 && index <= WorksheetCount() ? sheets_[static_cast<size_t>(index - 1)]
                                                 : nullptr;
}

Worksheet& Workbook::AddWorksheet(std::string name) {
  sheets_.push_back(std::make_shared<Worksheet>(std::move(name), styles_));
  return *sheets_.back();
}

}  // namespace qm
