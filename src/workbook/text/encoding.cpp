#include "encoding.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "../utf.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace qm::text {
namespace {

bool AllAscii8(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return (w & 0x8080808080808080ull) == 0;
}

void DecodeUtf16(const uint8_t* p, size_t n, bool big_endian, std::string& out) {
  out.reserve(out.size() + n + n / 2);
  Utf16ToUtf8 utf8(out);
  for (size_t i = 0; i + 1 < n; i += 2)
    utf8.Unit(big_endian ? static_cast<uint16_t>(p[i] << 8 | p[i + 1])
                         : static_cast<uint16_t>(p[i + 1] << 8 | p[i]));
  utf8.Finish();
  // An odd last byte is half a character.
  if (n % 2) AppendUtf8(out, 0xFFFD);
}

struct Label {
  const char* label;
  const char* name;
  const char* iconv_name;
  unsigned code_page;
};

// The labels web pages use, as browsers map them (the WHATWG encoding list), for the character
// sets an office's exports come in. ASCII and Latin-1 pages are read as windows-1252, as
// browsers read them.
const Label kLabels[] = {
    {"gbk", "GB18030", "GB18030", 54936},
    {"gb2312", "GB18030", "GB18030", 54936},
    {"gb_2312", "GB18030", "GB18030", 54936},
    {"gb_2312-80", "GB18030", "GB18030", 54936},
    {"csgb2312", "GB18030", "GB18030", 54936},
    {"chinese", "GB18030", "GB18030", 54936},
    {"x-gbk", "GB18030", "GB18030", 54936},
    {"cp936", "GB18030", "GB18030", 54936},
    {"windows-936", "GB18030", "GB18030", 54936},
    {"gb18030", "GB18030", "GB18030", 54936},
    {"big5", "Big5", "CP950", 950},
    {"big5-hkscs", "Big5", "CP950", 950},
    {"cn-big5", "Big5", "CP950", 950},
    {"x-x-big5", "Big5", "CP950", 950},
    {"shift_jis", "Shift_JIS", "CP932", 932},
    {"shift-jis", "Shift_JIS", "CP932", 932},
    {"sjis", "Shift_JIS", "CP932", 932},
    {"ms_kanji", "Shift_JIS", "CP932", 932},
    {"windows-31j", "Shift_JIS", "CP932", 932},
    {"x-sjis", "Shift_JIS", "CP932", 932},
    {"euc-jp", "EUC-JP", "EUC-JP", 20932},
    {"euc-kr", "EUC-KR", "CP949", 949},
    {"ks_c_5601-1987", "EUC-KR", "CP949", 949},
    {"windows-949", "EUC-KR", "CP949", 949},
    {"iso-8859-1", "windows-1252", "CP1252", 1252},
    {"latin1", "windows-1252", "CP1252", 1252},
    {"l1", "windows-1252", "CP1252", 1252},
    {"us-ascii", "windows-1252", "CP1252", 1252},
    {"ascii", "windows-1252", "CP1252", 1252},
    {"cp1252", "windows-1252", "CP1252", 1252},
    {"windows-1250", "windows-1250", "CP1250", 1250},
    {"windows-1251", "windows-1251", "CP1251", 1251},
    {"windows-1252", "windows-1252", "CP1252", 1252},
    {"windows-1253", "windows-1253", "CP1253", 1253},
    {"windows-1254", "windows-1254", "CP1254", 1254},
    {"windows-1255", "windows-1255", "CP1255", 1255},
    {"windows-1256", "windows-1256", "CP1256", 1256},
    {"windows-1257", "windows-1257", "CP1257", 1257},
    {"windows-1258", "windows-1258", "CP1258", 1258},
    {"windows-874", "windows-874", "CP874", 874},
    {"tis-620", "windows-874", "CP874", 874},
    {"iso-8859-2", "ISO-8859-2", "ISO-8859-2", 28592},
    {"iso-8859-5", "ISO-8859-5", "ISO-8859-5", 28595},
    {"iso-8859-15", "ISO-8859-15", "ISO-8859-15", 28605},
    {"koi8-r", "KOI8-R", "KOI8-R", 20866},
    {"koi8-u", "KOI8-U", "KOI8-U", 21866},
    {"macintosh", "macintosh", "MACINTOSH", 10000},
    {"mac", "macintosh", "MACINTOSH", 10000},
    {"csmacintosh", "macintosh", "MACINTOSH", 10000},
    {"x-mac-roman", "macintosh", "MACINTOSH", 10000},
};

#ifdef _WIN32

void DecodeCodePage(unsigned cp, const uint8_t* p, size_t n, std::string& out) {
  // Sources are at most 1 GiB, within what one call takes.
  const char* in = reinterpret_cast<const char*>(p);
  const int len = static_cast<int>(n);
  const int units = MultiByteToWideChar(cp, 0, in, len, nullptr, 0);
  if (units <= 0) return AppendSanitizedUtf8(p, n, out);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(cp, 0, in, len, wide.data(), units);
  out.reserve(out.size() + wide.size() * 3 / 2);
  Utf16ToUtf8 utf8(out);
  for (wchar_t u : wide) utf8.Unit(static_cast<uint16_t>(u));
  utf8.Finish();
}

#else

void DecodeCodePage(const char* name, const uint8_t* p, size_t n, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return AppendSanitizedUtf8(p, n, out);
  out.reserve(out.size() + n + n / 2);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
  size_t in_left = n;
  char buf[65536];
  while (in_left > 0) {
    char* o = buf;
    size_t o_left = sizeof buf;
    const size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf, sizeof buf - o_left);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte that starts no character, or a character cut off by the end: one replacement
      // character, and on with the next byte.
      AppendUtf8(out, 0xFFFD);
      ++in;
      --in_left;
    }
  }
  iconv_close(cd);
}

