// Compares our reading of a workbook's first worksheet with the reference dumps that lie beside
// the real-world files of the shared corpus.
#pragma once

#include <nettle/sha1.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "workbook/workbook.h"

namespace qm::testing {

struct CorpusFile {
  std::string path;    // the workbook
  std::string rel;     // "poi/12561-1.xls"
  nlohmann::json ref;  // its reference dump
};

// Every corpus workbook whose reference format satisfies `want` ("biff8", "xlsx", ...).
inline std::vector<CorpusFile> CorpusFiles(const std::function<bool(const nlohmann::json&)>& want) {
  namespace fs = std::filesystem;
  std::vector<CorpusFile> out;
  fs::path root(QM_CORPUS_DIR);
  if (!fs::is_directory(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().extension() != ".json") continue;
    fs::path wb = e.path();
    wb.replace_extension();
    if (!fs::exists(wb)) continue;
    std::ifstream in(e.path());
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded() || !want(j)) continue;
    // '/' between the parts everywhere, as the known exceptions are written.
    out.push_back({wb.generic_string(), fs::relative(wb, root).generic_string(), std::move(j)});
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.rel < b.rel; });
  return out;
}

inline std::string Sha1Hex(const std::string& s) {
  sha1_ctx ctx;
  sha1_init(&ctx);
  sha1_update(&ctx, s.size(), reinterpret_cast<const uint8_t*>(s.data()));
  uint8_t d[SHA1_DIGEST_SIZE];
  sha1_digest(&ctx, sizeof d, d);
  static const char* hex = "0123456789abcdef";
  std::string o;
  for (uint8_t b : d) o += hex[b >> 4], o += hex[b & 15];
  return o;
}

inline size_t Utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char ch : s) n += (ch & 0xC0) != 0x80;
  return n;
}

// One known, deliberate difference between our reading and the reference's.
struct Allowance {
  std::string file;    // rel path, or "" for every file
  std::string reason;  // why the readers differ
  // Returns true when this mismatch of (row, col) is the documented difference.
  std::function<bool(int row, int col, const nlohmann::json& ref_cell, const CellValue& ours)> fits;
};

// Returns the mismatches, one line each; empty when the first sheet matches the reference.
inline std::vector<std::string> CompareFirstSheet(const Workbook& wb, const CorpusFile& f,
                                                  const std::vector<Allowance>& allowances = {}) {
  std::vector<std::string> bad;
  const Worksheet* ws = wb.Worksheets(1);
  if (!ws) return {"no first worksheet"};
  const auto& ref = f.ref;
  auto allowed = [&](int r, int c, const nlohmann::json& rc, const CellValue& v) {
    for (const auto& a : allowances)
      if ((a.file.empty() || a.file == f.rel) && a.fits(r, c, rc, v)) return true;
    return false;
  };
  auto where = [](int r, int c) { return "(" + std::to_string(r) + "," + std::to_string(c) + ")"; };
  std::map<std::pair<int, int>, bool> listed;
  auto check = [&](const nlohmann::json& cell) {
    int r = cell[0], c = cell[1];
    std::string type = cell[2];
    const nlohmann::json& val = cell[3];
    listed[{r, c}] = true;
    CellValue v = ws->Cells(r, c);
    bool ok = false;
    std::string got;
    if (type == "number" || type == "date") {
      ok = v.type == CellType::kNumber;
      if (ok) {
        double want;
        if (val.is_string())
          want = val == "NaN" ? NAN : (val == "Infinity" ? INFINITY : -INFINITY);
        else
          want = val.get<double>();
        if (std::isnan(want))
          ok = std::isnan(v.number);
        else
          ok = v.number == want || std::fabs(v.number - want) <= 1e-9 * std::fabs(want);
      }
      got = "number " + std::to_string(v.number);
    } else if (type == "text") {
      std::string want = val.get<std::string>();
      std::string ours(v.text);
      if (want.rfind("<<LONG len=", 0) == 0) {
        ok = v.type == CellType::kText && want == "<<LONG len=" + std::to_string(Utf8Length(ours)) +
                                                      " sha1=" + Sha1Hex(ours) + ">>";
      } else {
        ok = v.type == CellType::kText && ours == want;
      }
      got = "text \"" + ours.substr(0, 80) + "\"";
    } else if (type == "bool") {
      ok = v.type == CellType::kBool && v.number == val.get<double>();
      got = "bool";
    } else if (type == "error") {
      ok = v.type == CellType::kError && ErrorText(v.error) == val.get<std::string>();
      got = "error";
    }
    if (v.type == CellType::kBlank) got = "blank";
    if (!ok && !allowed(r, c, cell, v))
      bad.push_back(where(r, c) + ": want " + cell.dump().substr(0, 120) + ", got " + got);
  };
  for (const auto& cell : ref["cells"]) check(cell);
  if (ref.contains("tail_cells") && ref["tail_cells"].is_array())
    for (const auto& cell : ref["tail_cells"]) check(cell);
  // Nothing of ours inside the dumped window that the reference does not have.
  for (int r = 1; r <= std::min(ws->RowCount(), 2000); ++r) {
    for (const Cell& cell : ws->RowAt(r)->cells) {
      if (cell.col > 100) break;
      CellValue v = ws->ValueOf(cell);
      if (v.type == CellType::kBlank || listed.count({r, cell.col})) continue;
      if (!allowed(r, cell.col, nullptr, v))
        bad.push_back(where(r, cell.col) + ": we read a value the reference does not have");
    }
  }
  if (bad.size() > 20) bad.resize(20);
  return bad;
}

}  // namespace qm::testing
