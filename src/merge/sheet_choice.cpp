#include "merge/sheet_choice.h"

namespace qm {

namespace {

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Sheet names compare as the spreadsheet programs compare them: ASCII letters without case.
bool SameSheetName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

// Text sources hold one table; their sheet is named after the file, not chosen by the user.
bool SingleTable(const Workbook& wb) {
  return wb.format() == SourceFormat::kCsv || wb.format() == SourceFormat::kHtml;
}

Error NoSheet(const std::string& path, const std::string& reason) {
  return MakeError(ErrorCode::kNoSheet, path + ": " + reason, reason);
}

}  // namespace

Result<ChosenSheets> ChooseSheets(const Workbook& wb, const SheetChoice& choice,
                                  const std::string& path) {
  const int count = wb.WorksheetCount();
  if (count == 0)
    return MakeError(ErrorCode::kCorrupt, path + ": the workbook has no worksheet", "没有工作表");
  ChosenSheets out;
  if (choice.mode == SheetMode::kFirst || SingleTable(wb)) {
    out.sheets.push_back(1);
    return out;
  }
  if (choice.mode == SheetMode::kNamed) {
    for (int i = 1; i <= count; ++i)
      if (SameSheetName(wb.Worksheets(i)->Name(), choice.name)) {
        out.sheets.push_back(i);
        return out;
      }
    return NoSheet(path, "没有名为“" + choice.name + "”的工作表");
  }
  for (int i = 1; i <= count; ++i) {
    const Worksheet& ws = *wb.Worksheets(i);
    if (ws.IsHidden()) {
      // The first visible sheet passes over the hidden ones before it only.
      if (choice.mode == SheetMode::kAllVisible || out.sheets.empty())
        out.hidden.push_back(ws.Name());
      continue;
    }
    out.sheets.push_back(i);
    if (choice.mode == SheetMode::kFirstVisible) break;
  }
  if (out.sheets.empty()) return NoSheet(path, "没有可见的工作表");
  return out;
}

std::string TableLogName(const std::string& file, const Workbook& wb, int sheet_index) {
  if (sheet_index == 1) return file;
  const Worksheet* ws = wb.Worksheets(sheet_index);
  return file + "［" + (ws ? ws->Name() : std::string()) + "］";
}

}  // namespace qm
