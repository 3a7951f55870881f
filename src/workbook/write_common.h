// What both writers do alike before content goes into a file.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "utf.h"
#include "worksheet.h"

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

// The number formats a file gets. East Asian built-in dates (ids 27-36 and 50-58) are known
// only to spreadsheet programs of those locales; elsewhere a cell in such a format shows a bare
// serial number, so each one in use is written out with its text like a custom format. (The
// currency ids 5-8 and 41-44 are left to the reader: a file that names them without defining
// them means the reader's own currency.) A cell format naming an id that is neither defined nor
// built in falls back to General rather than leave a dangling reference that makes readers
// repair the file.
class WrittenNumFmts {
 public:
  WrittenNumFmts(const StyleTable& st, size_t xf_count) : formats_(st.num_fmts()) {
    for (size_t i = 0; i < xf_count && i < st.xfs().size(); ++i) {
      int id = st.xfs()[i].num_fmt;
      if (formats_.count(id)) continue;
      bool east_asian = (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
      if (east_asian) formats_.emplace(id, BuiltinFormatString(id));
    }
  }
  // Every format to write, by id.
  const std::map<int, std::string>& formats() const { return formats_; }
  // The id a cell format refers to in the file.
  uint16_t Id(uint16_t num_fmt) const {
    if (formats_.count(num_fmt) || *BuiltinFormatString(num_fmt)) return num_fmt;
    return 0;
  }

 private:
  std::map<int, std::string> formats_;
};

// Sheet names as spreadsheet programs accept them: none of []:*?/\, no apostrophe at either
// end, 1 to 31 characters, and no two alike (letter case aside). A clash gets " (2)", " (3)"...
inline std::vector<std::string> WritableSheetNames(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  auto lower = [](std::string t) {
    for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return t;
  };
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string n = names[i];
    for (char& ch : n)
      if (std::string_view("[]:*?/\\").find(ch) != std::string_view::npos) ch = '_';
    while (!n.empty() && n.front() == '\'') n.erase(0, 1);
    while (!n.empty() && n.back() == '\'') n.pop_back();
    if (n.empty()) n = "Sheet" + std::to_string(i + 1);
    std::string base = CutUtf16(n, 31);
    n = base;
    for (int k = 2; seen.count(lower(n)); ++k) {
      std::string suffix = " (" + std::to_string(k) + ")";
      n = CutUtf16(base, 31 - suffix.size()) + suffix;
    }
    seen.insert(lower(n));
    out.push_back(n);
  }
  return out;
}

// The sheet shown when the file opens: the first one that is not hidden (0 when all are).
inline size_t FirstVisibleSheet(const std::vector<const Worksheet*>& sheets) {
  for (size_t i = 0; i < sheets.size(); ++i)
    if (!sheets[i]->IsHidden()) return i;
  return 0;
}

// Whether sheet i is written hidden. A workbook needs one visible sheet to open at all, so when
// every sheet is hidden the first is written visible.
inline bool WrittenHidden(const std::vector<const Worksheet*>& sheets, size_t i) {
  return sheets[i]->IsHidden() && !(i == 0 && sheets[FirstVisibleSheet(sheets)]->IsHidden());
}

}  // namespace qm
