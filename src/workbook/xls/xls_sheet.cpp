// The cells, row heights, column widths and merged ranges of one .xls sheet substream, one
// method per record.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "../formula/formula.h"
#include "biff_records.h"
#include "xls_book.h"

namespace qm::xls {

namespace {

using le::F64;
using le::U16;
using le::U32;

// Records that give a cell its value.
bool PlacesCell(uint16_t id) {
  switch (id) {
    case kBlank:
    case kBoolErr:
    case kFormula:
    case kLabel:
    case kLabelSst:
    case kMulBlank:
    case kMulRk:
    case kNumber:
    case kRk:
    case kRString:
    case kBlank2:
    case kInteger2:
    case kNumber2:
    case kLabel2:
    case kBoolErr2:
    case kFormula3:
    case kFormula4:
      return true;
    default:
      return false;
  }
}

// Where a cell record puts its value.
struct At {
  int row = 0, col = 0;
  uint16_t ixfe = 0;  // the cell's XF index
};

class SheetReader {
 public:
  SheetReader(Book& book, RecordReader& rr, Worksheet& ws)
      : book_(book),
        rr_(rr),
        ws_(ws),
        sst_index_(book.sst.size(), UINT32_MAX),
        b8_(book.text.biff >= 8),
        cell_hdr_(book.text.biff == 2 ? 7 : 6) {}

  std::optional<Error> Run(bool embedded_globals);

 private:
  enum class Global { kNone, kTaken, kEncrypted };
  // Takes the global records a BIFF2-4 sheet carries among its cells.
  Global EmbeddedGlobal(const BiffRecord& r);
  // Takes a record of the sheet's own.
  void Dispatch(const BiffRecord& r, At at);

  void OnNumber(const BiffRecord& r, At at);
  void OnInteger2(const BiffRecord& r, At at);
  void OnRk(const BiffRecord& r, At at);
  void OnMulRk(const BiffRecord& r, At at);
  void OnLabelSst(const BiffRecord& r, At at);
  void OnLabel(const BiffRecord& r, At at);
  void OnBoolErr(const BiffRecord& r, At at);
  void OnBlank(const BiffRecord& r, At at);
  void OnMulBlank(const BiffRecord& r, At at);
  void OnFormula(const BiffRecord& r, At at);
  void OnShrFmla(const BiffRecord& r);
  void OnString(const BiffRecord& r);
  void OnRow(const BiffRecord& r, At at);
  void OnColInfo(const BiffRecord& r);
  void OnDefColWidth(const BiffRecord& r);
  void OnDefaultRowHeight(const BiffRecord& r);
  void OnMergeCells(const BiffRecord& r);

  uint16_t StyleOf(uint16_t ixfe) const { return book_.styles.StyleOf(ixfe); }
  // The .xls grid has 256 columns; a cell past it is damage, and keeping rows that narrow keeps
  // out-of-order inserts cheap.
  static bool InGrid(int row, int col) {
    return row >= 0 && row < kMaxRows && col >= 0 && col < kXlsMaxCols;
  }
  void Put(int row, int col, CellType type, uint64_t bits, uint16_t style);
  // Stores a cell's formula; the first that cannot be kept (too many, out of memory) ends the
  // read with its reason rather than leaving a sheet that silently lacks formulas.
  void PutFormula(int row, int col, std::string_view text) {
    if (failed_) return;
    if (Status st = ws_.SetFormula(row + 1, col + 1, text); !st)
      failed_ = book_.Fail(st.error().code, st.error().detail);
  }
  std::optional<Error> failed_;
  void PutNumber(int row, int col, double v, uint16_t style) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Put(row, col, CellType::kNumber, bits, style);
  }
  void PutText(int row, int col, std::string_view s, uint16_t style) {
    if (!InGrid(row, col)) return;
    ws_.AppendText(row + 1, col + 1, s, style);
  }
  void FlushPending(std::string_view text);
  std::optional<std::string> Decode(std::span<const uint8_t> rgce, int row, int col) const {
    return DecodeBiff8Formula(rgce, row + 1, col + 1);
  }
  // A string whose body may run on into CONTINUE records.
  std::string ContinuedUnicode(const uint8_t* p, size_t n);

