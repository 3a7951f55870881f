// Writes .xlsx packages. Sheets and shared strings, which may run to millions of cells, are
// appended as text straight into pieces the zip writer deflates on worker threads; the styles
// part, small and intricate, is built element by element through XmlWriter.
#include <charconv>
#include <cmath>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "../formula/formula.h"
#include "../io.h"
#include "../text_table.h"
#include "../utf.h"
#include "../write_common.h"
#include "style_names.h"
#include "xlsx.h"
#include "xml_writer.h"
#include "zip_deflate.h"

namespace qm::xlsx {
namespace {

constexpr size_t kMaxCellChars = 32767;  // UTF-16 units
constexpr size_t kPieceBytes = 1 << 20;  // sheet XML is deflated in pieces of about this size
constexpr size_t kMaxFormulaChars = 8192;

void AppendColumnName(std::string& o, int col) {
  char buf[4];
  int n = 0;
  while (col > 0) {
    int m = (col - 1) % 26;
    buf[n++] = static_cast<char>('A' + m);
    col = (col - 1) / 26;
  }
  while (n > 0) o += buf[--n];
}

void AppendInt(std::string& o, long long v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  o.append(buf, r.ptr);
}

void AppendDouble(std::string& o, double d) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  o.append(buf, r.ptr);
}

// The text cut to the cell limit, never inside a character; `cut` tells whether it was.
std::string_view CutToCellLimit(std::string_view s, bool* cut) {
  if (s.size() <= kMaxCellChars) return s;  // a UTF-16 unit takes at least one byte
  size_t units = 0;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    size_t need = len == 4 ? 2 : 1;
    if (units + need > kMaxCellChars) {
      *cut = true;
      return s.substr(0, i);
    }
    units += need;
    i += len;
  }
  return s;
}

// <tag auto="1"/> or <tag rgb="AARRGGBB"/>.
void ColorElement(XmlWriter& x, std::string_view tag, Color c) {
  x.Start(tag);
  if (c == kAutoColor) {
    x.Attr("auto", 1);
  } else {
    static const char* hex = "0123456789ABCDEF";
    char argb[8];
    for (int i = 0; i < 8; ++i) argb[i] = hex[(c >> (28 - 4 * i)) & 15];
    x.Attr("rgb", std::string_view(argb, sizeof argb));
  }
  x.End();
}

const char* kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// True for "x.xlsm" and for the temporary "x.xlsm.tmp" a save writes first.
bool MacroEnabledName(std::string p) {
  for (char& ch : p) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (p.ends_with(".tmp")) p.resize(p.size() - 4);
  return p.ends_with(".xlsm");
}

class Writer {
 public:
  Writer(const Workbook& wb, std::vector<std::string>* warnings) : wb_(wb), warnings_(warnings) {}
  Status Run(const std::string& path);

 private:
  Status WriteSheet(const Worksheet& ws, int index, bool selected);
  void AppendCell(std::string& o, const Worksheet& ws, const Cell& c, const std::string& row);
  uint32_t StringIndex(std::string_view s);
  // StringIndex through the sheet's pool index of the text.
  uint32_t PooledIndex(uint64_t pool_index, std::string_view s);
  std::string Styles() const;
  Status WriteSharedStrings();
  std::string WorkbookXml() const;

  const Workbook& wb_;
  std::vector<std::string>* warnings_;
  std::vector<const Worksheet*> sheets_;
  std::unique_ptr<Worksheet> placeholder_;
  ZipDeflateWriter zip_;
  TextTable sst_;
  // A workbook whose one sheet keeps each text once in its pool: the table is the pool's
  // numbers in the order first written, no second copy of the texts and no hashing.
  const TextPool* by_pool_ = nullptr;
  std::vector<uint32_t> pool_order_;
  static constexpr uint32_t kNoEntry = UINT32_MAX;
  std::vector<uint32_t> pool_to_sst_;  // the sheet being written: pool index -> table entry
  size_t sst_total_ = 0;
  size_t cut_ = 0;
  size_t dropped_merges_ = 0;
  bool has_formulas_ = false;
};

uint32_t Writer::StringIndex(std::string_view s) {
  ++sst_total_;
  return sst_.Add(s);
}

