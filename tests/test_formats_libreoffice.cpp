// The samples of XML Spreadsheet, OpenDocument, .xlsb and WPS files, converted to .xlsx by
// LibreOffice here and now, hold what we read from them: every worksheet's name, state, values
// and merged ranges. The reference dumps beside the samples say the same for the first sheet;
// this checks the whole workbook against the program itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "format_samples.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/xlsx/zip_reader.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// The states of the sheets LibreOffice wrote ("hidden" or "visible"), in order.
std::vector<bool> HiddenStates(const std::string& xlsx) {
  std::vector<bool> out;
  const std::string bytes = testing::Slurp(xlsx);
  auto zip = zip::Archive::Open(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), xlsx);
  if (!zip.ok()) return out;
  const zip::Entry* e = zip->Find("xl/workbook.xml");
  if (!e) return out;
  auto text = zip->ReadAll(*e);
  if (!text.ok()) return out;
  static const std::regex sheet("<sheet [^>]*>");
  for (auto it = std::sregex_iterator(text->begin(), text->end(), sheet);
       it != std::sregex_iterator(); ++it)
    out.push_back(it->str().find("state=\"hidden\"") != std::string::npos ||
                  it->str().find("state=\"veryHidden\"") != std::string::npos);
  return out;
}

// A value as text for messages.
std::string Show(const CellValue& v) {
  if (v.IsText()) return "text \"" + std::string(v.text).substr(0, 60) + "\"";
  if (v.IsNumber()) return "number " + std::to_string(v.number);
  if (v.IsBool()) return v.number ? "TRUE" : "FALSE";
  if (v.IsError()) return ErrorText(v.error);
  return "blank";
}

bool SameCell(const CellValue& ours, const CellValue& lo) {
  if (ours.type != lo.type) return false;
  if (ours.IsNumber())
    return ours.number == lo.number ||
           std::fabs(ours.number - lo.number) <= 1e-9 * std::fabs(lo.number) ||
           // LibreOffice counts the days before 1 March 1900 one higher (no 29 February 1900).
           (ours.is_date && lo.number < 61 && std::fabs(ours.number + 1 - lo.number) < 1e-9);
  if (ours.IsText())
    return testing::CrLfAsLf(std::string(ours.text)) == testing::CrLfAsLf(std::string(lo.text));
  if (ours.IsBool()) return ours.number == lo.number;
  if (ours.IsError()) return ours.error == lo.error;
  return true;
}

TEST(FormatSamplesLibreOffice, LibreOfficeConvertsEverySampleToWhatWeRead) {
  if (!testing::HaveLibreOffice()) {
    SKIP_WITHOUT_CHECKER("LibreOffice (soffice) is not installed");
  }
  const fs::path dir = testing::FreshTestFolder("qm_formats_lo");
  struct Item {
    testing::FormatSample sample;
    std::string copy;  // its name in `dir`: the kind first, so that names do not collide
  };
  std::vector<Item> items;
  for (const char* kind : {"xml", "ods", "fods", "xlsb", "et"})
    for (auto& s : testing::FormatSamples(kind)) {
      const std::string copy = std::string(kind) + "__" + fs::path(s.path).filename().string();
      fs::copy_file(s.path, dir / copy);
      items.push_back({std::move(s), copy});
    }
  if (items.empty()) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats");
  }
  std::vector<std::string> copies;
  for (const Item& i : items) copies.push_back(i.copy);
  const testing::Conversion conv = testing::ConvertWithLibreOffice(dir, copies, "xlsx");
  ASSERT_TRUE(conv.ok) << "LibreOffice could not convert:\n" << conv.console;

  for (const Item& item : items) {
    SCOPED_TRACE(item.sample.rel);
    auto ours = ReadWorkbookFile(item.sample.path);
    ASSERT_TRUE(ours.ok()) << ours.error().detail;
    const std::string xlsx =
        (dir / "out" / (fs::path(item.copy).stem().string() + ".xlsx")).string();
    auto lo = ReadWorkbookFile(xlsx);
    ASSERT_TRUE(lo.ok()) << lo.error().detail;
    ASSERT_EQ((*ours)->WorksheetCount(), (*lo)->WorksheetCount());
    // LibreOffice shows every sheet of an XML Spreadsheet; Excel hides what the file hides.
    const std::vector<bool> states = HiddenStates(xlsx);
    const bool xmlss = item.sample.rel.rfind("xml/", 0) == 0;
    // What LibreOffice reads differently from the file's stored values, for the first sheet.
    std::map<std::pair<int, int>, std::vector<nlohmann::json>> alts;
    for (const auto& a : item.sample.ref.value("alts", nlohmann::json::array()))
      alts[{a[0], a[1]}].push_back(a[2]);
    for (int i = 1; i <= (*ours)->WorksheetCount(); ++i) {
      const Worksheet& a = *(*ours)->Worksheets(i);
      const Worksheet& b = *(*lo)->Worksheets(i);
      SCOPED_TRACE(a.Name());
      EXPECT_EQ(a.Name(), b.Name());
      if (!xmlss && static_cast<size_t>(i) <= states.size()) {
        EXPECT_EQ(a.IsHidden(), states[static_cast<size_t>(i - 1)]);
      }
      std::set<std::pair<int, int>> cells;
      for (const Worksheet* ws : {&a, &b})
        for (int r = 1; r <= ws->RowCount(); ++r)
          for (const Cell& c : ws->RowAt(r)->cells)
            if (c.Type() != CellType::kBlank) cells.insert({r, c.col});
      int bad = 0;
      for (const auto& [r, c] : cells) {
        const CellValue x = a.Cells(r, c), y = b.Cells(r, c);
        // LibreOffice recalculates formulas of these formats on load, with its own functions:
        // their cells hold its results, not the file's. The reference tests compare the saved
        // results of the first sheets.
        if (!y.formula.empty() || SameCell(x, y)) continue;
        // Its XML Spreadsheet import drops Boolean constants; Excel shows them.
        if (xmlss && x.IsBool() && y.IsBlank()) continue;
        bool alt = false;
        if (i == 1)
          for (const auto& v : alts[{r, c}])
            alt = alt || (v.is_null() ? x.IsBlank() : testing::SameValue(v[0], v[1], x));
        if (alt) continue;
        if (++bad <= 10)
          ADD_FAILURE() << "(" << r << "," << c << "): ours " << Show(x) << ", LibreOffice's "
                        << Show(y);
      }
      auto merges = [](const Worksheet& ws) {
        std::vector<Range> m = ws.merges();
        std::sort(m.begin(), m.end(), [](const Range& p, const Range& q) {
          return std::tie(p.r1, p.c1, p.r2, p.c2) < std::tie(q.r1, q.c1, q.r2, q.c2);
        });
        return m;
      };
      EXPECT_EQ(merges(a), merges(b));
      // Dates stay dates: a number is a date to us where it is one to LibreOffice, formula
      // results aside (LibreOffice makes dates of them by the functions they call, which no
      // file says). Its XML Spreadsheet import gets number formats wrong both ways (an empty
      // <NumberFormat/> becomes a date, "m/d;@" becomes General): the reference tests and
      // XmlSpreadsheet's own check those dates instead.
      if (xmlss) continue;
      for (int r = 1; r <= b.RowCount(); ++r)
        for (const Cell& c : b.RowAt(r)->cells) {
          const CellValue x = a.Cells(r, c.col), y = b.ValueOf(c);
          if (x.IsNumber() && y.IsNumber() && b.FormulaOf(c).empty()) {
            EXPECT_EQ(x.is_date, y.is_date) << "(" << r << "," << c.col << ")";
          }
        }
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
