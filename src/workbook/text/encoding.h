// The character sets of text sources (CSV files, web pages) and their conversion to the UTF-8
// the model holds. Windows code pages convert through the system: iconv on POSIX systems,
// MultiByteToWideChar on Windows, as the .xls reader's code pages do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::text {

enum class Bom { kNone, kUtf8, kUtf16Le, kUtf16Be };

// The byte order mark that starts `data`; `*length` receives its size in bytes (0 for none).
Bom DetectBom(const uint8_t* data, size_t size, size_t* length);

// True when the bytes are well-formed UTF-8 throughout.
bool IsUtf8(const uint8_t* data, size_t size);

// A character set text is written in, and its conversion to UTF-8.
class Charset {
 public:
  enum class Kind : uint8_t { kUtf8, kUtf16Le, kUtf16Be, kCodePage };

  static Charset Utf8() { return Charset(Kind::kUtf8, "UTF-8", nullptr, 65001); }
  static Charset Utf16(bool big_endian) {
    return big_endian ? Charset(Kind::kUtf16Be, "UTF-16BE", nullptr, 1201)
                      : Charset(Kind::kUtf16Le, "UTF-16LE", nullptr, 1200);
  }
  // GB18030, which reads GBK and GB2312 as well.
  static Charset Gb18030();
  static Charset ForBom(Bom bom);
  // The character set a web page's label names ("gbk", "windows-1252", "macintosh", ...), read
  // as browsers read labels (so "iso-8859-1" is windows-1252); false when the label is unknown.
  static bool FromLabel(std::string_view label, Charset* out);

  Kind kind() const { return kind_; }
  // "UTF-8", "GB18030", "UTF-16LE", ...
  const char* name() const { return name_; }

  // Appends the bytes as UTF-8. Bytes that are no character of the set become U+FFFD.
  void Decode(const uint8_t* data, size_t size, std::string& out) const;

 private:
  Charset(Kind kind, const char* name, const char* iconv_name, unsigned code_page)
      : kind_(kind), name_(name), iconv_name_(iconv_name), code_page_(code_page) {}

  Kind kind_;
  const char* name_;
  const char* iconv_name_;  // for kCodePage on POSIX systems
  unsigned code_page_;      // for kCodePage on Windows
};

// False where the system has no GB18030 converter (Wine has none); the decoder below then reads
// the two-byte codes as GBK (code page 936, the same characters but for a few) and the four-byte
// codes beyond the BMP by their arithmetic, and the four-byte codes within it as U+FFFD.
bool SystemKnowsGb18030();

// GB18030 to UTF-8 at the speed of a table lookup: the two-byte codes (nearly every Chinese
// character in a file) through a table built once from the system's converter, the four-byte
// ones through the converter itself. Bytes that start no character become U+FFFD.
class Gb18030Decoder {
 public:
  Gb18030Decoder();
  ~Gb18030Decoder();
  Gb18030Decoder(const Gb18030Decoder&) = delete;
  Gb18030Decoder& operator=(const Gb18030Decoder&) = delete;
  void Decode(const uint8_t* data, size_t size, std::string& out);

 private:
  void DecodeFour(const uint8_t* p, std::string& out);
  const uint16_t* table_;      // [(lead - 0x81) * 191 + trail - 0x40], 0 for no character
  void* converter_ = nullptr;  // for the four-byte codes, opened on first use
};

// UTF-8 as it is, each byte that starts no well-formed sequence replaced by U+FFFD.
void AppendSanitizedUtf8(const uint8_t* data, size_t size, std::string& out);

}  // namespace qm::text
