// Reads .xlsx/.xlsm packages: relationships, workbook, styles, shared strings and worksheets,
// each part streamed through expat so memory follows the cells, not the size of the XML.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "../formula/formula.h"
#include "../io.h"
#include "../memory_budget.h"
#include "../utf.h"
#include "style_names.h"
#include "xlsx_read_parts.h"
#include "xlsx_read_xml.h"
#include "zip_reader.h"

namespace qm::xlsx {

// ---------------------------------------------------------------------------------------------
// Small text helpers

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of an escape "_xHHHH_" at s[i], or -1.
int EscapeAt(std::string_view s, size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || (s[i + 1] != 'x' && s[i + 1] != 'X') || s[i + 6] != '_')
    return -1;
  int v = 0;
  for (size_t k = 2; k < 6; ++k) {
    int d = HexDigit(s[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool IsTrue(const char* v) {
  return v && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0);
}

int ToInt(const char* v, int fallback = 0) {
  if (!v) return fallback;
  int out = fallback;
  auto [p, ec] = std::from_chars(v, v + std::strlen(v), out);
  return ec == std::errc() ? out : fallback;
}

double ToDouble(const char* v, double fallback = 0) {
  if (!v) return fallback;
  double out = fallback;
  const char* end = v + std::strlen(v);
  while (v < end && *v == ' ') ++v;
  auto [p, ec] = std::from_chars(v, end, out);
  return ec == std::errc() ? out : fallback;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string DirOf(std::string_view part) {
  size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

std::string DecodeEscapes(std::string_view s) {
  if (s.find("_x") == std::string_view::npos && s.find("_X") == std::string_view::npos)
    return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    int u = EscapeAt(s, i);
    if (u < 0) {
      out += s[i++];
      continue;
    }
    i += 7;
    uint32_t cp = static_cast<uint32_t>(u);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      int lo = EscapeAt(s, i);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(lo) - 0xDC00);
        i += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool ParseCellRef(std::string_view ref, int& row, int& col) {
  size_t i = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  int64_t c = 0;
  size_t letters = 0;
  for (; i < ref.size(); ++i, ++letters) {
    char ch = ref[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (ch < 'A' || ch > 'Z') break;
    if (c > 1'000'000) return false;
    c = c * 26 + (ch - 'A' + 1);
  }
  if (letters == 0) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  int64_t r = 0;
  size_t digits = 0;
  for (; i < ref.size(); ++i, ++digits) {
    if (ref[i] < '0' || ref[i] > '9') return false;
    if (r > 100'000'000) return false;
    r = r * 10 + (ref[i] - '0');
  }
  if (digits == 0) return false;
  row = static_cast<int>(r);
  col = static_cast<int>(c);
  return true;
}

std::optional<double> IsoToSerial(std::string_view s, bool date1904) {
  auto num = [&](size_t pos, size_t len, int& out) {
    if (pos + len > s.size()) return false;
    out = 0;
    for (size_t k = pos; k < pos + len; ++k) {
      if (s[k] < '0' || s[k] > '9') return false;
      out = out * 10 + (s[k] - '0');
    }
    return true;
  };
  double days = 0;
  size_t t = 0;
  int y, mo, d;
  bool has_date =
      num(0, 4, y) && s.size() >= 10 && s[4] == '-' && num(5, 2, mo) && s[7] == '-' && num(8, 2, d);
  if (has_date) {
    if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
    int64_t dn = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    if (date1904) {
      days = static_cast<double>(dn - DaysFromCivil(1904, 1, 1));
    } else {
      days = static_cast<double>(dn - DaysFromCivil(1899, 12, 30));
      // The 1900 system counts a 29 February 1900 that never was.
      if (days < 61) days -= 1;
    }
    if (s.size() == 10) return days;
    if (s[10] != 'T' && s[10] != ' ') return std::nullopt;
    t = 11;
  }
  int h, mi, sec = 0;
  if (!num(t, 2, h) || t + 2 >= s.size() || s[t + 2] != ':' || !num(t + 3, 2, mi))
    return has_date ? std::optional<double>(days) : std::nullopt;
  double frac = 0;
  size_t k = t + 5;
  if (k < s.size() && s[k] == ':') {
    if (!num(k + 1, 2, sec)) return std::nullopt;
    k += 3;
    if (k < s.size() && s[k] == '.') {
      double scale = 0.1;
      for (++k; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k, scale /= 10)
        frac += (s[k] - '0') * scale;
    }
  }
  return days + (h * 3600 + mi * 60 + sec + frac) / 86400.0;
}

std::string ResolveTarget(std::string_view base_dir, std::string_view target) {
  std::string path;
  if (!target.empty() && target.front() == '/')
    path = std::string(target.substr(1));
  else
    path = std::string(base_dir) + std::string(target);
  // Fold "." and ".." segments.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string seg = path.substr(start, slash - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = slash + 1;
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Relationships

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

class RelsHandler : public XmlHandler {
 public:
  std::vector<Relationship> rels;
  void Start(std::string_view n, const XML_Char** a) {
    if (n != "Relationship") return;
    Relationship r;
    if (const char* v = Attr(a, "Id")) r.id = v;
    if (const char* v = Attr(a, "Type")) r.type = v;
    if (const char* v = Attr(a, "Target")) r.target = v;
    r.external = Attr(a, "TargetMode") && std::string_view(Attr(a, "TargetMode")) == "External";
    rels.push_back(std::move(r));
  }
  void End(std::string_view) {}
  void Text(const char*, int) {}
};

// ---------------------------------------------------------------------------------------------
// Workbook

struct SheetEntry {
  std::string name, rel_id;
};

class WorkbookHandler : public XmlHandler {
 public:
  std::vector<SheetEntry> sheets;
  bool date1904 = false;
  void Start(std::string_view n, const XML_Char** a) {
    if (n == "sheet") {
      SheetEntry s;
      if (const char* v = Attr(a, "name")) s.name = v;
      if (const char* v = Attr(a, "id")) s.rel_id = v;
      sheets.push_back(std::move(s));
    } else if (n == "workbookPr") {
      date1904 = IsTrue(Attr(a, "date1904"));
    }
  }
  void End(std::string_view) {}
  void Text(const char*, int) {}
};

// ---------------------------------------------------------------------------------------------
// Shared strings: runs joined, phonetic runs skipped.

constexpr size_t kMaxCellText = 8u << 20;  // bytes of one value; far above the 32,767 limit

class SharedStringsHandler : public XmlHandler {
 public:
  std::vector<std::string> strings;
  memory::Account account;  // what `strings` holds, charged to the memory budget
  void Start(std::string_view n, const XML_Char** a) {
    if (n == "si") {
      in_si_ = true;
      cur_.clear();
    } else if (n == "rPh") {
      ++in_rph_;
    } else if (n == "t" && in_si_ && !in_rph_) {
      in_t_ = true;
    } else if (n == "sst" && strings.empty()) {
      // A count hint, trusted only so far as it cannot blow memory up.
      int unique = ToInt(Attr(a, "uniqueCount"));
      if (unique > 0) strings.reserve(std::min(unique, 1 << 20));
    }
  }
  void End(std::string_view n) {
    if (n == "t") {
      in_t_ = false;
    } else if (n == "rPh") {
      if (in_rph_) --in_rph_;
    } else if (n == "si") {
      in_si_ = false;
      const size_t capacity = strings.capacity();
      strings.push_back(DecodeEscapes(cur_));
      // Millions of short strings take far more memory than their XML: they count.
      account.Note((strings.capacity() - capacity) * sizeof(std::string) +
                   (strings.back().size() > 15 ? strings.back().size() + 17 : 0));
      account.Settle(size_t{1} << 20);
    }
  }
  void Text(const char* s, int len) {
    if (!in_t_) return;
    cur_.append(s, static_cast<size_t>(len));
    if (cur_.size() > kMaxCellText)
      Fail(MakeError(ErrorCode::kTooLarge, "a shared string longer than 8 MiB"));
  }

 private:
  bool in_si_ = false, in_t_ = false;
  int in_rph_ = 0;
  std::string cur_;
};

// ---------------------------------------------------------------------------------------------
// Styles and colours

// The default Office theme, in the order cells refer to it (light 1, dark 1, light 2, dark 2,
// accents, hyperlinks).
constexpr uint32_t kDefaultTheme[12] = {0xFFFFFF, 0x000000, 0xEEECE1, 0x1F497D, 0x4F81BD, 0xC0504D,
                                        0x9BBB59, 0x8064A2, 0x4BACC6, 0xF79646, 0x0000FF, 0x800080};

struct ColorRef {
  enum Kind : uint8_t { kNone, kRgb, kIndexed, kTheme } kind = kNone;
  uint32_t value = 0;
  double tint = 0;
};

ColorRef ParseColor(const XML_Char** a) {
  ColorRef c;
  if (IsTrue(Attr(a, "auto"))) return c;
  if (const char* v = Attr(a, "rgb")) {
    c.kind = ColorRef::kRgb;
    c.value = static_cast<uint32_t>(std::strtoul(v, nullptr, 16)) & 0xFFFFFF;
  } else if (const char* v = Attr(a, "indexed")) {
    c.kind = ColorRef::kIndexed;
    c.value = static_cast<uint32_t>(ToInt(v));
  } else if (const char* v = Attr(a, "theme")) {
    c.kind = ColorRef::kTheme;
    c.value = static_cast<uint32_t>(ToInt(v));
  }
  c.tint = ToDouble(Attr(a, "tint"));
  return c;
}

uint32_t ApplyTint(uint32_t rgb, double tint) {
  if (tint == 0 || !std::isfinite(tint)) return rgb;
  tint = std::clamp(tint, -1.0, 1.0);
  double r = ((rgb >> 16) & 255) / 255.0, g = ((rgb >> 8) & 255) / 255.0, b = (rgb & 255) / 255.0;
  double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double l = (mx + mn) / 2, h = 0, s = 0;
  if (mx != mn) {
    double d = mx - mn;
    s = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
    if (mx == r)
      h = (g - b) / d + (g < b ? 6 : 0);
    else if (mx == g)
      h = (b - r) / d + 2;
    else
      h = (r - g) / d + 4;
    h /= 6;
  }
  l = tint < 0 ? l * (1 + tint) : l * (1 - tint) + tint;
  auto hue = [](double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 0.5) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
  };
  double q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
  double rr = s == 0 ? l : hue(p, q, h + 1.0 / 3), gg = s == 0 ? l : hue(p, q, h),
         bb = s == 0 ? l : hue(p, q, h - 1.0 / 3);
  auto to8 = [](double v) {
    return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
  };
  return to8(rr) << 16 | to8(gg) << 8 | to8(bb);
}

struct RawFont {
  Font font;
  ColorRef color;
};
struct RawFill {
  Fill fill;
  ColorRef fg, bg;
};
struct RawBorder {
  Border border;
  ColorRef colors[5];
};

uint8_t PatternNumber(std::string_view p) {
  return NameNumber(kFillPatternNames, p, 0);
}

uint8_t BorderStyleNumber(std::string_view p) {
  return NameNumber(kBorderStyleNames, p, 0);
}

uint8_t HorizontalNumber(std::string_view p) {
  return NameNumber(kHorizontalNames, p, 0);
}

uint8_t VerticalNumber(std::string_view p) {
  return NameNumber(kVerticalNames, p, 2);
}

constexpr size_t kMaxStyleRecords = 65000;
constexpr size_t kMaxFontsFillsBorders = 8192;

class StylesHandler : public XmlHandler {
 public:
  std::vector<std::pair<int, std::string>> num_fmts;
  std::vector<RawFont> fonts;
  std::vector<RawFill> fills;
  std::vector<RawBorder> borders;
  std::vector<Xf> xfs;
  std::vector<uint32_t> palette;  // <indexedColors>, when the file has its own

  void Start(std::string_view n, const XML_Char** a) {
    if (n == "numFmt") {
      if (const char* code = Attr(a, "formatCode"))
        num_fmts.emplace_back(ToInt(Attr(a, "numFmtId"), -1), code);
    } else if (n == "fonts" || n == "fills" || n == "borders" || n == "cellXfs" ||
               n == "cellStyleXfs" || n == "dxfs" || n == "indexedColors") {
      section_ = std::string(n);
    } else if (section_ == "fonts") {
      FontChild(n, a);
    } else if (section_ == "fills") {
      FillChild(n, a);
    } else if (section_ == "borders") {
      BorderChild(n, a);
    } else if (section_ == "cellXfs") {
      XfChild(n, a);
    } else if (section_ == "indexedColors" && n == "rgbColor") {
      if (const char* v = Attr(a, "rgb"))
        palette.push_back(static_cast<uint32_t>(std::strtoul(v, nullptr, 16)) & 0xFFFFFF);
    }
    // The style table looks fonts, fills and borders up one by one, so their number is capped
    // far above what spreadsheet programs write.
    if (fonts.size() > kMaxFontsFillsBorders || fills.size() > kMaxFontsFillsBorders ||
        borders.size() > kMaxFontsFillsBorders || xfs.size() > kMaxStyleRecords)
      Fail(MakeError(ErrorCode::kTooLarge, "absurdly many style records"));
  }
  void End(std::string_view n) {
    if (n == section_) section_.clear();
    if (n == "left" || n == "right" || n == "top" || n == "bottom" || n == "diagonal" ||
        n == "start" || n == "end")
      side_ = -1;
  }
  void Text(const char*, int) {}

 private:
  void FontChild(std::string_view n, const XML_Char** a) {
    if (n == "font") {
      fonts.emplace_back();
      return;
    }
    if (fonts.empty()) return;
    RawFont& f = fonts.back();
    const char* val = Attr(a, "val");
    if (n == "b")
      f.font.bold = !val || IsTrue(val);
    else if (n == "i")
      f.font.italic = !val || IsTrue(val);
    else if (n == "strike")
      f.font.strike = !val || IsTrue(val);
    else if (n == "u") {
      std::string_view u = val ? val : "single";
      f.font.underline = u == "single"             ? 1
                         : u == "double"           ? 2
                         : u == "singleAccounting" ? 0x21
                         : u == "doubleAccounting" ? 0x22
                                                   : 0;
    } else if (n == "vertAlign" && val) {
      f.font.script = std::string_view(val) == "superscript" ? 1
                      : std::string_view(val) == "subscript" ? 2
                                                             : 0;
    } else if (n == "sz") {
      double sz = ToDouble(val, 11);
      if (sz > 0 && sz < 1000) f.font.size = sz;
    } else if (n == "name" || n == "rFont") {
      if (val) f.font.name = val;
    } else if (n == "family") {
      f.font.family = static_cast<uint8_t>(ToInt(val));
    } else if (n == "charset") {
      f.font.charset = static_cast<uint8_t>(ToInt(val));
    } else if (n == "color") {
      f.color = ParseColor(a);
    }
  }
  void FillChild(std::string_view n, const XML_Char** a) {
    if (n == "fill") {
      fills.emplace_back();
      gradient_ = false;
      return;
    }
    if (fills.empty()) return;
    RawFill& f = fills.back();
    if (n == "patternFill") {
      const char* p = Attr(a, "patternType");
      f.fill.pattern = p ? PatternNumber(p) : 0;
    } else if (n == "fgColor") {
      f.fg = ParseColor(a);
    } else if (n == "bgColor") {
      f.bg = ParseColor(a);
    } else if (n == "gradientFill") {
      f.fill.pattern = 1;  // the nearest the cell model has: a solid fill of the first stop
      gradient_ = true;
    } else if (n == "color" && gradient_ && f.fg.kind == ColorRef::kNone) {
      f.fg = ParseColor(a);
    }
  }
  void BorderChild(std::string_view n, const XML_Char** a) {
    if (n == "border") {
      borders.emplace_back();
      side_ = -1;
      borders.back().border.diag_up = IsTrue(Attr(a, "diagonalUp"));
      borders.back().border.diag_down = IsTrue(Attr(a, "diagonalDown"));
      return;
    }
    if (borders.empty()) return;
    RawBorder& b = borders.back();
    BorderSide* sides[5] = {&b.border.left, &b.border.right, &b.border.top, &b.border.bottom,
                            &b.border.diagonal};
    int side = n == "left" || n == "start"  ? 0
               : n == "right" || n == "end" ? 1
               : n == "top"                 ? 2
               : n == "bottom"              ? 3
               : n == "diagonal"            ? 4
                                            : -1;
    if (side >= 0) {
      side_ = side;
      const char* st = Attr(a, "style");
      sides[side]->style = st ? BorderStyleNumber(st) : 0;
    } else if (n == "color" && side_ >= 0) {
      b.colors[side_] = ParseColor(a);
    }
  }
  void XfChild(std::string_view n, const XML_Char** a) {
    if (n == "xf") {
      Xf x;
      x.num_fmt = static_cast<uint16_t>(std::clamp(ToInt(Attr(a, "numFmtId")), 0, 0xFFFF));
      x.font = static_cast<uint16_t>(std::clamp(ToInt(Attr(a, "fontId")), 0, 0xFFFF));
      x.fill = static_cast<uint16_t>(std::clamp(ToInt(Attr(a, "fillId")), 0, 0xFFFF));
      x.border = static_cast<uint16_t>(std::clamp(ToInt(Attr(a, "borderId")), 0, 0xFFFF));
      xfs.push_back(x);
      return;
    }
    if (xfs.empty()) return;
    Xf& x = xfs.back();
    if (n == "alignment") {
      if (const char* v = Attr(a, "horizontal")) x.align.horizontal = HorizontalNumber(v);
      if (const char* v = Attr(a, "vertical")) x.align.vertical = VerticalNumber(v);
      x.align.wrap = IsTrue(Attr(a, "wrapText"));
      x.align.shrink = IsTrue(Attr(a, "shrinkToFit"));
      x.align.indent = static_cast<uint8_t>(std::clamp(ToInt(Attr(a, "indent")), 0, 255));
      x.align.rotation = static_cast<uint8_t>(std::clamp(ToInt(Attr(a, "textRotation")), 0, 255));
    } else if (n == "protection") {
      if (const char* v = Attr(a, "locked")) x.locked = IsTrue(v);
      if (const char* v = Attr(a, "hidden")) x.hidden = IsTrue(v);
    }
  }

  std::string section_;
  int side_ = -1;
  bool gradient_ = false;
};

class ThemeHandler : public XmlHandler {
 public:
  uint32_t colors[12];
  ThemeHandler() { std::copy(std::begin(kDefaultTheme), std::end(kDefaultTheme), colors); }
  void Start(std::string_view n, const XML_Char** a) {
    static const std::pair<const char*, int> kSlots[] = {
        {"lt1", 0},     {"dk1", 1},     {"lt2", 2},     {"dk2", 3},
        {"accent1", 4}, {"accent2", 5}, {"accent3", 6}, {"accent4", 7},
        {"accent5", 8}, {"accent6", 9}, {"hlink", 10},  {"folHlink", 11}};
    if (n == "clrScheme") {
      in_scheme_ = true;
      return;
    }
    if (!in_scheme_) return;
    for (const auto& [name, slot] : kSlots)
      if (n == name) slot_ = slot;
    if (slot_ < 0) return;
    const char* v = nullptr;
    if (n == "srgbClr")
      v = Attr(a, "val");
    else if (n == "sysClr")
      v = Attr(a, "lastClr");
    if (v) colors[slot_] = static_cast<uint32_t>(std::strtoul(v, nullptr, 16)) & 0xFFFFFF;
  }
  void End(std::string_view n) {
    if (n == "clrScheme") in_scheme_ = false;
    slot_ = n == "srgbClr" || n == "sysClr" ? slot_ : -1;
  }
  void Text(const char*, int) {}

 private:
  bool in_scheme_ = false;
  int slot_ = -1;
};

// ---------------------------------------------------------------------------------------------
// Worksheets

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
      Fail(MakeError(ErrorCode::kTooLarge, "a cell value longer than 8 MiB"));
    }
  }

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
                       " lies outside the grid of 1,048,576 rows and 16,384 columns"));
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
      return Fail(MakeError(ErrorCode::kTooLarge, "absurdly many merged ranges"));
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
                     "more than " + std::to_string(kMaxCellsPerSheet) + " cells in one sheet"));
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

 public:
  void Finish() { Flush(); }
};

