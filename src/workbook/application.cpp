#include "application.h"

#include <algorithm>

namespace qm {

Workbook* Workbooks::Add() {
  auto wb = std::make_unique<Workbook>();
  wb->AddWorksheet("Sheet1");
  open_.push_back(std::move(wb));
  return open_.back().get();
}

Result<Workbook*> Workbooks::Open(const std::string& full_path, const ReadOptions& options) {
  auto r = ReadWorkbookFile(full_path, options);
  if (!r) return r.error();
  std::unique_ptr<Workbook> wb = std::move(r.value());
  if (wb->WorksheetCount() == 0)
    return MakeError(ErrorCode::kCorrupt, full_path + ": the workbook has no worksheet");
  open_.push_back(std::move(wb));
  return open_.back().get();
}

Workbook* Workbooks::Item(int index) {
  return index >= 1 && index <= Count() ? open_[static_cast<size_t>(index - 1)].get() : nullptr;
}

void Workbooks::Close(Workbook* wb) {
  auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& p) { return p.get() == wb; });
  if (it != open_.end()) open_.erase(it);
}

void Application::Copy(const std::shared_ptr<const Worksheet>& sheet, const Range& area) {
  clip_.sheet = sheet;
  clip_.area = area;
  clip_.column_widths.clear();
  clip_.row_heights.clear();
  if (!sheet) return;
  // A whole-row copy spans the grid; only the used columns carry widths worth keeping.
  int last_col = area.c2;
  if (area.c2 == kMaxCols) last_col = std::max(area.c1, sheet->UsedRange().c2);
  for (int c = area.c1; c <= last_col; ++c) clip_.column_widths.push_back(sheet->ColumnWidth(c));
  for (int r = area.r1; r <= area.r2; ++r) clip_.row_heights.push_back(sheet->RowHeight(r));
}

Status Application::PasteSpecial(Worksheet& target, int r, int c) {
  if (!clip_.sheet)
    return MakeError(ErrorCode::kInvalidArgument, "nothing has been copied to paste");
  return target.PasteFrom(*clip_.sheet, clip_.area, r, c);
}

Result<SaveResult> Application::SaveAs(const Workbook& wb, const std::string& full_path) {
  return SaveWorkbookFile(wb, full_path);
}

void Application::Quit() {
  workbooks_.CloseAll();
  ClearClipboard();
  quit_ = true;
}

}  // namespace qm