uint32_t Writer::PooledIndex(uint64_t pool_index, std::string_view s) {
  // A text shared by many cells is looked up once per sheet.
  if (pool_index >= pool_to_sst_.size())
    pool_to_sst_.resize(std::max<size_t>(pool_index + 1, pool_to_sst_.size() * 2), kNoEntry);
  uint32_t& m = pool_to_sst_[pool_index];
  if (m == kNoEntry && by_pool_) {
    m = static_cast<uint32_t>(pool_order_.size());
    pool_order_.push_back(static_cast<uint32_t>(pool_index));
  }
  if (m == kNoEntry) return m = StringIndex(s);
  ++sst_total_;
  return m;
}

// Writes one <c> element.
void Writer::AppendCell(std::string& o, const Worksheet& ws, const Cell& c,
                        const std::string& row) {
  o += "<c r=\"";
  AppendColumnName(o, c.col);
  o += row;
  o += '"';
  if (c.style) {
    o += " s=\"";
    AppendInt(o, c.style);
    o += '"';
  }
  std::string_view f = ws.FormulaOf(c);
  // Spreadsheet programs refuse formulas over 8,192 characters or nested far deeper than they
  // allow (the file needs repair); such a cell keeps its cached value.
  if (f.size() > kMaxFormulaChars && Utf16Length(f) > kMaxFormulaChars) f = {};
  if (FormulaNestsTooDeep(f)) f = {};
  bool non_finite = c.Type() == CellType::kNumber && !std::isfinite(c.number);
  switch (c.Type()) {
    case CellType::kBlank:
      if (f.empty()) {
        o += "/>";
        return;
      }
      o += '>';
      break;
    case CellType::kNumber:
      o += non_finite ? " t=\"e\">" : ">";
      break;
    case CellType::kText:
      o += f.empty() ? " t=\"s\">" : " t=\"str\">";
      break;
    case CellType::kBool:
      o += " t=\"b\">";
      break;
    case CellType::kError:
      o += " t=\"e\">";
      break;
  }
  if (!f.empty()) {
    has_formulas_ = true;
    o += "<f>";
    AppendEscaped(o, f);
    o += "</f>";
  }
  switch (c.Type()) {
    case CellType::kBlank:
      break;
    case CellType::kNumber:
      o += "<v>";
      if (non_finite)
        o += "#NUM!";
      else
        AppendDouble(o, c.number);
      o += "</v>";
      break;
    case CellType::kText: {
      bool cut = false;
      std::string_view t = CutToCellLimit(ws.TextOf(c), &cut);
      o += "<v>";
      if (f.empty()) {
        if (cut) ++cut_;
        AppendInt(o, PooledIndex(c.bits, t));
      } else {
        AppendEscaped(o, t);
      }
      o += "</v>";
      break;
    }
    case CellType::kBool:
      o += c.bits ? "<v>1</v>" : "<v>0</v>";
      break;
    case CellType::kError:
      o += "<v>";
      o += ErrorText(static_cast<uint8_t>(c.bits));
      o += "</v>";
      break;
  }
  o += "</c>";
}

