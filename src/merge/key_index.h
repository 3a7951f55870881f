// Hash lookup of key cells that finds exactly the rows the key equality of a row-by-row scan
// would find.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
//
// The index is flat: the keys sit in one array found through an open-addressing table, their
// texts in one buffer and the rows of all buckets in another, so a sheet of a hundred thousand
// keys costs a handful of allocations rather than a few per key.
class KeyIndex {
 public:
  KeyIndex() = default;
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;
  ~KeyIndex();

  // Indexes column `col` of rows r1..r2.
  void Build(const Worksheet& sheet, int col, int r1, int r2);
  // The rows holding `key`, ascending; empty when none.
  std::span<const int> Find(const Key& key) const;
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
  static constexpr uint32_t kNone = UINT32_MAX;
  struct KeyRef {
    bool is_text;
    double number;
    std::string_view text;
  };
  struct Bucket {
    uint64_t hash = 0;
    double number = 0;
    uint32_t text_at = 0, text_size = 0;
    bool is_text = false;
    // rows_[first .. first + count) in ascending order, room for `room` rows there.
    uint32_t first = 0, count = 0, room = 0;
    uint32_t cursor = 0;         // rows before it lie before the last `from` of FirstFrom
    uint64_t held = 0;           // bit c: every row holds a value in result column c (< 64)
    uint32_t wide_held = kNone;  // columns from 64 on, in wide_held_
  };

  static KeyRef RefOf(const Key& k) { return {k.is_text, k.number, k.text}; }
  static uint64_t HashOf(const KeyRef& k);
  // The bucket of `k`, or kNone and the free slot where it would go.
  uint32_t Locate(const KeyRef& k, uint64_t hash, size_t* free_slot) const;
  // The bucket of `k`, made empty when there is none.
  uint32_t FindOrAdd(const KeyRef& k, uint64_t hash);
  void Grow();
  // Makes room for one more row in bucket b, moving its rows to the end of rows_ when full.
  void Reserve(Bucket& b);
  bool HasHeld(const Bucket& b, int c) const;

  std::vector<Bucket> buckets_;
  std::vector<uint32_t> slots_;  // bucket index + 1, 0 = free; size a power of two
  std::string texts_;
  std::vector<int> rows_;
  std::vector<std::vector<uint64_t>> wide_held_;
  uint64_t steps_ = 0;
};

}  // namespace qm::engine
