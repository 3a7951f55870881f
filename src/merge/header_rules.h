// Header detection, the header list and its text form, and the key prompt: the header rules
// every merge engine shares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workbook/worksheet.h"

namespace qm {

// The window-level values written by DetectHeader. The front end owns one for the whole program
// run and hands it to the engines by reference, so it persists across runs.
struct HeaderState {
  int HeaderRow = 0;
  int HeaderWidth = 0;
};

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
