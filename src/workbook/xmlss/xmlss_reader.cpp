// XML Spreadsheet 2003: one XML document holding styles and worksheets. Cells carry their type
// (Number, String, DateTime, Boolean, Error) and their value as text; positions are implied
// (each cell follows the one before) unless ss:Index says otherwise, and ss:MergeAcross /
// ss:MergeDown make a merged range that the next cell skips.
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "../memory_budget.h"
#include "../xlsx/xlsx_read_parts.h"
#include "../xml_doc.h"
#include "xmlss.h"

namespace qm::xmlss {
namespace {

constexpr size_t kMaxCellText = 8u << 20;  // bytes of one value; far above the 32,767 limit
constexpr size_t kMaxSheets = 65535;

// The number formats Excel writes by name instead of as a format code.
const char* NamedFormat(std::string_view name) {
  static const std::pair<const char*, const char*> kNamed[] = {
      {"General", "General"},
      {"General Number", "General"},
      {"General Date", "m/d/yyyy h:mm"},
      {"Long Date", "dddd, mmmm d, yyyy"},
      {"Medium Date", "d-mmm-yy"},
      {"Short Date", "m/d/yyyy"},
      {"Long Time", "h:mm:ss AM/PM"},
      {"Medium Time", "h:mm AM/PM"},
      {"Short Time", "h:mm"},
      {"Currency", "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)"},
      {"Euro Currency", "[$\xE2\x82\xAC-2] #,##0.00"},
      {"Fixed", "0.00"},
      {"Standard", "#,##0.00"},
      {"Percent", "0.00%"},
      {"Scientific", "0.00E+00"},
      {"Yes/No", "\"Yes\";\"Yes\";\"No\""},
      {"True/False", "\"True\";\"True\";\"False\""},
      {"On/Off", "\"On\";\"On\";\"Off\""},
  };
  for (const auto& [n, code] : kNamed)
    if (name == n) return code;
  return nullptr;
}

int ToInt(const char* v, int fallback) {
  if (!v) return fallback;
  int out = fallback;
  const char* end = v + std::strlen(v);
  auto [p, ec] = std::from_chars(v, end, out);
  return ec == std::errc() ? out : fallback;
}

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::optional<double> ParseNumber(std::string_view s) {
  while (!s.empty() && IsWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsWhite(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  double d = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (p != s.data() + s.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) return std::strtod(std::string(s).c_str(), nullptr);
  if (ec != std::errc()) return std::nullopt;
  return d;
}

// Excel writes the control characters of a text as character references ("&#7;"), which XML
// 1.0 forbids and expat refuses. Before the parse they become private-use characters of plane
// 16 (U+10FF00 + the code), and in a cell's text they become themselves again.
bool EscapeControlReferences(const char* d, size_t n, std::string& out) {
  const std::string_view s(d, n);
  size_t at = s.find("&#");
  if (at == std::string_view::npos) return false;
  bool changed = false;
  out.clear();
  size_t copied = 0;
  for (; at != std::string_view::npos; at = s.find("&#", at + 2)) {
    size_t i = at + 2;
    const bool hex = i < n && (s[i] == 'x' || s[i] == 'X');
    if (hex) ++i;
    uint32_t v = 0;
    size_t digits = 0;
    for (; i < n && digits < 8; ++i, ++digits) {
      const char c = s[i];
      int dv = c >= '0' && c <= '9'          ? c - '0'
               : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
               : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
      if (dv < 0) break;
      v = v * (hex ? 16 : 10) + static_cast<uint32_t>(dv);
    }
    if (digits == 0 || i >= n || s[i] != ';' || v >= 0x20 || v == 9 || v == 10 || v == 13) continue;
    if (!changed) out.reserve(n + 64);
    changed = true;
    out.append(s.substr(copied, at - copied));
    static const char kHex[] = "0123456789ABCDEF";
    out += "&#x10FF";
    out += kHex[v >> 4];
    out += kHex[v & 15];
    out += ';';
    copied = i + 1;
  }
  if (changed) out.append(s.substr(copied));
  return changed;
}

void RestoreControls(std::string& s) {
  size_t at = s.find("\xF4\x8F\xBC");
  if (at == std::string::npos) return;
  std::string out;
  size_t copied = 0;
  for (; at != std::string::npos; at = s.find("\xF4\x8F\xBC", at + 1)) {
    if (at + 3 >= s.size()) break;
    const unsigned char b = static_cast<unsigned char>(s[at + 3]);
    if (b < 0x80 || b > 0x9F) continue;
    out.append(s, copied, at - copied);
    out += static_cast<char>(b - 0x80);
    copied = at + 4;
  }
  out.append(s, copied, std::string::npos);
  s = std::move(out);
}

struct StyleDef {
  std::string parent;
  std::optional<std::string> format;  // the NumberFormat's code, resolved from a name
};

class BookHandler : public xmldoc::Handler {
 public:
  BookHandler(Workbook& wb, const ReadOptions& options) : wb_(wb), options_(options) {}

  void Start(const XML_Char* qname, const XML_Char** a) {
    ++depth_;
    const std::string_view n = xmldoc::Local(qname);
    if (data_depth_) {
      // Rich text: the runs' elements (html:Font, html:B ...) only wrap characters.
      return;
    }
    if (in_cell_) {
      if (depth_ == cell_depth_ + 1 && n == "Data") {
        data_depth_ = depth_;
        has_data_ = true;
        type_ = xmldoc::Attr(a, "Type") ? xmldoc::Attr(a, "Type") : "String";
        text_.clear();
      }
      return;
    }
    if (n == "Cell" && ws_ && row_ > 0) return StartCell(a);
    if (n == "Row" && ws_) return StartRow(a);
    if (n == "Column" && ws_) return StartColumn(a);
    if (n == "Worksheet") return StartWorksheet(a);
    if (n == "Style") {
      const char* id = xmldoc::Attr(a, "ID");
      style_id_ = id ? id : "";
      StyleDef& def = styles_[style_id_];
      if (const char* p = xmldoc::Attr(a, "Parent")) def.parent = p;
    } else if (n == "NumberFormat" && !style_id_.empty()) {
      const char* f = xmldoc::Attr(a, "Format");
      std::string code = f ? f : "General";
      if (const char* named = NamedFormat(code)) code = named;
      styles_[style_id_].format = code;
    } else if (n == "Visible" || n == "Date1904") {
      collect_ = true;
      text_.clear();
    }
  }

  void End(const XML_Char* qname) {
    const std::string_view n = xmldoc::Local(qname);
    if (data_depth_ && depth_ == data_depth_) data_depth_ = 0;
    --depth_;
    if (data_depth_) return;
    if (in_cell_) {
      if (depth_ + 1 == cell_depth_ && n == "Cell") EndCell();
      return;
    }
    if (n == "Row" && ws_ && row_ > 0) {
      next_row_ = row_ + row_span_ + 1;
      row_ = 0;
    } else if (n == "Style") {
      style_id_.clear();
    } else if (n == "Visible" && collect_) {
      collect_ = false;
      if (ws_ && (text_ == "SheetHidden" || text_ == "SheetVeryHidden")) ws_->SetHidden(true);
    } else if (n == "Date1904" && collect_) {
      collect_ = false;
      // An empty element switches the 1904 system on; a text "False" would switch it off.
      wb_.styles().date1904 = text_ != "False" && text_ != "false" && text_ != "0";
    } else if (n == "Worksheet" && ws_) {
      ws_ = nullptr;
      if (options_.first_worksheet_only) Stop();
    }
  }

  void Text(const char* s, int len) {
    if (!data_depth_ && !collect_) return;
    text_.append(s, static_cast<size_t>(len));
    if (text_.size() > kMaxCellText) {
      data_depth_ = 0;
      collect_ = false;
      Fail(MakeError(ErrorCode::kTooLarge, "单元格的内容超过8 MiB", "单元格的内容超过8 MiB"));
    }
  }

 private:
  void StartWorksheet(const XML_Char** a) {
    if (++sheets_ > kMaxSheets)
      return Fail(MakeError(ErrorCode::kTooLarge, "工作表多得离谱", "工作表多得离谱"));
    const char* n = xmldoc::Attr(a, "Name");
    ws_ = &wb_.AddWorksheet(n ? n : "Sheet" + std::to_string(sheets_));
    next_row_ = 1;
    row_ = 0;
    next_col_def_ = 1;
    column_styles_.clear();
    column_entries_left_ = kMaxColumnEntries;
  }

  void StartColumn(const XML_Char** a) {
    int c = ToInt(xmldoc::Attr(a, "Index"), next_col_def_);
    int span = std::max(0, ToInt(xmldoc::Attr(a, "Span"), 0));
    if (c < 1 || c > kMaxCols) return;
    span = std::min(span, kMaxCols - c);
    next_col_def_ = c + span + 1;
    const char* w = xmldoc::Attr(a, "Width");
    const double points = w ? ParseNumber(w).value_or(0) : 0;
    const bool hidden =
        xmldoc::Attr(a, "Hidden") && std::strcmp(xmldoc::Attr(a, "Hidden"), "1") == 0;
    const char* style = xmldoc::Attr(a, "StyleID");
    // Widths are points; a character of the default font is about 5.25 of them. Only the columns
    // near the data are worth an entry each.
    // However many <Column> elements a file repeats, they cost a bounded number of entries.
    for (int k = c; k <= c + std::min(span, 1023) && column_entries_left_ > 0;
         ++k, --column_entries_left_) {
      if (hidden)
        ws_->SetColumnWidth(k, 0);
      else if (points > 0 && points < 2000)
        ws_->SetColumnWidth(k, points / 5.25);
      if (style) column_styles_[k] = style;
    }
  }

  void StartRow(const XML_Char** a) {
    int r = ToInt(xmldoc::Attr(a, "Index"), next_row_);
    if (!CheckGrid(r, 1)) return;
    row_ = r;
    row_span_ = std::clamp(ToInt(xmldoc::Attr(a, "Span"), 0), 0, kMaxRows - r);
    next_col_ = 1;
    const char* style = xmldoc::Attr(a, "StyleID");
    row_style_ = style ? style : "";
    if (const char* h = xmldoc::Attr(a, "Height")) {
      std::optional<double> pt = ParseNumber(h);
      if (pt && *pt > 0 && *pt <= 409.5) ws_->SetRowHeight(r, *pt);
    }
  }

  void StartCell(const XML_Char** a) {
    const int c = ToInt(xmldoc::Attr(a, "Index"), next_col_);
    if (!CheckGrid(row_, c)) return;
    in_cell_ = true;
    cell_depth_ = depth_;
    col_ = c;
    has_data_ = false;
    text_.clear();
    const int across = std::clamp(ToInt(xmldoc::Attr(a, "MergeAcross"), 0), 0, kMaxCols - c);
    const int down = std::clamp(ToInt(xmldoc::Attr(a, "MergeDown"), 0), 0, kMaxRows - row_);
    if (across > 0 || down > 0) ws_->AddMerge(Range{row_, c, row_ + down, c + across});
    next_col_ = c + across + 1;
    const char* style = xmldoc::Attr(a, "StyleID");
    if (style) {
      cell_style_ = style;
    } else if (!row_style_.empty()) {
      cell_style_ = row_style_;
    } else if (auto it = column_styles_.find(c); it != column_styles_.end()) {
      cell_style_ = it->second;
    } else {
      cell_style_ = "Default";
    }
  }

  void EndCell() {
    in_cell_ = false;
    RestoreControls(text_);
    uint16_t style = StyleIndex(cell_style_);
    Cell cell;
    cell.bits = 0;
    cell.col = static_cast<uint16_t>(col_);
    cell.style = style;
    cell.type = static_cast<uint32_t>(CellType::kBlank);
    cell.formula = 0;
    if (has_data_) {
      if (type_ == "Number") {
        if (auto d = ParseNumber(text_)) {
          cell.type = static_cast<uint32_t>(CellType::kNumber);
          cell.number = *d;
        } else if (!text_.empty()) {
          // Not a number after all: keep what the file says rather than lose it.
          cell.type = static_cast<uint32_t>(CellType::kText);
          cell.bits = ws_->AddString(text_);
        }
      } else if (type_ == "DateTime") {
        if (auto serial = xlsx::IsoToSerial(text_, wb_.styles().date1904)) {
          cell.type = static_cast<uint32_t>(CellType::kNumber);
          cell.number = *serial;
          // A date stays a date even where its style forgot the format.
          if (!wb_.styles().IsDateXf(style)) cell.style = DateStyle(style, *serial);
        } else if (!text_.empty()) {
          cell.type = static_cast<uint32_t>(CellType::kText);
          cell.bits = ws_->AddString(text_);
        }
      } else if (type_ == "Boolean") {
        cell.type = static_cast<uint32_t>(CellType::kBool);
        auto d = ParseNumber(text_);
        cell.bits = (d && *d != 0) || text_ == "TRUE" || text_ == "true" ? 1 : 0;
      } else if (type_ == "Error") {
        int code = ErrorFromText(text_);
        cell.type = static_cast<uint32_t>(CellType::kError);
        cell.bits = static_cast<uint64_t>(code >= 0 ? code : static_cast<int>(CellError::kNA));
      } else if (!text_.empty()) {
        cell.type = static_cast<uint32_t>(CellType::kText);
        cell.bits = ws_->AddString(text_);
      }
    }
    if (cell.Type() == CellType::kBlank && cell.style == 0) return;
    ws_->AppendCell(row_, cell);
  }

  bool CheckGrid(int r, int c) {
    if (r >= 1 && r <= kMaxRows && c >= 1 && c <= kMaxCols) return true;
    const std::string why = "单元格（第" + std::to_string(r) + "行第" + std::to_string(c) +
                            "列）超出了1048576行、16384列的工作表范围";
    Fail(MakeError(ErrorCode::kTooLarge, why, why));
    return false;
  }

  // The number format a style has, following its parents.
  std::optional<std::string> FormatOf(const std::string& id) {
    std::string at = id;
    for (int hops = 0; hops < 64; ++hops) {
      auto it = styles_.find(at);
      if (it == styles_.end()) return std::nullopt;
      if (it->second.format) return it->second.format;
      if (it->second.parent.empty()) return std::nullopt;
      at = it->second.parent;
    }
    return std::nullopt;
  }

  uint16_t StyleIndex(const std::string& id) {
    auto it = xf_by_style_.find(id);
    if (it != xf_by_style_.end()) return it->second;
    uint16_t xf = 0;
    if (std::optional<std::string> fmt = FormatOf(id); fmt && *fmt != "General") {
      Xf x;
      x.num_fmt = wb_.styles().AddNumFmt(*fmt);
      xf = wb_.styles().AddXf(x);
    }
    xf_by_style_.emplace(id, xf);
    return xf;
  }

  uint16_t DateStyle(uint16_t style, double serial) {
    Xf x = wb_.styles().xf(style);
    const bool whole = serial == static_cast<double>(static_cast<int64_t>(serial));
    x.num_fmt = whole ? 14 : serial < 1 ? 21 : 22;  // date, time of day, date and time
    return wb_.styles().AddXf(x);
  }

  Workbook& wb_;
  const ReadOptions& options_;
  Worksheet* ws_ = nullptr;
  size_t sheets_ = 0;

  std::unordered_map<std::string, StyleDef> styles_;
  std::unordered_map<std::string, uint16_t> xf_by_style_;
  std::string style_id_;

  int depth_ = 0;
  int next_row_ = 1, row_ = 0, row_span_ = 0, next_col_ = 1, next_col_def_ = 1;
  std::string row_style_;
  std::map<int, std::string> column_styles_;
  static constexpr int kMaxColumnEntries = 1 << 16;
  int column_entries_left_ = kMaxColumnEntries;

  bool in_cell_ = false, has_data_ = false, collect_ = false;
  int cell_depth_ = 0, data_depth_ = 0, col_ = 0;
  std::string cell_style_, type_, text_;
};

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options) {
  auto wb = std::make_unique<Workbook>();
  wb->SetFormat(SourceFormat::kXmlSpreadsheet);
  BookHandler h(*wb, options);
  std::string converted;
  const char* encoding = nullptr;
  memory::ScopedCharge charge;
  if (xmldoc::ConvertForeignEncoding(data, size, converted)) {
    charge.AddOrThrow(converted.size());
    data = reinterpret_cast<const uint8_t*>(converted.data());
    size = converted.size();
    encoding = "UTF-8";
  }
  std::string escaped;
  if (EscapeControlReferences(reinterpret_cast<const char*>(data), size, escaped)) {
    charge.AddOrThrow(escaped.size());
    data = reinterpret_cast<const uint8_t*>(escaped.data());
    size = escaped.size();
  }
  if (auto st = xmldoc::ParseBytes(reinterpret_cast<const char*>(data), size, h, name, encoding);
      !st)
    return st.error();
  if (wb->WorksheetCount() == 0)
    return MakeError(ErrorCode::kNotAWorkbook, name + ": XML表格中没有工作表",
                     "XML表格中没有工作表");
  return wb;
}

}  // namespace qm::xmlss
