// Formula text moved by paste and row deletion, the binary token translation both ways, and the
// sheet model carrying formulas through paste and deletion.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "workbook/formula/formula.h"
#include "workbook/formula/formula_lexer.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

std::string Shift(std::string_view f, int dr, int dc) {
  auto r = ShiftFormula(f, dr, dc);
  return r ? *r : "<unsupported>";
}

std::string Delete(std::string_view f, int first, int count) {
  auto r = FormulaAfterRowDeletion(f, first, count);
  return r ? *r : "<unsupported>";
}

TEST(ShiftFormula, RelativePartsMoveAbsolutePartsStay) {
  EXPECT_EQ(Shift("A1+B2", 1, 0), "A2+B3");
  EXPECT_EQ(Shift("$A$1+A$1+$A1+A1", 2, 3), "$A$1+D$1+$A3+D3");
  EXPECT_EQ(Shift("SUM(A1:B2)", 1, 1), "SUM(B2:C3)");
  EXPECT_EQ(Shift("SUM($A$1:B2)", 10, 0), "SUM($A$1:B12)");
  EXPECT_EQ(Shift("SUM(A:A)+SUM($B:$B)", 5, 1), "SUM(B:B)+SUM($B:$B)");
  EXPECT_EQ(Shift("SUM(1:1)+SUM($2:$3)", 2, 7), "SUM(3:3)+SUM($2:$3)");
  EXPECT_EQ(Shift("a1*b1", 1, 0), "A2*B2");
  EXPECT_EQ(Shift("A1*B1", 0, 0), "A1*B1");
  EXPECT_EQ(Shift("XFC1048575", 1, 1), "XFD1048576");
}

TEST(ShiftFormula, ReferencesPushedOffTheGridBecomeRefErrors) {
  EXPECT_EQ(Shift("A1*2", -1, 0), "#REF!*2");
  EXPECT_EQ(Shift("SUM(A1:A5)", -1, 0), "SUM(#REF!)");
  EXPECT_EQ(Shift("XFD1+1", 0, 1), "#REF!+1");
  EXPECT_EQ(Shift("A1048576", 1, 0), "#REF!");
  EXPECT_EQ(Shift("B:B", 0, -2), "#REF!");
  EXPECT_EQ(Shift("$A$1+B2", -1, -1), "$A$1+A1");
}

TEST(ShiftFormula, EverythingButReferencesKeepsItsSpelling) {
  EXPECT_EQ(Shift("\"A1\"&B1", 1, 0), "\"A1\"&B2");
  EXPECT_EQ(Shift("\"say \"\"A1\"\"\"&A1", 1, 0), "\"say \"\"A1\"\"\"&A2");
  EXPECT_EQ(Shift(" sum( a1 , 2 )\n", 1, 0), " sum( A2 , 2 )\n");
  EXPECT_EQ(Shift("LOG10(A1)+ATAN2(B1,1)", 1, 0), "LOG10(A2)+ATAN2(B2,1)");
  EXPECT_EQ(Shift("1.5E+3*A1-.5e-2%", 1, 0), "1.5E+3*A2-.5e-2%");
  EXPECT_EQ(Shift("IF(A1>=0,TRUE,#N/A)&#DIV/0!", 1, 0), "IF(A2>=0,TRUE,#N/A)&#DIV/0!");
  EXPECT_EQ(Shift("A1<>B1", 0, 1), "B1<>C1");
  EXPECT_EQ(Shift("SUM({1,2;3,4})+A1", 1, 0), "SUM({1,2;3,4})+A2");
  EXPECT_EQ(Shift("_xlfn.STDEV.S(A1:A3)", 1, 0), "_xlfn.STDEV.S(A2:A4)");
}

TEST(ShiftFormula, TextThatCannotTravelIsUnsupported) {
  for (const char* f : {"Sheet2!A1", "'My Sheet'!A1+1", "[1]Sheet1!A1", "Total*2", "Table1[Col]",
                        "#REF!A1", "\"unterminated", "XFE1+1", "A1048577", "@A1"})
    EXPECT_FALSE(ShiftFormula(f, 1, 0).has_value()) << f;
  EXPECT_FALSE(FormulaAfterRowDeletion("Sheet2!A1", 1, 1).has_value());
}

