// UTF-8 and UTF-16 for the file formats: Excel stores text as UTF-16 (or Latin-1), the model
// holds UTF-8. The variants differ in what they do with malformed input because their callers
// do; each says how.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Appends a code point as UTF-8. No checks: a surrogate is written as its three bytes, which
// is what the callers that keep lone surrogates want.
void AppendUtf8(std::string& out, uint32_t cp);

// The length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one (stray or
// missing continuation bytes, overlong forms, surrogates, U+FFFE/U+FFFF, beyond U+10FFFF).
size_t Utf8SeqLen(std::string_view s, size_t i);

// What a conversion from UTF-8 does with input that is not UTF-8.
enum class BadUtf8 {
  // Each byte that starts no well-formed sequence (see Utf8SeqLen) becomes one U+FFFD.
  kReplace,
  // The conversion fails on a byte that breaks the lead/continuation pattern or a sequence cut
  // off by the end. Only the pattern is checked: overlong forms, encoded surrogates and
  // U+FFFE/U+FFFF pass as their bits say.
  kFail,
};

// UTF-8 to UTF-16, appended to `out`. Stops before the character that would take `out` past
// `limit` units (a surrogate pair is never split) and then sets `*cut`. Returns false only
// under BadUtf8::kFail, leaving `out` unspecified.
bool Utf8ToUtf16(std::string_view s, std::u16string& out, BadUtf8 bad, size_t limit = SIZE_MAX,
                 bool* cut = nullptr);

// The same with malformed bytes replaced.
std::u16string Utf8ToUtf16(std::string_view s, size_t limit = SIZE_MAX, bool* cut = nullptr);

// Each byte as one UTF-16 unit (Latin-1), whatever the bytes are.
std::u16string Latin1ToUtf16(std::string_view s);

// The UTF-16 units a UTF-8 text takes: one per byte that is no continuation byte, one more for
// each lead byte of a four-byte form (F0-FF). Stray continuation bytes count nothing.
size_t Utf16Length(std::string_view s);

// The longest prefix of a UTF-8 text that takes at most `units` UTF-16 units, never splitting a
// character. It steps by the length the lead byte announces (C0-DF two, E0-EF three, F0-F7 four,
// any other byte one) and counts two units for a four-byte form, one for the others.
std::string CutUtf16(std::string_view s, size_t units);

// UTF-16 code units, fed one at a time, as UTF-8 appended to `out`: surrogate pairs are joined;
// a lone surrogate becomes U+FFFD or, with Lone::kKeep, is written as it is (three bytes).
// Appends `count` Latin-1 characters (the compressed texts of the binary format) as UTF-8.
void AppendLatin1(std::string& out, const uint8_t* p, size_t count);

class Utf16ToUtf8 {
 public:
  enum class Lone { kReplace, kKeep };
  explicit Utf16ToUtf8(std::string& out, Lone lone = Lone::kReplace) : out_(out), lone_(lone) {}
  void Unit(uint16_t u);
  // `count` little-endian units at p, as Unit one by one would take them.
  void UnitsLE(const uint8_t* p, size_t count);
  // Ends the text: a high surrogate still waiting for its partner is lone.
  void Finish();

 private:
  void Lonely(uint32_t u) { AppendUtf8(out_, lone_ == Lone::kKeep ? u : 0xFFFD); }
  std::string& out_;
  Lone lone_;
  uint32_t pending_ = 0;  // a high surrogate waiting for its partner
};

}  // namespace qm
