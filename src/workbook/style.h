// The style table of a workbook: fonts, fills, borders, alignment and number formats, combined
// into cell formats (XF) that cells refer to by index. Index 0 is always the default format.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

// The colours of palette indexes 8-63 when a workbook does not change them; .xlsx "indexed"
// colours mean the same.
inline constexpr std::array<uint32_t, 56> kDefaultPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};

// Colours are 0xAARRGGBB; 0 means "automatic" (the program's default colour).
using Color = uint32_t;
constexpr Color kAutoColor = 0;
constexpr Color Rgb(uint32_t rgb) {
  return 0xFF000000u | (rgb & 0xFFFFFFu);
}

struct Font {
  std::string name = "宋体";
  double size = 11;  // points
  bool bold = false;
  bool italic = false;
  bool strike = false;
  uint8_t underline = 0;  // 0 none, 1 single, 2 double, 0x21 single accounting, 0x22 double acc.
  uint8_t script = 0;     // 0 none, 1 superscript, 2 subscript
  Color color = kAutoColor;
  uint8_t family = 0;
  uint8_t charset = 0;

  bool operator==(const Font&) const = default;
};

struct Fill {
  uint8_t pattern = 0;  // 0 none, 1 solid, 2.. the binary format's pattern numbers
  Color fg = kAutoColor;
  Color bg = kAutoColor;

  bool operator==(const Fill&) const = default;
};

struct BorderSide {
  uint8_t style = 0;  // 0 none, 1 thin, 2 medium, ... as in the binary format
  Color color = kAutoColor;

  bool operator==(const BorderSide&) const = default;
};

struct Border {
  BorderSide left{}, right{}, top{}, bottom{}, diagonal{};
  bool diag_down = false;
  bool diag_up = false;

  bool operator==(const Border&) const = default;
};

struct Alignment {
  uint8_t horizontal = 0;  // 0 general, 1 left, 2 centre, 3 right, 4 fill, 5 justify, 6 centre
                           // across selection, 7 distributed
  uint8_t vertical = 2;    // 0 top, 1 centre, 2 bottom, 3 justify, 4 distributed
  bool wrap = false;
  bool shrink = false;
  uint8_t indent = 0;
  uint8_t rotation = 0;  // 0-180 as in the file formats, 255 stacked

  bool operator==(const Alignment&) const = default;
};

struct Xf {
  uint16_t font = 0;
  uint16_t fill = 0;
  uint16_t border = 0;
  uint16_t num_fmt = 0;  // built-in id (< 164) or custom id (>= 164)
  Alignment align{};
  bool locked = true;
  bool hidden = false;

  bool operator==(const Xf&) const = default;
};

// True when a built-in number format id shows a date or time.
bool IsBuiltinDateFormat(int id);
// True when a format string shows a date or time (y, m, d, h or s outside quotes, escapes and
// colour or locale brackets).
bool IsDateFormatString(std::string_view fmt);
// The format string of a built-in id, or "" when the id has no fixed text.
const char* BuiltinFormatString(int id);

class StyleTable {
 public:
  StyleTable();

  bool date1904 = false;

  const std::vector<Font>& fonts() const { return fonts_; }
  const std::vector<Fill>& fills() const { return fills_; }
  const std::vector<Border>& borders() const { return borders_; }
  const std::vector<Xf>& xfs() const { return xfs_; }
  // Custom number formats by id (ids >= 164, or built-in ids a file redefined).
  const std::map<int, std::string>& num_fmts() const { return num_fmts_; }

  // Each Add returns the index of an equal entry when one exists.
  uint16_t AddFont(const Font& f);
  uint16_t AddFill(const Fill& f);
  uint16_t AddBorder(const Border& b);
  // Returns the id of the format string: a built-in id when the text matches one, else a
  // custom id from 164 up.
  uint16_t AddNumFmt(std::string_view fmt);
  // Registers a format under the id a file gave it (readers); redefines built-ins too.
  void SetNumFmt(int id, std::string fmt);
  uint16_t AddXf(const Xf& xf);

  // Replaces the default font (index 0), as a file's first font defines it.
  void SetDefaultFont(const Font& f);

  const Xf& xf(uint16_t i) const { return i < xfs_.size() ? xfs_[i] : xfs_[0]; }
  // The format string of an id, built-in or custom.
  std::string NumFmtString(int id) const;
  bool IsDateXf(uint16_t i) const { return i < is_date_.size() && is_date_[i]; }

  // Copies cell format `i` of `src` into this table and returns its index here.
  uint16_t Import(const StyleTable& src, uint16_t i);

 private:
  bool IsDateNumFmt(int id) const;

  std::vector<Font> fonts_;
  std::vector<Fill> fills_;
  std::vector<Border> borders_;
  std::map<int, std::string> num_fmts_;
  std::vector<Xf> xfs_;
  std::vector<uint8_t> is_date_;
  std::unordered_map<std::string, uint16_t> xf_index_;
  int next_custom_fmt_ = 164;
};

}  // namespace qm
