// The bookkeeping that keeps the merges linear, held against plain recomputation on random work:
// the used range followed through row deletions, and the flat key index against a map of sorted
// row lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "merge/key_index.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

// The used range as a full pass over the rows finds it; r1 == 0 when nothing is used.
Range PlainUsed(const Worksheet& ws) {
  Range u{0, 0, 0, 0};
  for (int r = 1; r <= ws.RowCount(); ++r) {
    const auto& cells = ws.RowAt(r)->cells;
    if (cells.empty()) continue;
    if (u.r1 == 0) u = {r, cells.front().col, r, cells.front().col};
    u.r2 = r;
    u.c1 = std::min<int>(u.c1, cells.front().col);
    u.c2 = std::max<int>(u.c2, cells.back().col);
  }
  return u.r1 == 0 ? Range{1, 1, 1, 1} : u;
}

TEST(UsedRangeAfterDeletion, FollowsRandomDeletionsAsAFullRecountWould) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    Worksheet ws("S", std::make_shared<StyleTable>());
    const int rows = 1 + static_cast<int>(rng() % 30);
    for (int r = 1; r <= rows; ++r) {
      if (rng() % 4 == 0) continue;  // gaps, also at the top and the bottom
      const int from = 1 + static_cast<int>(rng() % 6), to = from + static_cast<int>(rng() % 5);
      for (int c = from; c <= to; c += 1 + static_cast<int>(rng() % 2))
        ASSERT_TRUE(ws.SetNumber(r, c, r * 100 + c).ok());
    }
    if (rng() % 3 == 0) ws.SetRowHeight(rows + 2, 30);  // a row with a height and no cells
    for (int step = 0; step < 6; ++step) {
      ASSERT_EQ(ws.UsedRange(), PlainUsed(ws)) << "round " << round << " step " << step;
      const int r = 1 + static_cast<int>(rng() % static_cast<unsigned>(rows + 3));
      ws.DeleteRows(r, 1 + static_cast<int>(rng() % 4));
    }
    ASSERT_EQ(ws.UsedRange(), PlainUsed(ws)) << "round " << round;
  }
}

TEST(UsedRangeAfterDeletion, CuttingEveryAppendedHeaderKeepsTheWidestColumns) {
  // The fast vertical merge's pattern: paste a table below, cut its first row.
  Worksheet res("R", std::make_shared<StyleTable>());
  for (int t = 0; t < 5; ++t) {
    Worksheet src("S", std::make_shared<StyleTable>());
    ASSERT_TRUE(src.SetText(1, 1 + t, "header").ok());  // only the header reaches this column
    ASSERT_TRUE(src.SetText(1, 9, "wide").ok());
    for (int r = 2; r <= 4; ++r) ASSERT_TRUE(src.SetNumber(r, 2, r).ok());
    const int next = res.IsEmpty() ? 1 : res.UsedRange().r2 + 1;
    ASSERT_TRUE(res.PasteFrom(src, src.UsedRange(), next, src.UsedRange().c1).ok());
    if (t > 0) res.DeleteRows(next);
    ASSERT_EQ(res.UsedRange(), PlainUsed(res)) << "table " << t;
  }
  EXPECT_EQ(res.UsedRange(), (Range{1, 1, 16, 9}));
}

// --- The key index against a map of sorted row lists ---------------------------------------

struct PlainIndex {
  std::map<std::pair<int, std::string>, std::vector<int>> rows;  // (0, number text) or (1, text)
  static std::pair<int, std::string> Of(const engine::Key& k) {
    return k.is_text ? std::make_pair(1, k.text) : std::make_pair(0, std::to_string(k.number));
  }
};

engine::Key RandomKey(std::mt19937& rng) {
  engine::Key k;
  const unsigned pick = rng() % 10;
  if (pick < 6) {
    k.number = static_cast<double>(rng() % 40);
  } else if (pick < 9) {
    // Texts that read like the numbers, long ones past any small-string buffer, the empty text.
    k.is_text = true;
    const unsigned n = rng() % 40;
    k.text = n == 0       ? ""
             : n % 3 == 0 ? std::string(40, 'x') + std::to_string(n)
                          : std::to_string(n);
  } else {
    k.number = 0.5 + static_cast<double>(rng() % 5);
  }
  return k;
}

