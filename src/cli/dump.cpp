#include "cli/dump.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/printable.h"
#include "merge/sheet_choice.h"
#include "workbook/io.h"
#include "workbook/result.h"
#include "workbook/value_text.h"

namespace qm {
namespace {

nlohmann::ordered_json NumberJson(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  return d;
}

int DumpUnguarded(const std::string& path, bool json, const std::vector<std::string>& passwords,
                  const SheetChoice& sheets);

}  // namespace

int RunDump(const std::string& path, bool json, const std::vector<std::string>& passwords,
            const SheetChoice& sheets) {
  try {
    return DumpUnguarded(path, json, passwords, sheets);
  } catch (const std::bad_alloc&) {
    // The reader turns its own shortage into an error; this is the printing running out.
    std::cerr << "内存不足，无法显示：" << Printable(path, false) << "\n";
    return 2;
  }
}

namespace {

int Unreadable(const std::string& path, const Error& e) {
  std::cerr << "无法读取：" << Printable(path, false) << "（" << ErrorReason(e, path) << "）\n";
  return 2;
}

void DumpSheet(const Workbook& wb, const Worksheet* ws, bool json);

int DumpUnguarded(const std::string& path, bool json, const std::vector<std::string>& passwords,
                  const SheetChoice& sheets) {
  auto r = ReadWorkbookFile(path, {FirstSheetOnly(sheets), passwords});
  if (!r) return Unreadable(path, r.error());
  const Workbook& wb = **r;
  auto chosen = ChooseSheets(wb, sheets, path);
  if (!chosen) return Unreadable(path, chosen.error());
  for (int index : chosen->sheets) DumpSheet(wb, wb.Worksheets(index), json);
  return 0;
}

void DumpSheet(
    const Workbook& wb, const Worksheet* ws,
    bool json) {  // The extent of the cells that hold a value; format-only cells do not count.
  int nrows = 0, ncols = 0;
  for (int row = 1; row <= ws->RowCount(); ++row)
    for (const Cell& c : ws->RowAt(row)->cells)
      if (c.Type() != CellType::kBlank) nrows = row, ncols = std::max<int>(ncols, c.col);

  if (json) {
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (int row = 1; row <= nrows; ++row) {
      for (const Cell& c : ws->RowAt(row)->cells) {
        CellValue v = ws->ValueOf(c);
        switch (v.type) {
          case CellType::kBlank:
            break;
          case CellType::kNumber:
            cells.push_back({row, c.col, v.is_date ? "date" : "number", NumberJson(v.number)});
            break;
          case CellType::kText:
            cells.push_back({row, c.col, "text", std::string(v.text)});
            break;
          case CellType::kBool:
            cells.push_back({row, c.col, "bool", v.number != 0 ? 1 : 0});
            break;
          case CellType::kError:
            cells.push_back({row, c.col, "error", ErrorText(v.error)});
            break;
        }
      }
    }
    nlohmann::ordered_json out = {{"format", SourceFormatText(wb)},
                                  {"date1904", wb.styles().date1904},
                                  {"sheet_name", ws->Name()},
                                  {"nrows", nrows},
                                  {"ncols", ncols},
                                  {"cells", std::move(cells)}};
    std::cout << out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return;
  }

  // For people: the sheet as an aligned table, columns cut at 40 display columns. A huge sheet
  // shows its top-left corner only.
  std::cout << Printable(ws->Name(), false) << "（" << SourceFormatText(wb) << "，" << nrows
            << "行×" << ncols << "列）\n";
  constexpr int kShowRows = 10000, kShowCols = 256;
  if (nrows > kShowRows || ncols > kShowCols)
    std::cout << "（只显示前" << std::min(nrows, kShowRows) << "行、前"
              << std::min(ncols, kShowCols) << "列）\n";
  nrows = std::min(nrows, kShowRows);
  ncols = std::min(ncols, kShowCols);
  std::vector<std::vector<std::string>> grid(static_cast<size_t>(nrows),
                                             std::vector<std::string>(static_cast<size_t>(ncols)));
  std::vector<size_t> widths(static_cast<size_t>(ncols), 1);
  for (int row = 1; row <= nrows; ++row) {
    for (const Cell& c : ws->RowAt(row)->cells) {
      if (c.col > ncols) break;
      std::string text = ValueText(ws->ValueOf(c));
      std::replace(text.begin(), text.end(), '\n', ' ');
      text = Printable(text, false);
      size_t w = DisplayWidth(text);
      if (w > 40) {
        std::string cut;
        size_t cw = 0;
        for (size_t i = 0; i < text.size() && cw < 37;) {
          unsigned char ch = static_cast<unsigned char>(text[i]);
          size_t len = ch < 0x80 ? 1 : ch < 0xE0 ? 2 : ch < 0xF0 ? 3 : 4;
          cut += text.substr(i, len);
          cw += len >= 3 ? 2 : 1;
          i += len;
        }
        text = cut + "...";
        w = DisplayWidth(text);
      }
      widths[static_cast<size_t>(c.col - 1)] = std::max(widths[static_cast<size_t>(c.col - 1)], w);
      grid[static_cast<size_t>(row - 1)][static_cast<size_t>(c.col - 1)] = std::move(text);
    }
  }
  for (const auto& line : grid) {
    std::string out;
    for (size_t c = 0; c < line.size(); ++c) {
      out += line[c];
      if (c + 1 < line.size()) out += std::string(widths[c] - DisplayWidth(line[c]) + 2, ' ');
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << "\n";
  }
}

}  // namespace

}  // namespace qm
