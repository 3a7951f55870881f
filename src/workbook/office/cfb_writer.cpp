#include "cfb_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qm::cfb {
namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kIdsPerSector = kSectorSize / 4;
constexpr uint32_t kHeaderDifat = 109;  // allocation-table sector ids the header itself holds
constexpr uint32_t kFree = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatSector = 0xFFFFFFFD,
                   kDifatSector = 0xFFFFFFFC, kNoStream = 0xFFFFFFFF;
constexpr uint64_t kMiniStreamCutoff = 4096;
constexpr uint64_t kMaxStream = uint64_t{1} << 31;

void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// One 128-byte directory entry.
void Entry(uint8_t* e, std::u16string_view name, uint8_t type, uint32_t child, uint32_t start,
           uint32_t size) {
  std::memset(e, 0, 128);
  for (size_t i = 0; i < name.size(); ++i) Store16(e + 2 * i, name[i]);
  if (!name.empty()) Store16(e + 64, static_cast<uint16_t>(2 * (name.size() + 1)));
  e[66] = type;
  e[67] = 1;  // black: a tree of one node per level is trivially balanced
  Store32(e + 68, kNoStream);
  Store32(e + 72, kNoStream);
  Store32(e + 76, child);
  Store32(e + 116, start);
  Store32(e + 120, size);
}

}  // namespace

bool Writer::Put(const void* data, size_t n) {
  if (ok_ && n && std::fwrite(data, 1, n, out_) != n) ok_ = false;
  return ok_;
}

bool Writer::PutSector(const uint8_t* sector) {
  return Put(sector, kSectorSize);
}

bool Writer::Begin(std::FILE* out, std::u16string name, uint64_t size) {
  out_ = out;
  name_ = std::move(name);
  size_ = size;
  written_ = 0;
  ok_ = out_ && size >= kMiniStreamCutoff && size <= kMaxStream && !name_.empty() &&
        name_.size() < 32;
  if (!ok_) return false;
  data_sectors_ = static_cast<uint32_t>((size + kSectorSize - 1) / kSectorSize);
  // The allocation table covers every sector, its own and its extension's included.
  fat_sectors_ = 1;
  for (;;) {
    difat_sectors_ = fat_sectors_ > kHeaderDifat
                         ? (fat_sectors_ - kHeaderDifat + kIdsPerSector - 2) / (kIdsPerSector - 1)
                         : 0;
    const uint64_t sectors = uint64_t{data_sectors_} + 1 + fat_sectors_ + difat_sectors_;
    if (sectors <= uint64_t{fat_sectors_} * kIdsPerSector) break;
    ++fat_sectors_;
  }
  const uint32_t dir = data_sectors_;
  const uint32_t first_fat = dir + 1;
  const uint32_t first_difat = first_fat + fat_sectors_;

  uint8_t h[kSectorSize];
  std::memset(h, 0, sizeof h);
  static const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h, kSignature, 8);
  Store16(h + 24, 0x003E);  // minor version
  Store16(h + 26, 0x0003);  // major version 3: 512-byte sectors
  Store16(h + 28, 0xFFFE);  // little-endian
  Store16(h + 30, 9);       // sector size 2^9
  Store16(h + 32, 6);       // mini sector size 2^6
  Store32(h + 44, fat_sectors_);
  Store32(h + 48, dir);
  Store32(h + 56, static_cast<uint32_t>(kMiniStreamCutoff));
  Store32(h + 60, kEndOfChain);  // no mini allocation table
  Store32(h + 68, difat_sectors_ ? first_difat : kEndOfChain);
  Store32(h + 72, difat_sectors_);
  for (uint32_t i = 0; i < kHeaderDifat; ++i)
    Store32(h + 76 + 4 * i, i < fat_sectors_ ? first_fat + i : kFree);
  return PutSector(h);
}

bool Writer::Write(const uint8_t* data, size_t n) {
  if (written_ + n > size_) ok_ = false;
  written_ += n;
  return Put(data, n);
}

bool Writer::Finish() {
  if (!ok_ || written_ != size_) return ok_ = false;
  const uint32_t tail = static_cast<uint32_t>(size_ % kSectorSize);
  if (tail) {
    const std::vector<uint8_t> zeros(kSectorSize - tail, 0);
    Put(zeros.data(), zeros.size());
  }
  uint8_t s[kSectorSize];
  Entry(s, u"Root Entry", 5, 1, kEndOfChain, 0);
  Entry(s + 128, name_, 2, kNoStream, 0, static_cast<uint32_t>(size_));
  Entry(s + 256, u"", 0, kNoStream, 0, 0);
  Entry(s + 384, u"", 0, kNoStream, 0, 0);
  PutSector(s);

  // The allocation table, sector by sector: the stream's chain, the directory, then the
  // table's own sectors and its extension's, the rest free.
  const uint32_t dir = data_sectors_;
  const uint32_t first_fat = dir + 1, first_difat = first_fat + fat_sectors_;
  const uint32_t used = first_difat + difat_sectors_;
  auto fat_entry = [&](uint32_t id) -> uint32_t {
    if (id + 1 < data_sectors_) return id + 1;
    if (id + 1 == data_sectors_ || id == dir) return kEndOfChain;
    if (id < first_difat) return kFatSector;
    if (id < used) return kDifatSector;
    return kFree;
  };
  for (uint32_t k = 0; k < fat_sectors_; ++k) {
    for (uint32_t i = 0; i < kIdsPerSector; ++i)
      Store32(s + 4 * i, fat_entry(k * kIdsPerSector + i));
    PutSector(s);
  }
  // The extension lists the table's sectors past the header's 109, 127 a sector, each sector
  // ending with the next one's id.
  for (uint32_t k = 0; k < difat_sectors_; ++k) {
    for (uint32_t i = 0; i + 1 < kIdsPerSector; ++i) {
      const uint32_t n = kHeaderDifat + k * (kIdsPerSector - 1) + i;
      Store32(s + 4 * i, n < fat_sectors_ ? first_fat + n : kFree);
    }
    Store32(s + kSectorSize - 4, k + 1 < difat_sectors_ ? first_difat + k + 1 : kEndOfChain);
    PutSector(s);
  }
  return ok_;
}

}  // namespace qm::cfb
