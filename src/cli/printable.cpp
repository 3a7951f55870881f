#include "cli/printable.h"

#include <cstdio>

namespace qm {

std::string Printable(const std::string& s, bool breaks) {
  std::string out;
  out.reserve(s.size());
  auto hex = [&out](const char* prefix, unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s%02x", prefix, v);
    out += buf;
  };
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (breaks && (b == '\r' || b == '\n')) {
        out += '\n';
        i += b == '\r' && i + 1 < s.size() && s[i + 1] == '\n' ? 2 : 1;
        continue;
      }
      if ((b < 0x20 && b != '\t') || b == 0x7F)
        hex("\\x", b);
      else
        out += static_cast<char>(b);
      ++i;
      continue;
    }
    // The length of the sequence and the bounds of its second byte (overlong forms, surrogates
    // and code points past U+10FFFF are not UTF-8).
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      ok = k == 1 ? c >= lo && c <= hi : c >= 0x80 && c <= 0xBF;
    }
    if (!ok) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)
      hex("\\u00", static_cast<unsigned char>(s[i + 1]));  // C1 control, e.g. CSI
    else
      out.append(s, i, n);
    i += n;
  }
  return out;
}

size_t DisplayWidth(const std::string& s) {
  size_t w = 0;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    w += len >= 3 ? 2 : 1;
    i += len;
  }
  return w;
}

}  // namespace qm