// Unbalanced text was once re-emitted as if it were a formula.
TEST(ShiftFormula, UnbalancedParenthesesAreUnsupported) {
  for (const char* f : {"SUM(A1", "A1)", "(A1))+(B1"})
    EXPECT_FALSE(ShiftFormula(f, 1, 0).has_value()) << f;
}

TEST(FormulaAfterRowDeletion, ReferencesMoveUpBreakOrShrink) {
  EXPECT_EQ(Delete("A10+$A$10+A1", 2, 3), "A7+$A$7+A1");
  EXPECT_EQ(Delete("A3*2", 2, 3), "#REF!*2");
  EXPECT_EQ(Delete("SUM(A1:A10)", 3, 2), "SUM(A1:A8)");
  EXPECT_EQ(Delete("SUM(A3:B10)", 2, 3), "SUM(A2:B7)");  // first row deleted
  EXPECT_EQ(Delete("SUM(A1:A3)", 3, 5), "SUM(A1:A2)");   // last row deleted
  EXPECT_EQ(Delete("SUM(A2:A4)+1", 2, 3), "SUM(#REF!)+1");
  EXPECT_EQ(Delete("SUM(B:B)+SUM(5:6)", 2, 1), "SUM(B:B)+SUM(4:5)");
  EXPECT_EQ(Delete("SUM(A1:A2)", 5, 1), "SUM(A1:A2)");
  EXPECT_EQ(Delete("A1+A5", 3, 2147483647), "A1+#REF!");  // a count running past the grid
  EXPECT_EQ(Delete("A5", 0, 3), "A5");                    // nothing valid to delete
}

TEST(FormulaAfterRowDeletion, ScatteredRowsAreDeletedInOnePass) {
  const std::vector<int> rows = {2, 4, 5, 8};
  formula::RowDeletion del{std::span<const int>(rows)};
  std::string out;
  auto run = [&](std::string_view f) {
    switch (formula::DeleteRowsInto(f, del, out)) {
      case formula::Rewrite::kChanged:
        return out;
      case formula::Rewrite::kUnchanged:
        return std::string(f);
      default:
        return std::string("<unsupported>");
    }
  };
  EXPECT_EQ(run("A1+A3+A6+A9"), "A1+A2+A3+A5");
  EXPECT_EQ(run("A5"), "#REF!");
  EXPECT_EQ(run("SUM(A4:A8)"), "SUM(A3:A4)");  // 6 and 7 survive as 3 and 4
  EXPECT_EQ(run("SUM(A4:A5)"), "SUM(#REF!)");
}

// --- Binary tokens ---------------------------------------------------------------------------

using Bytes = std::vector<uint8_t>;

std::string Decode(const Bytes& b, int row = 1, int col = 1) {
  auto r = DecodeBiff8Formula(b, row, col);
  return r ? *r : "<unsupported>";
}

TEST(DecodeBiff8Formula, ConstantsOperatorsAndReferences) {
  // A1+B1*2 with relative references (both flags set).
  EXPECT_EQ(Decode({0x44, 0, 0, 0, 0xC0, 0x44, 0, 0, 1, 0xC0, 0x1E, 2, 0, 0x05, 0x03}), "A1+B1*2");
  // $C$5-1.5
  Bytes num = {0x44, 4, 0, 2, 0, 0x1F, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0x04};
  EXPECT_EQ(Decode(num), "$C$5-1.5");
  // "say ""hi""" & TRUE, then #N/A, then -A1%
  EXPECT_EQ(Decode({0x17, 8, 0, 's', 'a', 'y', ' ', '"', 'h', 'i', '"', 0x1D, 1, 0x08}),
            "\"say \"\"hi\"\"\"&TRUE");
  EXPECT_EQ(Decode({0x1C, 0x2A}), "#N/A");
  EXPECT_EQ(Decode({0x24, 0, 0, 0, 0xC0, 0x13, 0x14}), "-A1%");
  // Wide string "合计"
  EXPECT_EQ(Decode({0x17, 2, 1, 0x08, 0x54, 0xA1, 0x8B}), "\"合计\"");
  // Whole columns and rows, and a deleted reference.
  EXPECT_EQ(Decode({0x25, 0, 0, 0xFF, 0xFF, 0, 0x40, 1, 0x40, 0x22, 1, 4, 0}), "SUM(A:B)");
  EXPECT_EQ(Decode({0x25, 2, 0, 2, 0, 0, 0x80, 0xFF, 0x80, 0x22, 1, 4, 0}), "SUM(3:3)");
  EXPECT_EQ(Decode({0x2A, 0, 0, 0, 0, 0x1E, 1, 0, 0x03}), "#REF!+1");
}

