// Header detection, header list text, key prompt, typed numbers, value text and key equality.
#include <gtest/gtest.h>

#include "merge/header_rules.h"
#include "merge/key_index.h"
#include "merge/typed_number.h"
#include "workbook/value_text.h"

namespace qm {
namespace {

Worksheet Sheet() {
  return Worksheet("S", std::make_shared<StyleTable>());
}

void FillRun(Worksheet& ws, int r, int from, int to) {
  for (int c = from; c <= to; ++c) (void)ws.SetText(r, c, "h" + std::to_string(c));
}

TEST(DetectHeader, TitleAboveAWiderHeaderPicksTheHeaderRow) {
  Worksheet ws = Sheet();
  (void)ws.SetText(1, 1, "月报");
  for (int r = 2; r <= 8; ++r) FillRun(ws, r, 1, 6);
  HeaderState st;
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderRow, 2);
  EXPECT_EQ(st.HeaderWidth, 6);
}

TEST(DetectHeader, WidestRowWinsAndEarliestOnTies) {
  Worksheet ws = Sheet();
  FillRun(ws, 1, 1, 4);
  FillRun(ws, 2, 1, 4);
  FillRun(ws, 3, 1, 5);
  FillRun(ws, 4, 1, 5);
  FillRun(ws, 6, 1, 9);  // below row 5: never read
  HeaderState st;
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderRow, 3);
  EXPECT_EQ(st.HeaderWidth, 5);
}

TEST(DetectHeader, AGapEndsTheRunAndZeroCountsAsAHeaderCell) {
  Worksheet ws = Sheet();
  FillRun(ws, 1, 1, 2);
  FillRun(ws, 1, 4, 8);
  HeaderState st;
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderWidth, 2);
  (void)ws.SetNumber(1, 3, 0);
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderWidth, 8);
  (void)ws.SetText(1, 3, "");  // a stored empty text is empty
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderWidth, 2);
}

TEST(DetectHeader, NoHeaderLeavesHeaderRowFromTheCallBefore) {
  Worksheet found = Sheet();
  FillRun(found, 4, 1, 3);
  HeaderState st;
  DetectHeader(found, st);
  EXPECT_EQ(st.HeaderRow, 4);
  Worksheet blank = Sheet();
  (void)blank.SetText(2, 2, "not in column 1");
  DetectHeader(blank, st);
  EXPECT_EQ(st.HeaderWidth, 0);
  EXPECT_EQ(st.HeaderRow, 4);
}

TEST(DetectHeader, RowFilledToTheLastColumnEndsThere) {
  Worksheet ws = Sheet();
  for (int c = 1; c <= kMaxCols; ++c) (void)ws.SetNumber(1, c, c);
  HeaderState st;
  DetectHeader(ws, st);
  EXPECT_EQ(st.HeaderWidth, kMaxCols);
}

TEST(HeaderList, TextFormAndKeyPrompt) {
  Worksheet ws = Sheet();
  (void)ws.SetText(1, 1, "姓名");
  (void)ws.SetText(1, 2, "部门");
  (void)ws.SetText(1, 3, "金额");
  HeaderState st;
  DetectHeader(ws, st);
  HeaderList list = BuildHeaderList(ws, st);
  EXPECT_EQ(HeaderListText(list), " 1:姓名| 2:部门| 3:金额|");
  EXPECT_EQ(LookupColumn(list, "部门"), 2);
  EXPECT_EQ(LookupColumn(list, "部"), 0);
  InputPrompt p = KeyPrompt(list);
  EXPECT_EQ(p.prompt, " 1:姓名| 2:部门| 3:金额|\r请输入关键字列列号！");
  EXPECT_EQ(p.title, "输入提示");
  EXPECT_EQ(p.default_answer, "1");
  EXPECT_EQ(KeyPrompt({}).prompt, "\r请输入关键字列列号！");
  (void)ws.SetNumber(1, 1, 5);
  EXPECT_EQ(HeaderListText(BuildHeaderList(ws, st)).substr(0, 5), " 1:5|");
  // Past 99 columns the numbers simply grow.
  EXPECT_EQ(HeaderListText({{100, "x"}}), " 100:x|");
}

