#include "biff_in.h"

#include <algorithm>
#include <cstring>

#include "../utf.h"
#include "biff_records.h"

namespace qm::xls {

double RkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, 8);
  }
  return (rk & 1) ? v / 100 : v;
}

void Pieces::AddContinues(RecordReader& rr) {
  while (rr.PeekId() == kContinue) {
    BiffRecord c;
    if (!rr.Next(c)) break;
    Add(c.data, c.size);
  }
}

bool Pieces::Skip(size_t n) {
  while (n > 0) {
    Normalize();
    if (seg_ >= segs_.size()) return false;
    size_t k = std::min(n, segs_[seg_].size() - off_);
    off_ += k;
    n -= k;
  }
  return true;
}

bool Pieces::Chars(size_t cch, bool wide, std::string& out) {
  Utf16ToUtf8 b(out);
  bool first = true;
  while (cch > 0) {
    if (!first || off_ >= (seg_ < segs_.size() ? segs_[seg_].size() : 0)) {
      if (off_ >= (seg_ < segs_.size() ? segs_[seg_].size() : 0)) {
        // Crossing into the next record: its first byte repeats the option flags.
        ++seg_;
        off_ = 0;
        while (seg_ < segs_.size() && segs_[seg_].empty()) ++seg_;
        if (seg_ >= segs_.size()) break;
        wide = segs_[seg_][off_++] & 1;
      }
    }
    first = false;
    std::span<const uint8_t> s = segs_[seg_];
    size_t avail = (s.size() - off_) / (wide ? 2 : 1);
    size_t k = std::min(cch, avail);
    if (k == 0) {
      if (off_ < s.size()) off_ = s.size();  // half a unit left: cannot be split, skip it
      continue;
    }
    const uint8_t* p = s.data() + off_;
    if (wide) {
      b.UnitsLE(p, k);
    } else {
      // A high surrogate left by a wide piece before is lone either way.
      b.Finish();
      AppendLatin1(out, p, k);
    }
    off_ += k * (wide ? 2 : 1);
    cch -= k;
  }
  b.Finish();
  return cch == 0;
}

bool ReadUnicode(Pieces& in, bool long_len, std::string& out) {
  uint16_t cch = 0;
  if (long_len) {
    if (!in.U16v(cch)) return false;
  } else {
    uint8_t c8;
    if (!in.U8(c8)) return false;
    cch = c8;
  }
  uint8_t flags;
  if (!in.U8(flags)) return false;
  uint16_t runs = 0;
  uint32_t ext = 0;
  if ((flags & 0x08) && !in.U16v(runs)) return false;
  if ((flags & 0x04) && !in.U32v(ext)) return false;
  if (!in.Chars(cch, flags & 1, out)) return false;
  return in.Skip(size_t{runs} * 4) && in.Skip(ext);
}

bool ReadUnicodeFlat(const uint8_t* p, size_t n, size_t& pos, bool long_len, std::string& out) {
  Pieces in;
  in.Add(p + pos, n - pos);
  size_t before = in.Left();
  if (!ReadUnicode(in, long_len, out)) return false;
  pos += before - in.Left();
  return true;
}

bool BiffText::ByteString(const uint8_t* p, size_t n, size_t& pos, bool long_len,
                          std::string& out) {
  if (biff >= 8) return ReadUnicodeFlat(p, n, pos, long_len, out);
  size_t need = long_len ? 2 : 1;
  if (pos + need > n) return false;
  size_t cch = long_len ? le::U16(p + pos) : p[pos];
  pos += need;
  cch = std::min(cch, n - pos);  // older writers are sloppy with lengths; take what is there
  codepage.Convert(p + pos, cch, out);
  pos += cch;
  return true;
}

}  // namespace qm::xls
