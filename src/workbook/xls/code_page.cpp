// Text of the old .xls versions in their Windows code page, as UTF-8. POSIX systems convert with
// iconv, Windows with its own tables (iconv is not part of it).
#include <cerrno>
#include <string>

#include "../utf.h"
#include "biff_in.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace qm::xls {
namespace {

// Each byte as the character of the same number: what a file that claims UTF-16 in a byte
// string means, and the last resort when the system knows the code page not at all.
void Latin1(const uint8_t* p, size_t n, std::string& out) {
  for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
}

}  // namespace

void CodePage::Convert(const uint8_t* p, size_t n, std::string& out) {
  bool ascii = true;
  for (size_t i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
  if (ascii) {
    out.append(reinterpret_cast<const char*>(p), n);
    return;
  }
  if (cp_ == 1200 || cp_ == 0xFFFF) return Latin1(p, n, out);
  if (!opened_) Open();
  if (handle_ == kNone) return Latin1(p, n, out);
#ifdef _WIN32
  // Bytes that are no character of the code page come out as U+FFFD or the code page's
  // default character, as a spreadsheet program on Windows shows them.
  const UINT cp = static_cast<UINT>(handle_);
  const int len = static_cast<int>(n);
  const char* in = reinterpret_cast<const char*>(p);
  int units = MultiByteToWideChar(cp, 0, in, len, nullptr, 0);
  if (units <= 0) return Latin1(p, n, out);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(cp, 0, in, len, wide.data(), units);
  Utf16ToUtf8 utf8(out);
  for (wchar_t u : wide) utf8.Unit(static_cast<uint16_t>(u));
  utf8.Finish();
#else
  iconv_t cd = reinterpret_cast<iconv_t>(handle_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
  size_t in_left = n;
  std::string buf(n * 4 + 8, '\0');
  while (in_left > 0) {
    char* o = buf.data();
    size_t o_left = buf.size();
    size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf.data(), buf.size() - o_left);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or incomplete sequence: show it as one replacement character and go on.
      AppendUtf8(out, 0xFFFD);
      ++in;
      --in_left;
    }
  }
#endif
}

void CodePage::Open() {
  opened_ = true;
  // Files name the Macintosh Roman code page in two ways; 367 is plain ASCII.
  const unsigned cp = cp_ == 32768 ? 10000 : cp_ == 367 ? 20127 : cp_;
#ifdef _WIN32
  if (IsValidCodePage(cp))
    handle_ = cp;
  else if (IsValidCodePage(1252))
    handle_ = 1252;
#else
  std::string name = cp == 10000   ? std::string("MACINTOSH")
                     : cp == 20127 ? std::string("ASCII")
                                   : "CP" + std::to_string(cp);
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "CP1252");
  if (cd != reinterpret_cast<iconv_t>(-1)) handle_ = reinterpret_cast<intptr_t>(cd);
#endif
}

void CodePage::Close() {
#ifndef _WIN32
  if (handle_ != kNone) iconv_close(reinterpret_cast<iconv_t>(handle_));
#endif
  opened_ = false;
  handle_ = kNone;
}

}  // namespace qm::xls
