// Building blocks of the BIFF8 writer: a little-endian record buffer that knows the record size
// limit, strings that continue across records, and the RK number form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "../bytes.h"

namespace qm::xls {

// Records carry at most this many data bytes; longer content goes on in CONTINUE records.
constexpr size_t kMaxRecordData = 8224;
// The longest text a cell can hold, in UTF-16 units.
constexpr size_t kMaxCellChars = 32767;

// A sheet's records move to its temporary file once this many bytes are in memory: a small
// buffer used again and again was faster than one growing with the sheet (38 against 48 ms of
// CPU for a 9 MB sheet) and keeps memory flat. Tests lower it to spill small sheets.
inline size_t spill_threshold = 1u << 20;

// True when every unit fits in one byte, so the string can be stored compressed (Latin-1).
inline bool Fits8Bit(const std::u16string& s) {
  for (char16_t u : s)
    if (u > 0xFF) return false;
  return true;
}

// A growing byte stream of records. Offsets count from the buffer's start; positions add
// `base`, the buffer's place in the final stream. With a spill file, whole records move there
// whenever Spill() is called, so a large sheet never sits in memory at once.
class BiffBuffer {
 public:
  explicit BiffBuffer(size_t base = 0, FILE* spill = nullptr) : base_(base), spill_(spill) {}
  BiffBuffer(BiffBuffer&& o) noexcept
      : b_(std::move(o.b_)),
        base_(o.base_),
        rec_(o.rec_),
        spill_(o.spill_),
        flushed_(o.flushed_),
        failed_(o.failed_) {
    o.spill_ = nullptr;
  }
  BiffBuffer& operator=(BiffBuffer&&) = delete;
  ~BiffBuffer() {
    if (spill_) std::fclose(spill_);
  }

  // The bytes still in memory (all of them when nothing was spilled).
  std::vector<uint8_t>& bytes() { return b_; }
  size_t size() const { return flushed_ + b_.size(); }
  size_t Pos() const { return base_ + size(); }  // absolute position of the next byte
  FILE* spill_file() const { return spill_; }
  size_t spilled() const { return flushed_; }
  bool failed() const { return failed_; }

  // Moves what is in memory to the spill file once it is large; call between records only.
  void Spill() {
    if (!spill_ || b_.size() < spill_threshold) return;
    if (std::fwrite(b_.data(), 1, b_.size(), spill_) != b_.size()) failed_ = true;
    flushed_ += b_.size();
    b_.clear();
  }

  // Starts a record; its length is filled in by End().
  void Begin(uint16_t id) {
    rec_ = size();
    U16(id);
    U16(0);
  }
  void End() { le::Put16(&b_[rec_ - flushed_ + 2], static_cast<uint16_t>(size() - rec_ - 4)); }
  size_t RecordDataSize() const { return size() - rec_ - 4; }
  size_t RecordStart() const { return rec_; }

  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint16_t v) {
    uint8_t b[2];
    le::Put16(b, v);
    b_.insert(b_.end(), b, b + 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    le::Put32(b, v);
    b_.insert(b_.end(), b, b + 4);
  }
  void F64(double d) {
    uint8_t b[8];
    le::PutF64(b, d);
    b_.insert(b_.end(), b, b + 8);
  }
  void Bytes(const void* p, size_t n) {
    const auto* q = static_cast<const uint8_t*>(p);
    b_.insert(b_.end(), q, q + n);
  }
  // Overwrites four bytes at an offset, in memory or in the spill file.
  void Patch32(size_t off, uint32_t v) {
    uint8_t b[4];
    le::Put32(b, v);
    if (off >= flushed_) {
      std::memcpy(&b_[off - flushed_], b, 4);
      return;
    }
    if (std::fseek(spill_, static_cast<long>(off), SEEK_SET) != 0 ||
        std::fwrite(b, 1, 4, spill_) != 4 || std::fseek(spill_, 0, SEEK_END) != 0)
      failed_ = true;
  }

  // A whole record with no data or with small fixed fields.
  void Empty(uint16_t id) {
    Begin(id);
    End();
  }
  void Rec16(uint16_t id, uint16_t v) {
    Begin(id);
    U16(v);
    End();
  }

  // The characters of a string (no header) in the chosen width.
  void Chars(const std::u16string& s, size_t from, size_t count, bool wide) {
    for (size_t i = from; i < from + count; ++i) {
      if (wide)
        U16(s[i]);
      else
        U8(static_cast<uint8_t>(s[i]));
    }
  }

  // Writes the characters [from, end) of `s` into the open record, ending it and opening
  // CONTINUE records as it fills. A CONTINUE that carries characters begins with the grbit byte;
  // UTF-16 units are never split.
  void ContinuedChars(const std::u16string& s, size_t from, bool wide);

  // XLUnicodeString (16-bit count) that may run into CONTINUE records: the header never leaves
  // its first character behind. Used for SST entries and STRING records.
  void ContinuedString(const std::u16string& s, bool count16 = true);

 private:
  std::vector<uint8_t> b_;
  size_t base_ = 0;
  size_t rec_ = 0;
  FILE* spill_ = nullptr;
  size_t flushed_ = 0;
  bool failed_ = false;
};

// A string with an 8-bit (short) or 16-bit (long) character count, cut to `limit` units, inside
// the open record.
void WriteShortString(BiffBuffer& b, std::string_view utf8, size_t limit);
void WriteLongString(BiffBuffer& b, std::string_view utf8, size_t limit);

// The RK form of a number when it is exact: a 30-bit integer, the top 30 bits of the double, or
// a 30-bit integer divided by 100.
bool EncodeRk(double d, uint32_t* rk);

}  // namespace qm::xls