// ---------------------------------------------------------------------------------------------
// The package

constexpr size_t kMaxSheets = 65535;

class PackageReader {
 public:
  PackageReader(zip::Archive& zip, const std::string& name) : zip_(zip), name_(name) {}

  Result<std::unique_ptr<Workbook>> Read(const ReadOptions& options) {
    auto wb = std::make_unique<Workbook>();
    wb->SetFormat(SourceFormat::kXlsx);

    // The main part: the package relationships name it; most files keep it at the usual place.
    std::string main_part = "xl/workbook.xml";
    // A damaged package index costs nothing as long as the usual main part is there.
    auto root_rels = ReadRels("_rels/.rels");
    if (!root_rels.ok() && !zip_.Find(main_part)) return root_rels.error();
    if (root_rels.ok())
      for (const auto& r : *root_rels)
        if (EndsWith(r.type, "/officeDocument") && !r.external) {
          std::string t = ResolveTarget("", r.target);
          if (zip_.Find(t)) main_part = t;
        }
    const zip::Entry* main = zip_.Find(main_part);
    if (!main) {
      if (zip_.Find("EncryptedPackage"))
        return MakeError(ErrorCode::kEncrypted, name_ + ": the workbook is password protected");
      return MakeError(ErrorCode::kNotAWorkbook,
                       name_ + ": not a workbook (a zip package without a workbook part)");
    }
    if (EndsWith(main->name, ".bin"))
      return MakeError(
          ErrorCode::kNotSupported,
          name_ + ": an Excel binary workbook (.xlsb), which this program cannot read");
    std::string dir = DirOf(main->name);
    WorkbookHandler book;
    if (auto st = ParseXmlPart(zip_, *main, book, name_); !st) return st.error();
    wb->styles().date1904 = book.date1904;
    if (book.sheets.size() > kMaxSheets)
      return MakeError(ErrorCode::kTooLarge, name_ + ": the workbook lists " +
                                                 std::to_string(book.sheets.size()) +
                                                 " sheets, an absurd number");

    auto rels = ReadRels(dir + "_rels/" + main->name.substr(dir.size()) + ".rels");
    if (!rels.ok()) return rels.error();
    std::unordered_map<std::string, const Relationship*> by_id;
    std::string styles_part, sst_part, theme_part;
    for (const auto& r : *rels) {
      by_id[r.id] = &r;
      if (EndsWith(r.type, "/styles"))
        styles_part = ResolveTarget(dir, r.target);
      else if (EndsWith(r.type, "/sharedStrings"))
        sst_part = ResolveTarget(dir, r.target);
      else if (EndsWith(r.type, "/theme"))
        theme_part = ResolveTarget(dir, r.target);
    }

    if (auto st = ReadStyles(*wb, styles_part, theme_part); !st) return st.error();
    if (const zip::Entry* e = sst_part.empty() ? nullptr : zip_.Find(sst_part)) {
      SharedStringsHandler h;
      if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st.error();
      sst_ = std::move(h.strings);
      sst_account_ = std::move(h.account);
    }

    for (const auto& s : book.sheets) {
      auto it = by_id.find(s.rel_id);
      // Chart, dialog and macro sheets are not worksheets.
      if (it == by_id.end() || !EndsWith(it->second->type, "/worksheet")) continue;
      std::string part = ResolveTarget(dir, it->second->target);
      const zip::Entry* e = zip_.Find(part);
      if (!e)
        return MakeError(ErrorCode::kCorrupt, name_ + ": the part \"" + part + "\" of sheet \"" +
                                                  s.name + "\" is missing");
      Worksheet& ws = wb->AddWorksheet(s.name);
      SheetHandler h(ws, sst_, xf_map_, book.date1904);
      if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st.error();
      h.Finish();
      if (options.first_worksheet_only) break;
    }
    return wb;
  }