  Book& book_;
  RecordReader& rr_;
  Worksheet& ws_;
  Pieces pieces_;
  // A formula whose text value waits for the STRING record after it.
  struct PendingString {
    int row = 0, col = 0;
    uint16_t style = 0;
    std::optional<std::string> formula;
    bool active = false;
  } pending_;
  struct LastFormula {
    int row = 0, col = 0;
    int anchor_row = -1, anchor_col = -1;
  } last_;
  // Shared formulas by their anchor cell; each cell of the group decodes the same tokens at its
  // own position.
  std::unordered_map<uint32_t, std::vector<uint8_t>> shared_;
  std::vector<uint32_t> sst_index_;  // shared string -> the sheet's text pool, once used
  const bool b8_;
  const size_t cell_hdr_;  // BIFF2 cells carry 3 attribute bytes, no XF
};

void SheetReader::Put(int row, int col, CellType type, uint64_t bits, uint16_t style) {
  if (!InGrid(row, col)) return;
  qm::Cell c{};
  c.bits = bits;
  c.col = static_cast<uint16_t>(col + 1);
  c.style = style;
  c.type = static_cast<uint32_t>(type);
  c.formula = 0;
  ws_.AppendCell(row + 1, c);
}

void SheetReader::FlushPending(std::string_view text) {
  if (!pending_.active) return;
  PutText(pending_.row, pending_.col, text, pending_.style);
  if (pending_.formula) PutFormula(pending_.row, pending_.col, *pending_.formula);
  pending_.active = false;
}

std::string SheetReader::ContinuedUnicode(const uint8_t* p, size_t n) {
  std::string s;
  pieces_.Clear();
  pieces_.Add(p, n);
  pieces_.AddContinues(rr_);
  ReadUnicode(pieces_, true, s);
  return s;
}

std::optional<Error> SheetReader::Run(bool embedded_globals) {
  int depth = 1;
  BiffRecord r;
  while (rr_.Next(r)) {
    if (r.id == kBof || r.id == kBof2 || r.id == kBof3 || r.id == kBof4) {
      ++depth;  // an embedded chart: skip to its EOF
      continue;
    }
    if (r.id == kEof) {
      if (--depth == 0) break;
      continue;
    }
    if (depth > 1) continue;
    // The STRING record belongs to the last FORMULA, whatever stands between them (ARRAY,
    // SHRFMLA, a data table's TABLE): only the next cell shows that it never came.
    if (pending_.active && PlacesCell(r.id)) FlushPending("");
    if (embedded_globals) {
      switch (EmbeddedGlobal(r)) {
        case Global::kTaken:
          continue;
        case Global::kEncrypted:
          return book_.Fail(ErrorCode::kEncrypted, "the workbook is password protected");
        case Global::kNone:
          break;
      }
    }
    const uint8_t* p = r.data;
    const size_t n = r.size;
    At at;
    at.ixfe = n >= 6 && book_.text.biff > 2 ? U16(p + 4) : 0;
    at.row = n >= 4 ? U16(p) : 0;
    at.col = n >= 4 ? U16(p + 2) : 0;
    Dispatch(r, at);
    if (failed_) return failed_;
  }
  FlushPending("");
  return failed_;
}

SheetReader::Global SheetReader::EmbeddedGlobal(const BiffRecord& r) {
  switch (r.id) {
    case kCodePage:
    case kDate1904:
    case kFont:
    case kFont3:
    case kFormat:
    case kFormat2:
    case kXf:
    case kXf3:
    case kXf4:
    case kXf2:
    case kPalette:
      book_.GlobalRecord(r, rr_);
      return Global::kTaken;
    case kFilePass:
      return Global::kEncrypted;
    default:
      if (book_.styles.HasNew()) book_.BuildStyles();
      return Global::kNone;
  }
}

void SheetReader::Dispatch(const BiffRecord& r, At at) {
  switch (r.id) {
    case kNumber:
    case kNumber2:
      return OnNumber(r, at);
    case kInteger2:
      return OnInteger2(r, at);
    case kRk:
      return OnRk(r, at);
    case kMulRk:
      return OnMulRk(r, at);
    case kLabelSst:
      return OnLabelSst(r, at);
    case kLabel:
    case kRString:
    case kLabel2:
      return OnLabel(r, at);
    case kBoolErr:
    case kBoolErr2:
      return OnBoolErr(r, at);
    case kBlank:
      return OnBlank(r, at);
    case kBlank2:
      return;  // BIFF2 blanks carry no format we keep
    case kMulBlank:
      return OnMulBlank(r, at);
    case kFormula:
    case kFormula3:
    case kFormula4:
      return OnFormula(r, at);
    case kShrFmla:
      return OnShrFmla(r);
    case kString:
    case kString2:
      return OnString(r);
    case kRow:
      return OnRow(r, at);
    case kColInfo:
      return OnColInfo(r);
    case kDefColWidth:
      return OnDefColWidth(r);
    case kDefaultRowHeight:
      return OnDefaultRowHeight(r);
    case kMergeCells:
      return OnMergeCells(r);
    default:
      return;
  }
}

void SheetReader::OnNumber(const BiffRecord& r, At at) {
  if (r.size >= cell_hdr_ + 8) PutNumber(at.row, at.col, F64(r.data + cell_hdr_), StyleOf(at.ixfe));
}

void SheetReader::OnInteger2(const BiffRecord& r, At at) {
  if (r.size >= 9) PutNumber(at.row, at.col, U16(r.data + 7), 0);
}

void SheetReader::OnRk(const BiffRecord& r, At at) {
  if (r.size >= 10) PutNumber(at.row, at.col, RkValue(U32(r.data + 6)), StyleOf(at.ixfe));
}

void SheetReader::OnMulRk(const BiffRecord& r, At at) {
  if (r.size < 6) return;
  size_t count = (r.size - 6) / 6;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* q = r.data + 4 + 6 * i;
    PutNumber(at.row, at.col + static_cast<int>(i), RkValue(U32(q + 2)), StyleOf(U16(q)));
  }
}