TEST(DecodeBiff8Formula, ParenthesesFollowPrecedenceWhenTokensOmitThem) {
  // (A1+B1)*C1 without a paren token, and with one.
  Bytes add = {0x44, 0, 0, 0, 0xC0, 0x44, 0, 0, 1, 0xC0, 0x03};
  Bytes no_paren = add;
  no_paren.insert(no_paren.end(), {0x44, 0, 0, 2, 0xC0, 0x05});
  EXPECT_EQ(Decode(no_paren), "(A1+B1)*C1");
  Bytes with_paren = add;
  with_paren.insert(with_paren.end(), {0x15, 0x44, 0, 0, 2, 0xC0, 0x05});
  EXPECT_EQ(Decode(with_paren), "(A1+B1)*C1");
  // 2-(3-4): the right operand of a left-associative operator needs them.
  EXPECT_EQ(Decode({0x1E, 2, 0, 0x1E, 3, 0, 0x1E, 4, 0, 0x04, 0x04}), "2-(3-4)");
}

TEST(DecodeBiff8Formula, FunctionsAndAttributes) {
  // SUM(A1:A10) as a variable-argument function and as the one-argument attribute.
  Bytes area = {0x25, 0, 0, 9, 0, 0, 0xC0, 0, 0xC0};
  Bytes var = area, attr = area;
  var.insert(var.end(), {0x22, 1, 4, 0});
  attr.insert(attr.end(), {0x19, 0x10, 0, 0});
  EXPECT_EQ(Decode(var), "SUM(A1:A10)");
  EXPECT_EQ(Decode(attr), "SUM(A1:A10)");
  // IF(A1>0,"y","n") with the jump attributes Excel writes, and a space attribute.
  Bytes iff = {0x19, 0x40, 0,   1,    0x44, 0, 0, 0,    0xC0, 0x1E, 0, 0, 0x0D,
               0x19, 0x02, 9,   0,    0x17, 1, 0, 'y',  0x19, 0x08, 8, 0, 0x17,
               1,    0,    'n', 0x19, 0x08, 3, 0, 0x42, 3,    1,    0};
  EXPECT_EQ(Decode(iff), "IF(A1>0,\"y\",\"n\")");
  // ROUND(A1,2) fixed; TODAY() without arguments; a missing argument.
  EXPECT_EQ(Decode({0x44, 0, 0, 0, 0xC0, 0x1E, 2, 0, 0x41, 27, 0}), "ROUND(A1,2)");
  EXPECT_EQ(Decode({0x41, 221, 0}), "TODAY()");
  EXPECT_EQ(Decode({0x44, 0, 0, 0, 0xC0, 0x16, 0x1E, 1, 0, 0x42, 3, 1, 0}), "IF(A1,,1)");
  // The memory tokens only announce the sub-expression that follows them.
  EXPECT_EQ(Decode({0x29, 9, 0, 0x25, 0, 0, 1, 0, 0, 0xC0, 0, 0xC0, 0x22, 1, 4, 0}), "SUM(A1:A2)");
  EXPECT_EQ(Decode({0x26, 0, 0, 0, 0, 9, 0, 0x25, 0, 0, 1, 0, 0, 0xC0, 0, 0xC0}), "A1:A2");
  // CHOOSE's jump table is skipped.
  Bytes choose = {0x1E, 1, 0, 0x19, 0x04, 1, 0, 8,    0, 12,  0,
                  0x1E, 5, 0, 0x19, 0x08, 3, 0, 0x42, 2, 100, 0};
  EXPECT_EQ(Decode(choose), "CHOOSE(1,5)");
}

// Found on real files: small constants came out as "4E-04" and reversed areas as stored.
TEST(DecodeBiff8Formula, SmallNumbersReadPlainAndAreasReadTopLeftFirst) {
  Bytes small = {0x1F, 0, 0, 0, 0, 0, 0, 0, 0};
  const double v = 0.0004;
  std::memcpy(small.data() + 1, &v, 8);
  EXPECT_EQ(Decode(small), "0.0004");
  EXPECT_EQ(Decode({0x25, 5, 0, 0, 0, 2, 0xC0, 0, 0x80}), "$A1:C6");
}

