// A small, bounded reader of compound files (the OLE container .xls files live in). It only reads:
// every chain walk is capped by the number of sectors in the file, so a hostile file cannot make
// it loop or allocate more than the file's own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::cfb {

struct Entry {
  std::u16string name;
  uint8_t type = 0;  // 1 storage, 2 stream, 5 root
  uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
  uint32_t start = 0;
  uint64_t size = 0;
};

class Reader {
 public:
  // Parses the header, the allocation tables and the directory. Returns "" on success, else the
  // reason the container cannot be read, in Chinese for the user.
  std::string Open(const uint8_t* data, size_t size);

  // Index of the stream directly under the root whose name equals `name` ignoring ASCII case,
  // or -1.
  int Find(std::u16string_view name) const;
  // The bytes of stream `index`. A chain that ends early gives a shorter stream and sets
  // `*truncated`.
  std::vector<uint8_t> ReadStream(int index, bool* truncated = nullptr) const;
  // Whether the size the directory gives stream `index` could be held by the container at all: a
  // small stream's by the mini stream, another's by the file's sectors. A reader checks this
  // before it sets memory aside for the stream; a size past it is a damaged directory.
  bool DeclaredSizeFits(int index) const;
  // When stream `index` lies in consecutive whole sectors of the file (as most writers lay it
  // out), its bytes in place, so a reader need not copy them; an empty span otherwise.
  std::span<const uint8_t> InPlace(int index) const;
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<uint32_t> Chain(const std::vector<uint32_t>& fat, uint32_t start,
                              size_t max_len) const;
  const uint8_t* Sector(uint32_t id) const;

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint32_t sector_size_ = 512;
  uint32_t mini_size_ = 64;
  uint32_t cutoff_ = 4096;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> minifat_;
  std::vector<uint8_t> ministream_;
  std::vector<Entry> entries_;
};

}  // namespace qm::cfb
