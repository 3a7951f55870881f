// Differential tests: the indexed engines against a plain row-by-row rendering of the rules on
// random tables with repeated keys, numbers beside texts that read alike, blanks, booleans and
// unsorted input.
#include <random>

#include "merge/key_index.h"
#include "test_engines_port.h"

namespace qm::testing {
namespace {

using G = std::vector<std::vector<std::string>>;

// --- The plain rendering: every comparison is a scan, as the rules are written ---------------

void PlainFill(Worksheet& res, const HeaderList& list, const Worksheet& src,
               const std::vector<std::string>& texts, int width, int r, int from, int j) {
  for (int k = from; k <= width; ++k) {
    CellValue v = src.Cells(r, k);
    if (IsEmptyValue(v)) continue;
    int c = LookupColumn(list, texts[static_cast<size_t>(k)]);
    if (IsEmptyValue(res.Cells(j, c))) (void)res.SetValue(j, c, NewValue::From(v));
  }
}

void PlainSmart(Worksheet& res, const std::vector<const Worksheet*>& sources, int key, int mode,
                bool sorted) {
  HeaderState h;
  DetectHeader(res, h);
  const int hr = h.HeaderRow;
  int width = h.HeaderWidth;
  HeaderList list = BuildHeaderList(res, h);
  for (const Worksheet* src : sources) {
    int row_count = res.UsedRange().RowsCount();
    DetectHeader(*src, h);
    HeaderList src_list = BuildHeaderList(*src, h);
    std::vector<std::string> texts{""};
    for (const auto& e : src_list) texts.push_back(e.text);
    if (HeaderListText(src_list) != HeaderListText(list))
      for (int i = 1; i <= h.HeaderWidth; ++i)
        if (LookupColumn(list, texts[static_cast<size_t>(i)]) == 0) {
          ++width;
          (void)res.SetValue(hr, width, NewValue::From(src->Cells(h.HeaderRow, i)));
          list.push_back({width, texts[static_cast<size_t>(i)]});
        }
    int cursor = hr + 1;
    for (int r = h.HeaderRow + 1; !IsEmptyValue(src->Cells(r, key)); ++r) {
      CellValue kv = src->Cells(r, key);
      if (sorted) {
        // Forward from the cursor; failing that, the first row behind it, the cursor staying.
        int found_at = 0;
        for (int j = cursor; j <= row_count && !found_at; ++j)
          if (KeysEqual(res.Cells(j, key), kv)) found_at = j;
        if (found_at) {
          PlainFill(res, list, *src, texts, h.HeaderWidth, r, key + 1, found_at);
          cursor = found_at + 1;
          continue;
        }
        for (int j = hr + 1; j < cursor && j <= row_count; ++j)
          if (KeysEqual(res.Cells(j, key), kv)) {
            PlainFill(res, list, *src, texts, h.HeaderWidth, r, key + 1, j);
            break;
          }
        continue;
      }
      bool found = false;
      for (int j = hr + 1; j <= row_count; ++j)
        if (KeysEqual(res.Cells(j, key), kv)) {
          PlainFill(res, list, *src, texts, h.HeaderWidth, r, key + 1, j);
          found = true;
        }
      if (mode == 1 && !found) {
        ++row_count;
        PlainFill(res, list, *src, texts, h.HeaderWidth, r, key, row_count);
      }
    }
  }
}

void PlainOverwrite(Worksheet& ws, int key, int header_row) {
  int last = ws.UsedRange().RowsCount();
  const int last_i = last - 1;
  for (int i = header_row + 1; i <= last_i; ++i) {
    const int last_j = last;
    for (int j = i + 1; j <= last_j; ++j) {
      CellValue a = ws.Cells(i, key), b = ws.Cells(j, key);
      if (!IsEmptyValue(a) && !IsEmptyValue(b) && KeysEqual(a, b)) {
        (void)ws.PasteFrom(ws, Range{j, 1, j, kMaxCols}, i, 1);
        ws.DeleteRows(j);
        --j;
        --last;
      }
    }
  }
}

// --- Random tables ---------------------------------------------------------------------------

struct Gen {
  std::mt19937 rng;
  explicit Gen(unsigned seed) : rng(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  V Key(bool allow_blank) {
    switch (Int(0, allow_blank ? 9 : 8)) {
      case 0:
      case 1:
      case 2:
        return V(Int(0, 5));
      case 3:
      case 4:
        return V(std::to_string(Int(0, 3)));
      case 5:
        return V(Int(0, 1) ? "x" : "X");
      case 6:
        return V::Bool(Int(0, 1));
      case 7:
        return V(-0.0);
      case 8:
        return V(Int(0, 1) ? 2.0 : 2.5);
      default:
        return V();
    }
  }
  V Value() {
    switch (Int(0, 4)) {
      case 0:
        return V();
      case 1:
        return V(Int(0, 3));
      case 2:
        return V("");
      default:
        return V("v" + std::to_string(Int(0, 99)));
    }
  }
  // A table whose header draws from a small pool, the key header usually at column `key`.
  Rows Table(int key, bool template_table) {
    static const char* pool[] = {"a", "b", "c", "d", "e", "f"};
    int width = Int(key, 5);
    Rows rows;
    if (Int(0, 4) == 0) rows.push_back({"title"});
    std::vector<V> header;
    for (int c = 1; c <= width; ++c)
      header.push_back(c == key && Int(0, 5) ? V("k") : V(pool[Int(0, 5)]));
    rows.push_back(header);
    int n = Int(0, 12);
    for (int i = 0; i < n; ++i) {
      std::vector<V> row;
      for (int c = 1; c <= width + Int(0, 1); ++c)
        row.push_back(c == key ? Key(template_table || Int(0, 15) == 0) : Value());
      rows.push_back(row);
    }
    return rows;
  }
};

TEST(EngineDifferentialTest, IndexedSmartPathsMatchThePlainScansOnRandomTables) {
  int runs = 0;
  for (unsigned seed = 1; seed <= 600; ++seed) {
    Gen g(seed);
    const int key = g.Int(1, 2);
    const int mode = static_cast<int>(seed % 3);  // 0, 1, and 2 for the sorted path
    Bench b;
    b.Add("t.xls", g.Table(key, true));
    const int n = g.Int(1, 4);
    for (int i = 0; i < n; ++i) b.Add("s" + std::to_string(i) + ".xls", g.Table(key, false));

    // The plain rendering works on the template pasted the same way.
    const Worksheet& tpl = *b.store.Get("/src/t.xls")->Worksheets(1);
    Worksheet expected("r", nullptr);
    (void)expected.PasteFrom(tpl, tpl.UsedRange(), 1, 1);
    HeaderState probe;
    DetectHeader(expected, probe);
    if (probe.HeaderWidth < key) continue;  // the key answer would not count
    std::vector<const Worksheet*> sources;
    for (int i = 0; i < n; ++i)
      sources.push_back(b.store.Get("/src/s" + std::to_string(i) + ".xls")->Worksheets(1));
    PlainSmart(expected, sources, key, mode == 2 ? 0 : mode, mode == 2);

    b.port.inputs = {std::to_string(key)};
    if (mode == 2) b.port.buttons = {Answer::kYes};
    ASSERT_EQ(SmartMerge(mode == 1 ? SmartMode::kBoth : SmartMode::kHorizontal, b.ctx).outcome,
              Outcome::kDone)
        << seed;
    ASSERT_EQ(Grid(*b.Saved("智能合并结果.xls")), Grid(expected)) << "seed " << seed;
    ++runs;
  }
  EXPECT_GT(runs, 300);
}

TEST(EngineDifferentialTest, OverwritePassMatchesThePairwiseDeletionLoop) {
  for (unsigned seed = 1; seed <= 600; ++seed) {
    Gen g(seed);
    Worksheet a("a", nullptr);
    int rows = g.Int(0, 40);
    Fill(a, Rows{{"k", "v"}});
    for (int r = 2; r <= rows + 1; ++r) {
      Fill(a, Rows{{g.Key(true), g.Value(), V(r)}}, r);
      if (g.Int(0, 6) == 0) a.SetRowHeight(r, 10 + r);
    }
    Worksheet b = a;
    const int header_row = g.Int(0, 2);
    HeaderState h{header_row, 2};
    ScriptedPort port;
    Presenter presenter(port);
    OverwriteDuplicates(a, 1, "k", h, presenter);
    PlainOverwrite(b, 1, header_row);
    ASSERT_EQ(Grid(a), Grid(b)) << "seed " << seed;
    for (int r = 1; r <= rows + 1; ++r) ASSERT_EQ(a.RowHeight(r), b.RowHeight(r)) << seed;
  }
}

}  // namespace
}  // namespace qm::testing