TEST(DecodeBiff8Formula, OffsetFormsAreRelativeToTheCell) {
  // A shared formula on C5: one row up, same column; and one column left (both spellings of -1).
  EXPECT_EQ(Decode({0x2C, 0xFF, 0xFF, 0, 0xC0}, 5, 3), "C4");
  EXPECT_EQ(Decode({0x2C, 0, 0, 0xFF, 0xC0}, 5, 3), "B5");
  EXPECT_EQ(Decode({0x2C, 0, 0, 0xFF, 0xFF}, 5, 3), "B5");
  // Absolute parts of an offset token are plain coordinates.
  EXPECT_EQ(Decode({0x2C, 0, 0, 0, 0x00}, 5, 3), "$A$1");
  EXPECT_EQ(Decode({0x2D, 0xFE, 0xFF, 0, 0, 0xFF, 0xC0, 0, 0xC0, 0x22, 1, 4, 0}, 5, 3),
            "SUM(B3:C5)");
}

TEST(DecodeBiff8Formula, TokensOutsideTheSetAreUnsupported) {
  EXPECT_EQ(Decode({0x01, 0, 0, 0, 0}), "<unsupported>");              // array formula
  EXPECT_EQ(Decode({0x23, 1, 0, 0, 0}), "<unsupported>");              // defined name
  EXPECT_EQ(Decode({0x3A, 0, 0, 0, 0, 0, 0xC0}), "<unsupported>");     // other sheet
  EXPECT_EQ(Decode({0x39, 1, 0, 1, 0, 0, 0}), "<unsupported>");        // external name
  EXPECT_EQ(Decode({0x1E, 1, 0, 0x42, 1, 0xFF, 0}), "<unsupported>");  // add-in call
  EXPECT_EQ(Decode({0x44, 0, 0}), "<unsupported>");                    // truncated
  EXPECT_EQ(Decode({0x1E, 1, 0, 0x1E, 2, 0}), "<unsupported>");        // two results
  EXPECT_EQ(Decode({0x03}), "<unsupported>");                          // missing operand
  EXPECT_EQ(Decode({}), "<unsupported>");
}

TEST(DecodeBiff8Formula, StringTokensJoinSurrogatesAndKeepLoneOnes) {
  // A pair, then a lone high surrogate before a quote (which is doubled after it) and a lone low
  // one: lone units stay as they are so the text compiles back to the same token.
  EXPECT_EQ(Decode({0x17, 5, 1, 0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8, '"', 0, 0x00, 0xDE}),
            "\"\xF0\x9F\x98\x80\xED\xA0\xBD\"\"\xED\xB8\x80\"");
}

