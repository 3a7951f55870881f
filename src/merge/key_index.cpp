#include "merge/key_index.h"

#include <algorithm>
#include <functional>

namespace qm::engine {

size_t KeyHash::operator()(const Key& k) const noexcept {
  return k.is_text ? std::hash<std::string>()(k.text) : std::hash<double>()(k.number) ^ 0x9e37;
}

std::optional<Key> KeyOf(const CellValue& v) {
  Key k;
  switch (v.type) {
    case CellType::kError:
      return std::nullopt;
    case CellType::kBlank:
      return k;
    case CellType::kText:
      k.is_text = true;
      k.text = std::string(v.text);
      return k;
    case CellType::kBool:
      k.number = v.number != 0 ? -1.0 : 0.0;
      return k;
    case CellType::kNumber:
      k.number = v.number == 0 ? 0.0 : v.number;
      return k;
  }
  return std::nullopt;
}

void KeyIndex::Build(const Worksheet& sheet, int col, int r1, int r2) {
  buckets_.clear();
  for (int r = std::max(r1, 1); r <= r2; ++r)
    if (auto k = KeyOf(sheet.Cells(r, col))) buckets_[std::move(*k)].push_back(r);
}

const std::vector<int>* KeyIndex::Find(const Key& key) const {
  auto it = buckets_.find(key);
  return it == buckets_.end() ? nullptr : &it->second;
}

int KeyIndex::FirstFrom(const Key& key, int from) const {
  const std::vector<int>* rows = Find(key);
  if (!rows) return 0;
  auto it = std::lower_bound(rows->begin(), rows->end(), from);
  return it == rows->end() ? 0 : *it;
}

void KeyIndex::Insert(const Key& key, int row) {
  auto& rows = buckets_[key];
  rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
}

void KeyIndex::Erase(const Key& key, int row) {
  auto it = buckets_.find(key);
  if (it == buckets_.end()) return;
  auto& rows = it->second;
  auto pos = std::lower_bound(rows.begin(), rows.end(), row);
  if (pos != rows.end() && *pos == row) rows.erase(pos);
}

}  // namespace qm::engine
