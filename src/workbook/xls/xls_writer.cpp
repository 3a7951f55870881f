// BIFF8 writer: the workbook globals and one substream per worksheet, stored as the "Workbook"
// stream of a compound file (cfb_writer.cpp).
#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "../formula/formula.h"
#include "../io.h"
#include "../temp_file.h"
#include "../text_table.h"
#include "../utf.h"
#include "../write_common.h"
#include "biff_out.h"
#include "biff_records.h"
#include "palette.h"
#include "workbook_stream.h"
#include "xls.h"

namespace qm::xls {

namespace {

constexpr size_t kMaxXfs = 4000;  // readers reject much more than this
constexpr int kFirstCellXf = 15;  // 0-14 are style formats

class Writer {
 public:
  Writer(const Workbook& wb, std::vector<std::string>* warnings) : wb_(wb), warnings_(warnings) {}

  // Lays out the globals and the sheets; Save then writes them into the compound file.
  Status Build();
  Status Save(const std::string& path) { return WriteCompoundFile(path, globals_, bodies_); }

 private:
  void Warn(std::string s) {
    if (warnings_ && warnings_->size() < 100) warnings_->push_back(std::move(s));
  }
  void CollectStrings();
  void WriteGlobals(BiffBuffer& g, std::vector<size_t>* sheet_pos_fields);
  void WriteStyles(BiffBuffer& g);
  void WriteSst(BiffBuffer& g);
  // Writes BOF and INDEX into `head` (kept in memory, where INDEX is patched) and the rest
  // into a new buffer at the end of bodies_.
  void WriteSheet(const Worksheet& ws, bool selected, BiffBuffer& head);
  void WriteRowCells(const Worksheet& ws, int r, const Row& row, BiffBuffer& s);
  void WriteFormula(const Worksheet& ws, int r, const Cell& c, std::vector<uint8_t> rgce,
                    BiffBuffer& s);
  uint16_t XfIndex(uint16_t style) const {
    return style < xf_count_ ? static_cast<uint16_t>(kFirstCellXf + style) : kFirstCellXf;
  }
  uint32_t StringIndex(const Worksheet& ws, std::string_view text);

