#include "cli/check.h"

#include <algorithm>
#include <atomic>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <iostream>
#include <new>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/printable.h"
#include "merge/header_rules.h"
#include "merge/presenter.h"
#include "merge/sheet_choice.h"
#include "workbook/io.h"
#include "workbook/paths.h"
#include "workbook/value_text.h"

namespace qm {
namespace {

CheckedFile CheckSheet(const std::string& name, const Workbook& wb, int index) {
  CheckedFile out;
  out.name = name;
  const Worksheet& ws = *wb.Worksheets(index);
  out.readable = true;
  out.format = SourceFormatText(wb);
  out.sheet = ws.Name();
  out.log_name = TableLogName(name, wb, index);
  out.sheet_hidden = ws.IsHidden();
  if (!ws.IsEmpty()) {
    const Range u = ws.UsedRange();
    out.rows = u.RowsCount();
    out.cols = u.ColumnsCount();
  }
  HeaderState header;
  DetectHeader(ws, header);
  out.header_row = header.HeaderRow;
  out.header_width = header.HeaderWidth;
  out.header_text = HeaderListText(BuildHeaderList(ws, header));
  out.columns = byname::ReadLayout(ws).columns;
  return out;
}

std::vector<CheckedFile> CheckOne(const std::string& folder, const std::string& name,
                                  const std::vector<std::string>& passwords,
                                  const SheetChoice& sheets) {
  const std::string path = WithTrailingSeparator(folder) + name;
  auto unreadable = [&](const Error& e) {
    CheckedFile out;
    out.name = out.log_name = name;
    out.code = ErrorCodeName(e.code);
    out.reason = ErrorReason(e, path);
    return std::vector<CheckedFile>{out};
  };
  try {
    // The engines read only the first worksheet unless asked for others; so does the check,
    // every cell of each sheet it takes.
    auto r = ReadWorkbookFile(path, {FirstSheetOnly(sheets), passwords});
    if (!r) return unreadable(r.error());
    auto chosen = ChooseSheets(**r, sheets, path);
    if (!chosen) return unreadable(chosen.error());
    std::vector<CheckedFile> out;
    for (int index : chosen->sheets) out.push_back(CheckSheet(name, **r, index));
    out.front().hidden_left_out = std::move(chosen->hidden);
    return out;
  } catch (const std::bad_alloc&) {
    return unreadable(MakeError(ErrorCode::kNoMemory, path + ": out of memory"));
  }
}

std::string Pad(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return s + std::string(w < width ? width - w : 0, ' ');
}

}  // namespace

std::vector<CheckedFile> CheckFiles(const std::string& folder,
                                    const std::vector<std::string>& files, unsigned workers,
                                    const std::vector<std::string>& passwords,
                                    const SheetChoice& sheets) {
#ifdef __GLIBC__
  // Each thread reads one file after another: blocks of every size come from the heap and are
  // used again for the next file, rather than mapped and faulted in afresh for each.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
  std::vector<std::vector<CheckedFile>> per_file(files.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next.fetch_add(1)) < files.size();)
      per_file[k] = CheckOne(folder, files[k], passwords, sheets);
  };
  workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(files.size())));
  std::vector<std::thread> pool;
  try {
    for (unsigned i = 1; i < workers; ++i) pool.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the ones there share the list.
  }
  work();
  for (auto& t : pool) t.join();
  std::vector<CheckedFile> out;
  for (auto& tables : per_file)
    for (CheckedFile& t : tables) out.push_back(std::move(t));

  // The by-name merge matches the readable tables in list order.
  byname::ResultColumns result;
  for (size_t k = 0; k < out.size(); ++k) {
    if (!out[k].readable) continue;
    byname::TableLayout layout;
    layout.columns = out[k].columns;
    byname::Alignment a = result.Match(layout);
    if (k == 0) continue;
    out[k].columns_added = std::move(a.added);
    out[k].columns_missing = std::move(a.missing);
  }
  if (!out.empty() && out[0].readable) {
    out[0].header_matches = true;
    for (size_t k = 1; k < out.size(); ++k)
      if (out[k].readable) out[k].header_matches = out[k].header_text == out[0].header_text;
  }
  return out;
}

