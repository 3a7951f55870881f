// One worksheet part: cells with their values, formats and formulas (a shared formula moved to
// each cell of its group), row heights, column widths and merged ranges.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../formula/formula.h"
#include "xlsx_read_internal.h"
#include "xlsx_read_parts.h"
#include "xlsx_read_xml.h"

namespace qm::xlsx {
namespace {

class SheetHandler : public XmlHandler {
 public:
  SheetHandler(Worksheet& ws, const std::vector<std::string>& sst,
               const std::vector<uint16_t>& xf_map, bool date1904)
      : ws_(ws), sst_(sst), xf_map_(xf_map), date1904_(date1904), pooled_(sst.size(), UINT32_MAX) {}

  void Start(std::string_view n, const XML_Char** a) {
    switch (n.size()) {
      case 1:
        if (n == "c") return StartCell(a);
        if (n == "v" && in_cell_) return Collect(&value_);
        if (n == "f" && in_cell_) return StartFormula(a);
        if (n == "t" && in_is_ && !in_rph_) return Collect(&value_);
        return;
      case 2:
        if (n == "is" && in_cell_) {
          in_is_ = true;
          has_value_ = true;
          value_.clear();
        }
        return;
      case 3:
        if (n == "row") return StartRow(a);
        if (n == "rPh") ++in_rph_;
        if (n == "col") return StartCol(a);
        return;
      default:
        if (n == "mergeCell") return StartMerge(a);
        if (n == "sheetFormatPr") {
          double w = ToDouble(Attr(a, "defaultColWidth"), 0);
          if (w > 0 && w < 256) ws_.default_column_width = w;
          double h = ToDouble(Attr(a, "defaultRowHeight"), 0);
          if (h > 0 && h < 410) ws_.default_row_height = h;
        }
        return;
    }
  }

  void End(std::string_view n) {
    if (n.size() == 1) {
      if (n == "c") return EndCell();
      if (n == "v" || n == "t" || n == "f") collect_ = nullptr;
      return;
    }
    if (n == "row" || n == "sheetData")
      Flush();
    else if (n == "is")
      in_is_ = false;
    else if (n == "rPh" && in_rph_)
      --in_rph_;
  }

  void Text(const char* s, int len) {
    if (!collect_) return;
    collect_->append(s, static_cast<size_t>(len));
    if (collect_->size() > kMaxCellText) {
      collect_ = nullptr;
      Fail(MakeError(ErrorCode::kTooLarge, "a cell value longer than 8 MiB",
                     "有单元格的内容超过8 MiB"));
    }
  }

  // Hands over the cells still pending when the part ends without closing its last row.
  void Finish() { Flush(); }

 private:
  void Collect(std::string* target) {
    collect_ = target;
    if (target == &value_ && !in_is_) {
      value_.clear();
      has_value_ = true;
    }
  }

  bool CheckGrid(int r, int c) {
    if (r >= 1 && r <= kMaxRows && c >= 1 && c <= kMaxCols) return true;
    Fail(MakeError(ErrorCode::kTooLarge,
                   "cell at row " + std::to_string(r) + ", column " + std::to_string(c) +
                       " lies outside the grid of 1,048,576 rows and 16,384 columns",
                   "第" + std::to_string(r) + "行第" + std::to_string(c) +
                       "列超出工作表的范围，最多1048576行、16384列"));
    return false;
  }

  void StartRow(const XML_Char** a) {
    int r = ToInt(Attr(a, "r"), 0);
    row_ = r > 0 ? r : row_ + 1;
    next_col_ = 1;
    if (!CheckGrid(row_, 1)) return;
    if (const char* ht = Attr(a, "ht"); ht && IsTrue(Attr(a, "customHeight"))) {
      double h = ToDouble(ht, 0);
      if (h > 0 && h <= 409.5) ws_.SetRowHeight(row_, h);
    }
  }

  void StartCol(const XML_Char** a) {
    int c1 = ToInt(Attr(a, "min"), 0), c2 = ToInt(Attr(a, "max"), 0);
    double w = ToDouble(Attr(a, "width"), 0);
    if (c1 < 1 || c2 < c1 || c1 > kMaxCols || !(w > 0 && w <= 255)) return;
    c2 = std::min(c2, kMaxCols);
    // A single <col> often spans every column to the end of the grid with the default width;
    // only columns near the used area are worth a map entry each.
    c2 = std::min(c2, c1 + 1023);
    for (int c = c1; c <= c2; ++c) ws_.SetColumnWidth(c, w);
  }

