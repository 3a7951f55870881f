// The shared UTF-8/UTF-16 conversions and little-endian loads the readers and writers rely on.
#include <gtest/gtest.h>

#include <string>

#include "workbook/bytes.h"
#include "workbook/utf.h"

namespace qm {
namespace {

std::string FromUnits(const std::u16string& units, Utf16ToUtf8::Lone lone) {
  std::string out;
  Utf16ToUtf8 b(out, lone);
  for (char16_t u : units) b.Unit(u);
  b.Finish();
  return out;
}

const std::string kMixed = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a é 中 😀 z

TEST(Utf, RoundTripsEveryLengthOfSequence) {
  std::u16string u = Utf8ToUtf16(kMixed);
  EXPECT_EQ(u, u"a\u00E9\u4E2D\U0001F600z");
  EXPECT_EQ(FromUnits(u, Utf16ToUtf8::Lone::kReplace), kMixed);
  std::u16string strict;
  ASSERT_TRUE(Utf8ToUtf16(kMixed, strict, BadUtf8::kFail));
  EXPECT_EQ(strict, u);
  EXPECT_EQ(Utf16Length(kMixed), u.size());
  std::string cp;
  for (uint32_t c : {0x41u, 0x7FFu, 0x800u, 0xFFFDu, 0x10000u, 0x10FFFFu}) AppendUtf8(cp, c);
  EXPECT_EQ(FromUnits(Utf8ToUtf16(cp), Utf16ToUtf8::Lone::kReplace), cp);
}

TEST(Utf, LoneSurrogatesAreReplacedOrKeptAsAsked) {
  // A high surrogate before a non-surrogate, a lone low one, and a high one at the very end.
  const std::u16string units = {0xD83D, u'x', 0xDE00, u'y', 0xD83D};
  EXPECT_EQ(FromUnits(units, Utf16ToUtf8::Lone::kReplace),
            "\xEF\xBF\xBDx\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(FromUnits(units, Utf16ToUtf8::Lone::kKeep), "\xED\xA0\xBDx\xED\xB8\x80y\xED\xA0\xBD");
  // Two high surrogates in a row: the first is lone, the second pairs with what follows.
  EXPECT_EQ(FromUnits({0xD83D, 0xD83D, 0xDE00}, Utf16ToUtf8::Lone::kReplace),
            "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(Utf, InvalidBytesAreReplacedOneByOneOrFailTheStrictForm) {
  // A stray continuation byte, a lead byte without its continuation, an overlong slash, an
  // encoded surrogate, and a sequence cut off by the end.
  EXPECT_EQ(Utf8ToUtf16("a\x80"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3(x"), u"\uFFFD(x");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8SeqLen("\xEF\xBF\xBE", 0), 0u);  // U+FFFE is refused by the strict length
  std::u16string out;
  EXPECT_FALSE(Utf8ToUtf16("a\x80", out, BadUtf8::kFail));
  out.clear();
  EXPECT_FALSE(Utf8ToUtf16("\xE4\xB8", out, BadUtf8::kFail));
  out.clear();
  EXPECT_FALSE(Utf8ToUtf16("\xFF", out, BadUtf8::kFail));
  // The failing form checks the pattern only: an overlong form passes with its bits' value.
  out.clear();
  ASSERT_TRUE(Utf8ToUtf16("\xC0\xAF", out, BadUtf8::kFail));
  EXPECT_EQ(out, u"/");
}

TEST(Utf, LimitsNeverSplitACharacter) {
  bool cut = false;
  EXPECT_EQ(Utf8ToUtf16(kMixed, 4, &cut), u"a\u00E9\u4E2D");  // the pair would need units 4-5
  EXPECT_TRUE(cut);
  cut = false;
  EXPECT_EQ(Utf8ToUtf16(kMixed, 5, &cut), u"a\u00E9\u4E2D\U0001F600");
  EXPECT_TRUE(cut);
  cut = false;
  EXPECT_EQ(Utf8ToUtf16(kMixed, 6, &cut), u"a\u00E9\u4E2D\U0001F600z");
  EXPECT_FALSE(cut);

  EXPECT_EQ(CutUtf16(kMixed, 4), "a\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(CutUtf16(kMixed, 5), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(CutUtf16(kMixed, 100), kMixed);
  EXPECT_EQ(CutUtf16(kMixed, 0), "");
  // A four-byte form cut off by the end is kept whole rather than split.
  EXPECT_EQ(CutUtf16("ab\xF0\x9F", 4), "ab\xF0\x9F");
  for (size_t n = 0; n <= 6; ++n) {
    std::string cut_text = CutUtf16(kMixed, n);
    EXPECT_LE(Utf16Length(cut_text), n);
    EXPECT_EQ(Utf8ToUtf16(cut_text), Utf8ToUtf16(kMixed, n)) << n;
  }
}

TEST(Utf, Latin1WidensEveryByte) {
  EXPECT_EQ(Latin1ToUtf16("A\xE9\xFF"), (std::u16string{u'A', 0xE9, 0xFF}));
  EXPECT_EQ(Utf16Length("\x80\x80"), 0u);  // stray continuation bytes count nothing
}

TEST(Utf, RunsOfUnitsDecodeAsUnitByUnitDoes) {
  // Runs of plain units go the fast way; surrogates, paired, lone or split between two calls,
  // the careful one. Both must give the same text.
  const std::u16string inputs[] = {u"姓名abc",
                                   u"a\U0001F600b",
                                   std::u16string(1, 0xD83D) + u"x",
                                   u"end" + std::u16string(1, 0xD83D),
                                   std::u16string(1, 0xDE00),
                                   u"\u00e9\u07ff\u0800\uffff"};
  for (const std::u16string& in : inputs) {
    std::string bytes;
    for (char16_t u : in) {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>(u >> 8);
    }
    for (size_t split = 0; split <= in.size(); ++split) {
      std::string one, runs;
      Utf16ToUtf8 a(one), b(runs);
      for (char16_t u : in) a.Unit(u);
      a.Finish();
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
      b.UnitsLE(p, split);
      b.UnitsLE(p + 2 * split, in.size() - split);
      b.Finish();
      EXPECT_EQ(runs, one) << "split at " << split;
    }
  }
  std::string latin = "x";
  const uint8_t high[] = {'a', 0xE9, 0xFF, '1'};
  AppendLatin1(latin, high, 4);
  EXPECT_EQ(latin, "xa\u00e9\u00ff1");
}

TEST(LittleEndian, LoadsAndStoresRoundTrip) {
  uint8_t b[8];
  le::Put16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(le::U16(b), 0xBEEF);
  le::Put32(b, 0xF00DCAFEu);
  EXPECT_EQ(b[3], 0xF0);
  EXPECT_EQ(le::U32(b), 0xF00DCAFEu);
  le::Put64(b, 0x0123456789ABCDEFull);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(le::U64(b), 0x0123456789ABCDEFull);
  le::PutF64(b, -2.5);
  EXPECT_EQ(le::F64(b), -2.5);
}

}  // namespace
}  // namespace qm
