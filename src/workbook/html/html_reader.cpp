// The page goes through libxml2's HTML parser, which reads pages as loosely as browsers do, with
// callbacks only (no tree is built): each <table> fills a sheet of its own as it is parsed, and
// the parse stops once the first outermost table with cells has ended.
#include "html_reader.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "../memory_budget.h"
#include "../text/encoding.h"
#include "../text/text_source.h"

namespace qm::html {
namespace {

// The spans HTML allows; larger values are read as these.
constexpr int kMaxColspan = 1000;
constexpr int kMaxRowspan = 65534;
// Tables inside tables deeper than this are read as part of the cell that holds them.
constexpr size_t kMaxNesting = 32;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, size_t i, std::string_view what) {
  if (s.size() - i < what.size()) return false;
  for (size_t k = 0; k < what.size(); ++k)
    if (Lower(s[i + k]) != what[k]) return false;
  return true;
}

// The charset label a <meta> tag among the first bytes names, from `charset=` alone or inside
// an http-equiv content type; "" when there is none.
std::string MetaCharset(std::string_view head) {
  for (size_t i = 0; (i = head.find('<', i)) != std::string_view::npos; ++i) {
    if (!StartsWithNoCase(head, i + 1, "meta")) continue;
    const size_t end = std::min(head.find('>', i), head.size());
    for (size_t k = i; k + 7 <= end; ++k) {
      if (!StartsWithNoCase(head, k, "charset")) continue;
      size_t v = k + 7;
      while (v < end && IsBlank(head[v])) ++v;
      if (v == end || head[v] != '=') continue;
      ++v;
      while (v < end && (IsBlank(head[v]) || head[v] == '"' || head[v] == '\'')) ++v;
      size_t e = v;
      while (e < end && (std::isalnum(static_cast<unsigned char>(head[e])) || head[e] == '-' ||
                         head[e] == '_' || head[e] == '.' || head[e] == ':'))
        ++e;
      if (e > v) return std::string(head.substr(v, e - v));
    }
  }
  return {};
}

// The declarations of a style ("a:b; c:d"): the value of `property`, quotes and backslashes
// taken out ("\"\\@\"" is "@"); "" when it is not there.
std::string StyleValue(std::string_view decls, std::string_view property) {
  size_t i = 0;
  while (i < decls.size()) {
    size_t end = decls.find(';', i);
    if (end == std::string_view::npos) end = decls.size();
    std::string_view d = decls.substr(i, end - i);
    i = end + 1;
    const size_t colon = d.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = d.substr(0, colon);
    while (!key.empty() && IsBlank(key.front())) key.remove_prefix(1);
    while (!key.empty() && IsBlank(key.back())) key.remove_suffix(1);
    if (key.size() != property.size() || !StartsWithNoCase(key, 0, property)) continue;
    std::string value;
    for (char c : d.substr(colon + 1))
      if (!IsBlank(c) && c != '"' && c != '\'' && c != '\\') value += c;
    return value;
  }
  return {};
}

// One <table> as it is parsed, filling a sheet of its own.
struct Table {
  Table(int order, const std::shared_ptr<StyleTable>& styles)
      : order(order), sheet(std::make_unique<Worksheet>("", styles)), cells(*sheet) {}

  int order;  // among the page's tables, by where they start
  std::unique_ptr<Worksheet> sheet;
  text::TypedCells cells;
  int row = 0;  // 0 before the first row
  int col = 1;
  // Per column, the last row a cell spanning down from above covers.
  std::vector<int> covered;
  bool has_cells = false;

