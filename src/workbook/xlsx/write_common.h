// What both writers do alike before content goes into a file.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "../worksheet.h"

namespace qm {

// The merged ranges a file can hold: inside the grid and none overlapping one kept before it
// (spreadsheet programs repair or refuse files with overlapping merges). `dropped` counts the
// others.
inline std::vector<Range> WritableMerges(const std::vector<Range>& in, int max_rows, int max_cols,
                                         size_t* dropped) {
  constexpr size_t kSmall = 4096;  // ranges up to this many cells are checked cell by cell
  std::vector<Range> out, big;
  std::unordered_set<uint64_t> taken;
  auto key = [](int r, int c) { return static_cast<uint64_t>(r) << 16 | static_cast<uint64_t>(c); };
  for (const Range& m : in) {
    bool ok = m.r1 >= 1 && m.c1 >= 1 && m.r2 >= m.r1 && m.c2 >= m.c1 && m.r2 <= max_rows &&
              m.c2 <= max_cols && !(m.r1 == m.r2 && m.c1 == m.c2);
    size_t area = ok ? static_cast<size_t>(m.RowsCount()) * m.ColumnsCount() : 0;
    for (size_t i = 0; ok && i < big.size(); ++i) ok = !big[i].Intersects(m);
    if (ok && area <= kSmall) {
      for (int r = m.r1; ok && r <= m.r2; ++r)
        for (int c = m.c1; ok && c <= m.c2; ++c) ok = !taken.count(key(r, c));
    } else if (ok) {
      for (size_t i = 0; ok && i < out.size(); ++i) ok = !out[i].Intersects(m);
    }
    if (!ok) {
      ++*dropped;
      continue;
    }
    out.push_back(m);
    if (area <= kSmall) {
      for (int r = m.r1; r <= m.r2; ++r)
        for (int c = m.c1; c <= m.c2; ++c) taken.insert(key(r, c));
    } else {
      big.push_back(m);
    }
  }
  return out;
}

}  // namespace qm
