#include "style.h"

#include <cctype>
#include <cstring>

namespace qm {
namespace {

struct BuiltinFmt {
  int id;
  const char* text;
};

// The fixed built-in formats; ids 27-36 and 50-58 are locale dependent dates in CJK versions,
// given here in their Chinese (PRC) form.
constexpr BuiltinFmt kBuiltins[] = {
    {0, "General"},
    {1, "0"},
    {2, "0.00"},
    {3, "#,##0"},
    {4, "#,##0.00"},
    {5, "\"$\"#,##0_);(\"$\"#,##0)"},
    {6, "\"$\"#,##0_);[Red](\"$\"#,##0)"},
    {7, "\"$\"#,##0.00_);(\"$\"#,##0.00)"},
    {8, "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)"},
    {9, "0%"},
    {10, "0.00%"},
    {11, "0.00E+00"},
    {12, "# ?/?"},
    {13, "# ?\?/??"},
    {14, "yyyy/m/d"},
    {15, "d-mmm-yy"},
    {16, "d-mmm"},
    {17, "mmm-yy"},
    {18, "h:mm AM/PM"},
    {19, "h:mm:ss AM/PM"},
    {20, "h:mm"},
    {21, "h:mm:ss"},
    {22, "yyyy/m/d h:mm"},
    {27, "yyyy\"年\"m\"月\""},
    {28, "m\"月\"d\"日\""},
    {29, "m\"月\"d\"日\""},
    {30, "m-d-yy"},
    {31, "yyyy\"年\"m\"月\"d\"日\""},
    {32, "h\"时\"mm\"分\""},
    {33, "h\"时\"mm\"分\"ss\"秒\""},
    {34, "上午/下午h\"时\"mm\"分\""},
    {35, "上午/下午h\"时\"mm\"分\"ss\"秒\""},
    {36, "yyyy\"年\"m\"月\""},
    {37, "#,##0_);(#,##0)"},
    {38, "#,##0_);[Red](#,##0)"},
    {39, "#,##0.00_);(#,##0.00)"},
    {40, "#,##0.00_);[Red](#,##0.00)"},
    {41, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"},
    {42, "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)"},
    {43, "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"},
    {44, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)"},
    {45, "mm:ss"},
    {46, "[h]:mm:ss"},
    {47, "mm:ss.0"},
    {48, "##0.0E+0"},
    {49, "@"},
    {50, "yyyy\"年\"m\"月\""},
    {51, "m\"月\"d\"日\""},
    {52, "yyyy\"年\"m\"月\""},
    {53, "m\"月\"d\"日\""},
    {54, "m\"月\"d\"日\""},
    {55, "上午/下午h\"时\"mm\"分\""},
    {56, "上午/下午h\"时\"mm\"分\"ss\"秒\""},
    {57, "yyyy\"年\"m\"月\""},
    {58, "m\"月\"d\"日\""},
};

std::string XfKey(const Xf& x) {
  char b[16];
  std::memcpy(b, &x.font, 2);
  std::memcpy(b + 2, &x.fill, 2);
  std::memcpy(b + 4, &x.border, 2);
  std::memcpy(b + 6, &x.num_fmt, 2);
  b[8] = static_cast<char>(x.align.horizontal);
  b[9] = static_cast<char>(x.align.vertical);
  b[10] =
      static_cast<char>(x.align.wrap | (x.align.shrink << 1) | (x.locked << 2) | (x.hidden << 3));
  b[11] = static_cast<char>(x.align.indent);
  b[12] = static_cast<char>(x.align.rotation);
  return std::string(b, 13);
}

template <class T>
uint16_t AddUnique(std::vector<T>& v, const T& x) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] == x) return static_cast<uint16_t>(i);
  if (v.size() >= 0xFFFF) return 0;
  v.push_back(x);
  return static_cast<uint16_t>(v.size() - 1);
}

}  // namespace

bool IsBuiltinDateFormat(int id) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
         (id >= 50 && id <= 58);
}

bool IsDateFormatString(std::string_view fmt) {
  // Only the first section decides; the others format negatives, zero and text.
  bool in_quote = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char ch = fmt[i];
    if (in_quote) {
      if (ch == '"') in_quote = false;
      continue;
    }
    switch (ch) {
      case '"':
        in_quote = true;
        break;
      case '\\':
      case '_':
      case '*':
        ++i;  // escaped character, padding width or fill character
        break;
      case ';':
        return false;
      case '[': {
        size_t end = fmt.find(']', i);
        if (end == std::string_view::npos) return false;
        std::string_view inner = fmt.substr(i + 1, end - i - 1);
        // Elapsed time ([h], [mm], [ss]) is a time; colours and locales are not.
        bool elapsed = !inner.empty();
        for (char c : inner) {
          char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          if (l != 'h' && l != 'm' && l != 's') elapsed = false;
        }
        if (elapsed) return true;
        i = end;
        break;
      }
      default: {
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') return true;
      }
    }
  }
  return false;
}

