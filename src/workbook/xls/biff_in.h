// Building blocks of the .xls reader: the record walk, record bodies that run on into CONTINUE
// records, and text in BIFF8 unicode strings or in the code page of older files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "../bytes.h"

namespace qm::xls {

// An RK number: a 30-bit integer or the top 30 bits of a double, either possibly divided by 100.
double RkValue(uint32_t rk);

// Bytes in a Windows code page as UTF-8 (BIFF5 and older store text that way). The conversion is
// the system's: iconv on POSIX systems, MultiByteToWideChar on Windows (code_page.cpp).
class CodePage {
 public:
  CodePage() = default;
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;
  ~CodePage() { Close(); }
  void Set(uint16_t cp) {
    if (cp == cp_) return;
    Close();
    cp_ = cp;
  }
  uint16_t cp() const { return cp_; }
  void Convert(const uint8_t* p, size_t n, std::string& out);

 private:
  void Open();
  void Close();
  uint16_t cp_ = 1252;
  bool opened_ = false;
  // The iconv descriptor, or on Windows the code page number itself; kNone when the code page
  // is unknown to the system and none of its fallbacks is known either.
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;
};

struct BiffRecord {
  uint16_t id = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  size_t offset = 0;  // of the header within the stream
};

// Walks the records of a stream. A record whose body runs past the end stops the walk and
// marks the stream truncated.
class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size, size_t pos = 0)
      : data_(data), size_(size), pos_(pos) {}
  bool Next(BiffRecord& r) {
    if (pos_ + 4 > size_) {
      truncated_ = true;  // the stream ended before the EOF record
      return false;
    }
    uint32_t n = le::U16(data_ + pos_ + 2);
    if (pos_ + 4 + n > size_) {
      truncated_ = true;
      return false;
    }
    r.id = le::U16(data_ + pos_);
    r.size = n;
    r.offset = pos_;
    r.data = data_ + pos_ + 4;
    pos_ += 4 + n;
    return true;
  }
  // The next record's id without consuming it; 0xFFFF at the end.
  uint16_t PeekId() const { return pos_ + 4 <= size_ ? le::U16(data_ + pos_) : 0xFFFF; }
  size_t pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  bool truncated() const { return truncated_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  bool truncated_ = false;
};

// A record body together with its CONTINUE records, read as one sequence; a string's characters
// that cross into a CONTINUE restart with one option byte that may switch between 8-bit and
// 16-bit characters.
class Pieces {
 public:
  void Clear() {
    segs_.clear();
    seg_ = 0;
    off_ = 0;
  }
  void Add(const uint8_t* p, size_t n) { segs_.push_back({p, n}); }
  // Adds the CONTINUE records that follow in `rr`.
  void AddContinues(RecordReader& rr);
  bool AtEnd() {
    Normalize();
    return seg_ >= segs_.size();
  }
  size_t Left() const {
    size_t n = 0;
    for (size_t i = seg_; i < segs_.size(); ++i) n += segs_[i].size() - (i == seg_ ? off_ : 0);
    return n;
  }
  bool U8(uint8_t& v) {
    Normalize();
    if (seg_ >= segs_.size()) return false;
    v = segs_[seg_][off_++];
    return true;
  }
  bool U16v(uint16_t& v) {
    uint8_t a, b;
    if (!U8(a) || !U8(b)) return false;
    v = static_cast<uint16_t>(a | b << 8);
    return true;
  }
  bool U32v(uint32_t& v) {
    uint16_t a, b;
    if (!U16v(a) || !U16v(b)) return false;
    v = a | static_cast<uint32_t>(b) << 16;
    return true;
  }
  bool Skip(size_t n);
  // `cch` characters, starting with 16-bit ones when `wide`.
  bool Chars(size_t cch, bool wide, std::string& out);

 private:
  void Normalize() {
    while (seg_ < segs_.size() && off_ >= segs_[seg_].size()) {
      ++seg_;
      off_ = 0;
    }
  }
  std::vector<std::span<const uint8_t>> segs_;
  size_t seg_ = 0;
  size_t off_ = 0;
};

// A BIFF8 unicode string: length (16- or 8-bit), options, optional run and phonetic sizes, the
// characters, then the runs and the phonetic block, all of which may cross record boundaries.
bool ReadUnicode(Pieces& in, bool long_len, std::string& out);

// A BIFF8 unicode string inside one record body; advances `pos`.
bool ReadUnicodeFlat(const uint8_t* p, size_t n, size_t& pos, bool long_len, std::string& out);

// The text of a file: BIFF8 unicode strings, or byte strings in the file's code page before.
struct BiffText {
  int biff = 8;
  CodePage codepage;
  // A BIFF5-and-older byte string with an 8- or 16-bit length; a BIFF8 unicode string otherwise.
  bool ByteString(const uint8_t* p, size_t n, size_t& pos, bool long_len, std::string& out);
};

}  // namespace qm::xls