  // The cell being read.
  bool in_cell = false;
  int cell_row = 0, cell_col = 0;
  bool as_text = false;
  std::string text;
  bool blank_pending = false;
};

struct Parse {
  htmlParserCtxtPtr ctxt = nullptr;
  std::shared_ptr<StyleTable> styles;
  std::vector<std::unique_ptr<Table>> open;  // innermost last
  std::vector<std::unique_ptr<Table>> done;  // ended tables that hold cells
  int tables = 0;
  int ignored_tables = 0;  // open tables nested past kMaxNesting
  // Class names whose style keeps cell text as text, from the page's <style> blocks.
  std::unordered_set<std::string> text_classes;
  bool in_style = false;
  std::string style_text;
  memory::ScopedCharge merge_charge;
  // What stopped the parse early: a table past the grid, or the memory budget.
  std::string past_grid;
  bool no_memory = false;
  bool stopped = false;
};

Parse& Of(void* ctx) {
  return *static_cast<Parse*>(ctx);
}

const char* Attr(const xmlChar** atts, const char* name) {
  if (!atts) return nullptr;
  for (size_t i = 0; atts[i]; i += 2)
    if (std::strcmp(reinterpret_cast<const char*>(atts[i]), name) == 0)
      return atts[i + 1] ? reinterpret_cast<const char*>(atts[i + 1]) : "";
  return nullptr;
}

int Span(const char* value, int most) {
  if (!value) return 1;
  long v = 0;
  for (const char* p = value; *p >= '0' && *p <= '9' && v <= most; ++p) v = v * 10 + (*p - '0');
  return v < 1 ? 1 : static_cast<int>(std::min<long>(v, most));
}

// The rules of a <style> block whose declarations set mso-number-format to "@": their class
// selectors (".xl65", "td.xl65") name text cells.
void ReadStyleBlock(Parse& p) {
  std::string_view css = p.style_text;
  size_t i = 0;
  while (i < css.size()) {
    const size_t open = css.find('{', i);
    if (open == std::string_view::npos) break;
    const size_t close = std::min(css.find('}', open), css.size());
    const std::string_view selectors = css.substr(i, open - i);
    if (StyleValue(css.substr(open + 1, close - open - 1), "mso-number-format") == "@") {
      size_t s = 0;
      while (s < selectors.size()) {
        size_t e = selectors.find(',', s);
        if (e == std::string_view::npos) e = selectors.size();
        std::string_view sel = selectors.substr(s, e - s);
        s = e + 1;
        const size_t dot = sel.rfind('.');
        if (dot == std::string_view::npos) continue;
        std::string_view name = sel.substr(dot + 1);
        while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
        if (!name.empty()) p.text_classes.emplace(name);
      }
    }
    i = close + 1;
  }
  p.style_text.clear();
}

void Stop(Parse& p) {
  p.stopped = true;
  if (p.ctxt) xmlStopParser(p.ctxt);
}

void EndCell(Parse& p, Table& t) {
  if (!t.in_cell) return;
  t.in_cell = false;
  // A no-break space is a space in the cell, and a cell of nothing else shows nothing: pages
  // put one into empty cells to keep their borders.
  bool spaces = true;
  size_t out = 0;
  for (size_t i = 0; i < t.text.size(); ++i) {
    if (t.text[i] == '\xC2' && i + 1 < t.text.size() && t.text[i + 1] == '\xA0') {
      t.text[out++] = ' ';
      ++i;
    } else {
      spaces = spaces && t.text[i] == ' ';
      t.text[out++] = t.text[i];
    }
  }
  t.text.resize(out);
  if (spaces) return t.text.clear();
  if (t.cell_row > kMaxRows || t.cell_col > kMaxCols) {
    p.past_grid = t.cell_row > kMaxRows ? "超过" + std::to_string(kMaxRows) + "行"
                                        : "超过" + std::to_string(kMaxCols) + "列";
    return Stop(p);
  }
  t.cells.Append(t.cell_row, t.cell_col, t.text, t.as_text);
  t.has_cells = true;
  t.text.clear();
}

void StartCell(Parse& p, Table& t, const xmlChar** atts) {
  EndCell(p, t);
  if (t.row == 0) t.row = 1;  // a cell before any <tr>
  while (t.col <= static_cast<int>(t.covered.size()) && t.covered[t.col - 1] >= t.row) ++t.col;
  const int rowspan = Span(Attr(atts, "rowspan"), kMaxRowspan);
  const int colspan = Span(Attr(atts, "colspan"), kMaxColspan);
  const char* style = Attr(atts, "style");
  const char* cls = Attr(atts, "class");
  t.in_cell = true;
  t.cell_row = t.row;
  t.cell_col = t.col;
  t.text.clear();
  t.blank_pending = false;
  t.as_text = (style && StyleValue(style, "mso-number-format") == "@") ||
              (cls && p.text_classes.count(cls));
  if (rowspan > 1) {
    const int last = std::min(t.col + colspan - 1, kMaxCols);
    if (static_cast<int>(t.covered.size()) < last) t.covered.resize(static_cast<size_t>(last), 0);
    for (int c = t.col; c <= last; ++c) t.covered[c - 1] = t.row + rowspan - 1;
  }
  // Excel marks a span that only lets text run on into empty cells, and is no merge.
  const bool ignore_colspan =
      style && StyleValue(style, "mso-ignore").find("colspan") != std::string::npos;
  const int cols = ignore_colspan ? 1 : colspan;
  if ((rowspan > 1 || cols > 1) && t.row <= kMaxRows && t.col <= kMaxCols) {
    p.merge_charge.AddOrThrow(sizeof(Range));
    t.sheet->AddMerge(Range{t.row, t.col, std::min(t.row + rowspan - 1, kMaxRows),
                            std::min(t.col + cols - 1, kMaxCols)});
  }
  t.col = std::min(t.col + colspan, kMaxCols + 1);
}

void EndTable(Parse& p) {
  std::unique_ptr<Table> t = std::move(p.open.back());
  p.open.pop_back();
  EndCell(p, *t);
  if (t->has_cells) p.done.push_back(std::move(t));
  // The first table of the page has ended, with any it held: no later one is wanted.
  if (p.open.empty() && !p.done.empty()) Stop(p);
}

void OnStart(void* ctx, const xmlChar* tag, const xmlChar** atts) {
  Parse& p = Of(ctx);
  if (p.stopped) return;
  try {
    const std::string_view name(reinterpret_cast<const char*>(tag));
    Table* t = p.open.empty() ? nullptr : p.open.back().get();
    if (name == "table") {
      if (p.open.size() < kMaxNesting)
        p.open.push_back(std::make_unique<Table>(p.tables++, p.styles));
      else
        ++p.ignored_tables;
    } else if (p.ignored_tables > 0 && name != "br") {
      return;
    } else if (!t) {
      if (name == "style") p.in_style = true;
    } else if (name == "td" || name == "th") {
      StartCell(p, *t, atts);
    } else if (name == "tr") {
      EndCell(p, *t);
      ++t->row;
      t->col = 1;
    } else if (name == "br" && t->in_cell) {
      t->text += '\n';
      t->blank_pending = false;
    }
  } catch (const std::bad_alloc&) {
    p.no_memory = true;
    Stop(p);
  }
}

void OnEnd(void* ctx, const xmlChar* tag) {
  Parse& p = Of(ctx);
  if (p.stopped) return;
  try {
    const std::string_view name(reinterpret_cast<const char*>(tag));
    if (name == "style" && p.in_style) {
      p.in_style = false;
      ReadStyleBlock(p);
    } else if (p.open.empty()) {
      return;
    } else if (p.ignored_tables > 0) {
      if (name == "table") --p.ignored_tables;
    } else if (name == "table") {
      EndTable(p);
    } else if (name == "td" || name == "th" || name == "tr") {
      EndCell(p, *p.open.back());
    }
  } catch (const std::bad_alloc&) {
    p.no_memory = true;
    Stop(p);
  }
}

void OnText(void* ctx, const xmlChar* chars, int len) {
  Parse& p = Of(ctx);
  if (p.stopped || p.open.empty() || !p.open.back()->in_cell) return;
  Table& t = *p.open.back();
  try {
    // Blanks collapse as a browser collapses them: a run is one space between words, nothing at
    // either end of the cell or beside a line break.
    const char* s = reinterpret_cast<const char*>(chars);
    for (int i = 0; i < len;) {
      if (IsBlank(s[i])) {
        t.blank_pending = true;
        ++i;
        continue;
      }
      int j = i;
      while (j < len && !IsBlank(s[j])) ++j;
      if (t.blank_pending && !t.text.empty() && t.text.back() != '\n') t.text += ' ';
      t.blank_pending = false;
      t.text.append(s + i, static_cast<size_t>(j - i));
      i = j;
    }
  } catch (const std::bad_alloc&) {
    p.no_memory = true;
    Stop(p);
  }
}

// The raw text of <style> and <script>: only a style's rules matter here.
void OnRawText(void* ctx, const xmlChar* chars, int len) {
  Parse& p = Of(ctx);
  if (p.stopped || !p.in_style) return;
  try {
    p.style_text.append(reinterpret_cast<const char*>(chars), static_cast<size_t>(len));
  } catch (const std::bad_alloc&) {
    p.no_memory = true;
    Stop(p);
  }
}

}  // namespace

