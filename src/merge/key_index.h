// Hash lookup of key cells that finds exactly the rows the key equality of a row-by-row scan
// would find.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "workbook/cell.h"
#include "workbook/worksheet.h"

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
class KeyIndex {
 public:
  // Indexes column `col` of rows r1..r2.
  void Build(const Worksheet& sheet, int col, int r1, int r2);
  // The rows holding `key`, ascending; nullptr when none.
  const std::vector<int>* Find(const Key& key) const;
  // The first row >= from holding `key`, or 0.
  int FirstFrom(const Key& key, int from) const;
  void Insert(const Key& key, int row);
  void Erase(const Key& key, int row);

 private:
  std::unordered_map<Key, std::vector<int>, KeyHash> buckets_;
};

}  // namespace qm::engine