int PrintCheck(const std::vector<CheckedFile>& checked, bool json, const SheetChoice& sheets) {
  const bool first_sheets = sheets.mode == SheetMode::kFirst;
  size_t unreadable = 0;
  for (const CheckedFile& f : checked) unreadable += f.readable ? 0 : 1;
  const int status = unreadable > 0 ? 3 : 0;
  if (json) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (size_t k = 0; k < checked.size(); ++k) {
      const CheckedFile& f = checked[k];
      using J = nlohmann::ordered_json;
      J entry = {{"name", f.name},
                 {"status", !f.readable ? "unreadable"
                            : k == 0    ? "template"
                                        : "readable"},
                 {"format", f.readable ? J(f.format) : J(nullptr)},
                 {"sheet", f.readable ? J(f.sheet) : J(nullptr)},
                 {"first_sheet_hidden", f.readable ? J(f.sheet_hidden) : J(nullptr)},
                 {"rows", f.readable ? J(f.rows) : J(nullptr)},
                 {"cols", f.readable ? J(f.cols) : J(nullptr)},
                 {"header_row", f.readable ? J(f.header_row) : J(nullptr)},
                 {"header_width", f.readable ? J(f.header_width) : J(nullptr)},
                 {"header_matches", f.header_matches ? J(*f.header_matches) : J(nullptr)},
                 {"columns_added", f.readable ? J(f.columns_added) : J(nullptr)},
                 {"columns_missing", f.readable ? J(f.columns_missing) : J(nullptr)},
                 {"code", f.readable ? J(nullptr) : J(f.code)},
                 {"reason", f.readable ? J(nullptr) : J(f.reason)}};
      if (!first_sheets) entry["hidden_sheets_left_out"] = f.hidden_left_out;
      files.push_back(std::move(entry));
    }
    std::cout << nlohmann::ordered_json{{"files", files}}.dump(
                     2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << std::endl;
    return status;
  }

  size_t name_width = 4, format_width = 5;
  for (const CheckedFile& f : checked) {
    name_width = std::max(name_width, DisplayWidth(f.log_name));
    format_width = std::max(format_width, DisplayWidth(f.format));
  }
  for (size_t k = 0; k < checked.size(); ++k) {
    const CheckedFile& f = checked[k];
    std::string line = Pad(f.log_name, name_width) + "  ";
    if (!f.readable) {
      line += "无法读取  " + f.code + "  " + f.reason;
    } else {
      line += Pad(f.format, format_width) + "  " + std::to_string(f.rows) + "行×" +
              std::to_string(f.cols) + "列  表头第" + std::to_string(f.header_row) + "行，宽" +
              std::to_string(f.header_width) + "列  ";
      line += k == 0              ? "模板"
              : !f.header_matches ? "模板无法读取"
              : *f.header_matches ? "表头与模板相同"
                                  : "表头与模板不同";
      if (!f.columns_added.empty() || !f.columns_missing.empty())
        line += "  " + AlignmentLine(f.columns_added, f.columns_missing);
      line += "  工作表：" + f.sheet;
      if (f.sheet_hidden)
        line += (first_sheets ? "  第一个工作表“" : "  工作表“") + f.sheet + "”是隐藏的";
      if (!f.hidden_left_out.empty()) {
        line += "  隐藏工作表";
        for (size_t i = 0; i < f.hidden_left_out.size(); ++i)
          line += (i == 0 ? "“" : "、“") + f.hidden_left_out[i] + "”";
        line += "未合并";
      }
    }
    std::cout << Printable(line, false) << "\n";
  }
  std::cout << "共" << checked.size() << (first_sheets ? "个文件：可读" : "个表：可读")
            << checked.size() - unreadable << "个，无法读取" << unreadable << "个" << std::endl;
  return status;
}

}  // namespace qm