#endif

// The two-byte codes of GB18030: leads 0x81-0xFE, trails 0x40-0xFE (0x7F is none).
constexpr int kGbTrails = 0xFF - 0x40;

#ifdef _WIN32
// The code page the two-byte codes are read through: GB18030, or GBK where it is missing.
UINT GbCodePage() {
  return SystemKnowsGb18030() ? 54936 : 936;
}
#endif

// Each two-byte code's character as the system's converter reads it (0: none), made once.
const uint16_t* Gb18030Table() {
  static const std::vector<uint16_t> table = [] {
    std::vector<uint16_t> t(126 * kGbTrails, 0);
#ifdef _WIN32
    const UINT cp = GbCodePage();
#else
    iconv_t cd = iconv_open("UTF-16LE", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return t;
#endif
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        uint16_t unit = 0;
#ifdef _WIN32
        wchar_t w[2];
        if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in, 2, w, 2) == 1)
          unit = static_cast<uint16_t>(w[0]);
#else
        char out[8];
        char* ip = in;
        char* op = out;
        size_t il = 2, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && il == 0 &&
            sizeof out - ol == 2)
          unit = static_cast<uint16_t>(static_cast<uint8_t>(out[0]) | static_cast<uint8_t>(out[1])
                                                                          << 8);
#endif
        t[static_cast<size_t>((lead - 0x81) * kGbTrails + trail - 0x40)] = unit;
      }
    }
#ifndef _WIN32
    iconv_close(cd);
#endif
    return t;
  }();
  return table.data();
}

}  // namespace

bool SystemKnowsGb18030() {
#ifdef _WIN32
  static const bool known = IsValidCodePage(54936) != 0;
  return known;
#else
  return true;
#endif
}

Gb18030Decoder::Gb18030Decoder() : table_(Gb18030Table()) {}

Gb18030Decoder::~Gb18030Decoder() {
#ifndef _WIN32
  if (converter_) iconv_close(static_cast<iconv_t>(converter_));
#endif
}

void Gb18030Decoder::Decode(const uint8_t* p, size_t n, std::string& out) {
  out.reserve(out.size() + n + n / 2);
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run + 8 <= n && AllAscii8(p + run)) run += 8;
    while (run < n && p[run] < 0x80) ++run;
    out.append(reinterpret_cast<const char*>(p + i), run - i);
    i = run;
    if (i == n) break;
    const uint8_t lead = p[i];
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < n) {
      const uint8_t trail = p[i + 1];
      if (trail >= 0x40 && trail != 0xFF) {
        if (const uint16_t u = table_[(lead - 0x81) * kGbTrails + trail - 0x40]) {
          // Every two-byte code is above U+007F; nearly all are three bytes of UTF-8.
          const char utf8[3] = {static_cast<char>(0xE0 | u >> 12),
                                static_cast<char>(0x80 | (u >> 6 & 0x3F)),
                                static_cast<char>(0x80 | (u & 0x3F))};
          if (u >= 0x800)
            out.append(utf8, 3);
          else
            AppendUtf8(out, u);
          i += 2;
          continue;
        }
      } else if (trail >= 0x30 && trail <= 0x39 && i + 3 < n && p[i + 2] >= 0x81 &&
                 p[i + 2] <= 0xFE && p[i + 3] >= 0x30 && p[i + 3] <= 0x39) {
        DecodeFour(p + i, out);
        i += 4;
        continue;
      }
    }
    AppendUtf8(out, 0xFFFD);
    ++i;
  }
}

