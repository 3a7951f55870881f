// The cell formats of an .xls file: FONT, FORMAT, XF and PALETTE records gathered as they come
// and mapped into the workbook's style table once their colours are known.
#pragma once

#include <cstdint>
#include <vector>

#include "../style.h"
#include "biff_in.h"

namespace qm::xls {

class StyleReader {
 public:
  // The default palette covers indexes 8-63; 0-7 repeat its first eight colours.
  StyleReader();

  void ReadFont(const BiffRecord& r, BiffText& text);
  void ReadFormat(const BiffRecord& r, BiffText& text, StyleTable& st);
  void ReadXf(const BiffRecord& r, int biff);
  void ReadPalette(const BiffRecord& r);

  // Maps the fonts and cell formats read so far into `st`. Older files may interleave them with
  // cells, so only what is new since the last call is mapped.
  void Build(StyleTable& st, int biff);
  // True when records arrived since the last Build().
  bool HasNew() const { return xf_map_.size() < xfs_.size() || font_map_.size() < fonts_.size(); }
  // The style table's index for a cell's XF index; unknown ones get the default.
  uint16_t StyleOf(uint16_t ixfe) const { return ixfe < xf_map_.size() ? xf_map_[ixfe] : 0; }

 private:
  struct RawXf {
    uint16_t font = 0;
    uint16_t fmt = 0;
    Xf xf;
    // Colour indexes resolved once the palette is known.
    uint16_t fill_pattern = 0, fill_fg = 64, fill_bg = 65;
    uint8_t border_style[5] = {};
    uint16_t border_color[5] = {64, 64, 64, 64, 64};
    bool diag_down = false, diag_up = false;
  };
  struct RawFont {
    Font font;
    uint16_t color = 0x7FFF;
  };

  Color PaletteColor(uint16_t icv) const;

  std::vector<RawFont> fonts_;
  std::vector<RawXf> xfs_;
  std::vector<uint16_t> font_map_;
  std::vector<uint16_t> xf_map_;
  uint32_t palette_[56];
  int next_format_index_ = 0;  // BIFF3/4 number their formats by order
};

}  // namespace qm::xls
