#include "encoding.h"

#include <cerrno>
#include <cstring>

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

}  // namespace

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
