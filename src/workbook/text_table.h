// The distinct texts of a workbook being written, numbered in the order first seen, as both
// formats' shared-string tables want them. The texts are viewed, not copied: they stay in the
// sheets' pools, which outlive the writer.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace qm {

class TextTable {
 public:
  // The entry of `text`, added at the end when new.
  uint32_t Add(std::string_view text) {
    if ((texts_.size() + 1) * 2 > slots_.size()) Grow();
    const auto h = static_cast<uint32_t>(std::hash<std::string_view>()(text));
    const size_t mask = slots_.size() - 1;
    for (size_t at = h & mask;; at = (at + 1) & mask) {
      Slot& s = slots_[at];
      if (s.entry == kFree) {
        s = {h, static_cast<uint32_t>(texts_.size())};
        texts_.push_back(text);
        return s.entry;
      }
      if (s.hash == h && texts_[s.entry] == text) return s.entry;
    }
  }
  const std::vector<std::string_view>& texts() const { return texts_; }
  size_t size() const { return texts_.size(); }

 private:
  static constexpr uint32_t kFree = UINT32_MAX;
  struct Slot {
    uint32_t hash = 0;  // the low bits of the text's hash, to skip most comparisons
    uint32_t entry = kFree;
  };
  // Open addressing, at most half full: one array of 8-byte slots, no allocation per text.
  void Grow() {
    std::vector<Slot> slots(slots_.empty() ? 1024 : slots_.size() * 2);
    const size_t mask = slots.size() - 1;
    for (const Slot& s : slots_) {
      if (s.entry == kFree) continue;
      size_t at = s.hash & mask;
      while (slots[at].entry != kFree) at = (at + 1) & mask;
      slots[at] = s;
    }
    slots_.swap(slots);
  }

  std::vector<Slot> slots_;
  std::vector<std::string_view> texts_;
};

}  // namespace qm
