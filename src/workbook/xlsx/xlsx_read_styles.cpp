// The styles part of a package: number formats, fonts, fills, borders and cell formats, with
// colours given by palette index or theme slot (and tint) turned into plain RGB.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "style_names.h"
#include "xlsx_read_internal.h"
#include "xlsx_read_xml.h"

namespace qm::xlsx {
namespace {

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
      Fail(MakeError(ErrorCode::kTooLarge, "absurdly many style records", "样式记录过多"));
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

}  // namespace

Status ReadStyles(zip::Archive& zip, const std::string& file, Workbook& wb,
                  const std::string& styles_part, const std::string& theme_part,
                  std::vector<uint16_t>& xf_map) {
  StyleTable& table = wb.styles();
  xf_map.assign(1, 0);
  const zip::Entry* e = zip.Find(styles_part.empty() ? "xl/styles.xml" : styles_part);
  if (!e) return Status::Ok();
  ThemeHandler theme;
  if (const zip::Entry* t = theme_part.empty() ? nullptr : zip.Find(theme_part)) {
    // A broken theme only costs colours.
    (void)ParseXmlPart(zip, *t, theme, file);
  }
  StylesHandler h;
  if (auto st = ParseXmlPart(zip, *e, h, file); !st) return st;
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
  xf_map.clear();
  for (Xf x : h.xfs) {
    x.font = pick(font_map, x.font);
    x.fill = pick(fill_map, x.fill);
    x.border = pick(border_map, x.border);
    xf_map.push_back(table.AddXf(x));
  }
  if (xf_map.empty()) xf_map.push_back(0);
  return Status::Ok();
}

}  // namespace qm::xlsx
