// A small writer of compound files (version 3, 512-byte sectors) holding one stream under the
// root, which is all an .xls workbook needs. The stream's size is given first, so the whole
// layout is known before its bytes come and they can be streamed straight to the file:
// header, the stream's sectors, the directory, the allocation table, its extension (DIFAT).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qm::cfb {

class Writer {
 public:
  // Starts a compound file in `out` with one stream `name` of exactly `size` bytes (at least
  // 4,096, so it never lands in the mini stream; at most 2 GiB). Writes the header. False when
  // the size is out of range or the write fails.
  bool Begin(std::FILE* out, std::u16string name, uint64_t size);
  // The stream's next bytes.
  bool Write(const uint8_t* data, size_t n);
  // Pads the last sector and writes the directory and the allocation tables. False when fewer or
  // more bytes than announced were written, or a write failed.
  bool Finish();

 private:
  bool Put(const void* data, size_t n);
  bool PutSector(const uint8_t* sector);

  std::FILE* out_ = nullptr;
  std::u16string name_;
  uint64_t size_ = 0, written_ = 0;
  uint32_t data_sectors_ = 0, fat_sectors_ = 0, difat_sectors_ = 0;
  bool ok_ = false;
};

}  // namespace qm::cfb