Status Writer::WriteSheet(const Worksheet& ws, int index, bool selected) {
  pool_to_sst_.clear();
  Status st = zip_.BeginPart("xl/worksheets/sheet" + std::to_string(index) + ".xml");
  if (!st) return st;
  std::string o;
  o.reserve(kPieceBytes + 64 * 1024);
  o += kHead;
  o += "<worksheet xmlns=\"";
  o += kMainNs;
  o += "\" xmlns:r=\"";
  o += kRelNs;
  o += "\"><dimension ref=\"";
  if (ws.IsEmpty()) {
    o += "A1";
  } else {
    Range u = ws.UsedRange();
    AppendColumnName(o, u.c1);
    AppendInt(o, u.r1);
    if (u.r2 != u.r1 || u.c2 != u.c1) {
      o += ':';
      AppendColumnName(o, u.c2);
      AppendInt(o, u.r2);
    }
  }
  o += "\"/><sheetViews><sheetView workbookViewId=\"0\"";
  if (selected) o += " tabSelected=\"1\"";
  o += "/></sheetViews><sheetFormatPr";
  if (ws.default_column_width != 8.43) {
    o += " defaultColWidth=\"";
    AppendDouble(o, ws.default_column_width);
    o += '"';
  }
  o += " defaultRowHeight=\"";
  AppendDouble(o, ws.default_row_height);
  o += "\"/>";
  const auto& widths = ws.column_widths();
  if (!widths.empty()) {
    o += "<cols>";
    for (auto it = widths.begin(); it != widths.end();) {
      int first = it->first, last = first;
      double w = it->second;
      auto next = std::next(it);
      while (next != widths.end() && next->first == last + 1 && next->second == w)
        last = next->first, ++next;
      it = next;
      if (first < 1 || first > kMaxCols) continue;
      o += "<col min=\"";
      AppendInt(o, first);
      o += "\" max=\"";
      AppendInt(o, std::min(last, kMaxCols));
      o += "\" width=\"";
      AppendDouble(o, w > 0 ? std::min(w, 255.0) : 0);
      o += w > 0 ? "\" customWidth=\"1\"/>" : "\" hidden=\"1\" customWidth=\"1\"/>";
    }
    o += "</cols>";
  }
  o += "<sheetData>";
  std::string rownum;
  for (int r = 1; r <= ws.RowCount(); ++r) {
    const Row& row = *ws.RowAt(r);
    bool custom = row.custom_height && row.height > 0;
    if (row.cells.empty() && !custom && !row.hidden) continue;
    rownum.clear();
    AppendInt(rownum, r);
    o += "<row r=\"";
    o += rownum;
    o += '"';
    if (custom) {
      o += " ht=\"";
      AppendDouble(o, row.height);
      o += "\" customHeight=\"1\"";
    }
    if (row.hidden) o += " hidden=\"1\"";
    if (row.cells.empty()) {
      o += "/>";
    } else {
      o += '>';
      for (const Cell& c : row.cells) AppendCell(o, ws, c, rownum);
      o += "</row>";
    }
    if (o.size() >= kPieceBytes) {
      std::string next = zip_.SpareBuffer(kPieceBytes + 64 * 1024);
      std::swap(o, next);
      st = zip_.Feed(std::move(next));
      if (!st) return st;
    }
  }
  o += "</sheetData>";
  std::vector<Range> merges = WritableMerges(ws.merges(), kMaxRows, kMaxCols, &dropped_merges_);
  if (!merges.empty()) {
    o += "<mergeCells count=\"";
    AppendInt(o, static_cast<long long>(merges.size()));
    o += "\">";
    for (const Range& m : merges) {
      o += "<mergeCell ref=\"";
      AppendColumnName(o, m.c1);
      AppendInt(o, m.r1);
      o += ':';
      AppendColumnName(o, m.c2);
      AppendInt(o, m.r2);
      o += "\"/>";
    }
    o += "</mergeCells>";
  }
  o += "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
       "footer=\"0.3\"/></worksheet>";
  st = zip_.Feed(std::move(o));
  if (!st) return st;
  return zip_.EndPart();
}