void SheetReader::OnLabelSst(const BiffRecord& r, At at) {
  if (r.size < 10) return;
  uint32_t isst = U32(r.data + 6);
  if (isst >= book_.sst.size()) {
    // A reference past the shared strings is a broken file; the cell reads as empty text.
    PutText(at.row, at.col, "", StyleOf(at.ixfe));
    return;
  }
  if (!InGrid(at.row, at.col)) return;
  if (sst_index_[isst] == UINT32_MAX)
    sst_index_[isst] = ws_.AddString(book_.sst[static_cast<uint32_t>(isst)]);
  Put(at.row, at.col, CellType::kText, sst_index_[isst], StyleOf(at.ixfe));
}

void SheetReader::OnLabel(const BiffRecord& r, At at) {
  if (r.size < cell_hdr_) return;
  std::string s;
  if (b8_) {
    s = ContinuedUnicode(r.data + 6, r.size - 6);
  } else {
    size_t pos = cell_hdr_;
    book_.text.ByteString(r.data, r.size, pos, r.id != kLabel2, s);
  }
  PutText(at.row, at.col, s, r.id == kLabel2 ? 0 : StyleOf(at.ixfe));
}

void SheetReader::OnBoolErr(const BiffRecord& r, At at) {
  if (r.size < cell_hdr_ + 2) return;
  uint8_t v = r.data[cell_hdr_], is_err = r.data[cell_hdr_ + 1];
  Put(at.row, at.col, is_err ? CellType::kError : CellType::kBool, is_err ? v : (v ? 1 : 0),
      r.id == kBoolErr2 ? 0 : StyleOf(at.ixfe));
}

void SheetReader::OnBlank(const BiffRecord& r, At at) {
  if (r.size >= 6) Put(at.row, at.col, CellType::kBlank, 0, StyleOf(at.ixfe));
}

void SheetReader::OnMulBlank(const BiffRecord& r, At at) {
  if (r.size < 6) return;
  size_t count = (r.size - 6) / 2;
  for (size_t i = 0; i < count; ++i)
    Put(at.row, at.col + static_cast<int>(i), CellType::kBlank, 0,
        StyleOf(U16(r.data + 4 + 2 * i)));
}

