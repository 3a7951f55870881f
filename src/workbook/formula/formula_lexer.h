// Internals shared by the text rewriting, the binary translation and the sheet model: a lexer
// for A1 formula text and in-place rewriting entry points that avoid building temporary strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {
class CellMoves;
}

namespace qm::formula {

enum class Tok : uint8_t {
  kEnd,
  kNumber,
  kString,  // with its quotes; doubled quotes inside
  kBool,
  kError,  // #REF!, #N/A ...
  kCell,   // A1, $A$1
  kArea,   // A1:B2
  kCols,   // A:B
  kRows,   // 1:2
  kFunc,   // the name only; the "(" follows as its own token
  kOp,     // + - * / ^ & = <> < > <= >= % :
  kLParen,
  kRParen,
  kComma,
  kSpace,
  kArray,        // {1,2;3,4}: constants only, never references
  kUnsupported,  // other sheets or workbooks, defined names, structured references, bad text
};

// One end of a reference; 1-based. A column range leaves `row` 0, a row range leaves `col` 0.
struct RefPart {
  int row = 0, col = 0;
  bool row_abs = false, col_abs = false;
};

struct Token {
  Tok kind = Tok::kEnd;
  size_t begin = 0, end = 0;  // the token's text in the formula
  RefPart a, b;               // b only for areas and ranges
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {}
  Token Next() {
    Token t;
    Scan(t);
    return t;
  }

 private:
  void Scan(Token& t);
  std::string_view s_;
  size_t pos_ = 0;
};

// Appends the A1 spelling of a reference part ("$B7", "C", "12").
void AppendPart(std::string& out, const RefPart& p, bool with_col, bool with_row);

enum class Rewrite { kUnchanged, kChanged, kUnsupported };

// Rows removed from a sheet, as sorted runs of consecutive rows.
class RowDeletion {
 public:
  RowDeletion(int first, int count);
  // Sorted, without duplicates, all >= 1.
  explicit RowDeletion(std::span<const int> sorted_rows);

  bool empty() const { return runs_.empty(); }
  int first_row() const { return runs_.empty() ? 0 : runs_.front().first; }
  // The row's new number, or 0 when it was deleted.
  int Map(int row) const;
  // The new numbers of the first and last surviving rows of [lo, hi]; false when none survives.
  bool MapSpan(int lo, int hi, int& new_lo, int& new_hi) const;

 private:
  struct Run {
    int first, last;
    int before;  // deleted rows in earlier runs
  };
  size_t RunAtOrAfter(int row) const;  // the first run whose last row is >= row
  std::vector<Run> runs_;
};

// The rewritten text goes to `out` (cleared first) only when the result is kChanged. Unless
// unsupported, `max_row` (when given) receives the largest row any reference of the result
// names, 0 when none does: a later deletion of rows below it leaves the text as it is.
Rewrite ShiftInto(std::string_view a1, int drow, int dcol, std::string& out,
                  int* max_row = nullptr);
// Every reference through `moves`; `lost` when one named a cell or area that did not survive.
Rewrite MoveInto(std::string_view a1, const CellMoves& moves, std::string& out, bool& lost);
Rewrite DeleteRowsInto(std::string_view a1, const RowDeletion& deletion, std::string& out,
                       int* max_row = nullptr);

}  // namespace qm::formula