std::string Writer::Styles() const {
  const StyleTable& st = wb_.styles();
  std::string o = kHead;
  XmlWriter x(o);
  x.Start("styleSheet").Attr("xmlns", kMainNs);
  const WrittenNumFmts num_fmts(st, st.xfs().size());
  if (!num_fmts.formats().empty()) {
    x.Start("numFmts").Attr("count", num_fmts.formats().size());
    for (const auto& [id, text] : num_fmts.formats())
      x.Start("numFmt").Attr("numFmtId", id).Attr("formatCode", text).End();
    x.End();
  }

  x.Start("fonts").Attr("count", st.fonts().size());
  for (const Font& f : st.fonts()) {
    x.Start("font");
    if (f.bold) x.Start("b").End();
    if (f.italic) x.Start("i").End();
    if (f.strike) x.Start("strike").End();
    if (f.underline) {
      const char* u = f.underline == 2      ? "double"
                      : f.underline == 0x21 ? "singleAccounting"
                      : f.underline == 0x22 ? "doubleAccounting"
                                            : "single";
      x.Start("u").Attr("val", u).End();
    }
    if (f.script)
      x.Start("vertAlign").Attr("val", f.script == 1 ? "superscript" : "subscript").End();
    x.Start("sz").Attr("val", f.size).End();
    if (f.color != kAutoColor) ColorElement(x, "color", f.color);
    x.Start("name").Attr("val", f.name.empty() ? std::string_view("Arial") : f.name).End();
    // The schema allows families 0-14; .xls files carry whatever byte their writer left there.
    if (f.family && f.family <= 14) x.Start("family").Attr("val", f.family).End();
    if (f.charset) x.Start("charset").Attr("val", f.charset).End();
    x.End();
  }
  x.End();

  x.Start("fills").Attr("count", st.fills().size());
  for (const Fill& f : st.fills()) {
    x.Start("fill").Start("patternFill");
    x.Attr("patternType",
           kFillPatternNames[f.pattern < std::size(kFillPatternNames) ? f.pattern : 1]);
    if (f.pattern != 0) {
      x.Text("");  // a pattern keeps its end tag even without colours
      if (f.fg != kAutoColor) ColorElement(x, "fgColor", f.fg);
      if (f.bg != kAutoColor) ColorElement(x, "bgColor", f.bg);
    }
    x.End().End();
  }
  x.End();

  x.Start("borders").Attr("count", st.borders().size());
  for (const Border& b : st.borders()) {
    x.Start("border");
    if (b.diag_up) x.Attr("diagonalUp", 1);
    if (b.diag_down) x.Attr("diagonalDown", 1);
    const std::pair<const char*, const BorderSide*> sides[] = {{"left", &b.left},
                                                               {"right", &b.right},
                                                               {"top", &b.top},
                                                               {"bottom", &b.bottom},
                                                               {"diagonal", &b.diagonal}};
    for (const auto& [tag, side] : sides) {
      x.Start(tag);
      if (side->style) {
        x.Attr("style",
               kBorderStyleNames[side->style < std::size(kBorderStyleNames) ? side->style : 1]);
        ColorElement(x, "color", side->color);
      }
      x.End();
    }
    x.End();
  }
  x.End();

  x.Start("cellStyleXfs").Attr("count", 1);
  x.Start("xf").Attr("numFmtId", 0).Attr("fontId", 0).Attr("fillId", 0).Attr("borderId", 0).End();
  x.End();

  x.Start("cellXfs").Attr("count", st.xfs().size());
  for (const Xf& xf : st.xfs()) {
    const uint16_t num_fmt = num_fmts.Id(xf.num_fmt);
    x.Start("xf")
        .Attr("numFmtId", num_fmt)
        .Attr("fontId", xf.font < st.fonts().size() ? xf.font : 0)
        .Attr("fillId", xf.fill < st.fills().size() ? xf.fill : 0)
        .Attr("borderId", xf.border < st.borders().size() ? xf.border : 0)
        .Attr("xfId", 0);
    if (num_fmt) x.Attr("applyNumberFormat", 1);
    if (xf.font) x.Attr("applyFont", 1);
    if (xf.fill) x.Attr("applyFill", 1);
    if (xf.border) x.Attr("applyBorder", 1);
    const Alignment& a = xf.align;
    const bool align = !(a == Alignment{});
    const bool prot = !xf.locked || xf.hidden;
    if (align) x.Attr("applyAlignment", 1);
    if (prot) x.Attr("applyProtection", 1);
    if (align) {
      x.Start("alignment");
      if (a.horizontal) x.Attr("horizontal", kHorizontalNames[a.horizontal & 7]);
      if (a.vertical != 2) x.Attr("vertical", kVerticalNames[a.vertical % 5]);
      if (a.rotation) x.Attr("textRotation", a.rotation);
      if (a.wrap) x.Attr("wrapText", 1);
      if (a.indent) x.Attr("indent", a.indent);
      if (a.shrink) x.Attr("shrinkToFit", 1);
      x.End();
    }
    if (prot) {
      x.Start("protection");
      if (!xf.locked) x.Attr("locked", 0);
      if (xf.hidden) x.Attr("hidden", 1);
      x.End();
    }
    x.End();
  }
  x.End();

  x.Start("cellStyles").Attr("count", 1);
  x.Start("cellStyle").Attr("name", "Normal").Attr("xfId", 0).Attr("builtinId", 0).End();
  x.End();
  x.End();
  return o;
}

// The shared strings, fed to the zip in pieces like the sheets.
Status Writer::WriteSharedStrings() {
  Status st = zip_.BeginPart("xl/sharedStrings.xml");
  if (!st) return st;
  std::string o = kHead;
  o += "<sst xmlns=\"";
  o += kMainNs;
  const size_t unique = by_pool_ ? pool_order_.size() : sst_.size();
  o += "\" count=\"" + std::to_string(sst_total_) + "\" uniqueCount=\"" + std::to_string(unique) +
       "\">";
  for (size_t i = 0; i < unique; ++i) {
    bool cut = false;
    const std::string_view s =
        by_pool_ ? CutToCellLimit((*by_pool_)[pool_order_[i]], &cut) : sst_.texts()[i];
    bool keep_space = !s.empty() && (s.front() == ' ' || s.back() == ' ' || s.front() == '\n' ||
                                     s.back() == '\n' || s.front() == '\t' || s.back() == '\t');
    o += keep_space ? "<si><t xml:space=\"preserve\">" : "<si><t>";
    AppendEscaped(o, s);
    o += "</t></si>";
    if (o.size() >= kPieceBytes) {
      std::string next = zip_.SpareBuffer(kPieceBytes + 64 * 1024);
      std::swap(o, next);
      if (!(st = zip_.Feed(std::move(next)))) return st;
    }
  }
  o += "</sst>";
  if (!(st = zip_.Feed(std::move(o)))) return st;
  return zip_.EndPart();
}

