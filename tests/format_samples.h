// The sample files of the formats beyond .xls/.xlsx (../shared/corpus/formats/<kind>/) and their
// reference dumps: the first worksheet and the sheet list as LibreOffice reads them, with the
// values stored in the file as second readings ("alts") where LibreOffice differs from them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "workbook/io.h"
#include "workbook/workbook.h"

namespace qm::testing {

struct FormatSample {
  std::string path;    // the sample
  std::string rel;     // "xlsb/ErrorTypes.xlsb"
  nlohmann::json ref;  // its reference dump
};

// The samples of one folder of formats/ ("xml", "ods", "fods", "xlsb", "et"), sorted by name.
inline std::vector<FormatSample> FormatSamples(const std::string& kind) {
  namespace fs = std::filesystem;
  std::vector<FormatSample> out;
  const fs::path dir = fs::path(QM_CORPUS_DIR) / "formats" / kind;
  if (!fs::is_directory(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".json") continue;
    fs::path sample = e.path();
    sample.replace_extension();
    if (!fs::exists(sample)) continue;
    std::ifstream in(e.path());
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded()) continue;
    out.push_back({sample.generic_string(), kind + "/" + sample.filename().string(), std::move(j)});
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.rel < b.rel; });
  return out;
}

inline std::string CrLfAsLf(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Whether our value equals a reference value [kind, value, ...]. Numbers, dates and times are
// one class (within 1e-9 relative), texts compare after CR LF and CR became LF.
inline bool SameValue(const std::string& kind, const nlohmann::json& value, const CellValue& v) {
  if (kind == "number" || kind == "date" || kind == "time") {
    if (!v.IsNumber() || !value.is_number()) return false;
    const double want = value.get<double>();
    return v.number == want || std::fabs(v.number - want) <= 1e-9 * std::fabs(want);
  }
  if (kind == "text")
    return v.IsText() && CrLfAsLf(std::string(v.text)) == CrLfAsLf(value.get<std::string>());
  if (kind == "bool") return v.IsBool() && v.number == value.get<double>();
  if (kind == "error") return v.IsError() && ErrorText(v.error) == value.get<std::string>();
  return false;
}

// LibreOffice counts the days before 1 March 1900 from 30 December 1899 without Excel's
// 29 February 1900, so its serials of those dates are one higher than the file's.
inline bool EarlyDateOneHigher(const nlohmann::json& cell, const CellValue& v) {
  const std::string kind = cell[2];
  if (kind != "date" || !v.IsNumber() || !cell[3].is_number()) return false;
  const double want = cell[3].get<double>();
  return want < 61 && std::fabs(v.number + 1 - want) <= 1e-9 * std::fabs(want);
}

// The mismatches of `ws` against the reference cells of `ref` (the first worksheet's), one line
// each; the alternative readings count as right, and so do the early dates above.
inline std::vector<std::string> CompareWithReference(const Worksheet& ws,
                                                     const nlohmann::json& ref) {
  std::vector<std::string> bad;
  std::map<std::pair<int, int>, std::vector<nlohmann::json>> alts;
  for (const auto& a : ref.value("alts", nlohmann::json::array()))
    alts[{a[0], a[1]}].push_back(a[2]);
  auto alt_fits = [&](int r, int c, const CellValue& v) {
    for (const auto& a : alts[{r, c}]) {
      if (a.is_null() && v.IsBlank()) return true;
      if (!a.is_null() && SameValue(a[0], a[1], v)) return true;
    }
    return false;
  };
  auto where = [](int r, int c) { return "(" + std::to_string(r) + "," + std::to_string(c) + ")"; };
  std::map<std::pair<int, int>, bool> listed;
  for (const auto& cell : ref["cells"]) {
    const int r = cell[0], c = cell[1];
    listed[{r, c}] = true;
    const CellValue v = ws.Cells(r, c);
    if (SameValue(cell[2], cell[3], v) || alt_fits(r, c, v) || EarlyDateOneHigher(cell, v))
      continue;
    bad.push_back(where(r, c) + ": want " + cell.dump().substr(0, 100) + ", got " +
                  (v.IsText()    ? "text \"" + std::string(v.text).substr(0, 60) + "\""
                   : v.IsBlank() ? std::string("blank")
                                 : "number " + std::to_string(v.number)));
  }
  for (int r = 1; r <= std::min(ws.RowCount(), 2000); ++r)
    for (const Cell& cell : ws.RowAt(r)->cells) {
      if (cell.col > 100) break;
      const CellValue v = ws.ValueOf(cell);
      if (v.IsBlank() || listed.count({r, cell.col}) || alt_fits(r, cell.col, v)) continue;
      bad.push_back(where(r, cell.col) + ": we read a value the reference does not have");
    }
  if (bad.size() > 20) bad.resize(20);
  return bad;
}

// Reads every sample of `kind` and checks, against its reference: the format name, the first
// worksheet's name and cells, the date system, and the names of the sheets in order (with their
// hidden state when `states` is set). Returns how many samples were compared.
inline int ExpectSamplesReadAsReference(const std::string& kind, const std::string& format,
                                        bool states) {
  int compared = 0;
  for (const FormatSample& f : FormatSamples(kind)) {
    SCOPED_TRACE(f.rel);
    if (!f.ref.value("ok", false)) continue;
    auto wb = ReadWorkbookFile(f.path);
    if (!wb.ok()) {
      ADD_FAILURE() << wb.error().detail;
      continue;
    }
    EXPECT_STREQ(SourceFormatName((*wb)->format()), format.c_str());
    EXPECT_EQ((*wb)->styles().date1904, f.ref.value("date1904", false));
    const auto& sheets = f.ref["sheets"];
    std::vector<std::string> want_names, got_names;
    for (const auto& s : sheets) want_names.push_back(s["name"]);
    for (int i = 1; i <= (*wb)->WorksheetCount(); ++i)
      got_names.push_back((*wb)->Worksheets(i)->Name());
    EXPECT_EQ(got_names, want_names);
    if (states && got_names == want_names) {
      for (size_t i = 0; i < sheets.size(); ++i) {
        const bool hidden = sheets[i]["state"] != "visible";
        EXPECT_EQ((*wb)->Worksheets(static_cast<int>(i) + 1)->IsHidden(), hidden)
            << sheets[i]["name"];
      }
    }
    const Worksheet* ws = (*wb)->Worksheets(1);
    if (!ws) {
      ADD_FAILURE() << "no worksheet";
      continue;
    }
    EXPECT_EQ(ws->Name(), f.ref.value("sheet", ""));
    for (const auto& line : CompareWithReference(*ws, f.ref)) ADD_FAILURE() << line;
    ++compared;
  }
  return compared;
}

}  // namespace qm::testing