  void StartMerge(const XML_Char** a) {
    const char* ref = Attr(a, "ref");
    if (!ref) return;
    std::string_view s(ref);
    size_t colon = s.find(':');
    Range m;
    if (colon == std::string_view::npos || !ParseCellRef(s.substr(0, colon), m.r1, m.c1) ||
        !ParseCellRef(s.substr(colon + 1), m.r2, m.c2))
      return;
    if (m.r1 > m.r2) std::swap(m.r1, m.r2);
    if (m.c1 > m.c2) std::swap(m.c1, m.c2);
    if (!CheckGrid(m.r2, m.c2)) return;
    if (++merges_ > 1'000'000)
      return Fail(
          MakeError(ErrorCode::kTooLarge, "absurdly many merged ranges", "合并单元格区域过多"));
    ws_.AddMerge(m);
  }

  void StartCell(const XML_Char** a) {
    in_cell_ = true;
    has_value_ = false;
    in_is_ = false;
    value_.clear();
    formula_.clear();
    has_formula_ = false;
    shared_si_ = -1;
    shared_master_ = false;
    type_ = 'n';
    style_ = xf_map_.empty() ? 0 : xf_map_[0];
    int r = row_ > 0 ? row_ : 1, c = next_col_;
    for (const XML_Char** p = a; *p; p += 2) {
      std::string_view name = LocalName(p[0]);
      const char* v = p[1];
      if (name == "r") {
        int rr, cc;
        if (ParseCellRef(v, rr, cc)) r = rr, c = cc;
      } else if (name == "t") {
        std::string_view t(v);
        type_ = t == "s"           ? 's'
                : t == "inlineStr" ? 'i'
                : t == "str"       ? 'f'
                : t == "b"         ? 'b'
                : t == "e"         ? 'e'
                : t == "d"         ? 'd'
                                   : 'n';
      } else if (name == "s") {
        int s = ToInt(v, 0);
        style_ =
            s >= 0 && static_cast<size_t>(s) < xf_map_.size() ? xf_map_[static_cast<size_t>(s)] : 0;
      }
    }
    if (!CheckGrid(r, c)) {
      in_cell_ = false;
      return;
    }
    if (r != row_) row_ = r;
    cell_row_ = r;
    cell_col_ = c;
    next_col_ = c + 1;
  }

  void StartFormula(const XML_Char** a) {
    has_formula_ = true;
    formula_.clear();
    collect_ = &formula_;
    const char* t = Attr(a, "t");
    if (t && std::string_view(t) == "shared") {
      shared_si_ = ToInt(Attr(a, "si"), -1);
      shared_master_ = Attr(a, "ref") != nullptr;
    } else if (t && (std::string_view(t) == "dataTable" || std::string_view(t) == "array")) {
      // An array formula written back as a plain one would compute something else
      // (=SUM(A1:A5*B1:B5) gives #VALUE!), and the other cells of its range carry no formula at
      // all: the cached values are what the cells keep.
      has_formula_ = false;
      collect_ = nullptr;
    }
  }

  void EndCell() {
    if (!in_cell_) return;
    in_cell_ = false;
    collect_ = nullptr;
    Cell cell;
    cell.bits = 0;
    cell.col = static_cast<uint16_t>(cell_col_);
    cell.style = style_;
    cell.type = static_cast<uint32_t>(CellType::kBlank);
    cell.formula = 0;
    if (has_value_) {
      switch (type_) {
        case 's': {
          int idx = -1;
          auto [p, ec] = std::from_chars(value_.data(), value_.data() + value_.size(), idx);
          if (ec == std::errc() && idx >= 0 && static_cast<size_t>(idx) < sst_.size()) {
            uint32_t& pooled = pooled_[static_cast<size_t>(idx)];
            if (pooled == UINT32_MAX) pooled = ws_.AddString(sst_[static_cast<size_t>(idx)]);
            cell.type = static_cast<uint32_t>(CellType::kText);
            cell.bits = pooled;
          }
          break;
        }
        case 'i':
        case 'f':
          cell.type = static_cast<uint32_t>(CellType::kText);
          // Formula results carry the same _xHHHH_ escapes as other strings (a CR, say).
          cell.bits = ws_.AddString(DecodeEscapes(value_));
          break;
        case 'b':
          cell.type = static_cast<uint32_t>(CellType::kBool);
          cell.bits = value_ == "1" || value_ == "true" ? 1 : 0;
          break;
        case 'e': {
          int code = ErrorFromText(value_);
          cell.type = static_cast<uint32_t>(CellType::kError);
          cell.bits = static_cast<uint64_t>(code >= 0 ? code : static_cast<int>(CellError::kNA));
          break;
        }
        case 'd':
          if (auto serial = IsoToSerial(value_, date1904_)) {
            cell.type = static_cast<uint32_t>(CellType::kNumber);
            cell.number = *serial;
          }
          break;
        default:
          SetNumber(cell);
          break;
      }
    }
    std::string formula = FormulaText();
    if (cell_row_ != pending_row_) Flush();
    pending_row_ = cell_row_;
    if (cell.Type() != CellType::kBlank || style_ != 0 || !formula.empty()) {
      if (!pending_.empty() && pending_.back().col >= cell.col) pending_sorted_ = false;
      pending_.push_back(cell);
      if (!formula.empty()) pending_formulas_.emplace_back(cell.col, std::move(formula));
    }
    if (++cells_ > kMaxCellsPerSheet)
      Fail(MakeError(ErrorCode::kTooLarge,
                     "more than " + std::to_string(kMaxCellsPerSheet) + " cells in one sheet",
                     "一个工作表中的单元格超过" + std::to_string(kMaxCellsPerSheet) + "个"));
  }

