#include "merge/key_index.h"

#include <algorithm>
#include <atomic>
#include <cstring>
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

uint64_t KeyIndex::HashOf(const KeyRef& k) {
  if (k.is_text) return std::hash<std::string_view>()(k.text) | 1;
  uint64_t x;
  std::memcpy(&x, &k.number, sizeof x);
  // splitmix64's finaliser: serial numbers differ in few bits.
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x & ~uint64_t{1};
}

void KeyIndex::Grow() {
  std::vector<uint32_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
  const size_t mask = slots.size() - 1;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    size_t at = buckets_[i].hash & mask;
    while (slots[at] != 0) at = (at + 1) & mask;
    slots[at] = static_cast<uint32_t>(i + 1);
  }
  slots_.swap(slots);
}

uint32_t KeyIndex::Locate(const KeyRef& k, uint64_t hash, size_t* free_slot) const {
  if (slots_.empty()) return kNone;
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  for (; slots_[at] != 0; at = (at + 1) & mask) {
    const uint32_t i = slots_[at] - 1;
    const Bucket& b = buckets_[i];
    if (b.hash != hash || b.is_text != k.is_text) continue;
    if (k.is_text ? std::string_view(texts_).substr(b.text_at, b.text_size) == k.text
                  : b.number == k.number)
      return i;
  }
  if (free_slot) *free_slot = at;
  return kNone;
}

uint32_t KeyIndex::FindOrAdd(const KeyRef& k, uint64_t hash) {
  if (slots_.empty()) Grow();
  size_t at = 0;
  if (const uint32_t i = Locate(k, hash, &at); i != kNone) return i;
  Bucket b;
  b.hash = hash;
  b.is_text = k.is_text;
  b.number = k.number;
  if (k.is_text) {
    b.text_at = static_cast<uint32_t>(texts_.size());
    b.text_size = static_cast<uint32_t>(k.text.size());
    texts_.append(k.text);
  }
  const auto i = static_cast<uint32_t>(buckets_.size());
  buckets_.push_back(b);
  slots_[at] = i + 1;
  // At most half the slots are taken, so that probe runs stay short.
  if (buckets_.size() * 2 > slots_.size()) Grow();
  return i;
}

void KeyIndex::Reserve(Bucket& b) {
  if (b.count < b.room) return;
  if (b.first + b.room == rows_.size()) {
    // The last bucket of the row array grows in place.
    const uint32_t more = std::max<uint32_t>(b.room, 1);
    rows_.resize(rows_.size() + more);
    b.room += more;
    return;
  }
  const auto at = static_cast<uint32_t>(rows_.size());
  const uint32_t room = std::max<uint32_t>(b.room * 2, 2);
  rows_.resize(rows_.size() + room);
  std::copy_n(rows_.begin() + b.first, b.count, rows_.begin() + at);
  b.first = at;
  b.room = room;
}

bool KeyIndex::HasHeld(const Bucket& b, int c) const {
  if (c < 0) return false;
  if (c < 64) return (b.held >> c & 1) != 0;
  if (b.wide_held == kNone) return false;
  const auto& bits = wide_held_[b.wide_held];
  const auto w = static_cast<size_t>(c) / 64 - 1;
  return w < bits.size() && (bits[w] >> (static_cast<size_t>(c) % 64) & 1) != 0;
}

void KeyIndex::Build(const Worksheet& sheet, int col, int r1, int r2) {
  buckets_.clear();
  slots_.clear();
  texts_.clear();
  rows_.clear();
  wide_held_.clear();
  r1 = std::max(r1, 1);
  if (r2 < r1) return;
  // First the bucket of every row, then the rows laid out bucket by bucket.
  std::vector<uint32_t> of(static_cast<size_t>(r2 - r1 + 1), kNone);
  for (int r = r1; r <= r2; ++r) {
    const Cell* cell = sheet.FindCell(r, col);
    KeyRef k{false, 0, {}};
    if (cell) {
      switch (cell->Type()) {
        case CellType::kError:
          continue;
        case CellType::kBlank:
          break;
        case CellType::kText:
          k.is_text = true;
          k.text = sheet.TextOf(*cell);
          break;
        case CellType::kBool:
          k.number = cell->bits ? -1.0 : 0.0;
          break;
        case CellType::kNumber:
          k.number = cell->number == 0 ? 0.0 : cell->number;
          break;
      }
    }
    const uint32_t i = FindOrAdd(k, HashOf(k));
    of[static_cast<size_t>(r - r1)] = i;
    ++buckets_[i].room;
  }
  uint32_t at = 0;
  for (Bucket& b : buckets_) {
    b.first = at;
    at += b.room;
  }
  rows_.resize(at);
  for (int r = r1; r <= r2; ++r)
    if (const uint32_t i = of[static_cast<size_t>(r - r1)]; i != kNone) {
      Bucket& b = buckets_[i];
      rows_[b.first + b.count++] = r;
    }
}

