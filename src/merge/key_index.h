// Hash lookup of key cells that finds exactly the rows the key equality of a row-by-row scan
// would find.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "workbook/cell.h"
#include "workbook/worksheet.h"

namespace qm {

// Key equality: numbers (dates and booleans among them, TRUE being -1) by value, texts by exact
// characters, never a number with a text; blank equals blank, "", 0 and FALSE; an error equals
// nothing.
bool KeysEqual(const CellValue& a, const CellValue& b);

}  // namespace qm

namespace qm::engine {

// A key value in the form under which equal keys meet: numbers, dates and booleans as numbers
// (TRUE is -1, and -0 is 0), texts by their exact characters. A blank cell is the number 0,
// since it equals 0 and FALSE. Errors equal nothing and have no key.
struct Key {
  bool is_text = false;
  double number = 0;
  std::string text;

  bool operator==(const Key& o) const {
    return is_text == o.is_text && (is_text ? text == o.text : number == o.number);
  }
};

struct KeyHash {
  size_t operator()(const Key& k) const noexcept;
};

// nullopt for an error value. Note that the empty text keeps its own key: it equals a blank
// cell by the rules, but such a pairing never reaches an index (a blank is never looked up).
std::optional<Key> KeyOf(const CellValue& v);

// Rows of a sheet by key, each bucket in ascending row order.
//
// Many rows under one key must not make a merge quadratic, so each bucket also remembers how far
// the forward search of the sorted merge got (a cursor) and which result columns every one of its
// rows already holds (a fill into those columns can change none of them). Every row an index hands
// out or steps over counts as one step; Steps() sums them over all indexes of the process, so a
// test can tell linear from quadratic work without timing it.
class KeyIndex {
 public:
  KeyIndex() = default;
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;
  ~KeyIndex();

  // Indexes column `col` of rows r1..r2.
  void Build(const Worksheet& sheet, int col, int r1, int r2);
  // The rows holding `key`, ascending; nullptr when none.
  const std::vector<int>* Find(const Key& key) const;
  // The first row >= from holding `key`, or 0. Calls for one key are expected with `from` not
  // decreasing (the sorted merge's cursor only moves down); they then cost the bucket's length in
  // all, not per call. A smaller `from` still gets the right answer by a binary search.
  int FirstFrom(const Key& key, int from);
  void Insert(const Key& key, int row);
  void Erase(const Key& key, int row);

  // The rows of `key` that a fill into the result columns `cols` could still change, copied into
  // `out`: all rows of the bucket, or none when every one of them already holds a value in each
  // of these columns. Returns whether the key has rows at all (a match, even when nothing is left
  // to fill).
  bool RowsToFill(const Key& key, const std::vector<int>& cols, std::vector<int>& out);
  // Records that every row of `key` now holds a value in each of `cols` (after they were filled
  // from a source row that has a value for each). A row that joins the bucket later (Insert)
  // clears the record, since it was not filled.
  void MarkHeld(const Key& key, const std::vector<int>& cols);

  // Rows handed out or stepped over by all indexes so far.
  static uint64_t Steps();

 private:
  struct Bucket {
    std::vector<int> rows;
    size_t cursor = 0;           // rows[0..cursor) lie before the last `from` of FirstFrom
    std::vector<uint64_t> held;  // bit c: every row holds a value in result column c
  };
  std::unordered_map<Key, Bucket, KeyHash> buckets_;
  uint64_t steps_ = 0;
};

}  // namespace qm::engine
