#include "utf.h"

#include <algorithm>

namespace qm {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t Utf8SeqLen(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i), lo = 0x80, hi = 0xBF;
  size_t n;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  if (n == 3 && c == 0xEF && b(i + 1) == 0xBF && b(i + 2) >= 0xBE) return 0;
  return n;
}

namespace {

// The code point at s[i] under kReplace: a well-formed sequence, or U+FFFD for one byte.
uint32_t DecodeReplacing(std::string_view s, size_t i, size_t& len) {
  auto c = static_cast<unsigned char>(s[i]);
  len = Utf8SeqLen(s, i);
  switch (len) {
    case 1:
      return c;
    case 2:
      return ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
    case 3:
      return ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
    case 4:
      return ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
             (s[i + 3] & 0x3Fu);
    default:
      len = 1;
      return 0xFFFD;
  }
}

// The code point at s[i] under kFail; false when the byte pattern is broken.
bool DecodePattern(std::string_view s, size_t i, size_t& len, uint32_t& cp) {
  auto c = static_cast<uint8_t>(s[i]);
  size_t extra;
  if (c < 0x80) {
    cp = c, extra = 0;
  } else if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F, extra = 1;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F, extra = 2;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07, extra = 3;
  } else {
    return false;
  }
  if (i + extra >= s.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    auto d = static_cast<uint8_t>(s[i + k]);
    if ((d & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (d & 0x3F);
  }
  len = extra + 1;
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view s, std::u16string& out, BadUtf8 bad, size_t limit, bool* cut) {
  const size_t start = out.size();
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    uint32_t cp;
    if (bad == BadUtf8::kReplace) {
      cp = DecodeReplacing(s, i, len);
    } else if (!DecodePattern(s, i, len, cp)) {
      return false;
    }
    const size_t need = cp >= 0x10000 ? 2 : 1;
    if (out.size() - start + need > limit) {
      if (cut) *cut = true;
      break;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view s, size_t limit, bool* cut) {
  std::u16string out;
  out.reserve(std::min(s.size(), limit));
  Utf8ToUtf16(s, out, BadUtf8::kReplace, limit, cut);
  return out;
}

std::u16string Latin1ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char c : s) out.push_back(static_cast<unsigned char>(c));
  return out;
}

size_t Utf16Length(std::string_view s) {
  size_t n = 0;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}

std::string CutUtf16(std::string_view s, size_t units) {
  size_t used = 0, i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    used += len == 4 ? 2 : 1;
    if (used > units) break;
    i += len;
  }
  return std::string(s.substr(0, std::min(i, s.size())));
}

void Utf16ToUtf8::Unit(uint16_t u) {
  if (pending_) {
    if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(out_, 0x10000 + ((pending_ - 0xD800) << 10) + (u - 0xDC00));
      pending_ = 0;
      return;
    }
    Lonely(pending_);
    pending_ = 0;
  }
  if (u >= 0xD800 && u <= 0xDBFF)
    pending_ = u;
  else if (u >= 0xDC00 && u <= 0xDFFF)
    Lonely(u);
  else
    AppendUtf8(out_, u);
}

void Utf16ToUtf8::UnitsLE(const uint8_t* p, size_t count) {
  auto unit = [p](size_t i) {
    return static_cast<uint32_t>(p[2 * i]) | static_cast<uint32_t>(p[2 * i + 1]) << 8;
  };
  size_t i = 0;
  while (i < count) {
    if (pending_ == 0) {
      // A run of units outside the surrogate range is measured, then written straight into
      // the text: a column of names decodes most of a workbook's characters here.
      size_t end = i, bytes = 0;
      for (; end < count; ++end) {
        const uint32_t u = unit(end);
        if (u >= 0xD800 && u <= 0xDFFF) break;
        bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
      }
      const size_t at = out_.size();
      out_.resize(at + bytes);
      char* o = out_.data() + at;
      for (; i < end; ++i) {
        const uint32_t u = unit(i);
        if (u < 0x80) {
          *o++ = static_cast<char>(u);
        } else if (u < 0x800) {
          *o++ = static_cast<char>(0xC0 | u >> 6);
          *o++ = static_cast<char>(0x80 | (u & 0x3F));
        } else {
          *o++ = static_cast<char>(0xE0 | u >> 12);
          *o++ = static_cast<char>(0x80 | (u >> 6 & 0x3F));
          *o++ = static_cast<char>(0x80 | (u & 0x3F));
        }
      }
      if (i == count) return;
    }
    Unit(static_cast<uint16_t>(unit(i)));
    ++i;
  }
}

void AppendLatin1(std::string& out, const uint8_t* p, size_t count) {
  size_t high = 0;
  for (size_t i = 0; i < count; ++i) high += p[i] >> 7;
  if (high == 0) {
    out.append(reinterpret_cast<const char*>(p), count);
    return;
  }
  const size_t at = out.size();
  out.resize(at + count + high);
  char* o = out.data() + at;
  for (size_t i = 0; i < count; ++i) {
    if (p[i] < 0x80) {
      *o++ = static_cast<char>(p[i]);
    } else {
      *o++ = static_cast<char>(0xC0 | p[i] >> 6);
      *o++ = static_cast<char>(0x80 | (p[i] & 0x3F));
    }
  }
}

void Utf16ToUtf8::Finish() {
  if (pending_) Lonely(pending_);
  pending_ = 0;
}

}  // namespace qm
