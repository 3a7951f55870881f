#include "merge/smart_common.h"

#include <unordered_map>

#include "workbook/value_text.h"

namespace qm::engine {

namespace {

// The value to write into the result: a date from a workbook on the other date system is moved
// so that it keeps its calendar day, as pasting does.
NewValue ForResult(const CellValue& v, const StyleTable& result_styles) {
  NewValue out = NewValue::From(v);
  if (v.is_date && v.date1904 != result_styles.date1904) out.number += v.date1904 ? 1462 : -1462;
  return out;
}

}  // namespace

Status MergeHeaders(Worksheet& result_sheet, SmartResult& res, SmartSource& src, Filler& filler) {
  const Worksheet& ws = *src.sheet;
  std::vector<std::string> texts(static_cast<size_t>(src.width) + 1);
  HeaderList src_list;
  for (int k = 1; k <= src.width; ++k) {
    texts[static_cast<size_t>(k)] = ValueText(ws.Cells(src.header_row, k));
    src_list.push_back({k, texts[static_cast<size_t>(k)]});
  }
  // The first entry of each text, as the column lookup finds it.
  std::unordered_map<std::string, int> first_column;
  for (const auto& e : res.list) first_column.try_emplace(e.text, e.column);

  if (HeaderListText(src_list) != res.list_text) {
    for (int k = 1; k <= src.width; ++k) {
      const std::string& text = texts[static_cast<size_t>(k)];
      if (first_column.count(text)) continue;
      const int col = res.width + 1;
      // The header keeps the value the source has (a number stays a number, a date stays a
      // date and is shown as one, just as its text reads in the header list).
      CellValue v = ws.Cells(src.header_row, k);
      const int style = filler.StyleFor(res.header_row, col, v, ws.styles());
      if (Status st = result_sheet.SetValue(res.header_row, col,
                                            ForResult(v, result_sheet.styles()), style);
          !st)
        return st;
      res.width = col;
      res.list.push_back({col, text});
      res.list_text.append(" ").append(std::to_string(col)).append(":").append(text).append("|");
      first_column.emplace(text, col);
    }
  }
  src.target.assign(static_cast<size_t>(src.width) + 1, 0);
  for (int k = 1; k <= src.width; ++k) {
    auto it = first_column.find(texts[static_cast<size_t>(k)]);
    src.target[static_cast<size_t>(k)] = it == first_column.end() ? 0 : it->second;
  }
  return Status::Ok();
}

int Filler::DateStyle(uint16_t target_style, const CellValue& v, const StyleTable& src_styles) {
  std::string fmt = src_styles.NumFmtString(src_styles.xf(v.style).num_fmt);
  auto key = std::make_pair(target_style, fmt);
  auto it = date_styles_.find(key);
  if (it != date_styles_.end()) return it->second;
  StyleTable& styles = sheet_.styles();
  Xf x = styles.xf(target_style);
  x.num_fmt = styles.AddNumFmt(fmt);
  uint16_t s = styles.AddXf(x);
  date_styles_.emplace(std::move(key), s);
  return s;
}

int Filler::StyleFor(int row, int col, const CellValue& v, const StyleTable& src_styles) {
  if (!v.is_date) return -1;
  const Cell* dst = sheet_.FindCell(row, col);
  const uint16_t ts = dst ? dst->style : 0;
  return sheet_.styles().IsDateXf(ts) ? -1 : DateStyle(ts, v, src_styles);
}

Status Filler::Fill(const SmartSource& src, int r, int first, int row, int watch_column,
                    bool& wrote_column) {
  const Worksheet& ws = *src.sheet;
  for (int k = std::max(first, 1); k <= src.width; ++k) {
    const Cell* cell = ws.FindCell(r, k);
    if (!cell) continue;
    CellValue v = ws.ValueOf(*cell);
    if (IsEmptyValue(v)) continue;
    const int c = src.target[static_cast<size_t>(k)];
    const Cell* dst = sheet_.FindCell(row, c);
    if (dst && !IsEmptyValue(sheet_.ValueOf(*dst))) continue;
    const int style = StyleFor(row, c, v, ws.styles());
    if (v.type == CellType::kText && row <= kMaxRows && c <= kMaxCols) {
      // The result keeps each distinct text once, however many sources bring it.
      Cell cell;
      cell.bits = sheet_.InternString(v.text);
      cell.col = static_cast<uint16_t>(c);
      cell.style = dst ? dst->style : 0;
      cell.type = static_cast<uint32_t>(CellType::kText);
      cell.formula = 0;
      sheet_.AppendCell(row, cell);
    } else if (Status st = sheet_.SetValue(row, c, ForResult(v, sheet_.styles()), style); !st) {
      return st;
    }
    if (c == watch_column) wrote_column = true;
  }
  return Status::Ok();
}

int AskKey(EngineRun& run, HeaderState& header, SmartResult& res) {
  DetectHeader(*run.sheet, header);
  res.header_row = header.HeaderRow;
  res.width = header.HeaderWidth;
  res.list = BuildHeaderList(*run.sheet, header);
  res.list_text = HeaderListText(res.list);
  return AskKeyColumn(run.answers, res.list, header.HeaderWidth);
}

int StartSmartResult(EngineRun& run, HeaderState& header, SmartResult& res, RunResult* ended) {
  if (auto failed = run.TakeTemplate()) {
    *ended = *failed;
    return 0;
  }
  const int key = AskKey(run, header, res);
  if (key == 0) {
    *ended = run.StopAtKey();
    return 0;
  }
  run.Progress(1);
  return key;
}

}  // namespace qm::engine
