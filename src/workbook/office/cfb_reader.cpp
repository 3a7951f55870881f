#include "cfb_reader.h"

#include <algorithm>
#include <cstring>

#include "../bytes.h"

namespace qm::cfb {

namespace {

constexpr uint32_t kMaxRegular = 0xFFFFFFFA;  // ids at or above are markers, never sectors
constexpr uint32_t kNoStream = 0xFFFFFFFF;

using le::U16;
using le::U32;

char16_t FoldAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

}  // namespace

const uint8_t* Reader::Sector(uint32_t id) const {
  if (id >= kMaxRegular) return nullptr;
  uint64_t off = (static_cast<uint64_t>(id) + 1) * sector_size_;
  if (off >= size_) return nullptr;
  return data_ + off;
}

std::vector<uint32_t> Reader::Chain(const std::vector<uint32_t>& fat, uint32_t start,
                                    size_t max_len) const {
  std::vector<uint32_t> out;
  uint32_t id = start;
  // A chain can never be longer than the table it lives in; a longer walk is a cycle.
  max_len = std::min(max_len, fat.size());
  while (id < kMaxRegular && id < fat.size() && out.size() < max_len) {
    out.push_back(id);
    id = fat[id];
  }
  return out;
}

std::string Reader::Open(const uint8_t* data, size_t size) {
  static const uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  data_ = data;
  size_ = size;
  if (size < 512 || std::memcmp(data, kMagic, 8) != 0) return "复合文档不完整";
  uint16_t shift = U16(data + 0x1E);
  if (shift != 9 && shift != 12) return "复合文档的扇区大小无效";
  sector_size_ = 1u << shift;
  uint16_t mini_shift = U16(data + 0x20);
  mini_size_ = mini_shift >= 2 && mini_shift < shift ? 1u << mini_shift : 64;
  cutoff_ = U32(data + 0x38);
  if (cutoff_ == 0 || cutoff_ > (1u << 20)) cutoff_ = 4096;
  const size_t max_sectors = size / sector_size_ + 1;
  const uint32_t per_sector = sector_size_ / 4;

  // The sector ids of the allocation table: 109 in the header, the rest in a chain of extension
  // sectors.
  uint32_t fat_count = U32(data + 0x2C);
  std::vector<uint32_t> fat_sectors;
  auto want_more = [&] { return fat_sectors.size() < std::min<size_t>(fat_count, max_sectors); };
  for (int i = 0; i < 109 && want_more(); ++i) {
    uint32_t id = U32(data + 0x4C + 4 * i);
    if (id < kMaxRegular) fat_sectors.push_back(id);
  }
  uint32_t ext = U32(data + 0x44);
  for (size_t hops = 0; ext < kMaxRegular && want_more() && hops < max_sectors; ++hops) {
    const uint8_t* s = Sector(ext);
    if (!s || static_cast<uint64_t>(ext + 1) * sector_size_ + sector_size_ > size_) break;
    for (uint32_t i = 0; i + 1 < per_sector && want_more(); ++i) {
      uint32_t id = U32(s + 4 * i);
      if (id < kMaxRegular) fat_sectors.push_back(id);
    }
    ext = U32(s + sector_size_ - 4);
  }
  if (fat_sectors.empty()) return "复合文档没有分配表";
  fat_.clear();
  fat_.reserve(fat_sectors.size() * per_sector);
  for (uint32_t id : fat_sectors) {
    const uint8_t* s = Sector(id);
    for (uint32_t i = 0; i < per_sector; ++i) {
      uint64_t at = static_cast<uint64_t>(id + 1) * sector_size_ + 4 * i;
      fat_.push_back(s && at + 4 <= size_ ? U32(s + 4 * i) : kNoStream);
    }
  }

  // The directory: 128-byte entries in a chain of its own.
  entries_.clear();
  for (uint32_t id : Chain(fat_, U32(data + 0x30), max_sectors)) {
    const uint8_t* s = Sector(id);
    if (!s) break;
    size_t avail = std::min<size_t>(sector_size_, size_ - (s - data_));
    for (size_t off = 0; off + 128 <= avail; off += 128) {
      const uint8_t* e = s + off;
      Entry en;
      size_t name_bytes = std::min<size_t>(U16(e + 0x40), 64);
      for (size_t i = 0; i + 1 < name_bytes; i += 2) {
        char16_t c = static_cast<char16_t>(U16(e + i));
        if (c == 0) break;
        en.name.push_back(c);
      }
      en.type = e[0x42];
      en.left = U32(e + 0x44);
      en.right = U32(e + 0x48);
      en.child = U32(e + 0x4C);
      en.start = U32(e + 0x74);
      en.size = sector_size_ == 512 ? U32(e + 0x78) : U32(e + 0x78) | uint64_t{U32(e + 0x7C)} << 32;
      entries_.push_back(std::move(en));
    }
  }
  if (entries_.empty() || entries_[0].type != 5) return "复合文档没有根目录";

  // Small streams live in the mini stream, which is itself the root entry's stream.
  minifat_.clear();
  for (uint32_t id : Chain(fat_, U32(data + 0x3C), max_sectors)) {
    const uint8_t* s = Sector(id);
    if (!s) break;
    size_t avail = std::min<size_t>(sector_size_, size_ - (s - data_));
    for (size_t i = 0; i + 4 <= avail; i += 4) minifat_.push_back(U32(s + i));
  }
  ministream_.clear();
  const Entry& root = entries_[0];
  for (uint32_t id : Chain(fat_, root.start, max_sectors)) {
    const uint8_t* s = Sector(id);
    if (!s || ministream_.size() >= root.size) break;
    size_t n =
        std::min<size_t>({sector_size_, size_ - (s - data_), root.size - ministream_.size()});
    ministream_.insert(ministream_.end(), s, s + n);
  }
  return "";
}

int Reader::Find(std::u16string_view name) const {
  auto same = [&](const std::u16string& a) {
    if (a.size() != name.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (FoldAscii(a[i]) != FoldAscii(name[i])) return false;
    return true;
  };
  // Walk the root's children (a tree linked by left/right siblings); `seen` stops cycles.
  std::vector<bool> seen(entries_.size());
  std::vector<uint32_t> todo{entries_[0].child};
  while (!todo.empty()) {
    uint32_t i = todo.back();
    todo.pop_back();
    if (i >= entries_.size() || seen[i]) continue;
    seen[i] = true;
    const Entry& e = entries_[i];
    if (e.type == 2 && same(e.name)) return static_cast<int>(i);
    todo.push_back(e.left);
    todo.push_back(e.right);
  }
  // A damaged tree may hide the stream from the walk; fall back to a flat scan.
  for (size_t i = 1; i < entries_.size(); ++i)
    if (entries_[i].type == 2 && same(entries_[i].name)) return static_cast<int>(i);
  return -1;
}

bool Reader::DeclaredSizeFits(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return false;
  const Entry& e = entries_[index];
  if (e.size < cutoff_) return e.size <= ministream_.size();
  // Every sector after the header could belong to the stream, and no more.
  return size_ >= sector_size_ && e.size <= size_ - sector_size_;
}

std::span<const uint8_t> Reader::InPlace(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return {};
  const Entry& e = entries_[index];
  if (e.size < cutoff_ || e.size > size_) return {};
  size_t sectors = (e.size + sector_size_ - 1) / sector_size_;
  std::vector<uint32_t> chain = Chain(fat_, e.start, sectors);
  if (chain.size() != sectors) return {};
  for (size_t i = 1; i < chain.size(); ++i)
    if (chain[i] != chain[0] + i) return {};
  uint64_t off = (uint64_t{chain[0]} + 1) * sector_size_;
  if (off + e.size > size_) return {};
  return {data_ + off, static_cast<size_t>(e.size)};
}

std::vector<uint8_t> Reader::ReadStream(int index, bool* truncated) const {
  std::vector<uint8_t> out;
  if (truncated) *truncated = false;
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return out;
  const Entry& e = entries_[index];
  // Never trust the declared size further than the file could hold.
  uint64_t want = std::min<uint64_t>(e.size, size_);
  if (e.size < cutoff_) {
    size_t max_len = ministream_.size() / mini_size_ + 1;
    for (uint32_t id : Chain(minifat_, e.start, max_len)) {
      uint64_t off = uint64_t{id} * mini_size_;
      if (off >= ministream_.size() || out.size() >= want) break;
      size_t n = std::min<uint64_t>({mini_size_, ministream_.size() - off, want - out.size()});
      out.insert(out.end(), ministream_.begin() + off, ministream_.begin() + off + n);
    }
  } else {
    out.reserve(want);
    for (uint32_t id : Chain(fat_, e.start, size_ / sector_size_ + 1)) {
      const uint8_t* s = Sector(id);
      if (!s || out.size() >= want) break;
      size_t n = std::min<uint64_t>({sector_size_, size_ - (s - data_), want - out.size()});
      out.insert(out.end(), s, s + n);
    }
  }
  if (truncated) *truncated = out.size() < e.size;
  return out;
}

}  // namespace qm::cfb
