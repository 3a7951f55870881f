#include "merge/key_index.h"

#include <algorithm>
#include <atomic>
#include <functional>

namespace qm {

namespace {
// Numbers, dates and booleans compare as numbers; TRUE is -1.
double NumericKey(const CellValue& v) {
  if (v.type == CellType::kBool) return v.number != 0 ? -1.0 : 0.0;
  return v.number;
}
}  // namespace

bool KeysEqual(const CellValue& a, const CellValue& b) {
  if (a.type == CellType::kError || b.type == CellType::kError) return false;
  if (a.type == CellType::kBlank || b.type == CellType::kBlank) {
    const CellValue& o = a.type == CellType::kBlank ? b : a;
    switch (o.type) {
      case CellType::kBlank:
        return true;
      case CellType::kText:
        return o.text.empty();
      default:
        return NumericKey(o) == 0;
    }
  }
  bool at = a.type == CellType::kText, bt = b.type == CellType::kText;
  if (at != bt) return false;
  if (at) return a.text == b.text;
  return NumericKey(a) == NumericKey(b);
}

}  // namespace qm

namespace qm::engine {

namespace {

std::atomic<uint64_t> g_steps{0};

bool HasBit(const std::vector<uint64_t>& bits, int c) {
  const auto w = static_cast<size_t>(c) / 64;
  return w < bits.size() && (bits[w] >> (static_cast<size_t>(c) % 64) & 1) != 0;
}

}  // namespace

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

KeyIndex::~KeyIndex() {
  g_steps.fetch_add(steps_, std::memory_order_relaxed);
}

uint64_t KeyIndex::Steps() {
  return g_steps.load(std::memory_order_relaxed);
}

void KeyIndex::Build(const Worksheet& sheet, int col, int r1, int r2) {
  buckets_.clear();
  for (int r = std::max(r1, 1); r <= r2; ++r)
    if (auto k = KeyOf(sheet.Cells(r, col))) buckets_[std::move(*k)].rows.push_back(r);
}

const std::vector<int>* KeyIndex::Find(const Key& key) const {
  auto it = buckets_.find(key);
  return it == buckets_.end() ? nullptr : &it->second.rows;
}

int KeyIndex::FirstFrom(const Key& key, int from) {
  auto it = buckets_.find(key);
  if (it == buckets_.end()) return 0;
  Bucket& b = it->second;
  if (b.cursor > 0 && b.rows[b.cursor - 1] >= from) {
    // The search went back up: not the sorted merge's way, but still answered exactly.
    b.cursor =
        static_cast<size_t>(std::lower_bound(b.rows.begin(), b.rows.end(), from) - b.rows.begin());
    ++steps_;
  }
  while (b.cursor < b.rows.size() && b.rows[b.cursor] < from) {
    ++b.cursor;
    ++steps_;
  }
  ++steps_;
  return b.cursor < b.rows.size() ? b.rows[b.cursor] : 0;
}

void KeyIndex::Insert(const Key& key, int row) {
  Bucket& b = buckets_[key];
  auto pos = std::upper_bound(b.rows.begin(), b.rows.end(), row);
  if (static_cast<size_t>(pos - b.rows.begin()) < b.cursor) ++b.cursor;
  b.rows.insert(pos, row);
  b.held.clear();
}

void KeyIndex::Erase(const Key& key, int row) {
  auto it = buckets_.find(key);
  if (it == buckets_.end()) return;
  Bucket& b = it->second;
  auto pos = std::lower_bound(b.rows.begin(), b.rows.end(), row);
  if (pos == b.rows.end() || *pos != row) return;
  if (static_cast<size_t>(pos - b.rows.begin()) < b.cursor) --b.cursor;
  b.rows.erase(pos);
}

bool KeyIndex::RowsToFill(const Key& key, const std::vector<int>& cols, std::vector<int>& out) {
  out.clear();
  auto it = buckets_.find(key);
  if (it == buckets_.end() || it->second.rows.empty()) return false;
  const Bucket& b = it->second;
  ++steps_;
  if (std::all_of(cols.begin(), cols.end(), [&](int c) { return HasBit(b.held, c); })) return true;
  out = b.rows;
  steps_ += out.size();
  return true;
}

void KeyIndex::MarkHeld(const Key& key, const std::vector<int>& cols) {
  auto it = buckets_.find(key);
  if (it == buckets_.end()) return;
  auto& held = it->second.held;
  for (int c : cols) {
    if (c < 0) continue;
    const auto w = static_cast<size_t>(c) / 64;
    if (w >= held.size()) held.resize(w + 1, 0);
    held[w] |= uint64_t{1} << (static_cast<size_t>(c) % 64);
  }
}

}  // namespace qm::engine