  // Hands the cells of the row just read to the sheet. Cells arrive in column order from every
  // sane writer; when they do not, one sort per row keeps a hostile file from costing a sorted
  // insert per cell. For a column given twice the later cell wins.
  void Flush() {
    if (!pending_sorted_)
      std::stable_sort(pending_.begin(), pending_.end(),
                       [](const Cell& a, const Cell& b) { return a.col < b.col; });
    for (const Cell& c : pending_) ws_.AppendCell(pending_row_, c);
    for (const auto& [col, text] : pending_formulas_)
      if (auto st = ws_.SetFormula(pending_row_, col, text); !st) Fail(st.error());
    pending_.clear();
    pending_formulas_.clear();
    pending_sorted_ = true;
  }

  void SetNumber(Cell& cell) {
    const char* b = value_.data();
    const char* e = b + value_.size();
    while (b < e && (*b == ' ' || *b == '\t' || *b == '\n' || *b == '\r')) ++b;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\n' || e[-1] == '\r')) --e;
    if (b == e) return;  // <v></v>: nothing cached
    if (*b == '+') ++b;
    double d;
    auto [p, ec] = std::from_chars(b, e, d);
    if (ec == std::errc() && p == e) {
      cell.type = static_cast<uint32_t>(CellType::kNumber);
      cell.number = d;
    } else if (ec == std::errc::result_out_of_range) {
      cell.type = static_cast<uint32_t>(CellType::kNumber);
      cell.number = std::strtod(std::string(b, e).c_str(), nullptr);
    } else {
      // Not a number after all: keep what the file says rather than lose it.
      cell.type = static_cast<uint32_t>(CellType::kText);
      cell.bits = ws_.AddString(value_);
    }
  }

  // The formula text of the cell just read: its own, or the master's of a shared group moved to
  // this cell. Empty when there is none or it cannot be moved faithfully.
  std::string FormulaText() {
    if (!has_formula_) return {};
    if (formula_.size() > kMaxFormula) return {};
    if (shared_si_ >= 0) {
      if (shared_master_ && !formula_.empty()) {
        shared_[shared_si_] = {formula_, cell_row_, cell_col_};
        return formula_;
      }
      if (!formula_.empty()) return formula_;
      auto it = shared_.find(shared_si_);
      if (it == shared_.end()) return {};
      auto moved =
          ShiftFormula(it->second.text, cell_row_ - it->second.row, cell_col_ - it->second.col);
      return moved ? *moved : std::string();
    }
    return formula_;
  }

  static constexpr size_t kMaxFormula = 16384;
  static constexpr size_t kMaxCellsPerSheet = size_t{1} << 31;

  struct SharedFormula {
    std::string text;
    int row = 0, col = 0;
  };

  Worksheet& ws_;
  const std::vector<std::string>& sst_;
  const std::vector<uint16_t>& xf_map_;
  bool date1904_;
  std::vector<uint32_t> pooled_;  // shared string index -> this sheet's pool index
  std::unordered_map<int, SharedFormula> shared_;

  int row_ = 0, next_col_ = 1;
  bool in_cell_ = false, in_is_ = false, has_value_ = false, has_formula_ = false;
  bool shared_master_ = false;
  int in_rph_ = 0, shared_si_ = -1;
  char type_ = 'n';
  uint16_t style_ = 0;
  int cell_row_ = 0, cell_col_ = 0;
  size_t cells_ = 0, merges_ = 0;
  std::string value_, formula_;
  std::string* collect_ = nullptr;
  // The cells of the current row, handed over at its end.
  std::vector<Cell> pending_;
  std::vector<std::pair<int, std::string>> pending_formulas_;
  int pending_row_ = 0;
  bool pending_sorted_ = true;
};

}  // namespace

Status ReadSheet(zip::Archive& zip, const zip::Entry& part, const std::string& file, Worksheet& ws,
                 const std::vector<std::string>& sst, const std::vector<uint16_t>& xf_map,
                 bool date1904) {
  SheetHandler h(ws, sst, xf_map, date1904);
  if (auto st = ParseXmlPart(zip, part, h, file); !st) return st;
  h.Finish();
  return Status::Ok();
}

}  // namespace qm::xlsx
