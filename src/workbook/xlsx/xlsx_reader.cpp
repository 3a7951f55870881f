// Reads .xlsx/.xlsm packages: finds the parts through the relationships, reads the workbook part
// and the shared strings here and hands styles (xlsx_read_styles.cpp) and worksheets
// (xlsx_read_sheet.cpp) to their own readers. Every part is streamed through expat, so memory
// follows the cells, not the size of the XML.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "../io.h"
#include "../memory_budget.h"
#include "../utf.h"
#include "../xlsb/xlsb.h"
#include "xlsx.h"
#include "xlsx_read_internal.h"
#include "xlsx_read_parts.h"
#include "xlsx_read_xml.h"
#include "zip_reader.h"

namespace qm::xlsx {

// ---------------------------------------------------------------------------------------------
// Small text helpers

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of an escape "_xHHHH_" at s[i], or -1.
int EscapeAt(std::string_view s, size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || (s[i + 1] != 'x' && s[i + 1] != 'X') || s[i + 6] != '_')
    return -1;
  int v = 0;
  for (size_t k = 2; k < 6; ++k) {
    int d = HexDigit(s[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string DirOf(std::string_view part) {
  size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

std::string DecodeEscapes(std::string_view s) {
  if (s.find("_x") == std::string_view::npos && s.find("_X") == std::string_view::npos)
    return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    int u = EscapeAt(s, i);
    if (u < 0) {
      out += s[i++];
      continue;
    }
    i += 7;
    uint32_t cp = static_cast<uint32_t>(u);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      int lo = EscapeAt(s, i);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(lo) - 0xDC00);
        i += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool ParseCellRef(std::string_view ref, int& row, int& col) {
  size_t i = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  int64_t c = 0;
  size_t letters = 0;
  for (; i < ref.size(); ++i, ++letters) {
    char ch = ref[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (ch < 'A' || ch > 'Z') break;
    if (c > 1'000'000) return false;
    c = c * 26 + (ch - 'A' + 1);
  }
  if (letters == 0) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  int64_t r = 0;
  size_t digits = 0;
  for (; i < ref.size(); ++i, ++digits) {
    if (ref[i] < '0' || ref[i] > '9') return false;
    if (r > 100'000'000) return false;
    r = r * 10 + (ref[i] - '0');
  }
  if (digits == 0) return false;
  row = static_cast<int>(r);
  col = static_cast<int>(c);
  return true;
}

std::optional<double> IsoToSerial(std::string_view s, bool date1904) {
  auto num = [&](size_t pos, size_t len, int& out) {
    if (pos + len > s.size()) return false;
    out = 0;
    for (size_t k = pos; k < pos + len; ++k) {
      if (s[k] < '0' || s[k] > '9') return false;
      out = out * 10 + (s[k] - '0');
    }
    return true;
  };
  double days = 0;
  size_t t = 0;
  int y, mo, d;
  bool has_date =
      num(0, 4, y) && s.size() >= 10 && s[4] == '-' && num(5, 2, mo) && s[7] == '-' && num(8, 2, d);
  if (has_date) {
    if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
    int64_t dn = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    if (date1904) {
      days = static_cast<double>(dn - DaysFromCivil(1904, 1, 1));
    } else {
      days = static_cast<double>(dn - DaysFromCivil(1899, 12, 30));
      // The 1900 system counts a 29 February 1900 that never was.
      if (days < 61) days -= 1;
    }
    if (s.size() == 10) return days;
    if (s[10] != 'T' && s[10] != ' ') return std::nullopt;
    t = 11;
  }
  int h, mi, sec = 0;
  if (!num(t, 2, h) || t + 2 >= s.size() || s[t + 2] != ':' || !num(t + 3, 2, mi))
    return has_date ? std::optional<double>(days) : std::nullopt;
  double frac = 0;
  size_t k = t + 5;
  if (k < s.size() && s[k] == ':') {
    if (!num(k + 1, 2, sec)) return std::nullopt;
    k += 3;
    if (k < s.size() && s[k] == '.') {
      double scale = 0.1;
      for (++k; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k, scale /= 10)
        frac += (s[k] - '0') * scale;
    }
  }
  return days + (h * 3600 + mi * 60 + sec + frac) / 86400.0;
}

std::string ResolveTarget(std::string_view base_dir, std::string_view target) {
  std::string path;
  if (!target.empty() && target.front() == '/')
    path = std::string(target.substr(1));
  else
    path = std::string(base_dir) + std::string(target);
  // Fold "." and ".." segments.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string seg = path.substr(start, slash - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = slash + 1;
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Relationships

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

class RelsHandler : public XmlHandler {
 public:
  std::vector<Relationship> rels;
  void Start(std::string_view n, const XML_Char** a) {
    if (n != "Relationship") return;
    Relationship r;
    if (const char* v = Attr(a, "Id")) r.id = v;
    if (const char* v = Attr(a, "Type")) r.type = v;
    if (const char* v = Attr(a, "Target")) r.target = v;
    r.external = Attr(a, "TargetMode") && std::string_view(Attr(a, "TargetMode")) == "External";
    rels.push_back(std::move(r));
  }
  void End(std::string_view) {}
  void Text(const char*, int) {}
};

// ---------------------------------------------------------------------------------------------
// Workbook

struct SheetEntry {
  std::string name, rel_id;
  bool hidden = false;  // state="hidden" or "veryHidden"
};

class WorkbookHandler : public XmlHandler {
 public:
  std::vector<SheetEntry> sheets;
  bool date1904 = false;
  void Start(std::string_view n, const XML_Char** a) {
    if (n == "sheet") {
      SheetEntry s;
      if (const char* v = Attr(a, "name")) s.name = v;
      if (const char* v = Attr(a, "id")) s.rel_id = v;
      if (const char* v = Attr(a, "state")) s.hidden = std::string_view(v) != "visible";
      sheets.push_back(std::move(s));
    } else if (n == "workbookPr") {
      date1904 = IsTrue(Attr(a, "date1904"));
    }
  }
  void End(std::string_view) {}
  void Text(const char*, int) {}
};

// ---------------------------------------------------------------------------------------------
// Shared strings: runs joined, phonetic runs skipped.

class SharedStringsHandler : public XmlHandler {
 public:
  std::vector<std::string> strings;
  memory::Account account;  // what `strings` holds, charged to the memory budget
  void Start(std::string_view n, const XML_Char** a) {
    if (n == "si") {
      in_si_ = true;
      cur_.clear();
    } else if (n == "rPh") {
      ++in_rph_;
    } else if (n == "t" && in_si_ && !in_rph_) {
      in_t_ = true;
    } else if (n == "sst" && strings.empty()) {
      // A count hint, trusted only so far as it cannot blow memory up.
      int unique = ToInt(Attr(a, "uniqueCount"));
      if (unique > 0) strings.reserve(std::min(unique, 1 << 20));
    }
  }
  void End(std::string_view n) {
    if (n == "t") {
      in_t_ = false;
    } else if (n == "rPh") {
      if (in_rph_) --in_rph_;
    } else if (n == "si") {
      in_si_ = false;
      const size_t capacity = strings.capacity();
      strings.push_back(DecodeEscapes(cur_));
      // Millions of short strings take far more memory than their XML: they count.
      account.Note((strings.capacity() - capacity) * sizeof(std::string) +
                   (strings.back().size() > 15 ? strings.back().size() + 17 : 0));
      account.Settle(size_t{1} << 20);
    }
  }
  void Text(const char* s, int len) {
    if (!in_t_) return;
    cur_.append(s, static_cast<size_t>(len));
    if (cur_.size() > kMaxCellText)
      Fail(MakeError(ErrorCode::kTooLarge, "a shared string longer than 8 MiB",
                     "有一段文本超过8 MiB"));
  }

 private:
  bool in_si_ = false, in_t_ = false;
  int in_rph_ = 0;
  std::string cur_;
};

// ---------------------------------------------------------------------------------------------
// The package

constexpr size_t kMaxSheets = 65535;

class PackageReader {
 public:
  PackageReader(zip::Archive& zip, const std::string& name) : zip_(zip), name_(name) {}

  Result<std::unique_ptr<Workbook>> Read(const ReadOptions& options) {
    auto wb = std::make_unique<Workbook>();
    wb->SetFormat(SourceFormat::kXlsx);

    // The main part: the package relationships name it; most files keep it at the usual place.
    std::string main_part = "xl/workbook.xml";
    // A damaged package index costs nothing as long as the usual main part is there.
    auto root_rels = ReadRels("_rels/.rels");
    if (!root_rels.ok() && !zip_.Find(main_part)) return root_rels.error();
    if (root_rels.ok())
      for (const auto& r : *root_rels)
        if (EndsWith(r.type, "/officeDocument") && !r.external) {
          std::string t = ResolveTarget("", r.target);
          if (zip_.Find(t)) main_part = t;
        }
    const zip::Entry* main = zip_.Find(main_part);
    if (!main) {
      if (zip_.Find("EncryptedPackage"))
        return MakeError(ErrorCode::kEncrypted, name_ + ": the workbook is password protected");
      return MakeError(ErrorCode::kNotAWorkbook,
                       name_ + ": not a workbook (a zip package without a workbook part)",
                       "zip压缩包中没有工作簿");
    }
    // An .xlsb package (one that came decrypted from a compound file, say).
    if (EndsWith(main->name, ".bin")) return xlsb::ReadArchive(zip_, name_, options);
    std::string dir = DirOf(main->name);
    WorkbookHandler book;
    if (auto st = ParseXmlPart(zip_, *main, book, name_); !st) return st.error();
    wb->styles().date1904 = book.date1904;
    if (book.sheets.size() > kMaxSheets)
      return MakeError(ErrorCode::kTooLarge,
                       name_ + ": the workbook lists " + std::to_string(book.sheets.size()) +
                           " sheets, an absurd number",
                       "工作表多达" + std::to_string(book.sheets.size()) + "个");

    auto rels = ReadRels(dir + "_rels/" + main->name.substr(dir.size()) + ".rels");
    if (!rels.ok()) return rels.error();
    std::unordered_map<std::string, const Relationship*> by_id;
    std::string styles_part, sst_part, theme_part;
    for (const auto& r : *rels) {
      by_id[r.id] = &r;
      if (EndsWith(r.type, "/styles"))
        styles_part = ResolveTarget(dir, r.target);
      else if (EndsWith(r.type, "/sharedStrings"))
        sst_part = ResolveTarget(dir, r.target);
      else if (EndsWith(r.type, "/theme"))
        theme_part = ResolveTarget(dir, r.target);
    }

    if (auto st = ReadStyles(zip_, name_, *wb, styles_part, theme_part, xf_map_); !st)
      return st.error();
    if (const zip::Entry* e = sst_part.empty() ? nullptr : zip_.Find(sst_part)) {
      SharedStringsHandler h;
      if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st.error();
      sst_ = std::move(h.strings);
      sst_account_ = std::move(h.account);
    }

    for (const auto& s : book.sheets) {
      auto it = by_id.find(s.rel_id);
      // Chart, dialog and macro sheets are not worksheets.
      if (it == by_id.end() || !EndsWith(it->second->type, "/worksheet")) continue;
      std::string part = ResolveTarget(dir, it->second->target);
      const zip::Entry* e = zip_.Find(part);
      if (!e)
        return MakeError(
            ErrorCode::kCorrupt,
            name_ + ": the part \"" + part + "\" of sheet \"" + s.name + "\" is missing",
            "缺少工作表“" + s.name + "”的数据");
      Worksheet& ws = wb->AddWorksheet(s.name);
      ws.SetHidden(s.hidden);
      if (auto st = ReadSheet(zip_, *e, name_, ws, sst_, xf_map_, book.date1904); !st)
        return st.error();
      if (options.first_worksheet_only) break;
    }
    return wb;
  }

 private:
  Result<std::vector<Relationship>> ReadRels(const std::string& part) {
    const zip::Entry* e = zip_.Find(part);
    if (!e) return std::vector<Relationship>{};
    RelsHandler h;
    if (auto st = ParseXmlPart(zip_, *e, h, name_); !st) return st.error();
    return std::move(h.rels);
  }

  zip::Archive& zip_;
  const std::string& name_;
  std::vector<std::string> sst_;
  memory::Account sst_account_;
  std::vector<uint16_t> xf_map_;
};

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options) {
  auto zip = zip::Archive::Open(data, size, name);
  if (!zip.ok()) return zip.error();
  PackageReader reader(*zip, name);
  return reader.Read(options);
}

}  // namespace qm::xlsx
