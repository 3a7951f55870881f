// The colour palette of a BIFF8 file as the writer builds it.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "../style.h"

namespace qm::xls {

// Maps the workbook's RGB colours to palette indexes: exact matches of the default palette are
// kept, other colours replace unused entries from the end, and once the palette is full the
// nearest entry is used.
class Palette {
 public:
  Palette() : colors_(kDefaultPalette.begin(), kDefaultPalette.end()), used_(56, false) {}

  void Want(Color c) {
    if (c == kAutoColor) return;
    uint32_t rgb = c & 0xFFFFFF;
    if (map_.count(rgb)) return;
    for (size_t i = 0; i < 56; ++i) {
      if (colors_[i] == rgb && (used_[i] || !custom_[i])) {
        used_[i] = true;
        map_[rgb] = static_cast<uint16_t>(8 + i);
        return;
      }
    }
    pending_.push_back(rgb);
  }

  // Places the colours that had no exact match; call after every Want().
  void Settle() {
    size_t slot = 56;
    for (uint32_t rgb : pending_) {
      if (map_.count(rgb)) continue;
      while (slot > 0 && used_[slot - 1]) --slot;
      if (slot == 0) {
        map_[rgb] = Nearest(rgb);
        continue;
      }
      --slot;
      colors_[slot] = rgb;
      used_[slot] = true;
      custom_[slot] = true;
      changed_ = true;
      map_[rgb] = static_cast<uint16_t>(8 + slot);
    }
  }

  uint16_t Index(Color c, uint16_t automatic) const {
    if (c == kAutoColor) return automatic;
    auto it = map_.find(c & 0xFFFFFF);
    return it != map_.end() ? it->second : Nearest(c & 0xFFFFFF);
  }
  bool changed() const { return changed_; }
  const std::vector<uint32_t>& colors() const { return colors_; }

 private:
  uint16_t Nearest(uint32_t rgb) const {
    long best = -1;
    size_t bi = 0;
    for (size_t i = 0; i < colors_.size(); ++i) {
      long dr = long(rgb >> 16 & 255) - long(colors_[i] >> 16 & 255);
      long dg = long(rgb >> 8 & 255) - long(colors_[i] >> 8 & 255);
      long db = long(rgb & 255) - long(colors_[i] & 255);
      long d = dr * dr + dg * dg + db * db;
      if (best < 0 || d < best) best = d, bi = i;
    }
    return static_cast<uint16_t>(8 + bi);
  }

  std::vector<uint32_t> colors_;
  std::vector<bool> used_;
  std::array<bool, 56> custom_{};
  std::vector<uint32_t> pending_;
  std::unordered_map<uint32_t, uint16_t> map_;
  bool changed_ = false;
};

}  // namespace qm::xls