TEST(EncodeBiff8Formula, StringTokensAreUtf16AndBrokenUtf8IsRefused) {
  auto pair = EncodeBiff8Formula("\"\xF0\x9F\x98\x80\"", 1, 1);
  ASSERT_TRUE(pair);
  EXPECT_EQ(*pair, (Bytes{0x17, 2, 1, 0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_FALSE(EncodeBiff8Formula("\"a\x80\"", 1, 1));
  EXPECT_FALSE(EncodeBiff8Formula("\"\xE4\xB8\"", 1, 1));
}

TEST(EncodeBiff8Formula, CompilesWithTheClassesSpreadsheetProgramsExpect) {
  EXPECT_EQ(EncodeBiff8Formula("A1+1", 1, 2), (Bytes{0x44, 0, 0, 0, 0xC0, 0x1E, 1, 0, 0x03}));
  // Areas given to SUM are references; SUM is a variable-argument function.
  EXPECT_EQ(EncodeBiff8Formula("SUM($A$1:B2)", 3, 3),
            (Bytes{0x25, 0, 0, 1, 0, 0, 0, 1, 0xC0, 0x42, 1, 4, 0}));
  EXPECT_EQ(EncodeBiff8Formula("ROUND(A1,2)", 1, 2),
            (Bytes{0x44, 0, 0, 0, 0xC0, 0x1E, 2, 0, 0x41, 27, 0}));
  // Operands inside array arguments are arrays.
  EXPECT_EQ(EncodeBiff8Formula("SUMPRODUCT(A1:A2*B1:B2)", 1, 3),
            (Bytes{0x65, 0, 0, 1,    0, 0,    0xC0, 0,    0xC0, 0x65, 0, 0,
                   1,    0, 1, 0xC0, 1, 0xC0, 0x05, 0x42, 1,    228,  0}));
  // Volatile functions are announced up front.
  EXPECT_EQ(EncodeBiff8Formula("NOW()", 1, 1), (Bytes{0x19, 0x01, 0, 0, 0x41, 74, 0}));
  // Non-integers and large numbers are doubles.
  auto d = EncodeBiff8Formula("70000", 1, 1);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)[0], 0x1F);
  EXPECT_EQ(d->size(), 9u);
}

TEST(EncodeBiff8Formula, RoundTripsThroughDecoding) {
  for (const char* f : {"A1*B1",
                        "SUM(C2:C10)",
                        "$A$1+A$2+$B3",
                        "IF(A1>=10,\"big\",\"small\")",
                        "VLOOKUP(A2,$D$1:$E$20,2,FALSE)",
                        "ROUND(AVERAGE(B1:B4),2)&\" 元\"",
                        "-A1^2",
                        "(A1+B1)*C1",
                        "2-(3-4)",
                        "A1%",
                        "A1<>B1",
                        "A1<=B1",
                        "#DIV/0!",
                        "SUM(A:A)",
                        "SUM(2:3)",
                        "COUNTIF(A1:A9,\">0\")",
                        "IF(A1,,1)",
                        "DATE(YEAR(A1),MONTH(A1)+1,DAY(A1))",
                        "CONCATENATE(LEFT(A1,2),MID(A1,3,1),RIGHT(A1))",
                        "INDEX(A1:C3,MATCH(5,B1:B3,0),1)",
                        "SUM((A1,B2))",
                        "A1:B2",
                        "1.5E+20*A1",
                        "\"say \"\"hi\"\"\"",
                        "TODAY()-A1",
                        "NOT(TRUE)"}) {
    auto bytes = EncodeBiff8Formula(f, 5, 5);
    ASSERT_TRUE(bytes) << f;
    EXPECT_EQ(Decode(*bytes, 5, 5), f);
  }
}

// Text ending in the middle of an expression once made the compiler read past its tokens.
TEST(EncodeBiff8Formula, TextEndingMidExpressionIsRefused) {
  for (const char* f : {"1+", "SUM(", "-", "(", "A1:", "IF(A1,"})
    EXPECT_FALSE(EncodeBiff8Formula(f, 1, 1).has_value()) << f;
}

// -A1% was compiled as -(A1%), which decodes to different text than it was written with.
TEST(EncodeBiff8Formula, NegationBindsTighterThanPercent) {
  EXPECT_EQ(EncodeBiff8Formula("-A1%", 1, 2), (Bytes{0x44, 0, 0, 0, 0xC0, 0x13, 0x14}));
  EXPECT_EQ(EncodeBiff8Formula("-2^2", 1, 2), (Bytes{0x1E, 2, 0, 0x13, 0x1E, 2, 0, 0x07}));
}

TEST(EncodeBiff8Formula, OutsideTheSetIsUnsupported) {
  for (const std::string& f :
       std::vector<std::string>{"Sheet2!A1", "IFERROR(A1,0)", "_xlfn.XLOOKUP(A1,B:B,C:C)",
                                "myName*2", "A70000", "IV1+IW1", "{1,2}", "A1 B1", "SUM(A1",
                                "ROUND(A1)", "NOW(1)", "\"" + std::string(300, 'x') + "\""})
    EXPECT_FALSE(EncodeBiff8Formula(f, 1, 1).has_value()) << f;
}

// --- Nesting depth ------------------------------------------------------------------------------

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}
// `levels` times `open`, then `inner`, then `levels` times `close`.
std::string Nest(int levels, std::string_view open, std::string_view inner,
                 std::string_view close) {
  return Repeat(open, levels) + std::string(inner) + Repeat(close, levels);
}

struct Shape {
  const char* open;
  const char* inner;
  const char* close;
  int levels_each;  // nesting levels one repetition adds
};
constexpr Shape kShapes[] = {{"(", "A1", ")", 1},      {"-", "A1", "", 1},
                             {"", "A1", "%", 1},       {"ABS(", "A1", ")", 1},
                             {"-(", "1", ")", 2},      {"ROUND(+", "2", "%,1)", 3},
                             {"(1+(", "B2", ")*2)", 2}};