TEST(ReadTypedNumber, ReadsLikeTheInputBoxAnswers) {
  EXPECT_EQ(ReadTypedNumber(std::nullopt), 0);
  EXPECT_EQ(ReadTypedNumber(""), 0);
  EXPECT_EQ(ReadTypedNumber("abc"), 0);
  EXPECT_EQ(ReadTypedNumber("0"), 0);
  EXPECT_EQ(ReadTypedNumber(" 2 "), 2);
  EXPECT_EQ(ReadTypedNumber("1 2"), 12);
  EXPECT_EQ(ReadTypedNumber("\t1\n2"), 12);
  EXPECT_EQ(ReadTypedNumber("2abc"), 2);
  EXPECT_EQ(ReadTypedNumber("3列"), 3);
  EXPECT_EQ(ReadTypedNumber("-1"), -1);
  EXPECT_EQ(ReadTypedNumber("+4"), 4);
  EXPECT_EQ(ReadTypedNumber("2.5"), 2.5);
  EXPECT_EQ(ReadTypedNumber(".5"), 0.5);
  EXPECT_EQ(ReadTypedNumber("1e3"), 1000);
  EXPECT_EQ(ReadTypedNumber("1e"), 1);
  EXPECT_EQ(ReadTypedNumber("1.2.3"), 1.2);
  EXPECT_EQ(ReadTypedNumber("&H1F"), 31);
  EXPECT_EQ(ReadTypedNumber("&o17"), 15);
  EXPECT_EQ(ReadTypedNumber("&Hz"), 0);
  EXPECT_EQ(ReadTypedNumber("\r2"), 0);  // only blanks, tabs and line feeds are skipped
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
}

TEST(ValueText, NumbersDatesBooleansErrors) {
  EXPECT_EQ(NumberText(123456789012345.0), "123456789012345");
  EXPECT_EQ(NumberText(1e15), "1E+15");
  EXPECT_EQ(NumberText(0.0001), "0.0001");
  EXPECT_EQ(NumberText(0.00001), "1E-05");
  EXPECT_EQ(NumberText(1.5e-7), "1.5E-07");
  EXPECT_EQ(NumberText(-12.5), "-12.5");
  EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");
  EXPECT_EQ(NumberText(1234567.891), "1234567.891");
  EXPECT_EQ(NumberText(100), "100");
  EXPECT_EQ(NumberText(0), "0");
  EXPECT_EQ(DateText(45292, false), "2024/1/1");
  EXPECT_EQ(DateText(45292.5, false), "2024/1/1 12:00:00");
  EXPECT_EQ(DateText(0.75, false), "18:00:00");
  EXPECT_EQ(DateText(1, false), "1900/1/1");
  EXPECT_EQ(DateText(59, false), "1900/2/28");
  EXPECT_EQ(DateText(60, false), "1900/2/29");
  EXPECT_EQ(DateText(61, false), "1900/3/1");
  EXPECT_EQ(DateText(0, true), "1904/1/1");
  CellValue b;
  b.type = CellType::kBool;
  b.number = 1;
  EXPECT_EQ(ValueText(b), "True");
  CellValue e;
  e.type = CellType::kError;
  e.error = 0x2A;
  EXPECT_EQ(ValueText(e), "#N/A");
  EXPECT_FALSE(IsEmptyValue(e));
}

CellValue Num(double d) {
  CellValue v;
  v.type = CellType::kNumber;
  v.number = d;
  return v;
}
CellValue Txt(std::string_view s) {
  CellValue v;
  v.type = CellType::kText;
  v.text = s;
  return v;
}
CellValue Bool(bool b) {
  CellValue v;
  v.type = CellType::kBool;
  v.number = b;
  return v;
}

TEST(KeysEqual, NumbersTextsBlanksAndErrors) {
  CellValue blank, err;
  err.type = CellType::kError;
  EXPECT_TRUE(KeysEqual(Num(1001), Num(1001)));
  EXPECT_FALSE(KeysEqual(Num(1001), Txt("1001")));
  EXPECT_FALSE(KeysEqual(Txt("A"), Txt("a")));
  EXPECT_FALSE(KeysEqual(Txt("A "), Txt("A")));
  EXPECT_TRUE(KeysEqual(Txt("甲"), Txt("甲")));
  EXPECT_TRUE(KeysEqual(blank, blank));
  EXPECT_TRUE(KeysEqual(blank, Txt("")));
  EXPECT_TRUE(KeysEqual(Num(0), blank));
  EXPECT_TRUE(KeysEqual(blank, Bool(false)));
  EXPECT_FALSE(KeysEqual(Txt(""), Num(0)));
  EXPECT_TRUE(KeysEqual(Bool(true), Num(-1)));
  EXPECT_FALSE(KeysEqual(Bool(true), Num(1)));
  CellValue date = Num(45292);
  date.is_date = true;
  EXPECT_TRUE(KeysEqual(date, Num(45292)));
  EXPECT_FALSE(KeysEqual(err, err));
  EXPECT_FALSE(KeysEqual(err, blank));
}

}  // namespace
}  // namespace qm