 private:
  Result<std::vector<Relationship>> ReadRels(const std::string& part) {
    const zip::Entry* e = zip_.Find(part);
    if (!e) return std::vector<Relationship>{};
    RelsHandler h;
    if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st.error();
    return std::move(h.rels);
  }

  Status ReadStyles(Workbook& wb, const std::string& styles_part, const std::string& theme_part) {
    StyleTable& table = wb.styles();
    xf_map_.assign(1, 0);
    const zip::Entry* e = zip_.Find(styles_part.empty() ? "xl/styles.xml" : styles_part);
    if (!e) return Status::Ok();
    ThemeHandler theme;
    if (const zip::Entry* t = theme_part.empty() ? nullptr : zip_.Find(theme_part)) {
      // A broken theme only costs colours.
      (void)ParseXmlPart(zip_, *t, theme, name_);
    }
    StylesHandler h;
    if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st;
    auto color = [&](const ColorRef& c) -> Color {
      switch (c.kind) {
        case ColorRef::kNone:
          return kAutoColor;
        case ColorRef::kRgb:
          return Rgb(ApplyTint(c.value, c.tint));
        case ColorRef::kIndexed:
          if (c.value < h.palette.size()) return Rgb(h.palette[c.value]);
          if (c.value < 8) return Rgb(kDefaultPalette[c.value]);
          if (c.value < 64) return Rgb(kDefaultPalette[c.value - 8]);
          return kAutoColor;  // 64, 65: the system's own foreground and background
        case ColorRef::kTheme:
          return c.value < 12 ? Rgb(ApplyTint(theme.colors[c.value], c.tint)) : kAutoColor;
      }
      return kAutoColor;
    };
    for (const auto& [id, code] : h.num_fmts)
      if (id >= 0 && id < 0xFFFF) table.SetNumFmt(id, code);
    std::vector<uint16_t> font_map, fill_map, border_map;
    for (size_t i = 0; i < h.fonts.size(); ++i) {
      Font f = h.fonts[i].font;
      f.color = color(h.fonts[i].color);
      if (i == 0) {
        table.SetDefaultFont(f);
        font_map.push_back(0);
      } else {
        font_map.push_back(table.AddFont(f));
      }
    }
    for (const auto& raw : h.fills) {
      Fill f = raw.fill;
      f.fg = color(raw.fg);
      f.bg = color(raw.bg);
      fill_map.push_back(table.AddFill(f));
    }
    for (const auto& raw : h.borders) {
      Border b = raw.border;
      BorderSide* sides[5] = {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal};
      for (int k = 0; k < 5; ++k) sides[k]->color = color(raw.colors[k]);
      border_map.push_back(table.AddBorder(b));
    }
    auto pick = [](const std::vector<uint16_t>& m, uint16_t i) -> uint16_t {
      return i < m.size() ? m[i] : 0;
    };
    xf_map_.clear();
    for (Xf x : h.xfs) {
      x.font = pick(font_map, x.font);
      x.fill = pick(fill_map, x.fill);
      x.border = pick(border_map, x.border);
      xf_map_.push_back(table.AddXf(x));
    }
    if (xf_map_.empty()) xf_map_.push_back(0);
    return Status::Ok();
  }

  zip::Archive& zip_;
  const std::string& name_;
  std::vector<std::string> sst_;
  memory::Account sst_account_;
  std::vector<uint16_t> xf_map_;
};

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options) {
  auto zip = zip::Archive::Open(data, size, name);
  if (!zip.ok()) return zip.error();
  PackageReader reader(*zip, name);
  return reader.Read(options);
}

}  // namespace qm::xlsx