TEST(FormulaNesting, ParenthesesSignsPercentAndCallsCountTogetherUpTo256) {
  for (const Shape& sh : kShapes) {
    const int reps = kMaxFormulaNesting / sh.levels_each;
    const std::string at = Nest(reps, sh.open, sh.inner, sh.close);
    const std::string over = Nest(reps + 1, sh.open, sh.inner, sh.close);
    EXPECT_FALSE(FormulaNestsTooDeep(at)) << sh.open << sh.inner << sh.close;
    EXPECT_TRUE(FormulaNestsTooDeep(over)) << sh.open << sh.inner << sh.close;
    // Up to the limit the formula compiles and reads back as written; past it, it does not.
    auto bytes = EncodeBiff8Formula(at, 1, 1);
    ASSERT_TRUE(bytes) << sh.open << sh.inner << sh.close;
    EXPECT_EQ(Decode(*bytes), at);
    EXPECT_FALSE(EncodeBiff8Formula(over, 1, 1)) << sh.open << sh.inner << sh.close;
  }
  // Percent signs after 255 parentheses make the 256th level, one more the 257th.
  EXPECT_FALSE(FormulaNestsTooDeep(Nest(255, "(", "1", ")") + "%"));
  EXPECT_TRUE(FormulaNestsTooDeep(Nest(255, "(", "1", ")") + "%%"));
  // Parentheses never closed still count.
  EXPECT_TRUE(FormulaNestsTooDeep(Repeat("(", 257) + "1"));
}

TEST(FormulaNesting, OperatorChainsSiblingsAndQuotedTextAddNoDepth) {
  EXPECT_FALSE(FormulaNestsTooDeep("1" + Repeat("+1", 20000)));
  EXPECT_FALSE(FormulaNestsTooDeep("A1" + Repeat("*((B2))", 5000)));
  // Two siblings of 200 levels each are 200 deep, not 400.
  EXPECT_FALSE(FormulaNestsTooDeep(Nest(200, "(", "1", ")") + "+" + Nest(200, "SUM(", "1", ")")));
  EXPECT_FALSE(FormulaNestsTooDeep("\"" + Repeat("(", 300) + "\"&A1"));
  EXPECT_FALSE(FormulaNestsTooDeep("'" + Repeat("(", 300) + "'!A1+1"));
  EXPECT_FALSE(FormulaNestsTooDeep("Table1[" + Repeat("(", 300) + "]"));
  EXPECT_FALSE(FormulaNestsTooDeep("{" + Repeat("-1,", 300) + "1}"));
  // A sign after an operand is an operator, not a level: 1-1-1-...
  EXPECT_FALSE(FormulaNestsTooDeep("1" + Repeat("-1", 400)));
}

// Decoding keeps its own stack and writes each level once: a token array nested as deep as a
// record allows gives its text, which the writers then refuse.
TEST(DecodeBiff8Formula, TokensNestedThousandsDeepGiveTheirTextWithoutRecursion) {
  Bytes parens = {0x1E, 1, 0};
  parens.insert(parens.end(), 15000, 0x15);
  EXPECT_EQ(Decode(parens), Nest(15000, "(", "1", ")"));
  Bytes signs = {0x1E, 1, 0};
  signs.insert(signs.end(), 15000, 0x13);
  EXPECT_EQ(Decode(signs), Repeat("-", 15000) + "1");
  // 1+(1+(1+...)): the operators nest the tokens, the text needs the parentheses.
  Bytes right;
  for (int i = 0; i < 3000; ++i) right.insert(right.end(), {0x1E, 1, 0});
  right.insert(right.end(), 2999, 0x03);
  EXPECT_EQ(Decode(right), Repeat("1+(", 2998) + "1+1" + Repeat(")", 2998));
}

// Runs `fn` on a thread with a 512 KiB stack, where a recursion over a formula's levels would
// overflow long before its end. False when no such thread could be made.
bool OnSmallStack(std::function<void()> fn) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t t;
  auto body = [](void* p) -> void* {
    (*static_cast<std::function<void()>*>(p))();
    return nullptr;
  };
  const bool made = pthread_create(&t, &attr, body, &fn) == 0;
  pthread_attr_destroy(&attr);
  if (made) pthread_join(t, nullptr);
  return made;
}

