// OpenDocument spreadsheets. The package's styles.xml and content.xml (or the one document of a
// flat file) stream through one handler: cell styles and data styles first, then the tables.
// A row or cell may stand for many (number-rows-repeated, number-columns-repeated): LibreOffice
// fills every table out to the last row and column that way, so repeats of empty cells are
// only counted, and repeats of values are charged to the memory budget before they are laid
// out, so a small file cannot make billions of cells.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "../memory_budget.h"
#include "../xlsx/xlsx_read_parts.h"
#include "../xlsx/zip_reader.h"
#include "ods.h"
#include "ods_number_styles.h"

namespace qm::ods {
namespace {

constexpr size_t kMaxCellText = 8u << 20;  // bytes of one value; far above the 32,767 limit
constexpr size_t kMaxSheets = 65535;

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int RepeatAttr(const XML_Char** a, std::string_view local) {
  const char* v = xmldoc::AttrNs(a, kTableNs, local);
  if (!v) return 1;
  int64_t n = 1;
  auto [p, ec] = std::from_chars(v, v + std::strlen(v), n);
  if (ec != std::errc() || n < 1) return 1;
  return static_cast<int>(std::min<int64_t>(n, int64_t{1} << 30));
}

std::optional<double> ParseDouble(const char* v) {
  if (!v) return std::nullopt;
  std::string_view s(v);
  while (!s.empty() && IsWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsWhite(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double d = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (s.empty() || p != s.data() + s.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) return std::strtod(std::string(s).c_str(), nullptr);
  if (ec != std::errc()) return std::nullopt;
  return d;
}

// An ISO 8601 duration ("PT12H30M00S", "-P1DT2H", "PT0.5S") in days.
std::optional<double> DurationDays(std::string_view s) {
  bool negative = false;
  if (!s.empty() && s.front() == '-') negative = true, s.remove_prefix(1);
  if (s.empty() || s.front() != 'P') return std::nullopt;
  s.remove_prefix(1);
  double seconds = 0;
  bool time = false, any = false;
  while (!s.empty()) {
    if (s.front() == 'T') {
      time = true;
      s.remove_prefix(1);
      continue;
    }
    size_t n = 0;
    while (n < s.size() && ((s[n] >= '0' && s[n] <= '9') || s[n] == '.')) ++n;
    if (n == 0 || n == s.size()) return std::nullopt;
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + n, v);
    if (ec != std::errc()) return std::nullopt;
    const char unit = s[n];
    s.remove_prefix(n + 1);
    any = true;
    if (unit == 'D')
      seconds += v * 86400;
    else if (unit == 'H' && time)
      seconds += v * 3600;
    else if (unit == 'M' && time)
      seconds += v * 60;
    else if (unit == 'S' && time)
      seconds += v;
    else if (unit == 'W')
      seconds += v * 7 * 86400;
    else
      return std::nullopt;  // years and months have no fixed length
  }
  if (!any) return std::nullopt;
  return (negative ? -seconds : seconds) / 86400.0;
}

struct CellStyle {
  std::string parent, data_style;
};

// What the handler knows about the cell being read.
struct PendingCell {
  int col = 0, repeat = 1, col_span = 1, row_span = 1;
  std::string style;
  std::string type;  // office:value-type; "" for none
  bool error = false;
  std::optional<double> number;
  std::optional<std::string> string_value;  // office:string-value
  bool boolean = false;
  bool covered = false;
};

class DocHandler : public xmldoc::Handler {
 public:
  DocHandler(Workbook& wb, const ReadOptions& options) : wb_(wb), options_(options) {}

  void Start(const XML_Char* name, const XML_Char** a) {
    ++depth_;
    if (skip_depth_) return;
    const QName q(name);
    if (styles_.Inside() || (q.ns == kNumberNs && !ws_)) return styles_.Start(q, a);
    if (in_cell_) return StartInCell(q, a);
    if (q.ns == kTableNs) {
      if (q.local == "table") return StartTable(a);
      if (ws_) {
        if (q.local == "table-cell" || q.local == "covered-table-cell")
          return StartCell(q.local == "covered-table-cell", a);
        if (q.local == "table-row") return StartRow(a);
        if (q.local == "table-column") return StartColumn(a);
        return;
      }
      if (q.local == "null-date") {
        const char* v = xmldoc::AttrNs(a, kTableNs, "date-value");
        wb_.styles().date1904 = v && std::string_view(v).rfind("1904-01-01", 0) == 0;
      }
      return;
    }
    if (q.Is(kStyleNs, "style")) return StartStyle(a);
    if (q.Is(kStyleNs, "table-properties") && !style_name_.empty()) {
      const char* display = xmldoc::AttrNs(a, kTableNs, "display");
      if (display && std::strcmp(display, "false") == 0) hidden_tables_.push_back(style_name_);
    }
  }

  void End(const XML_Char* name) {
    const int depth = depth_--;
    if (skip_depth_) {
      if (depth == skip_depth_) skip_depth_ = 0;
      return;
    }
    const QName q(name);
    if (styles_.Inside()) return styles_.End(q);
    if (in_cell_) {
      if (depth == cell_depth_) return EndCell();
      if (depth == para_depth_) para_depth_ = 0;
      return;
    }
    if (q.ns == kTableNs) {
      if (q.local == "table-row" && ws_) return EndRow();
      if (q.local == "table" && ws_) return EndTable();
      return;
    }
    if (q.Is(kStyleNs, "style")) style_name_.clear();
  }

  void Text(const char* s, int len) {
    if (skip_depth_) return;
    if (styles_.Inside()) return styles_.Text(s, len);
    if (!para_depth_) return;
    // Paragraph text: white space runs count as one space, and none at the paragraph's start
    // (spaces that matter come as text:s).
    for (int i = 0; i < len; ++i) {
      const char c = s[i];
      if (IsWhite(c)) {
        if (para_start_ < text_.size() && !last_white_) text_ += ' ';
        last_white_ = true;
      } else {
        text_ += c;
        last_white_ = false;
      }
    }
    if (text_.size() > kMaxCellText) {
      para_depth_ = 0;
      Fail(MakeError(ErrorCode::kTooLarge, "单元格的内容超过8 MiB", "单元格的内容超过8 MiB"));
    }
  }

  size_t tables() const { return tables_; }

 private:
  void StartStyle(const XML_Char** a) {
    const char* name = xmldoc::AttrNs(a, kStyleNs, "name");
    style_name_ = name ? name : "";
    if (style_name_.empty()) return;
    const char* family = xmldoc::AttrNs(a, kStyleNs, "family");
    if (!family || std::strcmp(family, "table-cell") != 0) return;
    CellStyle& s = cell_styles_[style_name_];
    if (const char* p = xmldoc::AttrNs(a, kStyleNs, "parent-style-name")) s.parent = p;
    if (const char* d = xmldoc::AttrNs(a, kStyleNs, "data-style-name")) s.data_style = d;
  }

  void StartTable(const XML_Char** a) {
    if (ws_) {
      // A table inside a table (a sub-table of a cell) is not a sheet of its own.
      skip_depth_ = depth_;
      return;
    }
    if (++tables_ > kMaxSheets)
      return Fail(MakeError(ErrorCode::kTooLarge, "工作表多得离谱", "工作表多得离谱"));
    const char* name = xmldoc::AttrNs(a, kTableNs, "name");
    ws_ = &wb_.AddWorksheet(name ? name : "Sheet" + std::to_string(tables_));
    if (const char* style = xmldoc::AttrNs(a, kTableNs, "style-name"))
      ws_->SetHidden(std::find(hidden_tables_.begin(), hidden_tables_.end(), style) !=
                     hidden_tables_.end());
    row_ = 1;
    next_column_ = 1;
    column_styles_.clear();
  }

  void EndTable() {
    ws_ = nullptr;
    if (options_.first_worksheet_only) Stop();
  }

  void StartColumn(const XML_Char** a) {
    const int repeat = RepeatAttr(a, "number-columns-repeated");
    const char* style = xmldoc::AttrNs(a, kTableNs, "default-cell-style-name");
    const int first = next_column_;
    next_column_ = static_cast<int>(std::min<int64_t>(int64_t{first} + repeat, kMaxCols + 1));
    if (style && std::strcmp(style, "Default") != 0)
      column_styles_.push_back({first, next_column_ - 1, style});
  }

  void StartRow(const XML_Char** a) {
    rows_repeat_ = RepeatAttr(a, "number-rows-repeated");
    const char* style = xmldoc::AttrNs(a, kTableNs, "default-cell-style-name");
    row_style_ = style ? style : "";
    col_ = 1;
    pending_.clear();
  }

  void StartCell(bool covered, const XML_Char** a) {
    PendingCell& c = cell_;
    c = PendingCell{};
    c.col = col_;
    c.repeat = RepeatAttr(a, "number-columns-repeated");
    col_ = static_cast<int>(std::min<int64_t>(int64_t{col_} + c.repeat, int64_t{kMaxCols} + 2));
    in_cell_ = true;
    cell_depth_ = depth_;
    text_.clear();
    paragraphs_ = 0;
    c.covered = covered;
    // The hidden part of a merged range: what it may still hold is not shown.
    if (covered) return;
    c.col_span = RepeatAttr(a, "number-columns-spanned");
    c.row_span = RepeatAttr(a, "number-rows-spanned");
    if (const char* s = xmldoc::AttrNs(a, kTableNs, "style-name")) c.style = s;
    const char* type = xmldoc::AttrNs(a, kOfficeNs, "value-type");
    c.type = type ? type : "";
    const char* ext = xmldoc::AttrNs(a, kCalcextNs, "value-type");
    c.error = ext && std::strcmp(ext, "error") == 0;
    if (c.type == "float" || c.type == "percentage" || c.type == "currency") {
      c.number = ParseDouble(xmldoc::AttrNs(a, kOfficeNs, "value"));
    } else if (c.type == "date") {
      if (const char* v = xmldoc::AttrNs(a, kOfficeNs, "date-value"))
        c.number = xlsx::IsoToSerial(v, wb_.styles().date1904);
    } else if (c.type == "time") {
      if (const char* v = xmldoc::AttrNs(a, kOfficeNs, "time-value")) c.number = DurationDays(v);
    } else if (c.type == "boolean") {
      const char* v = xmldoc::AttrNs(a, kOfficeNs, "boolean-value");
      c.boolean = v && (std::strcmp(v, "true") == 0 || std::strcmp(v, "1") == 0);
    } else if (c.type == "string") {
      if (const char* v = xmldoc::AttrNs(a, kOfficeNs, "string-value")) c.string_value = v;
    }
  }

  void StartInCell(const QName& q, const XML_Char** a) {
    if (q.ns == kTextNs) {
      if (!para_depth_ && (q.local == "p" || q.local == "h") && depth_ == cell_depth_ + 1) {
        // Paragraphs are the lines of a cell's text.
        if (paragraphs_++ > 0) text_ += '\n';
        para_depth_ = depth_;
        para_start_ = text_.size();
        last_white_ = false;
        return;
      }
      if (!para_depth_) return;
      if (q.local == "s") {
        const char* c = xmldoc::AttrNs(a, kTextNs, "c");
        int n = 1;
        if (c) std::from_chars(c, c + std::strlen(c), n);
        text_.append(static_cast<size_t>(std::clamp(n, 1, 65536)), ' ');
        last_white_ = false;
      } else if (q.local == "tab") {
        text_ += '\t';
      } else if (q.local == "line-break") {
        text_ += '\n';
      } else if (q.local == "note" || q.local == "ruby-text" || q.local == "tracked-changes") {
        skip_depth_ = depth_;
      }
      return;
    }
    // Comments, drawings and anything else a cell may hold are not its value.
    skip_depth_ = depth_;
  }

  void EndCell() {
    in_cell_ = false;
    para_depth_ = 0;
    PendingCell& c = cell_;
    Cell cell;
    cell.bits = 0;
    cell.col = 0;
    cell.style = 0;
    cell.type = static_cast<uint32_t>(CellType::kBlank);
    cell.formula = 0;
    if (c.covered) {
      // Nothing: a covered cell only takes its place.
    } else if (c.error) {
      int code = ErrorFromText(text_);
      cell.type = static_cast<uint32_t>(CellType::kError);
      cell.bits = static_cast<uint64_t>(code >= 0 ? code : static_cast<int>(CellError::kValue));
    } else if (c.number) {
      cell.type = static_cast<uint32_t>(CellType::kNumber);
      cell.number = *c.number;
    } else if (c.type == "boolean") {
      cell.type = static_cast<uint32_t>(CellType::kBool);
      cell.bits = c.boolean ? 1 : 0;
    } else if (c.type == "string" || c.type.empty() || !text_.empty()) {
      const std::string& s = c.string_value ? *c.string_value : text_;
      if (!s.empty() && (!c.type.empty() || paragraphs_ > 0)) {
        cell.type = static_cast<uint32_t>(CellType::kText);
        cell.bits = ws_->AddString(s);
      }
    }
    if (c.col_span > 1 || c.row_span > 1) {
      const int c2 = static_cast<int>(std::min<int64_t>(int64_t{c.col} + c.col_span - 1, kMaxCols));
      const int r2 = static_cast<int>(std::min<int64_t>(int64_t{row_} + c.row_span - 1, kMaxRows));
      if (c.col <= kMaxCols && row_ <= kMaxRows) ws_->AddMerge(Range{row_, c.col, r2, c2});
    }
    if (cell.Type() == CellType::kBlank) return;
    cell.style = StyleFor(c, cell.Type() == CellType::kNumber);
    // A repeat of a value is laid out now: what it costs is known before the cells are made.
    if (int64_t{c.col} + c.repeat - 1 > kMaxCols) return OutsideGrid(row_, c.col + c.repeat - 1);
    if (!Affordable(static_cast<uint64_t>(c.repeat) * sizeof(Cell))) return;
    for (int k = 0; k < c.repeat; ++k) {
      cell.col = static_cast<uint16_t>(c.col + k);
      pending_.push_back(cell);
    }
  }

  void EndRow() {
    const int64_t last = int64_t{row_} + rows_repeat_ - 1;
    if (!pending_.empty()) {
      if (last > kMaxRows) return OutsideGrid(last, pending_.back().col);
      const uint64_t cells = static_cast<uint64_t>(pending_.size()) * rows_repeat_;
      if (!Affordable(cells * sizeof(Cell) + uint64_t{sizeof(Row)} * rows_repeat_)) return;
      for (int k = 0; k < rows_repeat_; ++k)
        for (const Cell& cell : pending_) ws_->AppendCell(row_ + k, cell);
    }
    pending_.clear();
    row_ = static_cast<int>(std::min<int64_t>(last + 1, int64_t{kMaxRows} + 1));
  }

  // False (and the read failed) when `bytes` more would take the process past its budget.
  bool Affordable(uint64_t bytes) {
    const uint64_t in_use = memory::InUse();
    if (in_use + bytes <= memory::Budget()) return true;
    const std::string why = "重复的行或列展开后超过可用的" + memory::BudgetText() + "内存";
    Fail(MakeError(ErrorCode::kNoMemory, why, why));
    return false;
  }

  void OutsideGrid(int64_t r, int64_t c) {
    const std::string why = "单元格（第" + std::to_string(r) + "行第" + std::to_string(c) +
                            "列）超出了1048576行、16384列的工作表范围";
    Fail(MakeError(ErrorCode::kTooLarge, why, why));
  }

  // The cell format of a value: its own style, else the row's, else the column's default.
  uint16_t StyleFor(const PendingCell& c, bool number) {
    std::string style = c.style;
    if (style.empty()) style = row_style_;
    if (style.empty())
      for (const auto& cs : column_styles_)
        if (c.col >= cs.first && c.col <= cs.last) style = cs.style;
    uint16_t xf = XfOf(style);
    if (!number) return xf;
    // Dates and times stay dates and times even where the style shows them as numbers.
    if ((c.type == "date" || c.type == "time") && !wb_.styles().IsDateXf(xf)) {
      Xf x = wb_.styles().xf(xf);
      const double v = *c.number;
      x.num_fmt = c.type == "time" ? (v >= 1 || v < 0 ? 46 : 21) : v == std::floor(v) ? 14 : 22;
      xf = wb_.styles().AddXf(x);
    }
    return xf;
  }

  uint16_t XfOf(const std::string& style) {
    auto it = xf_by_style_.find(style);
    if (it != xf_by_style_.end()) return it->second;
    std::string data_style;
    std::string at = style;
    for (int hops = 0; hops < 32 && data_style.empty(); ++hops) {
      auto s = cell_styles_.find(at);
      if (s == cell_styles_.end()) break;
      data_style = s->second.data_style;
      at = s->second.parent;
    }
    uint16_t xf = 0;
    if (std::string code = styles_.Code(data_style); !code.empty()) {
      Xf x;
      x.num_fmt = wb_.styles().AddNumFmt(code);
      xf = wb_.styles().AddXf(x);
    }
    xf_by_style_.emplace(style, xf);
    return xf;
  }

  struct ColumnStyle {
    int first, last;
    std::string style;
  };

  Workbook& wb_;
  const ReadOptions& options_;
  NumberStyles styles_;
  std::unordered_map<std::string, CellStyle> cell_styles_;
  std::unordered_map<std::string, uint16_t> xf_by_style_;
  std::vector<std::string> hidden_tables_;
  std::string style_name_;

  Worksheet* ws_ = nullptr;
  size_t tables_ = 0;
  int depth_ = 0, skip_depth_ = 0;
  int row_ = 1, rows_repeat_ = 1, col_ = 1, next_column_ = 1;
  std::string row_style_;
  std::vector<ColumnStyle> column_styles_;
  std::vector<Cell> pending_;  // the current row's cells, repeats laid out

  bool in_cell_ = false, last_white_ = false;
  int cell_depth_ = 0, para_depth_ = 0, paragraphs_ = 0;
  size_t para_start_ = 0;
  PendingCell cell_;
  std::string text_;
};

Error Damaged(const std::string& name, const std::string& why) {
  return MakeError(ErrorCode::kCorrupt, name + ": " + why, why);
}

Result<std::unique_ptr<Workbook>> Finish(std::unique_ptr<Workbook> wb, const DocHandler& h,
                                         const std::string& name) {
  if (h.tables() == 0)
    return MakeError(ErrorCode::kNotAWorkbook, name + ": OpenDocument文件中没有表格",
                     "OpenDocument文件中没有表格");
  return wb;
}

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options) {
  auto zip = zip::Archive::Open(data, size, name);
  if (!zip.ok()) return zip.error();
  // An encrypted package says so in its manifest; its content is ciphertext.
  if (const zip::Entry* manifest = zip->Find("META-INF/manifest.xml");
      manifest && manifest->size < (4u << 20)) {
    auto text = zip->ReadAll(*manifest);
    if (text.ok() && text->find("encryption-data") != std::string::npos)
      return MakeError(ErrorCode::kEncrypted, name + ": 加密的OpenDocument文件",
                       "不支持打开加密的OpenDocument文件");
  }
  const zip::Entry* content = zip->Find("content.xml");
  if (!content) return Damaged(name, "OpenDocument文件中缺少content.xml");
  auto wb = std::make_unique<Workbook>();
  wb->SetFormat(SourceFormat::kOds);
  DocHandler h(*wb, options);
  if (const zip::Entry* styles = zip->Find("styles.xml"))
    if (auto st = xmldoc::ParseEntry(*zip, *styles, h, name); !st) return st.error();
  if (auto st = xmldoc::ParseEntry(*zip, *content, h, name); !st) return st.error();
  return Finish(std::move(wb), h, name);
}

Result<std::unique_ptr<Workbook>> ReadFlat(const uint8_t* data, size_t size,
                                           const std::string& name, const ReadOptions& options) {
  auto wb = std::make_unique<Workbook>();
  wb->SetFormat(SourceFormat::kOds);
  DocHandler h(*wb, options);
  std::string converted;
  memory::ScopedCharge charge;
  const char* encoding = nullptr;
  if (xmldoc::ConvertForeignEncoding(data, size, converted)) {
    charge.AddOrThrow(converted.size());
    data = reinterpret_cast<const uint8_t*>(converted.data());
    size = converted.size();
    encoding = "UTF-8";
  }
  if (auto st = xmldoc::ParseBytes(reinterpret_cast<const char*>(data), size, h, name, encoding);
      !st)
    return st.error();
  return Finish(std::move(wb), h, name);
}

}  // namespace qm::ods