const char* BuiltinFormatString(int id) {
  for (const auto& b : kBuiltins)
    if (b.id == id) return b.text;
  return "";
}

StyleTable::StyleTable() {
  fonts_.emplace_back();
  fills_.emplace_back();
  // The second fill is the grey-125 pattern every xlsx file reserves; keeping it here makes
  // fill indexes line up with what spreadsheet programs expect.
  fills_.push_back(Fill{17, kAutoColor, kAutoColor});
  borders_.emplace_back();
  xfs_.emplace_back();
  is_date_.push_back(0);
  xf_index_.emplace(XfKey(xfs_[0]), 0);
}

// Fonts, fills and borders are few; a linear search is enough.
uint16_t StyleTable::AddFont(const Font& f) {
  return AddUnique(fonts_, f);
}
uint16_t StyleTable::AddFill(const Fill& f) {
  return AddUnique(fills_, f);
}
uint16_t StyleTable::AddBorder(const Border& b) {
  return AddUnique(borders_, b);
}

void StyleTable::SetDefaultFont(const Font& f) {
  fonts_[0] = f;
}

uint16_t StyleTable::AddNumFmt(std::string_view fmt) {
  for (const auto& [id, text] : num_fmts_)
    if (text == fmt) return static_cast<uint16_t>(id);
  for (const auto& b : kBuiltins)
    if (fmt == b.text && !num_fmts_.count(b.id)) return static_cast<uint16_t>(b.id);
  if (fmt == "general") return 0;
  while (num_fmts_.count(next_custom_fmt_)) ++next_custom_fmt_;
  int id = next_custom_fmt_++;
  num_fmts_.emplace(id, std::string(fmt));
  return static_cast<uint16_t>(id);
}

void StyleTable::SetNumFmt(int id, std::string fmt) {
  num_fmts_[id] = std::move(fmt);
  if (id >= next_custom_fmt_) next_custom_fmt_ = id + 1;
  // A redefinition changes what existing formats mean.
  for (size_t i = 0; i < xfs_.size(); ++i) is_date_[i] = IsDateNumFmt(xfs_[i].num_fmt);
}

std::string StyleTable::NumFmtString(int id) const {
  auto it = num_fmts_.find(id);
  if (it != num_fmts_.end()) return it->second;
  return BuiltinFormatString(id);
}

bool StyleTable::IsDateNumFmt(int id) const {
  auto it = num_fmts_.find(id);
  if (it != num_fmts_.end()) return IsDateFormatString(it->second);
  return IsBuiltinDateFormat(id);
}

uint16_t StyleTable::AddXf(const Xf& xf) {
  std::string key = XfKey(xf);
  auto it = xf_index_.find(key);
  if (it != xf_index_.end()) return it->second;
  if (xfs_.size() >= 0xFFFF) return 0;
  xfs_.push_back(xf);
  is_date_.push_back(IsDateNumFmt(xf.num_fmt));
  auto idx = static_cast<uint16_t>(xfs_.size() - 1);
  xf_index_.emplace(std::move(key), idx);
  return idx;
}

uint16_t StyleTable::Import(const StyleTable& src, uint16_t i) {
  if (&src == this) return i;
  const Xf& s = src.xf(i);
  Xf x = s;
  x.font = AddFont(s.font < src.fonts_.size() ? src.fonts_[s.font] : src.fonts_[0]);
  x.fill = AddFill(s.fill < src.fills_.size() ? src.fills_[s.fill] : src.fills_[0]);
  x.border = AddBorder(s.border < src.borders_.size() ? src.borders_[s.border] : src.borders_[0]);
  auto fit = src.num_fmts_.find(s.num_fmt);
  if (fit != src.num_fmts_.end())
    x.num_fmt = AddNumFmt(fit->second);
  else if (!*BuiltinFormatString(s.num_fmt))  // a dangling id: it must not pick up ours
    x.num_fmt = 0;
  else if (num_fmts_.count(s.num_fmt))  // our own table redefined that built-in id
    x.num_fmt = AddNumFmt(BuiltinFormatString(s.num_fmt));
  return AddXf(x);
}

}  // namespace qm