// A FORMULA of 15,000 parentheses, signs or percent signs, or an <f> of 8,191 parentheses,
// killed the run while a .xls result was saved: the compiler recursed once per level.
TEST(EncodeBiff8Formula, DeeplyNestedFormulasAreRefusedWithoutExhaustingASmallStack) {
  std::vector<Bytes> tokens;
  for (uint8_t ptg : {0x15, 0x13, 0x14}) {
    tokens.push_back({0x1E, 1, 0});
    tokens.back().insert(tokens.back().end(), 15000, ptg);
  }
  const std::vector<std::string> texts = {Nest(8191, "(", "1", ")"), Repeat("-", 15000) + "1",
                                          "1" + Repeat("%", 15000), Nest(5000, "ABS(", "A1", ")"),
                                          Repeat("(", 20000)};
  const std::string long_chain = "A1" + Repeat("+A1", 99999);
  const std::string at_limit = Nest(128, "-(", "A1", ")");
  struct Seen {
    std::vector<std::optional<std::string>> decoded;
    std::vector<bool> deep, encoded, moved, kept_after_deletion;
    bool long_chain_encoded = true, at_limit_encoded = false;
  } seen;
  ASSERT_TRUE(OnSmallStack([&] {
    std::vector<std::string> all = texts;
    for (const Bytes& b : tokens) {
      seen.decoded.push_back(DecodeBiff8Formula(b, 1, 1));
      if (seen.decoded.back()) all.push_back(*seen.decoded.back());
    }
    for (const std::string& f : all) {
      seen.deep.push_back(FormulaNestsTooDeep(f));
      seen.encoded.push_back(EncodeBiff8Formula(f, 1, 1).has_value());
      seen.moved.push_back(ShiftFormula(f, 1, 0).has_value());
      seen.kept_after_deletion.push_back(FormulaAfterRowDeletion(f, 5, 1).has_value());
    }
    seen.long_chain_encoded = EncodeBiff8Formula(long_chain, 1, 1).has_value();
    seen.at_limit_encoded = EncodeBiff8Formula(at_limit, 1, 1).has_value();
  }));
  for (const auto& d : seen.decoded) EXPECT_TRUE(d.has_value());
  ASSERT_EQ(seen.deep.size(), texts.size() + tokens.size());
  for (size_t i = 0; i < seen.deep.size(); ++i) {
    EXPECT_TRUE(seen.deep[i]) << i;
    EXPECT_FALSE(seen.encoded[i]) << i;
  }
  // Moving and deleting rows walk the text without recursion and keep such a formula, so the
  // save that refuses it can count it (balanced ones only: "((((" is no formula).
  for (size_t i = 0; i < seen.moved.size(); ++i) {
    const bool balanced = i != 4;
    EXPECT_EQ(seen.moved[i], balanced) << i;
    EXPECT_EQ(seen.kept_after_deletion[i], balanced) << i;
  }
  EXPECT_FALSE(seen.long_chain_encoded);  // 600,000 bytes of tokens: over any record
  EXPECT_TRUE(seen.at_limit_encoded);
}

// --- The model ---------------------------------------------------------------------------------

std::shared_ptr<Worksheet> Priced(int rows) {
  // Quantity, price, amount = quantity × price, and a total row below.
  auto ws = std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
  for (int r = 1; r <= rows; ++r) {
    (void)ws->SetNumber(r, 1, r);
    (void)ws->SetNumber(r, 2, 10);
    (void)ws->SetNumber(r, 3, r * 10.0);
    (void)ws->SetFormula(r, 3, "A" + std::to_string(r) + "*B" + std::to_string(r));
  }
  (void)ws->SetNumber(rows + 1, 3, rows * (rows + 1) * 5.0);
  (void)ws->SetFormula(rows + 1, 3, "SUM(C1:C" + std::to_string(rows) + ")");
  return ws;
}

TEST(WorksheetFormulas, PastedFormulasPointAtTheirOwnRows) {
  auto src = Priced(3);
  (void)src->SetNumber(1, 4, 7);
  (void)src->SetFormula(1, 4, "Other!A1");  // cannot travel: the value stays
  Worksheet dst("D", std::make_shared<StyleTable>());
  ASSERT_TRUE(dst.PasteFrom(*src, Range{1, 1, 4, 4}, 11, 2));
  EXPECT_EQ(dst.Cells(11, 4).formula, "B11*C11");
  EXPECT_EQ(dst.Cells(13, 4).formula, "B13*C13");
  EXPECT_EQ(dst.Cells(13, 4).number, 30);
  EXPECT_EQ(dst.Cells(14, 4).formula, "SUM(D11:D13)");
  EXPECT_EQ(dst.Cells(11, 5).formula, "");
  EXPECT_EQ(dst.Cells(11, 5).number, 7);
  // Pasted above the rows it names, a reference leaves the grid.
  Worksheet up("U", std::make_shared<StyleTable>());
  ASSERT_TRUE(up.PasteFrom(*src, Range{2, 3, 2, 3}, 1, 1));
  EXPECT_EQ(up.Cells(1, 1).formula, "#REF!*#REF!");
}

