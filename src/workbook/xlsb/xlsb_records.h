// BIFF12, the record stream of every binary part of an .xlsb package: a record type of one or
// two bytes and a size of one to four, seven bits each, then the body. Parts arrive from the zip
// reader in pieces; the splitter hands out whole records and keeps only the unfinished one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../bytes.h"
#include "../utf.h"

namespace qm::xlsb {

struct Record {
  uint32_t type = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

// The largest body a record may have here: shared strings and formulas stay far below it, a
// size beyond it is damage.
constexpr uint32_t kMaxRecordBody = 16u << 20;

// Reads the header at p[0..n); returns its length, 0 when more bytes are needed, or -1 when it
// is malformed.
inline int RecordHeader(const uint8_t* p, size_t n, uint32_t& type, uint32_t& size) {
  size_t i = 0;
  type = 0;
  for (int k = 0; k < 2; ++k) {
    if (i >= n) return 0;
    const uint8_t b = p[i++];
    type |= static_cast<uint32_t>(b & 0x7F) << (7 * k);
    if (!(b & 0x80)) break;
    if (k == 1) return -1;
  }
  size = 0;
  for (int k = 0; k < 4; ++k) {
    if (i >= n) return 0;
    const uint8_t b = p[i++];
    size |= static_cast<uint32_t>(b & 0x7F) << (7 * k);
    if (!(b & 0x80)) break;
    if (k == 3) return -1;
  }
  return static_cast<int>(i);
}

class RecordSplitter {
 public:
  enum class State { kOk, kStopped, kMalformed };

  // Takes the next piece of the part and calls `on(record)` for each record it completes;
  // `on` returns false to stop. Returns kOk while the walk goes on.
  template <class F>
  State Push(const char* data, size_t n, F&& on) {
    buf_.insert(buf_.end(), reinterpret_cast<const uint8_t*>(data),
                reinterpret_cast<const uint8_t*>(data) + n);
    size_t pos = 0;
    State state = State::kOk;
    while (pos < buf_.size()) {
      uint32_t type = 0, size = 0;
      const int h = RecordHeader(buf_.data() + pos, buf_.size() - pos, type, size);
      if (h < 0 || size > kMaxRecordBody) {
        state = State::kMalformed;
        break;
      }
      if (h == 0 || buf_.size() - pos - static_cast<size_t>(h) < size) break;
      Record r{type, buf_.data() + pos + h, size};
      pos += static_cast<size_t>(h) + size;
      if (!on(r)) {
        state = State::kStopped;
        break;
      }
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos));
    return state;
  }
  // Bytes of a record the part ended inside.
  size_t Leftover() const { return buf_.size(); }

 private:
  std::vector<uint8_t> buf_;
};

// A record body read front to back with every length checked; a read past the end leaves zeros
// and marks the body short.
class Body {
 public:
  explicit Body(const Record& r) : p_(r.data), n_(r.size) {}
  uint8_t U8() { return Fits(1) ? p_[pos_++] : 0; }
  uint16_t U16() {
    if (!Fits(2)) return 0;
    const uint16_t v = le::U16(p_ + pos_);
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Fits(4)) return 0;
    const uint32_t v = le::U32(p_ + pos_);
    pos_ += 4;
    return v;
  }
  double F64() {
    if (!Fits(8)) return 0;
    const double v = le::F64(p_ + pos_);
    pos_ += 8;
    return v;
  }
  // An XLWideString (a 32-bit count of UTF-16 units, then the units) as UTF-8. A nullable one
  // whose count is 0xFFFFFFFF reads as "".
  bool WideString(std::string& out) {
    out.clear();
    const uint32_t units = U32();
    if (units == 0xFFFFFFFFu) return !short_;
    if (short_ || (n_ - pos_) / 2 < units) {
      short_ = true;
      return false;
    }
    Utf16ToUtf8 utf8(out);
    for (uint32_t i = 0; i < units; ++i, pos_ += 2) utf8.Unit(le::U16(p_ + pos_));
    utf8.Finish();
    return true;
  }
  void Skip(size_t k) {
    if (Fits(k)) pos_ += k;
  }
  bool ok() const { return !short_; }

 private:
  bool Fits(size_t k) {
    if (!short_ && n_ - pos_ >= k) return true;
    short_ = true;
    return false;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool short_ = false;
};

}  // namespace qm::xlsb