bool LooksLikeHtml(const uint8_t* data, size_t size) {
  const std::string head = text::TextPrefix(data, size, 4096);
  const std::string_view s(head);
  size_t i = 0;
  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size() || s[i] != '<') return false;
    if (s.compare(i, 5, "<?xml") == 0) {
      const size_t e = s.find("?>", i);
      if (e == std::string_view::npos) return false;
      i = e + 2;
    } else if (s.compare(i, 4, "<!--") == 0) {
      const size_t e = s.find("-->", i);
      if (e == std::string_view::npos) return false;
      i = e + 3;
    } else if (StartsWithNoCase(s, i, "<!doctype")) {
      const size_t e = std::min(s.find('>', i), s.size());
      for (size_t k = i + 9; k < e; ++k)
        if (StartsWithNoCase(s, k, "html")) return true;
      return false;
    } else {
      static const char* const kStarts[] = {
          "html", "head", "body", "table",  "meta", "title", "style", "link", "script", "div",
          "tr",   "td",   "th",   "center", "font", "p",     "span",  "form", "base",   "h1"};
      size_t e = i + 1;
      while (e < s.size() && std::isalnum(static_cast<unsigned char>(s[e]))) ++e;
      if (e == s.size() || (!IsBlank(s[e]) && s[e] != '>' && s[e] != '/')) return false;
      std::string tag(s.substr(i + 1, e - i - 1));
      for (char& c : tag) c = Lower(c);
      for (const char* k : kStarts)
        if (tag == k) return true;
      return false;
    }
  }
}

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name) {
  // The page in UTF-8: a byte order mark decides, then the page's own word, then the bytes.
  size_t bom_len;
  const text::Bom bom = text::DetectBom(data, size, &bom_len);
  const uint8_t* body = data + bom_len;
  const size_t n = size - bom_len;
  text::Charset charset = text::Charset::ForBom(bom);
  if (bom == text::Bom::kNone) {
    const std::string label = MetaCharset(
        std::string_view(reinterpret_cast<const char*>(body), std::min<size_t>(n, 4096)));
    if (label.empty() || !text::Charset::FromLabel(label, &charset))
      charset = text::IsUtf8(body, n) ? text::Charset::Utf8() : text::Charset::Gb18030();
  }
  memory::ScopedCharge charge;
  std::string page;
  charge.AddOrThrow(n);
  charset.Decode(body, n, page);
  charge.AddOrThrow(page.capacity() > n ? page.capacity() - n : 0);
  if (page.size() > static_cast<size_t>(INT_MAX))
    return MakeError(ErrorCode::kTooLarge, name + ": 网页超过2 GiB", "网页超过2 GiB");

  static std::once_flag init;
  std::call_once(init, [] { xmlInitParser(); });

  auto wb = std::make_unique<Workbook>();
  Parse p;
  p.styles = wb->shared_styles();
  htmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.startElement = OnStart;
  sax.endElement = OnEnd;
  sax.characters = OnText;
  sax.cdataBlock = OnRawText;
  // No error or warning callback: the parser reads broken pages quietly, as browsers do. It
  // keeps a copy of the page while it works.
  charge.AddOrThrow(page.size());
  p.ctxt = htmlCreateMemoryParserCtxt(page.data(), static_cast<int>(page.size()));
  if (!p.ctxt) return MakeError(ErrorCode::kNoMemory, name + ": 内存不足，无法解析网页");
  std::memcpy(p.ctxt->sax, &sax, sizeof sax);
  p.ctxt->userData = &p;
  htmlCtxtUseOptions(p.ctxt, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC);
  xmlSwitchEncoding(p.ctxt, XML_CHAR_ENCODING_UTF8);
  htmlParseDocument(p.ctxt);
  // Whatever document the parser kept (none: no callback makes one) goes with its context.
  if (p.ctxt->myDoc) xmlFreeDoc(p.ctxt->myDoc);
  htmlFreeParserCtxt(p.ctxt);
  p.ctxt = nullptr;

  if (p.no_memory) throw memory::BudgetExceeded();
  if (!p.past_grid.empty())
    return MakeError(ErrorCode::kTooLarge, name + ": 网页中的表格" + p.past_grid, p.past_grid);
  // A page that ends inside its tables ends them.
  while (!p.open.empty() && !p.stopped) EndTable(p);
  if (p.done.empty())
    return MakeError(ErrorCode::kNotAWorkbook, name + ": 网页中没有含数据的表格",
                     "网页中没有含数据的表格");
  auto first = std::min_element(p.done.begin(), p.done.end(),
                                [](const auto& a, const auto& b) { return a->order < b->order; });
  Worksheet& ws = wb->AddWorksheet(text::SheetNameFromPath(name));
  const std::string sheet_name = ws.Name();
  ws = std::move(*(*first)->sheet);
  ws.SetName(sheet_name);
  wb->SetFormat(SourceFormat::kHtml);
  wb->SetTextSource(charset.name(), 0);
  return wb;
}

}  // namespace qm::html
