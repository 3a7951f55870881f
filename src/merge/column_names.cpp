#include "merge/column_names.h"

#include <algorithm>
#include <array>

#include "workbook/utf.h"

namespace qm::byname {

namespace {

// One code point read from UTF-8; a byte that starts no well-formed sequence is taken alone and
// reported as not decoded, so that it can be copied unchanged.
struct Decoded {
  uint32_t cp = 0;
  size_t len = 1;
  bool ok = false;
};

Decoded Decode(std::string_view s, size_t i) {
  const size_t n = Utf8SeqLen(s, i);
  if (n == 0) return {static_cast<unsigned char>(s[i]), 1, false};
  const auto b = [&](size_t k) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k]));
  };
  uint32_t cp = 0;
  switch (n) {
    case 1:
      cp = b(0);
      break;
    case 2:
      cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
      break;
    case 3:
      cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
      break;
    default:
      cp = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
      break;
  }
  return {cp, n, true};
}

// Single characters whose NFKC form is a short ASCII (or other) text, for the signs header
// texts use: units, numbering, letterlike symbols.
struct Folding {
  uint32_t cp;
  const char* to;
};
constexpr std::array kFoldings{
    Folding{0x00AA, "a"},        Folding{0x00B2, "2"},       Folding{0x00B3, "3"},
    Folding{0x00B5, "\u03BC"},   Folding{0x00B9, "1"},       Folding{0x00BA, "o"},
    Folding{0x2070, "0"},        Folding{0x2071, "i"},       Folding{0x207F, "n"},
    Folding{0x2103, "\u00B0C"},  Folding{0x2109, "\u00B0F"}, Folding{0x2116, "No"},
    Folding{0x2121, "TEL"},      Folding{0x2122, "TM"},      Folding{0x2126, "\u03A9"},
    Folding{0x212A, "K"},        Folding{0x212B, "\u00C5"},  Folding{0x3231, "(\u682A)"},
    Folding{0x3232, "(\u6709)"}, Folding{0x338E, "mg"},      Folding{0x338F, "kg"},
    Folding{0x3390, "Hz"},       Folding{0x339C, "mm"},      Folding{0x339D, "cm"},
    Folding{0x339E, "km"},       Folding{0x33A1, "m2"},      Folding{0x33A5, "m3"},
    Folding{0x33C4, "cc"},       Folding{0x33CF, "kt"},      Folding{0xFB00, "ff"},
    Folding{0xFB01, "fi"},       Folding{0xFB02, "fl"},      Folding{0xFFE0, "\u00A2"},
    Folding{0xFFE1, "\u00A3"},   Folding{0xFFE2, "\u00AC"},  Folding{0xFFE4, "\u00A6"},
    Folding{0xFFE5, "\u00A5"},   Folding{0xFFE6, "\u20A9"},  Folding{0xFF61, "\u3002"},
    Folding{0xFF62, "\u300C"},   Folding{0xFF63, "\u300D"},  Folding{0xFF64, "\u3001"},
    Folding{0xFF65, "\u30FB"},
};

const char* const kRoman[] = {"I",  "II", "III", "IV",  "V", "VI", "VII", "VIII",
                              "IX", "X",  "XI",  "XII", "L", "C",  "D",   "M"};

void AppendNumber(std::string& out, int n) {
  out += std::to_string(n);
}

// Appends the NFKC form of one code point, for the characters this folding covers; false for
// the others, which stay as they are.
bool AppendFolded(std::string& out, uint32_t cp) {
  if (cp >= 0xFF01 && cp <= 0xFF5E) {  // full-width ASCII
    out.push_back(static_cast<char>(cp - 0xFF01 + 0x21));
    return true;
  }
  if (cp >= 0x2080 && cp <= 0x2089) {  // subscript digits
    AppendNumber(out, static_cast<int>(cp - 0x2080));
    return true;
  }
  if (cp >= 0x2074 && cp <= 0x2079) {  // superscript digits 4 to 9
    AppendNumber(out, static_cast<int>(cp - 0x2070));
    return true;
  }
  if (cp >= 0x2460 && cp <= 0x2473) {  // ① to ⑳
    AppendNumber(out, static_cast<int>(cp - 0x2460 + 1));
    return true;
  }
  if (cp >= 0x2474 && cp <= 0x2487) {  // ⑴ to ⒇
    out += '(';
    AppendNumber(out, static_cast<int>(cp - 0x2474 + 1));
    out += ')';
    return true;
  }
  if (cp >= 0x2488 && cp <= 0x249B) {  // ⒈ to ⒛
    AppendNumber(out, static_cast<int>(cp - 0x2488 + 1));
    out += '.';
    return true;
  }
  if (cp == 0x24EA) {  // ⓪
    out += '0';
    return true;
  }
  if (cp >= 0x3251 && cp <= 0x325F) {  // ㉑ to ㉟
    AppendNumber(out, static_cast<int>(cp - 0x3251 + 21));
    return true;
  }
  if (cp >= 0x32B1 && cp <= 0x32BF) {  // ㊱ to ㊿
    AppendNumber(out, static_cast<int>(cp - 0x32B1 + 36));
    return true;
  }
  if (cp >= 0x2160 && cp <= 0x217F) {  // Roman numerals, upper then lower case
    std::string roman = kRoman[(cp - 0x2160) % 16];
    if (cp >= 0x2170)
      std::transform(roman.begin(), roman.end(), roman.begin(),
                     [](char c) { return static_cast<char>(c - 'A' + 'a'); });
    out += roman;
    return true;
  }
  for (const Folding& f : kFoldings)
    if (f.cp == cp) {
      out += f.to;
      return true;
    }
  return false;
}

template <class Fn>
void ForEachCodePoint(std::string_view s, Fn fn) {
  for (size_t i = 0; i < s.size();) {
    const Decoded d = Decode(s, i);
    fn(d, s.substr(i, d.len));
    i += d.len;
  }
}

}  // namespace

bool IsWhiteSpace(uint32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

std::string MatchName(std::string_view header) {
  std::string folded;
  folded.reserve(header.size());
  ForEachCodePoint(header, [&](const Decoded& d, std::string_view bytes) {
    if (d.ok && IsWhiteSpace(d.cp)) return;
    if (!d.ok || !AppendFolded(folded, d.cp)) folded.append(bytes);
  });
  // Folding can bring whitespace only from full-width space forms, which are handled above as
  // whitespace already; case folding is ASCII only.
  std::string out;
  out.reserve(folded.size());
  for (char c : folded) out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  return out;
}

std::string WithoutWhiteSpace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](const Decoded& d, std::string_view bytes) {
    if (!(d.ok && IsWhiteSpace(d.cp))) out.append(bytes);
  });
  return out;
}

std::string_view TrimWhiteSpace(std::string_view text) {
  size_t first = text.size(), last = 0;
  ForEachCodePoint(text, [&, at = size_t{0}](const Decoded& d, std::string_view bytes) mutable {
    if (!(d.ok && IsWhiteSpace(d.cp))) {
      first = std::min(first, at);
      last = at + bytes.size();
    }
    at += bytes.size();
  });
  return first >= last ? std::string_view() : text.substr(first, last - first);
}

bool IsTotalsLabel(std::string_view text) {
  std::string s = WithoutWhiteSpace(text);
  for (std::string_view colon : {":", "："})
    if (s.size() >= colon.size() && s.compare(s.size() - colon.size(), colon.size(), colon) == 0) {
      s.resize(s.size() - colon.size());
      break;
    }
  return s == "合计" || s == "总计" || s == "小计" || s == "共计" || s == "累计";
}

}  // namespace qm::byname
