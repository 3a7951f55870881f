// The texts of a sheet. A result of a million rows holds millions of texts, most a few bytes
// long: one std::string each (32 bytes, an allocation past 15 bytes, and an array that doubles
// as it grows) would take more than the cells. Here the characters sit one after another in
// large blocks and each text is an 8-byte view into them; a text's number never changes, and
// its characters never move, so views handed out stay valid while the pool lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace qm {

class TextPool {
 public:
  TextPool() = default;
  TextPool(const TextPool& other);
  TextPool& operator=(const TextPool& other);
  TextPool(TextPool&&) noexcept = default;
  TextPool& operator=(TextPool&&) noexcept = default;

  // Adds a text and returns its number (numbers count up from 0).
  uint32_t Add(std::string_view text);
  // The number of an equal text added through Intern before, else Add's. Sheets that receive
  // the texts of many others (a merge's result) keep each distinct text once this way.
  uint32_t Intern(std::string_view text);

  std::string_view operator[](uint32_t index) const {
    const uint64_t v = views_[index];
    const uint32_t len = static_cast<uint32_t>(v & kLenMask);
    const char* p = blocks_[static_cast<size_t>(v >> (kLenBits + kOffsetBits))].get() +
                    ((v >> kLenBits) & kOffsetMask);
    if (len == kLenMask) return LongText(p);
    return {p, len};
  }
  size_t size() const { return views_.size(); }
  bool empty() const { return views_.empty(); }
  // True while no two numbers hold the same text (every text came through Intern): a writer
  // can then number the texts it writes by the pool's numbers without comparing them.
  bool distinct() const { return views_.empty() || all_interned_; }

  // Bytes held: blocks, views and the intern table.
  size_t MemoryBytes() const;
  // Lets the intern table go, while no texts are interned for a time; Intern builds it again.
  void ReleaseIndex();
  // Releases what a sheet about to be written no longer needs: the intern table.
  void ShrinkToFit();

 private:
  // A view: block number, offset in the block, length. A block holds at most 1 MiB of short
  // texts; a longer text has a block of its own, its length written before its characters.
  static constexpr int kLenBits = 24, kOffsetBits = 20;
  static constexpr uint64_t kLenMask = (uint64_t{1} << kLenBits) - 1;
  static constexpr uint64_t kOffsetMask = (uint64_t{1} << kOffsetBits) - 1;
  static constexpr size_t kMaxBlock = size_t{1} << kOffsetBits;
  static constexpr size_t kFirstBlock = 4096;
  static constexpr size_t kOwnBlock = kMaxBlock / 4;  // texts this long get a block of their own

  static std::string_view LongText(const char* p);
  const char* Place(std::string_view text, uint64_t* view);
  // Adds a text without a word on whether it repeats one (Add says it may, Intern knows not).
  uint32_t Append(std::string_view text);
  void GrowSlots();
  // The slot holding `text`, or the free one where it would go.
  size_t SlotOf(std::string_view text, uint32_t hash) const;
  void Reindex();

  struct Slot {
    uint32_t hash = 0;
    uint32_t index = UINT32_MAX;
  };

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<size_t> block_sizes_;
  size_t block_bytes_ = 0;
  size_t current_ = SIZE_MAX;  // the block short texts go into
  size_t used_ = 0;            // bytes used in it
  std::vector<uint64_t> views_;
  std::vector<Slot> slots_;  // open addressing over interned texts, at most 70% full
  size_t interned_ = 0;
  bool all_interned_ = true;
};

}  // namespace qm