std::span<const int> KeyIndex::Find(const Key& key) const {
  const uint32_t i = Locate(RefOf(key), HashOf(RefOf(key)), nullptr);
  if (i == kNone) return {};
  const Bucket& b = buckets_[i];
  return {rows_.data() + b.first, b.count};
}

int KeyIndex::FirstFrom(const Key& key, int from) {
  const uint32_t i = Locate(RefOf(key), HashOf(RefOf(key)), nullptr);
  if (i == kNone) return 0;
  Bucket& b = buckets_[i];
  const int* rows = rows_.data() + b.first;
  if (b.cursor > 0 && rows[b.cursor - 1] >= from) {
    // The search went back up: not the sorted merge's way, but still answered exactly.
    b.cursor = static_cast<uint32_t>(std::lower_bound(rows, rows + b.count, from) - rows);
    ++steps_;
  }
  while (b.cursor < b.count && rows[b.cursor] < from) {
    ++b.cursor;
    ++steps_;
  }
  ++steps_;
  return b.cursor < b.count ? rows[b.cursor] : 0;
}

void KeyIndex::Insert(const Key& key, int row) {
  const KeyRef k = RefOf(key);
  Bucket& b = buckets_[FindOrAdd(k, HashOf(k))];
  Reserve(b);
  int* rows = rows_.data() + b.first;
  int* pos = std::upper_bound(rows, rows + b.count, row);
  if (static_cast<uint32_t>(pos - rows) < b.cursor) ++b.cursor;
  std::copy_backward(pos, rows + b.count, rows + b.count + 1);
  *pos = row;
  ++b.count;
  b.held = 0;
  if (b.wide_held != kNone) wide_held_[b.wide_held].clear();
}

void KeyIndex::Erase(const Key& key, int row) {
  const uint32_t i = Locate(RefOf(key), HashOf(RefOf(key)), nullptr);
  if (i == kNone) return;
  Bucket& b = buckets_[i];
  int* rows = rows_.data() + b.first;
  int* pos = std::lower_bound(rows, rows + b.count, row);
  if (pos == rows + b.count || *pos != row) return;
  if (static_cast<uint32_t>(pos - rows) < b.cursor) --b.cursor;
  std::copy(pos + 1, rows + b.count, pos);
  --b.count;
}

bool KeyIndex::RowsToFill(const Key& key, const std::vector<int>& cols, std::vector<int>& out) {
  out.clear();
  const uint32_t i = Locate(RefOf(key), HashOf(RefOf(key)), nullptr);
  if (i == kNone || buckets_[i].count == 0) return false;
  const Bucket& b = buckets_[i];
  ++steps_;
  if (std::all_of(cols.begin(), cols.end(), [&](int c) { return HasHeld(b, c); })) return true;
  out.assign(rows_.begin() + b.first, rows_.begin() + b.first + b.count);
  steps_ += out.size();
  return true;
}

void KeyIndex::MarkHeld(const Key& key, const std::vector<int>& cols) {
  const uint32_t i = Locate(RefOf(key), HashOf(RefOf(key)), nullptr);
  if (i == kNone) return;
  Bucket& b = buckets_[i];
  for (int c : cols) {
    if (c < 0) continue;
    if (c < 64) {
      b.held |= uint64_t{1} << c;
      continue;
    }
    if (b.wide_held == kNone) {
      b.wide_held = static_cast<uint32_t>(wide_held_.size());
      wide_held_.emplace_back();
    }
    auto& bits = wide_held_[b.wide_held];
    const auto w = static_cast<size_t>(c) / 64 - 1;
    if (w >= bits.size()) bits.resize(w + 1, 0);
    bits[w] |= uint64_t{1} << (static_cast<size_t>(c) % 64);
  }
}

}  // namespace qm::engine