TEST(WorksheetFormulas, PasteWithinOneSheetReadsTheSourceAsItWas) {
  auto ws = Priced(3);
  ASSERT_TRUE(ws->PasteFrom(*ws, Range{1, 1, 4, 3}, 2, 1));  // overlapping, one row down
  EXPECT_EQ(ws->Cells(1, 3).formula, "A1*B1");
  EXPECT_EQ(ws->Cells(2, 3).formula, "A2*B2");
  EXPECT_EQ(ws->Cells(4, 3).formula, "A4*B4");
  EXPECT_EQ(ws->Cells(5, 3).formula, "SUM(C2:C4)");
}

TEST(WorksheetFormulas, DeletingRowsRewritesTheRemainingFormulas) {
  auto ws = Priced(5);  // total in row 6
  ws->DeleteRows(2, 2);
  EXPECT_EQ(ws->Cells(1, 3).formula, "A1*B1");
  EXPECT_EQ(ws->Cells(2, 3).formula, "A2*B2");  // was row 4
  EXPECT_EQ(ws->Cells(4, 3).formula, "SUM(C1:C3)");
  (void)ws->SetFormula(5, 1, "C2+Z9");
  ws->DeleteRowSet({2, 9});
  EXPECT_EQ(ws->Cells(3, 3).formula, "SUM(C1:C2)");
  EXPECT_EQ(ws->Cells(4, 1).formula, "#REF!+#REF!");
}

TEST(WorksheetFormulas, PoolEntrySharedAfterSameSheetPasteIsRewrittenOnce) {
  auto ws = std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
  (void)ws->SetNumber(1, 1, 0);
  (void)ws->SetFormula(1, 1, "$C$10");  // absolute: the pasted copy may share the pool entry
  ASSERT_TRUE(ws->PasteFrom(*ws, Range{1, 1, 1, 1}, 2, 1));
  ws->DeleteRows(5);
  EXPECT_EQ(ws->Cells(1, 1).formula, "$C$9");
  EXPECT_EQ(ws->Cells(2, 1).formula, "$C$9");
}

TEST(WorksheetFormulas, FormulasAreRewrittenAfterRepeatedDeletionsAboveAndBelowThem) {
  auto src = Priced(3);
  auto ws = std::make_shared<Worksheet>("D", std::make_shared<StyleTable>());
  ASSERT_TRUE(ws->PasteFrom(*src, Range{1, 1, 4, 3}, 11, 1));  // total: SUM(C11:C13) in row 14
  (void)ws->SetFormula(1, 1, "A1+A30");
  ws->DeleteRows(40);  // below every reference: nothing changes
  EXPECT_EQ(ws->Cells(14, 3).formula, "SUM(C11:C13)");
  EXPECT_EQ(ws->Cells(1, 1).formula, "A1+A30");
  ws->DeleteRows(13);
  EXPECT_EQ(ws->Cells(13, 3).formula, "SUM(C11:C12)");
  EXPECT_EQ(ws->Cells(1, 1).formula, "A1+A29");
  ws->DeleteRows(2, 3);
  EXPECT_EQ(ws->Cells(10, 3).formula, "SUM(C8:C9)");
  EXPECT_EQ(ws->Cells(8, 3).formula, "A8*B8");
  EXPECT_EQ(ws->Cells(1, 1).formula, "A1+A26");
  ws->DeleteRows(9);
  EXPECT_EQ(ws->Cells(9, 3).formula, "SUM(C8:C8)");
}

TEST(WorksheetFormulas, UnsupportedFormulaIsDroppedOnDeletionKeepingTheValue) {
  auto ws = std::make_shared<Worksheet>("S", std::make_shared<StyleTable>());
  (void)ws->SetNumber(3, 1, 42);
  (void)ws->SetFormula(3, 1, "Rate*2");
  ws->DeleteRows(1);
  EXPECT_EQ(ws->Cells(2, 1).formula, "");
  EXPECT_EQ(ws->Cells(2, 1).number, 42);
}

}  // namespace
}  // namespace qm
