#include "biff_out.h"

#include <algorithm>
#include <cmath>

#include "../utf.h"
#include "biff_records.h"

namespace qm::xls {

void BiffBuffer::ContinuedChars(const std::u16string& s, size_t from, bool wide) {
  const size_t unit = wide ? 2 : 1;
  size_t i = from;
  while (i < s.size()) {
    size_t room = (kMaxRecordData - RecordDataSize()) / unit;
    size_t k = std::min(s.size() - i, room);
    // Keep surrogate pairs together: readers decode each record's piece on its own.
    if (wide && k > 0 && i + k < s.size() && s[i + k - 1] >= 0xD800 && s[i + k - 1] < 0xDC00) --k;
    Chars(s, i, k, wide);
    i += k;
    if (i < s.size()) {
      End();
      Begin(kContinue);
      U8(wide ? 1 : 0);
    }
  }
}

void BiffBuffer::ContinuedString(const std::u16string& s, bool count16) {
  bool wide = !Fits8Bit(s);
  size_t header = (count16 ? 2 : 1) + 1;
  if (RecordDataSize() + header + (s.empty() ? 0 : (wide ? 2 : 1)) > kMaxRecordData) {
    End();
    Begin(kContinue);
  }
  if (count16)
    U16(static_cast<uint16_t>(s.size()));
  else
    U8(static_cast<uint8_t>(s.size()));
  U8(wide ? 1 : 0);
  ContinuedChars(s, 0, wide);
}

bool EncodeRk(double d, uint32_t* rk) {
  if (std::isnan(d) || std::isinf(d)) return false;
  // Negative zero keeps its sign through the double form below.
  if (d == std::floor(d) && d >= -536870912.0 && d < 536870912.0 && !(d == 0 && std::signbit(d))) {
    *rk = (static_cast<uint32_t>(static_cast<int32_t>(d)) << 2) | 2;
    return true;
  }
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  if ((bits & 0x3FFFFFFFFull) == 0) {
    *rk = static_cast<uint32_t>(bits >> 32);
    return true;
  }
  double m = std::round(d * 100);
  if (m >= -536870912.0 && m < 536870912.0 && m / 100 == d) {
    *rk = (static_cast<uint32_t>(static_cast<int32_t>(m)) << 2) | 3;
    return true;
  }
  return false;
}

void WriteShortString(BiffBuffer& b, std::string_view utf8, size_t limit) {
  std::u16string s = Utf8ToUtf16(utf8, limit);
  bool wide = !Fits8Bit(s);
  b.U8(static_cast<uint8_t>(s.size()));
  b.U8(wide ? 1 : 0);
  b.Chars(s, 0, s.size(), wide);
}

void WriteLongString(BiffBuffer& b, std::string_view utf8, size_t limit) {
  std::u16string s = Utf8ToUtf16(utf8, limit);
  bool wide = !Fits8Bit(s);
  b.U16(static_cast<uint16_t>(s.size()));
  b.U8(wide ? 1 : 0);
  b.Chars(s, 0, s.size(), wide);
}

}  // namespace qm::xls