void Gb18030Decoder::DecodeFour(const uint8_t* p, std::string& out) {
#ifdef _WIN32
  if (!SystemKnowsGb18030()) {
    // Beyond the BMP the codes count up from U+10000 at 90 30 81 30.
    const uint32_t linear =
        ((static_cast<uint32_t>(p[0] - 0x90) * 10 + (p[1] - 0x30)) * 126 + (p[2] - 0x81)) * 10 +
        (p[3] - 0x30);
    return AppendUtf8(out, p[0] >= 0x90 && linear <= 0xFFFFF ? 0x10000 + linear : 0xFFFD);
  }
  wchar_t w[4];
  const int units =
      MultiByteToWideChar(54936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(p), 4, w, 4);
  if (units <= 0) return AppendUtf8(out, 0xFFFD);
  Utf16ToUtf8 utf8(out);
  for (int k = 0; k < units; ++k) utf8.Unit(static_cast<uint16_t>(w[k]));
  utf8.Finish();
#else
  if (!converter_) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return AppendUtf8(out, 0xFFFD);
    converter_ = cd;
  }
  iconv_t cd = static_cast<iconv_t>(converter_);
  char in[4];
  std::memcpy(in, p, 4);
  char buf[8];
  char* ip = in;
  char* op = buf;
  size_t il = 4, ol = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0)
    return AppendUtf8(out, 0xFFFD);
  out.append(buf, sizeof buf - ol);
#endif
}

Bom DetectBom(const uint8_t* d, size_t n, size_t* length) {
  *length = 0;
  if (n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) return *length = 3, Bom::kUtf8;
  if (n >= 2 && d[0] == 0xFF && d[1] == 0xFE) return *length = 2, Bom::kUtf16Le;
  if (n >= 2 && d[0] == 0xFE && d[1] == 0xFF) return *length = 2, Bom::kUtf16Be;
  return Bom::kNone;
}

bool IsUtf8(const uint8_t* p, size_t n) {
  size_t i = 0;
  const std::string_view s(reinterpret_cast<const char*>(p), n);
  while (i < n) {
    if (i + 8 <= n && AllAscii8(p + i)) {
      i += 8;
    } else if (p[i] < 0x80) {
      ++i;
    } else {
      const size_t len = Utf8SeqLen(s, i);
      if (len == 0) {
        // U+FFFE and U+FFFF are no characters, but still UTF-8.
        if (!(i + 3 <= n && p[i] == 0xEF && p[i + 1] == 0xBF && (p[i + 2] & 0xFE) == 0xBE))
          return false;
        i += 3;
      } else {
        i += len;
      }
    }
  }
  return true;
}

void AppendSanitizedUtf8(const uint8_t* p, size_t n, std::string& out) {
  const std::string_view s(reinterpret_cast<const char*>(p), n);
  out.reserve(out.size() + n);
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && p[run] < 0x80) ++run;
    out.append(s.substr(i, run - i));
    i = run;
    if (i == n) break;
    const size_t len = Utf8SeqLen(s, i);
    if (len == 0) {
      AppendUtf8(out, 0xFFFD);
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
}

Charset Charset::Gb18030() {
  return Charset(Kind::kCodePage, "GB18030", "GB18030", 54936);
}

Charset Charset::ForBom(Bom bom) {
  switch (bom) {
    case Bom::kUtf16Le:
      return Utf16(false);
    case Bom::kUtf16Be:
      return Utf16(true);
    case Bom::kUtf8:
    case Bom::kNone:
      break;
  }
  return Utf8();
}

bool Charset::FromLabel(std::string_view label, Charset* out) {
  while (!label.empty() && (label.front() == ' ' || label.front() == '"' || label.front() == '\''))
    label.remove_prefix(1);
  while (!label.empty() && (label.back() == ' ' || label.back() == '"' || label.back() == '\''))
    label.remove_suffix(1);
  std::string lower(label);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  // A page that says UTF-16 in ASCII is not UTF-16; browsers read it as UTF-8.
  if (lower == "utf-8" || lower == "utf8" || lower == "unicode-1-1-utf-8" || lower == "utf-16" ||
      lower == "utf-16le" || lower == "utf-16be" || lower == "unicode") {
    *out = Utf8();
    return true;
  }
  for (const Label& l : kLabels) {
    if (lower == l.label) {
      *out = Charset(Kind::kCodePage, l.name, l.iconv_name, l.code_page);
      return true;
    }
  }
  return false;
}

void Charset::Decode(const uint8_t* p, size_t n, std::string& out) const {
  switch (kind_) {
    case Kind::kUtf8:
      return AppendSanitizedUtf8(p, n, out);
    case Kind::kUtf16Le:
    case Kind::kUtf16Be:
      return DecodeUtf16(p, n, kind_ == Kind::kUtf16Be, out);
    case Kind::kCodePage:
      break;
  }
  if (code_page_ == 54936) {
    // Where the system lacks GB18030 the decoder stands in for it with what it has.
    Gb18030Decoder gb;
    return gb.Decode(p, n, out);
  }
  // ASCII reads the same in every one of these sets but UTF-16.
  size_t i = 0;
  while (i + 8 <= n && AllAscii8(p + i)) i += 8;
  while (i < n && p[i] < 0x80) ++i;
  out.append(reinterpret_cast<const char*>(p), i);
  if (i == n) return;
#ifdef _WIN32
  DecodeCodePage(code_page_, p + i, n - i, out);
#else
  DecodeCodePage(iconv_name_, p + i, n - i, out);
#endif
}

}  // namespace qm::text
