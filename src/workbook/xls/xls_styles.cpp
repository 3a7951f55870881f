#include "xls_styles.h"

#include <algorithm>
#include <string>

#include "biff_records.h"

namespace qm::xls {

using le::U16;
using le::U32;

StyleReader::StyleReader() {
  std::copy(std::begin(kDefaultPalette), std::end(kDefaultPalette), palette_);
}

Color StyleReader::PaletteColor(uint16_t icv) const {
  if (icv < 8) return Rgb(kDefaultPalette[icv]);
  if (icv < 64) return Rgb(palette_[icv - 8]);
  return kAutoColor;  // system colours and "automatic"
}

void StyleReader::ReadFont(const BiffRecord& r, BiffText& text) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  RawFont f;
  if (n < 4) return;
  f.font.size = U16(p) / 20.0;
  uint16_t grbit = U16(p + 2);
  f.font.italic = grbit & 0x02;
  f.font.strike = grbit & 0x08;
  f.font.bold = grbit & 0x01;
  size_t pos = 4;
  if (text.biff >= 5 || r.id == kFont3) {
    if (n < 6) return;
    f.color = U16(p + 4);
    pos = 6;
  }
  if (text.biff >= 5) {
    if (n < 14) return;
    uint16_t weight = U16(p + 6);
    f.font.bold = weight >= 700 || (grbit & 0x01);
    f.font.script = static_cast<uint8_t>(U16(p + 8));
    f.font.underline = p[10];
    f.font.family = p[11];
    f.font.charset = p[12];
    pos = 14;
  }
  std::string name;
  if (text.ByteString(p, n, pos, false, name)) f.font.name = name;
  if (fonts_.size() < 1024) fonts_.push_back(std::move(f));
}

void StyleReader::ReadFormat(const BiffRecord& r, BiffText& text, StyleTable& st) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  int id;
  size_t pos;
  std::string s;
  if (text.biff >= 5) {
    if (n < 3) return;
    id = U16(p);
    pos = 2;
    if (!text.ByteString(p, n, pos, text.biff >= 8, s)) return;
  } else {
    id = next_format_index_++;
    pos = text.biff == 4 ? 2 : 0;
    if (!text.ByteString(p, n, pos, false, s)) return;
  }
  st.SetNumFmt(id, std::move(s));
}

void StyleReader::ReadXf(const BiffRecord& r, int biff) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  RawXf x;
  // The first eight bytes, laid out alike in BIFF5 and BIFF8: font, format, protection and the
  // horizontal and vertical alignment.
  auto read_head = [&] {
    x.font = U16(p);
    x.fmt = U16(p + 2);
    const uint16_t prot = U16(p + 4);
    x.xf.locked = prot & 1;
    x.xf.hidden = prot & 2;
    x.xf.align.horizontal = p[6] & 7;
    x.xf.align.wrap = p[6] & 8;
    x.xf.align.vertical = (p[6] >> 4) & 7;
  };
  if (biff >= 8) {
    if (n < 20) return;
    read_head();
    x.xf.align.rotation = p[7];
    x.xf.align.indent = p[8] & 15;
    x.xf.align.shrink = p[8] & 16;
    uint32_t b1 = U32(p + 10), b2 = U32(p + 14);
    uint16_t fill = U16(p + 18);
    x.border_style[0] = b1 & 15;          // left
    x.border_style[1] = (b1 >> 4) & 15;   // right
    x.border_style[2] = (b1 >> 8) & 15;   // top
    x.border_style[3] = (b1 >> 12) & 15;  // bottom
    x.border_color[0] = (b1 >> 16) & 0x7F;
    x.border_color[1] = (b1 >> 23) & 0x7F;
    x.diag_down = b1 & (1u << 30);
    x.diag_up = b1 & (1u << 31);
    x.border_color[2] = b2 & 0x7F;
    x.border_color[3] = (b2 >> 7) & 0x7F;
    x.border_color[4] = (b2 >> 14) & 0x7F;
    x.border_style[4] = (b2 >> 21) & 15;
    x.fill_pattern = (b2 >> 26) & 0x3F;
    x.fill_fg = fill & 0x7F;
    x.fill_bg = (fill >> 7) & 0x7F;
  } else if (biff == 5) {
    if (n < 16) return;
    read_head();
    uint32_t a = U32(p + 8), b = U32(p + 12);
    x.fill_fg = a & 0x7F;
    x.fill_bg = (a >> 7) & 0x7F;
    x.fill_pattern = (a >> 16) & 0x3F;
    x.border_style[3] = (a >> 22) & 7;
    x.border_color[3] = (a >> 25) & 0x7F;
    x.border_style[2] = b & 7;
    x.border_style[0] = (b >> 3) & 7;
    x.border_style[1] = (b >> 6) & 7;
    x.border_color[2] = (b >> 9) & 0x7F;
    x.border_color[0] = (b >> 16) & 0x7F;
    x.border_color[1] = (b >> 23) & 0x7F;
  } else {
    // BIFF3/4: font and format only.
    if (n < 2) return;
    x.font = p[0];
    x.fmt = p[1];
  }
  if (xfs_.size() < 65000) xfs_.push_back(x);
}

void StyleReader::ReadPalette(const BiffRecord& r) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  if (n < 2) return;
  size_t count = std::min<size_t>({U16(p), 56, (n - 2) / 4});
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* c = p + 2 + 4 * i;
    palette_[i] = static_cast<uint32_t>(c[0]) << 16 | c[1] << 8 | c[2];
  }
}

void StyleReader::Build(StyleTable& st, int biff) {
  for (size_t i = font_map_.size(); i < fonts_.size(); ++i) {
    Font f = fonts_[i].font;
    f.color = fonts_[i].color == 0x7FFF ? kAutoColor : PaletteColor(fonts_[i].color);
    if (i == 0) {
      st.SetDefaultFont(f);
      font_map_.push_back(0);
    } else {
      font_map_.push_back(st.AddFont(f));
    }
  }
  size_t done = xf_map_.size();
  xf_map_.resize(xfs_.size(), 0);
  for (size_t i = done; i < xfs_.size(); ++i) {
    const RawXf& r = xfs_[i];
    Xf xf = r.xf;
    // Font index 4 does not exist in the file; the fifth record is number 5.
    size_t fi = r.font >= 4 && biff >= 5 ? r.font - 1u : r.font;
    xf.font = fi < font_map_.size() ? font_map_[fi] : 0;
    xf.num_fmt = r.fmt;
    if (r.fill_pattern) {
      xf.fill = st.AddFill(Fill{static_cast<uint8_t>(r.fill_pattern), PaletteColor(r.fill_fg),
                                PaletteColor(r.fill_bg)});
    }
    Border b;
    BorderSide* sides[5] = {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal};
    bool any = false;
    for (int s = 0; s < 5; ++s) {
      if (!r.border_style[s]) continue;
      any = true;
      sides[s]->style = r.border_style[s];
      sides[s]->color = PaletteColor(r.border_color[s]);
    }
    if (b.diagonal.style) {
      b.diag_down = r.diag_down;
      b.diag_up = r.diag_up;
    }
    if (any) xf.border = st.AddBorder(b);
    xf_map_[i] = st.AddXf(xf);
  }
}

}  // namespace qm::xls