TEST(FlatKeyIndex, AnswersAsSortedRowListsWouldThroughInsertsAndErases) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    // The sheet to build from: numbers, texts, blanks (key 0), booleans, errors (no key).
    Worksheet ws("S", std::make_shared<StyleTable>());
    PlainIndex plain;
    const int rows = 1 + static_cast<int>(rng() % 200);
    for (int r = 2; r <= rows; ++r) {
      const unsigned pick = rng() % 12;
      if (pick == 0) {
        ASSERT_TRUE(ws.SetError(r, 3, 7).ok());
        continue;
      }
      engine::Key k;
      if (pick == 1) {
        ASSERT_TRUE(ws.SetBool(r, 3, true).ok());
        k.number = -1;
      } else if (pick == 2) {
        // blank: the number 0
      } else if (pick == 3) {
        ASSERT_TRUE(ws.SetNumber(r, 3, -0.0).ok());
      } else {
        k = RandomKey(rng);
        if (k.is_text)
          ASSERT_TRUE(ws.SetText(r, 3, k.text).ok());
        else
          ASSERT_TRUE(ws.SetNumber(r, 3, k.number).ok());
      }
      plain.rows[PlainIndex::Of(k)].push_back(r);
    }
    engine::KeyIndex index;
    index.Build(ws, 3, 2, rows);

    std::vector<int> got, cols;
    int next_row = rows + 1;
    for (int op = 0; op < 400; ++op) {
      const engine::Key k = RandomKey(rng);
      auto& want = plain.rows[PlainIndex::Of(k)];
      switch (rng() % 5) {
        case 0: {
          // Rows go in at the end (appended) or among the others (a fill into the key column).
          const int row = rng() % 2 ? next_row++ : 2 + static_cast<int>(rng() % rows);
          if (std::find(want.begin(), want.end(), row) != want.end()) break;
          index.Insert(k, row);
          want.insert(std::upper_bound(want.begin(), want.end(), row), row);
          break;
        }
        case 1:
          if (!want.empty()) {
            const int row = want[rng() % want.size()];
            index.Erase(k, row);
            want.erase(std::find(want.begin(), want.end(), row));
          }
          index.Erase(k, 1);  // a row the key does not hold: nothing happens
          break;
        case 2: {
          const int from = 1 + static_cast<int>(rng() % static_cast<unsigned>(next_row));
          auto it = std::lower_bound(want.begin(), want.end(), from);
          ASSERT_EQ(index.FirstFrom(k, from), it == want.end() ? 0 : *it) << "round " << round;
          break;
        }
        default: {
          auto span = index.Find(k);
          ASSERT_EQ(std::vector<int>(span.begin(), span.end()), want) << "round " << round;
          cols = {static_cast<int>(rng() % 3), 64 + static_cast<int>(rng() % 100)};
          const bool found = index.RowsToFill(k, cols, got);
          ASSERT_EQ(found, !want.empty());
          // Before any mark the rows are all handed out; after one, none for the same columns.
          if (found && !got.empty()) {
            ASSERT_EQ(got, want);
            index.MarkHeld(k, cols);
            ASSERT_TRUE(index.RowsToFill(k, cols, got));
            ASSERT_TRUE(got.empty());
            cols.push_back(5);  // a column not marked: all rows again
            ASSERT_TRUE(index.RowsToFill(k, cols, got));
            ASSERT_EQ(got, want);
          }
          break;
        }
      }
    }
  }
}

TEST(FlatKeyIndex, NegativeZeroBlankAndFalseMeetWhileNaNMeetsNothing) {
  Worksheet ws("S", std::make_shared<StyleTable>());
  ASSERT_TRUE(ws.SetNumber(1, 1, -0.0).ok());
  ASSERT_TRUE(ws.SetBool(3, 1, false).ok());
  ASSERT_TRUE(ws.SetNumber(4, 1, std::nan("")).ok());
  ASSERT_TRUE(ws.SetText(5, 1, "0").ok());
  engine::KeyIndex index;
  index.Build(ws, 1, 1, 5);
  engine::Key zero;
  auto rows = index.Find(zero);
  EXPECT_EQ(std::vector<int>(rows.begin(), rows.end()), (std::vector<int>{1, 2, 3}));
  engine::Key nan;
  nan.number = std::nan("");
  EXPECT_TRUE(index.Find(nan).empty());
  engine::Key text;
  text.is_text = true;
  text.text = "0";
  EXPECT_EQ(index.FirstFrom(text, 1), 5);
  // A row inserted under a key that is new after the build lands in its own bucket.
  index.Insert(nan, 9);
  EXPECT_TRUE(index.Find(nan).empty());
}

}  // namespace
}  // namespace qm