void SheetReader::OnFormula(const BiffRecord& r, At at) {
  const uint8_t* p = r.data;
  const size_t n = r.size;
  const int row = at.row, col = at.col;
  if (n < cell_hdr_ + 8) return;
  const uint8_t* v = p + cell_hdr_;
  uint16_t style = book_.text.biff == 2 ? 0 : StyleOf(at.ixfe);
  std::optional<std::string> text;
  last_ = {row, col, -1, -1};
  if (b8_ && n >= 22) {
    size_t cce = U16(p + 20);
    std::span<const uint8_t> rgce(p + 22, std::min(cce, n - 22));
    if (!rgce.empty() && rgce[0] == 0x01 && rgce.size() >= 5) {  // ptgExp: a shared formula
      last_.anchor_row = U16(rgce.data() + 1);
      last_.anchor_col = U16(rgce.data() + 3);
      auto it = shared_.find(static_cast<uint32_t>(last_.anchor_row) << 16 | last_.anchor_col);
      if (it != shared_.end()) text = Decode(it->second, row, col);
    } else if (!rgce.empty()) {
      text = Decode(rgce, row, col);
    }
  }
  if (v[6] == 0xFF && v[7] == 0xFF) {
    switch (v[0]) {
      case 0:  // a string: the STRING record follows
        pending_ = {row, col, style, text, true};
        return;
      case 1:
        Put(row, col, CellType::kBool, v[2] ? 1 : 0, style);
        break;
      case 2:
        Put(row, col, CellType::kError, v[2], style);
        break;
      case 3:
        PutText(row, col, "", style);
        break;
      default:
        Put(row, col, CellType::kBlank, 0, style);
        break;
    }
  } else {
    PutNumber(row, col, F64(v), style);
  }
  if (text && InGrid(row, col)) PutFormula(row, col, *text);
}

void SheetReader::OnShrFmla(const BiffRecord& r) {
  const uint8_t* p = r.data;
  const size_t n = r.size;
  if (!b8_ || n < 10) return;
  size_t cce = U16(p + 8);
  std::vector<uint8_t> rgce(p + 10, p + 10 + std::min(cce, n - 10));
  uint32_t key = static_cast<uint32_t>(last_.anchor_row) << 16 | last_.anchor_col;
  if (last_.anchor_row < 0) key = static_cast<uint32_t>(U16(p)) << 16 | p[4];
  // The anchor cell came just before its SHRFMLA and could not be decoded then.
  if (last_.anchor_row >= 0 && shared_.size() < 65536) {
    auto f = Decode(rgce, last_.row, last_.col);
    if (f) {
      if (pending_.active && pending_.row == last_.row && pending_.col == last_.col)
        pending_.formula = f;
      else if (InGrid(last_.row, last_.col))
        PutFormula(last_.row, last_.col, *f);
    }
    shared_[key] = std::move(rgce);
  }
}

void SheetReader::OnString(const BiffRecord& r) {
  if (!pending_.active) return;
  std::string s;
  if (b8_) {
    s = ContinuedUnicode(r.data, r.size);
  } else {
    size_t pos = 0;
    book_.text.ByteString(r.data, r.size, pos, r.id == kString, s);
  }
  FlushPending(s);
}

void SheetReader::OnRow(const BiffRecord& r, At at) {
  if (r.size < 16) return;
  uint16_t height = U16(r.data + 6);
  uint16_t flags = U16(r.data + 12);
  if ((flags & 0x40) && !(height & 0x8000) && at.row < kXlsMaxRows)
    ws_.SetRowHeight(at.row + 1, (height & 0x7FFF) / 20.0);
}

void SheetReader::OnColInfo(const BiffRecord& r) {
  if (r.size < 6) return;
  int first = U16(r.data), last_col = std::min<int>(U16(r.data + 2), kXlsMaxCols - 1);
  double width = U16(r.data + 4) / 256.0;
  for (int c = first; c <= last_col; ++c) ws_.SetColumnWidth(c + 1, width);
}

void SheetReader::OnDefColWidth(const BiffRecord& r) {
  if (r.size >= 2) ws_.default_column_width = U16(r.data) + 0.43;  // plus the cell padding
}

void SheetReader::OnDefaultRowHeight(const BiffRecord& r) {
  if (r.size >= 4 && U16(r.data + 2) > 0 && U16(r.data + 2) < 8192)
    ws_.default_row_height = U16(r.data + 2) / 20.0;
}

void SheetReader::OnMergeCells(const BiffRecord& r) {
  if (r.size < 2) return;
  size_t count = std::min<size_t>(U16(r.data), (r.size - 2) / 8);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* q = r.data + 2 + 8 * i;
    Range m{U16(q) + 1, U16(q + 4) + 1, U16(q + 2) + 1, U16(q + 6) + 1};
    if (m.r2 >= m.r1 && m.c2 >= m.c1 && m.c2 <= kMaxCols) ws_.AddMerge(m);
  }
}

}  // namespace

std::optional<Error> ReadSheet(Book& book, RecordReader& rr, Worksheet& ws, bool embedded_globals) {
  SheetReader reader(book, rr, ws);
  return reader.Run(embedded_globals);
}

}  // namespace qm::xls