  const Workbook& wb_;
  std::vector<std::string>* warnings_;
  bool told_no_spill_ = false;
  std::vector<const Worksheet*> sheets_;
  std::unique_ptr<Worksheet> placeholder_;
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  std::vector<std::vector<uint32_t>> pool_to_sst_;  // per sheet: pool index -> table entry
  size_t sheet_ = 0;                                // the sheet being written
  TextTable sst_;                                   // texts stay in the sheets' pools until written
  uint32_t sst_total_ = 0;
  size_t xf_count_ = 0;
  Palette palette_;
  size_t cut_strings_ = 0;
  size_t unwritten_formulas_ = 0;
  size_t dropped_merges_ = 0;
  BiffBuffer globals_;
  std::deque<BiffBuffer> bodies_;  // per sheet: head, then the rest
};

uint32_t Writer::StringIndex(const Worksheet&, std::string_view text) {
  return sst_.Add(text);
}

void Writer::CollectStrings() {
  // Each sheet's pool index maps to its table entry, so cells need no second text lookup.
  pool_to_sst_.resize(sheets_.size());
  for (size_t k = 0; k < sheets_.size(); ++k) {
    const Worksheet* ws = sheets_[k];
    std::vector<uint32_t>& map = pool_to_sst_[k];
    for (int r = 1; r <= std::min(ws->RowCount(), kXlsMaxRows); ++r) {
      for (const Cell& c : ws->RowAt(r)->cells) {
        if (c.col > kXlsMaxCols) break;
        if (c.Type() != CellType::kText) continue;
        if (c.bits >= map.size()) map.resize(std::max<size_t>(c.bits + 1, map.size() * 2), kNone);
        if (map[c.bits] == kNone) map[c.bits] = StringIndex(*ws, ws->TextOf(c));
        ++sst_total_;
      }
    }
  }
}

void Writer::WriteStyles(BiffBuffer& g) {
  const StyleTable& st = wb_.styles();
  // Colours first, so the palette is settled before any index is written.
  for (const Font& f : st.fonts()) palette_.Want(f.color);
  for (const Fill& f : st.fills()) palette_.Want(f.fg), palette_.Want(f.bg);
  for (const Border& b : st.borders())
    for (const BorderSide* s : {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal})
      palette_.Want(s->color);
  palette_.Settle();

  // Fonts: index 4 does not exist, so the default font fills 0-3 and the others follow at 5.
  auto font = [&](const Font& f) {
    g.Begin(kFont);
    g.U16(static_cast<uint16_t>(std::lround(std::clamp(f.size, 1.0, 409.0) * 20)));
    g.U16(static_cast<uint16_t>((f.bold ? 1 : 0) | (f.italic ? 2 : 0) | (f.strike ? 8 : 0)));
    g.U16(palette_.Index(f.color, 0x7FFF));
    g.U16(f.bold ? 700 : 400);
    g.U16(f.script);
    g.U8(f.underline);
    g.U8(f.family);
    g.U8(f.charset);
    g.U8(0);
    // Font names hold at most 31 characters in this format.
    WriteShortString(g, f.name.empty() ? std::string_view("Arial") : f.name, 31);
    g.End();
  };
  const auto& fonts = st.fonts();
  for (int i = 0; i < 4; ++i) font(fonts[0]);
  // At most 510 FONT records: the default four plus 506 more.
  size_t nfonts = std::min<size_t>(fonts.size(), 507);
  for (size_t i = 1; i < nfonts; ++i) font(fonts[i]);
  if (nfonts < fonts.size())
    Warn("字体种类超过.xls格式的上限，" + std::to_string(fonts.size() - nfonts) +
         "种字体已改用默认字体");

  const auto& xfs = st.xfs();
  xf_count_ = std::min(xfs.size(), kMaxXfs - kFirstCellXf);
  const WrittenNumFmts num_fmts(st, xf_count_);
  for (const auto& [id, text] : num_fmts.formats()) {
    g.Begin(kFormat);
    g.U16(static_cast<uint16_t>(id));
    WriteLongString(g, text, 255);
    g.End();
  }

  // Style formats 0-14 (the first one is Normal, the rest are the standard placeholders).
  for (int i = 0; i < 15; ++i) {
    g.Begin(kXf);
    g.U16(i >= 1 && i <= 4 ? (i <= 2 ? 1 : 2) : 0);
    g.U16(0);
    g.U16(0xFFF5);
    g.U8(0x20);
    g.U8(0);
    g.U8(0);
    g.U8(i == 0 ? 0 : 0xF4);
    g.U32(0);
    g.U32(0);
    g.U16(64 | (65 << 7));
    g.End();
  }
  if (xf_count_ < xfs.size())
    Warn("单元格格式超过.xls格式的上限，" + std::to_string(xfs.size() - xf_count_) +
         "种格式已改用默认格式");
  for (size_t i = 0; i < xf_count_; ++i) {
    const Xf& x = xfs[i];
    uint16_t fnt = x.font < nfonts ? x.font : 0;
    const Fill& fill = x.fill < st.fills().size() ? st.fills()[x.fill] : st.fills()[0];
    const Border& bd = x.border < st.borders().size() ? st.borders()[x.border] : st.borders()[0];
    g.Begin(kXf);
    g.U16(fnt == 0 ? 0 : static_cast<uint16_t>(fnt + 4));
    g.U16(num_fmts.Id(x.num_fmt));
    g.U16(static_cast<uint16_t>((x.locked ? 1 : 0) | (x.hidden ? 2 : 0)));
    g.U8(static_cast<uint8_t>((x.align.horizontal & 7) | (x.align.wrap ? 8 : 0) |
                              ((x.align.vertical & 7) << 4)));
    g.U8(x.align.rotation);
    g.U8(static_cast<uint8_t>((x.align.indent & 15) | (x.align.shrink ? 16 : 0)));
    g.U8(0xFC);
    auto bc = [&](const BorderSide& s) -> uint32_t {
      return s.style ? palette_.Index(s.color, 64) & 0x7F : 0;
    };
    uint32_t diag = (bd.diag_down ? 1u : 0u) | (bd.diag_up ? 2u : 0u);
    g.U32((bd.left.style & 15u) | (bd.right.style & 15u) << 4 | (bd.top.style & 15u) << 8 |
          (bd.bottom.style & 15u) << 12 | bc(bd.left) << 16 | bc(bd.right) << 23 | diag << 30);
    uint32_t fls = fill.pattern > 18 ? 1 : fill.pattern;
    g.U32(bc(bd.top) | bc(bd.bottom) << 7 | bc(bd.diagonal) << 14 |
          (bd.diagonal.style & 15u) << 21 | fls << 26);
    uint16_t fore = fls ? palette_.Index(fill.fg, 64) : 64;
    uint16_t back = fls ? palette_.Index(fill.bg, 65) : 65;
    g.U16(static_cast<uint16_t>((fore & 0x7F) | (back & 0x7F) << 7));
    g.End();
  }

  // The Normal style.
  g.Begin(kStyle);
  g.U16(0x8000);
  g.U8(0);
  g.U8(0xFF);
  g.End();

  if (palette_.changed()) {
    g.Begin(kPalette);
    g.U16(56);
    for (uint32_t c : palette_.colors()) {
      g.U8(static_cast<uint8_t>(c >> 16));
      g.U8(static_cast<uint8_t>(c >> 8));
      g.U8(static_cast<uint8_t>(c));
      g.U8(0);
    }
    g.End();
  }
  g.Rec16(kUsesElfs, 1);
}

void Writer::WriteSst(BiffBuffer& g) {
  size_t per_bucket = std::max<size_t>(sst_.size() / 128 + 1, 8);
  std::vector<std::pair<uint32_t, uint16_t>> buckets;
  g.Begin(kSst);
  g.U32(sst_total_);
  g.U32(static_cast<uint32_t>(sst_.size()));
  for (size_t i = 0; i < sst_.size(); ++i) {
    bool cut = false;
    const std::u16string s = Utf8ToUtf16(sst_.texts()[i], kMaxCellChars, &cut);
    if (cut) ++cut_strings_;
    bool wide = !Fits8Bit(s);
    if (g.RecordDataSize() + 3 + (s.empty() ? 0 : (wide ? 2 : 1)) > kMaxRecordData) {
      g.End();
      g.Begin(kContinue);
    }
    if (i % per_bucket == 0)
      buckets.emplace_back(static_cast<uint32_t>(g.Pos()),
                           static_cast<uint16_t>(g.size() - g.RecordStart()));
    g.ContinuedString(s);
  }
  g.End();
  g.Begin(kExtSst);
  g.U16(static_cast<uint16_t>(per_bucket));
  for (const auto& [pos, off] : buckets) {
    g.U32(pos);
    g.U16(off);
    g.U16(0);
  }
  g.End();
}

void Writer::WriteGlobals(BiffBuffer& g, std::vector<size_t>* sheet_pos_fields) {
  g.Begin(kBof);
  g.U16(0x0600);
  g.U16(0x0005);
  g.U16(0x0DBB);
  g.U16(0x07CC);
  g.U32(0);
  g.U32(6);
  g.End();
  g.Rec16(kInterfaceHdr, 0x04B0);
  g.Rec16(kMms, 0);
  g.Empty(kInterfaceEnd);
  g.Begin(kWriteAccess);
  {
    size_t start = g.size();
    WriteLongString(g, "Quillmere", 100);
    while (g.size() - start < 112) g.U8(' ');
  }
  g.End();
  g.Rec16(kCodePage, 1200);  // UTF-16
  g.Rec16(kDsf, 0);
  g.Begin(kRRTabId);
  for (size_t i = 0; i < sheets_.size(); ++i) g.U16(static_cast<uint16_t>(i + 1));
  g.End();
  g.Rec16(kBuiltInFnGroupCount, 0x000E);
  g.Rec16(kWinProtect, 0);
  g.Rec16(kProtect, 0);
  g.Rec16(kPassword, 0);
  g.Rec16(kProt4Rev, 0);
  g.Rec16(kProt4RevPass, 0);
  g.Begin(kWindow1);
  g.U16(0x0168);
  g.U16(0x001E);
  g.U16(0x3A5C);
  g.U16(0x23BE);
  g.U16(0x0038);
  g.U16(FirstVisibleSheet(sheets_));  // the tab shown on opening must not be a hidden one
  g.U16(0);
  g.U16(1);
  g.U16(0x0258);
  g.End();
  g.Rec16(kBackup, 0);
  g.Rec16(kHideObj, 0);
  g.Rec16(kDate1904, wb_.styles().date1904 ? 1 : 0);
  g.Rec16(kCalcPrecision, 1);
  g.Rec16(kRefreshAll, 0);
  g.Rec16(kBookBool, 0);
  WriteStyles(g);
  std::vector<std::string> names;
  for (const Worksheet* ws : sheets_) names.push_back(ws->Name());
  names = WritableSheetNames(names);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    g.Begin(kBoundSheet8);
    sheet_pos_fields->push_back(g.size());
    g.U32(0);  // patched once the sheet's place is known
    g.U8(WrittenHidden(sheets_, i) ? 1 : 0);
    g.U8(0);
    WriteShortString(g, name, 31);
    g.End();
  }
  g.Begin(kCountry);
  g.U16(1);
  g.U16(86);
  g.End();
  WriteSst(g);
  g.Empty(kEof);
}

void Writer::WriteFormula(const Worksheet& ws, int r, const Cell& c, std::vector<uint8_t> rgce,
                          BiffBuffer& s) {
  s.Begin(kFormula);
  s.U16(static_cast<uint16_t>(r - 1));
  s.U16(static_cast<uint16_t>(c.col - 1));
  s.U16(XfIndex(c.style));
  std::u16string text;
  switch (c.Type()) {
    case CellType::kNumber:
      if (std::isfinite(c.number))
        s.F64(c.number);
      else
        s.Bytes("\x02\x00\x24\x00\x00\x00\xFF\xFF", 8);
      break;
    case CellType::kText: {
      bool cut = false;
      text = Utf8ToUtf16(ws.TextOf(c), kMaxCellChars, &cut);
      if (cut) ++cut_strings_;
      s.Bytes("\x00\x00\x00\x00\x00\x00\xFF\xFF", 8);
      break;
    }
    case CellType::kBool:
      s.Bytes("\x01\x00", 2), s.U8(c.bits ? 1 : 0), s.Bytes("\x00\x00\x00\xFF\xFF", 5);
      break;
    case CellType::kError:
      s.Bytes("\x02\x00", 2), s.U8(static_cast<uint8_t>(c.bits)),
          s.Bytes("\x00\x00\x00\xFF\xFF", 5);
      break;
    case CellType::kBlank:
      s.Bytes("\x03\x00\x00\x00\x00\x00\xFF\xFF", 8);
      break;
  }
  s.U16(0x0002);  // calculate on load
  s.U32(0);
  s.U16(static_cast<uint16_t>(rgce.size()));
  s.Bytes(rgce.data(), rgce.size());
  s.End();
  if (c.Type() == CellType::kText) {
    s.Begin(kString);
    s.ContinuedString(text);
    s.End();
  }
}

void Writer::WriteRowCells(const Worksheet& ws, int r, const Row& row, BiffBuffer& s) {
  const auto& cells = row.cells;
  const uint16_t rw = static_cast<uint16_t>(r - 1);
  size_t n = cells.size();
  while (n > 0 && cells[n - 1].col > kXlsMaxCols) --n;
  uint32_t rk = 0;
  for (size_t i = 0; i < n;) {
    const Cell& c = cells[i];
    const uint16_t col = static_cast<uint16_t>(c.col - 1);
    if (c.formula) {
      auto rgce = EncodeBiff8Formula(ws.FormulaOf(c), r, c.col);
      if (rgce && rgce->size() + 22 <= kMaxRecordData) {
        WriteFormula(ws, r, c, std::move(*rgce), s);
        ++i;
        continue;
      }
      // Functions the format lacks (SUMIFS, _xlfn.*), a formula too long for one record or
      // nested too deeply: the cached value is written below, and the save says how many.
      ++unwritten_formulas_;
    }
    switch (c.Type()) {
      case CellType::kNumber: {
        if (!std::isfinite(c.number)) {
          // The file format has no infinities or NaN; show what a spreadsheet would compute.
          s.Begin(kBoolErr);
          s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
          s.U8(0x24);
          s.U8(1);
          s.End();
          ++i;
          break;
        }
        if (!EncodeRk(c.number, &rk)) {
          s.Begin(kNumber);
          s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
          s.F64(c.number);
          s.End();
          ++i;
          break;
        }
        // A run of adjacent RK numbers shares one MULRK record.
        size_t j = i + 1;
        uint32_t tmp;
        while (j < n && cells[j].Type() == CellType::kNumber && !cells[j].formula &&
               cells[j].col == cells[j - 1].col + 1 && EncodeRk(cells[j].number, &tmp))
          ++j;
        if (j - i == 1) {
          s.Begin(kRk);
          s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
          s.U32(rk);
          s.End();
        } else {
          s.Begin(kMulRk);
          s.U16(rw), s.U16(col);
          for (size_t k = i; k < j; ++k) {
            EncodeRk(cells[k].number, &tmp);
            s.U16(XfIndex(cells[k].style));
            s.U32(tmp);
          }
          s.U16(static_cast<uint16_t>(cells[j - 1].col - 1));
          s.End();
        }
        i = j;
        break;
      }
      case CellType::kText:
        s.Begin(kLabelSst);
        s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
        s.U32(pool_to_sst_[sheet_][c.bits]);
        s.End();
        ++i;
        break;
      case CellType::kBool:
      case CellType::kError:
        s.Begin(kBoolErr);
        s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
        // Any non-zero payload is true, whatever form a reader stored it in.
        s.U8(c.Type() == CellType::kError ? static_cast<uint8_t>(c.bits) : (c.bits ? 1 : 0));
        s.U8(c.Type() == CellType::kError ? 1 : 0);
        s.End();
        ++i;
        break;
      case CellType::kBlank: {
        size_t j = i + 1;
        while (j < n && cells[j].Type() == CellType::kBlank && !cells[j].formula &&
               cells[j].col == cells[j - 1].col + 1)
          ++j;
        if (j - i == 1) {
          s.Begin(kBlank);
          s.U16(rw), s.U16(col), s.U16(XfIndex(c.style));
        } else {
          s.Begin(kMulBlank);
          s.U16(rw), s.U16(col);
          for (size_t k = i; k < j; ++k) s.U16(XfIndex(cells[k].style));
          s.U16(static_cast<uint16_t>(cells[j - 1].col - 1));
        }
        s.End();
        i = j;
        break;
      }
    }
  }
}

void Writer::WriteSheet(const Worksheet& ws, bool selected, BiffBuffer& head) {
  // Rows that go into the file: those with cells inside the grid or their own height.
  std::vector<int> rows;
  int c1 = 0, c2 = 0;
  const int last_row = std::min(ws.RowCount(), kXlsMaxRows);
  for (int r = 1; r <= last_row; ++r) {
    const Row& row = *ws.RowAt(r);
    bool has_cells = !row.cells.empty() && row.cells.front().col <= kXlsMaxCols;
    if (has_cells) {
      int hi = 0;
      for (auto it = row.cells.rbegin(); it != row.cells.rend(); ++it)
        if (it->col <= kXlsMaxCols) {
          hi = it->col;
          break;
        }
      c1 = c1 ? std::min<int>(c1, row.cells.front().col) : row.cells.front().col;
      c2 = std::max(c2, hi);
    }
    if (has_cells || row.custom_height || row.hidden) rows.push_back(r);
  }
  const size_t nblocks = (rows.size() + 31) / 32;

  head.Begin(kBof);
  head.U16(0x0600);
  head.U16(0x0010);
  head.U16(0x0DBB);
  head.U16(0x07CC);
  head.U32(0);
  head.U32(6);
  head.End();

  head.Begin(kIndex);
  head.U32(0);
  head.U32(rows.empty() ? 0 : static_cast<uint32_t>(rows.front() - 1));
  head.U32(rows.empty() ? 0 : static_cast<uint32_t>(rows.back()));
  const size_t index_defcol = head.size();
  head.U32(0);
  const size_t index_dbcells = head.size();
  for (size_t i = 0; i < nblocks; ++i) head.U32(0);
  head.End();

  // The rest goes through an anonymous temporary file, so a big sheet never sits in memory
  // whole; without one it stays in memory, and the user hears why a big save may run short.
  std::FILE* spill = OpenSpillFile();
  if (!spill && !told_no_spill_) {
    told_no_spill_ = true;
    Warn("无法在临时文件夹中创建临时文件，结果只能全部在内存中写出");
  }
  BiffBuffer& s = bodies_.emplace_back(head.Pos(), spill);

  s.Rec16(kCalcMode, 1);  // automatic
  s.Rec16(kCalcCount, 100);
  s.Rec16(kCalcRefMode, 1);  // A1
  s.Rec16(kCalcIter, 0);
  s.Begin(kCalcDelta);
  s.F64(0.001);
  s.End();
  s.Rec16(kCalcSaveRecalc, 1);
  s.Rec16(kPrintRowCol, 0);
  s.Rec16(kPrintGrid, 0);
  s.Rec16(kGridSet, 1);
  s.Begin(kGuts);
  s.U32(0);
  s.U32(0);
  s.End();
  const uint16_t default_twips =
      static_cast<uint16_t>(std::lround(std::clamp(ws.default_row_height, 1.0, 409.0) * 20));
  s.Begin(kDefaultRowHeight);
  s.U16(0);
  s.U16(default_twips);
  s.End();
  s.Rec16(kWsBool, 0x04C1);
  s.Empty(kHeader);
  s.Empty(kFooter);
  s.Rec16(kHCenter, 0);
  s.Rec16(kVCenter, 0);

  head.Patch32(index_defcol, static_cast<uint32_t>(s.Pos()));
  s.Rec16(kDefColWidth, static_cast<uint16_t>(std::clamp(ws.default_column_width, 0.0, 255.0)));
  // Neighbouring columns of one width share a COLINFO record.
  const auto& widths = ws.column_widths();
  for (auto it = widths.begin(); it != widths.end();) {
    int first = it->first;
    if (first > kXlsMaxCols) break;
    double w = it->second;
    int last = first;
    auto next = std::next(it);
    while (next != widths.end() && next->first == last + 1 && next->first <= kXlsMaxCols &&
           next->second == w)
      last = next->first, ++next;
    it = next;
    if (first < 1) continue;
    s.Begin(kColInfo);
    s.U16(static_cast<uint16_t>(first - 1));
    s.U16(static_cast<uint16_t>(last - 1));
    s.U16(static_cast<uint16_t>(std::lround(std::clamp(w, 0.0, 255.0) * 256)));
    s.U16(kFirstCellXf);
    s.U16(w <= 0 ? 1 : 0);  // a zero width is a hidden column
    s.U16(0);
    s.End();
  }

  s.Begin(kDimensions);
  s.U32(rows.empty() ? 0 : static_cast<uint32_t>(rows.front() - 1));
  s.U32(rows.empty() ? 0 : static_cast<uint32_t>(rows.back()));
  s.U16(static_cast<uint16_t>(c1 ? c1 - 1 : 0));
  s.U16(static_cast<uint16_t>(c2));
  s.U16(0);
  s.End();

  for (size_t b = 0; b < nblocks; ++b) {
    size_t lo = b * 32, hi = std::min(rows.size(), lo + 32);
    const size_t first_row_pos = s.size();
    for (size_t k = lo; k < hi; ++k) {
      int r = rows[k];
      const Row& row = *ws.RowAt(r);
      uint16_t cmin = 0, cmax = 0;
      if (!row.cells.empty() && row.cells.front().col <= kXlsMaxCols) {
        cmin = static_cast<uint16_t>(row.cells.front().col - 1);
        for (auto it = row.cells.rbegin(); it != row.cells.rend(); ++it)
          if (it->col <= kXlsMaxCols) {
            cmax = it->col;
            break;
          }
      }
      bool custom = row.custom_height && row.height > 0;
      s.Begin(kRow);
      s.U16(static_cast<uint16_t>(r - 1));
      s.U16(cmin);
      s.U16(cmax);
      s.U16(custom ? static_cast<uint16_t>(std::lround(std::clamp<double>(row.height, 0, 409) * 20))
                   : default_twips);
      s.U16(0);
      s.U16(0);
      s.U32(0x100u | (custom ? 0x40u : 0u) | (row.hidden ? 0x20u : 0u) | (0x0Fu << 16));
      s.End();
    }
    // DBCELL: the first offset runs from the second ROW record to the first cell, the others
    // from one row's first cell to the next.
    std::vector<uint16_t> offsets;
    size_t prev = first_row_pos + 20;
    for (size_t k = lo; k < hi; ++k) {
      const Row& row = *ws.RowAt(rows[k]);
      size_t start = s.size();
      WriteRowCells(ws, rows[k], row, s);
      if (s.size() == start) continue;
      offsets.push_back(static_cast<uint16_t>(std::min<size_t>(start - prev, 0xFFFF)));
      prev = start;
    }
    head.Patch32(index_dbcells + 4 * b, static_cast<uint32_t>(s.Pos()));
    const size_t dbcell_pos = s.size();
    s.Begin(kDbCell);
    s.U32(static_cast<uint32_t>(dbcell_pos - first_row_pos));
    for (uint16_t o : offsets) s.U16(o);
    s.End();
    s.Spill();
  }

  s.Begin(kWindow2);
  s.U16(selected ? 0x06B6 : 0x00B6);
  s.U16(0);
  s.U16(0);
  s.U16(64);
  s.U16(0);
  s.U16(0);
  s.U16(0);
  s.U32(0);
  s.End();

  // Merged ranges: at most 1,027 to a record, more records rather than CONTINUE.
  std::vector<Range> merges =
      WritableMerges(ws.merges(), kXlsMaxRows, kXlsMaxCols, &dropped_merges_);
  for (size_t i = 0; i < merges.size(); i += 1027) {
    size_t k = std::min<size_t>(merges.size() - i, 1027);
    s.Begin(kMergeCells);
    s.U16(static_cast<uint16_t>(k));
    for (size_t j = i; j < i + k; ++j) {
      s.U16(static_cast<uint16_t>(merges[j].r1 - 1));
      s.U16(static_cast<uint16_t>(merges[j].r2 - 1));
      s.U16(static_cast<uint16_t>(merges[j].c1 - 1));
      s.U16(static_cast<uint16_t>(merges[j].c2 - 1));
    }
    s.End();
  }
  s.Empty(kEof);
}

Status Writer::Build() {
  for (int i = 1; i <= wb_.WorksheetCount(); ++i) {
    const Worksheet* ws = wb_.Worksheets(i);
    if (!ws->IsEmpty()) {
      Range u = ws->UsedRange();
      if (u.r2 > kXlsMaxRows || u.c2 > kXlsMaxCols)
        return MakeError(ErrorCode::kInvalidArgument,
                         "sheet \"" + ws->Name() +
                             "\" does not fit the .xls grid of 65,536 rows and 256 columns");
    }
    sheets_.push_back(ws);
  }
  if (sheets_.empty()) {
    placeholder_ = std::make_unique<Worksheet>("Sheet1", wb_.shared_styles());
    sheets_.push_back(placeholder_.get());
  }
  CollectStrings();

  std::vector<size_t> pos_fields;
  WriteGlobals(globals_, &pos_fields);
  size_t pos = globals_.size();
  for (size_t i = 0; i < sheets_.size(); ++i) {
    BiffBuffer& head = bodies_.emplace_back(pos);
    sheet_ = i;
    WriteSheet(*sheets_[i], i == 0, head);
    const BiffBuffer& body = bodies_.back();
    if (body.failed()) return MakeError(ErrorCode::kIo, "writing a temporary file failed");
    globals_.Patch32(pos_fields[i], static_cast<uint32_t>(pos));
    pos += head.size() + body.size();
    if (pos > 0x7FFFFFFF)
      return MakeError(ErrorCode::kTooLarge, "the workbook is too large for an .xls file");
  }
  if (dropped_merges_)
    Warn(std::to_string(dropped_merges_) + "个合并单元格区域与其他区域重叠或超出表格范围，已忽略");
  if (cut_strings_) Warn(std::to_string(cut_strings_) + "段文本超过32767个字符，已截断");
  if (unwritten_formulas_)
    Warn(std::to_string(unwritten_formulas_) + "个公式无法写入.xls，已改为其值");
  return Status::Ok();
}

}  // namespace

Status Write(const Workbook& wb, const std::string& path, std::vector<std::string>* warnings) {
  Writer w(wb, warnings);
  Status st = w.Build();
  if (!st) return st;
  return w.Save(path);
}

}  // namespace qm::xls
