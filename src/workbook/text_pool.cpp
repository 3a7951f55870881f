#include "text_pool.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

namespace qm {

TextPool::TextPool(const TextPool& other) {
  *this = other;
}

TextPool& TextPool::operator=(const TextPool& other) {
  if (this == &other) return *this;
  TextPool copy;
  copy.blocks_.reserve(other.blocks_.size());
  for (size_t i = 0; i < other.blocks_.size(); ++i) {
    const size_t n = other.block_sizes_[i];
    copy.blocks_.emplace_back(new char[n]);
    std::memcpy(copy.blocks_.back().get(), other.blocks_[i].get(), n);
  }
  copy.block_sizes_ = other.block_sizes_;
  copy.block_bytes_ = other.block_bytes_;
  copy.current_ = other.current_;
  copy.used_ = other.used_;
  copy.views_ = other.views_;
  copy.slots_ = other.slots_;
  copy.interned_ = other.interned_;
  copy.all_interned_ = other.all_interned_;
  *this = std::move(copy);
  return *this;
}

std::string_view TextPool::LongText(const char* p) {
  uint64_t len;
  std::memcpy(&len, p, sizeof len);
  return {p + sizeof len, static_cast<size_t>(len)};
}

const char* TextPool::Place(std::string_view text, uint64_t* view) {
  if (blocks_.size() >= (size_t{1} << (64 - kLenBits - kOffsetBits)) - 1) throw std::bad_alloc();
  if (text.size() >= kOwnBlock) {
    // A block of its own, the length in front when the view's field cannot hold it.
    const bool long_text = text.size() >= kLenMask;
    const size_t n = text.size() + (long_text ? sizeof(uint64_t) : 0);
    std::unique_ptr<char[]> block(new char[n]);
    char* p = block.get();
    if (long_text) {
      const uint64_t len = text.size();
      std::memcpy(p, &len, sizeof len);
      p += sizeof len;
    }
    std::memcpy(p, text.data(), text.size());
    blocks_.push_back(std::move(block));
    block_sizes_.push_back(n);
    block_bytes_ += n;
    const uint64_t b = blocks_.size() - 1;
    *view = (b << (kLenBits + kOffsetBits)) | (long_text ? kLenMask : text.size());
    return p;
  }
  if (current_ == SIZE_MAX || used_ + text.size() > block_sizes_[current_]) {
    // Blocks start small, so that the many small sheets of a workbook stay small, and double
    // up to the largest an offset can reach.
    size_t n = current_ == SIZE_MAX ? kFirstBlock : std::min(block_sizes_[current_] * 2, kMaxBlock);
    while (n < text.size()) n *= 2;
    blocks_.emplace_back(new char[n]);
    block_sizes_.push_back(n);
    block_bytes_ += n;
    current_ = blocks_.size() - 1;
    used_ = 0;
  }
  char* p = blocks_[current_].get() + used_;
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  *view = (uint64_t{current_} << (kLenBits + kOffsetBits)) | (uint64_t{used_} << kLenBits) |
          text.size();
  used_ += text.size();
  return p;
}

uint32_t TextPool::Append(std::string_view text) {
  if (views_.size() >= std::numeric_limits<uint32_t>::max() - 1) throw std::bad_alloc();
  uint64_t view;
  // Characters placed before a failed push_back are merely unused.
  Place(text, &view);
  views_.push_back(view);
  return static_cast<uint32_t>(views_.size() - 1);
}

uint32_t TextPool::Add(std::string_view text) {
  const uint32_t index = Append(text);
  all_interned_ = false;
  return index;
}

void TextPool::GrowSlots() {
  std::vector<Slot> slots(slots_.empty() ? 1024 : slots_.size() * 2);
  const size_t mask = slots.size() - 1;
  for (const Slot& s : slots_) {
    if (s.index == UINT32_MAX) continue;
    size_t at = s.hash & mask;
    while (slots[at].index != UINT32_MAX) at = (at + 1) & mask;
    slots[at] = s;
  }
  slots_.swap(slots);
}

size_t TextPool::SlotOf(std::string_view text, uint32_t hash) const {
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  while (slots_[at].index != UINT32_MAX &&
         !(slots_[at].hash == hash && (*this)[slots_[at].index] == text))
    at = (at + 1) & mask;
  return at;
}

void TextPool::Reindex() {
  // Every text goes in, the first of equal ones kept, so the pool shares what it already holds.
  slots_.clear();
  interned_ = 0;
  for (uint32_t i = 0; i < views_.size(); ++i) {
    if ((interned_ + 1) * 10 > slots_.size() * 7) GrowSlots();
    const std::string_view text = (*this)[i];
    const auto h = static_cast<uint32_t>(std::hash<std::string_view>()(text));
    Slot& s = slots_[SlotOf(text, h)];
    if (s.index != UINT32_MAX) continue;
    s = {h, i};
    ++interned_;
  }
}

uint32_t TextPool::Intern(std::string_view text) {
  if (slots_.empty() && !views_.empty()) Reindex();
  if ((interned_ + 1) * 10 > slots_.size() * 7) GrowSlots();
  const auto h = static_cast<uint32_t>(std::hash<std::string_view>()(text));
  const size_t at = SlotOf(text, h);
  if (slots_[at].index != UINT32_MAX) return slots_[at].index;
  const uint32_t index = Append(text);
  slots_[at] = {h, index};
  ++interned_;
  return index;
}

size_t TextPool::MemoryBytes() const {
  size_t n = views_.capacity() * sizeof(uint64_t) + slots_.capacity() * sizeof(Slot) +
             blocks_.capacity() * sizeof(blocks_[0]) + block_sizes_.capacity() * sizeof(size_t);
  return n + block_bytes_;
}

void TextPool::ReleaseIndex() {
  std::vector<Slot>().swap(slots_);
}

void TextPool::ShrinkToFit() {
  // The blocks stay as they are: views handed out keep pointing into them. The view array too:
  // its unused tail was never touched, and a copy would hold it twice. The intern table goes (a
  // sheet about to be written takes no more texts); Intern builds it again if needed.
  ReleaseIndex();
}

}  // namespace qm
