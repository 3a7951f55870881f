// Header detection, the header list and its text form, the key prompt, reading typed numbers
// and comparing key cells: the rules every merge engine shares.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cell.h"
#include "worksheet.h"

namespace qm {

// The window-level values written by DetectHeader. The front end owns one for the whole program
// run and hands it to the engines by reference, so it persists across runs.
struct HeaderState {
  int HeaderRow = 0;
  int HeaderWidth = 0;
};

// The text form of a value: "" for blank, numbers with up to 15 significant digits, dates as
// yyyy/m/d [h:mm:ss], booleans as True/False, errors as their display text.
std::string ValueText(const CellValue& v);
std::string NumberText(double d);
std::string DateText(double serial, bool date1904);

// A cell is empty when its value as text is the empty string. Errors are not empty.
bool IsEmptyValue(const CellValue& v);

// Key equality: numbers (dates and booleans among them, TRUE being -1) by value, texts by exact
// characters, never a number with a text; blank equals blank, "", 0 and FALSE; an error equals
// nothing.
bool KeysEqual(const CellValue& a, const CellValue& b);

// Reads the answer of an input box as a number: blanks, tabs and line feeds are skipped wherever
// they stand, then digits with sign, decimal point and exponent, or &H / &O prefixed digits, are
// read up to the first character that cannot continue them. Cancel (nullopt), an empty answer
// and text that does not begin with a number give 0.
double ReadTypedNumber(const std::optional<std::string>& answer);

// Rounds to the nearest whole number, a half going to the even neighbour.
double RoundHalfEven(double d);

// Finds the header among rows 1 to 5: the row with the longest run of non-empty cells from
// column 1 (the earliest on ties). Always writes HeaderWidth; HeaderRow only when a run was found.
void DetectHeader(const Worksheet& sheet, HeaderState& state);

struct HeaderEntry {
  int column = 0;
  std::string text;

  bool operator==(const HeaderEntry&) const = default;
};
using HeaderList = std::vector<HeaderEntry>;

// The header texts of a sheet right after DetectHeader ran on it: (HeaderRow, 1) to
// (HeaderRow, HeaderWidth) as text.
HeaderList BuildHeaderList(const Worksheet& sheet, const HeaderState& state);
// " 1:姓名| 2:部门|" ...; "" for an empty list.
std::string HeaderListText(const HeaderList& list);
// The column of the first entry whose text equals `text` exactly, or 0.
int LookupColumn(const HeaderList& list, std::string_view text);

// The key prompt: its text, title and pre-filled answer.
struct InputPrompt {
  std::string prompt;
  std::string title;
  std::string default_answer;
};
InputPrompt KeyPrompt(const HeaderList& list);

}  // namespace qm