std::string Writer::WorkbookXml() const {
  std::string o = kHead;
  o += "<workbook xmlns=\"";
  o += kMainNs;
  o += "\" xmlns:r=\"";
  o += kRelNs;
  o += "\"><workbookPr";
  if (wb_.styles().date1904) o += " date1904=\"1\"";
  o += "/><bookViews><workbookView";
  // The tab shown on opening must not be a hidden one.
  if (const size_t active = FirstVisibleSheet(sheets_); active > 0)
    o += " activeTab=\"" + std::to_string(active) + "\"";
  o += "/></bookViews><sheets>";
  std::vector<std::string> names;
  for (const Worksheet* ws : sheets_) names.push_back(ws->Name());
  names = WritableSheetNames(names);
  for (size_t i = 0; i < sheets_.size(); ++i) {
    o += "<sheet name=\"";
    AppendEscaped(o, names[i]);
    o += "\" sheetId=\"" + std::to_string(i + 1) + "\"";
    if (WrittenHidden(sheets_, i)) o += " state=\"hidden\"";
    o += " r:id=\"rId" + std::to_string(i + 1) + "\"/>";
  }
  o += "</sheets>";
  // Cached results may be stale after rows moved; have the reader compute them again.
  if (has_formulas_) o += "<calcPr calcId=\"0\" fullCalcOnLoad=\"1\"/>";
  o += "</workbook>";
  return o;
}

Status Writer::Run(const std::string& path) {
  for (int i = 1; i <= wb_.WorksheetCount(); ++i) sheets_.push_back(wb_.Worksheets(i));
  if (sheets_.empty()) {
    placeholder_ = std::make_unique<Worksheet>("Sheet1", wb_.shared_styles());
    sheets_.push_back(placeholder_.get());
  }
  if (sheets_.size() == 1 && sheets_[0]->texts().distinct()) by_pool_ = &sheets_[0]->texts();
  Status st = zip_.Open(path);
  if (!st) return st;
  const size_t n = sheets_.size();
  std::string types = kHead;
  types +=
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"";
  types += MacroEnabledName(path)
               ? "application/vnd.ms-excel.sheet.macroEnabled.main+xml"
               : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  types +=
      "\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
  for (size_t i = 1; i <= n; ++i)
    types += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
             ".xml\" "
             "ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
  types += "</Types>";
  if (!(st = zip_.AddPart("[Content_Types].xml", types))) return st;
  std::string rels = kHead;
  rels +=
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  if (!(st = zip_.AddPart("_rels/.rels", rels))) return st;

  for (size_t i = 0; i < n; ++i)
    if (!(st = WriteSheet(*sheets_[i], static_cast<int>(i + 1), i == 0))) return st;

  std::string wrels = kHead;
  wrels += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (size_t i = 1; i <= n; ++i)
    wrels += "<Relationship Id=\"rId" + std::to_string(i) +
             "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "worksheet\" Target=\"worksheets/sheet" +
             std::to_string(i) + ".xml\"/>";
  wrels += "<Relationship Id=\"rId" + std::to_string(n + 1) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "styles\" Target=\"styles.xml\"/>";
  wrels += "<Relationship Id=\"rId" + std::to_string(n + 2) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
  if (!(st = zip_.AddPart("xl/_rels/workbook.xml.rels", wrels))) return st;
  if (!(st = zip_.AddPart("xl/workbook.xml", WorkbookXml()))) return st;
  if (!(st = zip_.AddPart("xl/styles.xml", Styles()))) return st;
  if (!(st = WriteSharedStrings())) return st;
  if (dropped_merges_ && warnings_)
    warnings_->push_back(std::to_string(dropped_merges_) +
                         "个合并单元格区域与其他区域重叠，已忽略");
  if (cut_ && warnings_)
    warnings_->push_back(std::to_string(cut_) + "段文本超过32767个字符，已截断");
  return zip_.Finish();
}

}  // namespace

Status Write(const Workbook& wb, const std::string& path, std::vector<std::string>* warnings) {
  Writer w(wb, warnings);
  return w.Run(path);
}

}  // namespace qm::xlsx
