#include "core/file_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "workbook/paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qm {
namespace fs = std::filesystem;

namespace {

char32_t FoldAscii(char32_t ch) {
  return ch >= 'A' && ch <= 'Z' ? ch + ('a' - 'A') : ch;
}

// Decodes UTF-8 leniently: a stray byte stands for itself.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<size_t>(len) > s.size()) {
      out.push_back(b);
      ++i;
      continue;
    }
    char32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

// Folder order: by name, ASCII letters without case, code point by code point, except that a run
// of ASCII digits counts by its value, as a file manager shows names: 1月 < 2月 < 10月, 第2批 <
// 第10批. Taken letter by letter, 10月 came first, became the template, and September's record
// passed for the newest. Names equal that way (01月 and 1月) keep the letter-by-letter order.
bool IsDigit(char32_t ch) {
  return ch >= '0' && ch <= '9';
}

// Compares the digit runs starting at x[i] and y[j] by value, moving i and j past them.
int CompareNumbers(const std::u32string& x, size_t& i, const std::u32string& y, size_t& j) {
  size_t xe = i, ye = j;
  while (xe < x.size() && IsDigit(x[xe])) ++xe;
  while (ye < y.size() && IsDigit(y[ye])) ++ye;
  size_t xs = i, ys = j;  // past the leading zeros
  while (xs + 1 < xe && x[xs] == '0') ++xs;
  while (ys + 1 < ye && y[ys] == '0') ++ys;
  int order = 0;
  if (xe - xs != ye - ys)
    order = xe - xs < ye - ys ? -1 : 1;
  else
    for (size_t k = 0; k < xe - xs && order == 0; ++k)
      if (x[xs + k] != y[ys + k]) order = x[xs + k] < y[ys + k] ? -1 : 1;
  i = xe;
  j = ye;
  return order;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  std::u32string x = Decode(a), y = Decode(b);
  for (auto& ch : x) ch = FoldAscii(ch);
  for (auto& ch : y) ch = FoldAscii(ch);
  size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    if (IsDigit(x[i]) && IsDigit(y[j])) {
      if (int order = CompareNumbers(x, i, y, j); order != 0) return order < 0;
      continue;
    }
    if (x[i] != y[j]) return x[i] < y[j];
    ++i, ++j;
  }
  if (i < x.size() || j < y.size()) return j < y.size();
  if (x != y) return x < y;
  return a < b;
}

// A wildcard match of * and ? over code points, ASCII letters without case.
bool WildMatch(const std::u32string& p, size_t pi, const std::u32string& s, size_t si) {
  while (pi < p.size()) {
    if (p[pi] == U'*') {
      for (size_t k = si; k <= s.size(); ++k)
        if (WildMatch(p, pi + 1, s, k)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    if (p[pi] != U'?' && FoldAscii(p[pi]) != FoldAscii(s[si])) return false;
    ++pi, ++si;
  }
  return si == s.size();
}

// Hidden the way the system hides files: a leading dot, and on Windows the hidden attribute too.
bool IsHidden(const fs::directory_entry& entry, const std::string& name) {
  if (!name.empty() && name[0] == '.') return true;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(entry.path().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
#else
  (void)entry;
  return false;
#endif
}

std::vector<std::string> RegularFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(PathFromUtf8(folder), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (!it->is_regular_file(e2)) continue;
    std::string name = PathToUtf8(it->path().filename());
    if (IsHidden(*it, name)) continue;  // hidden files are not listed
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

}  // namespace

bool GetFileList(const std::string& path, std::vector<std::string>& names,
                 const std::string& pattern) {
  std::u32string p = Decode(pattern);
  std::vector<std::string> found;
  for (auto& n : RegularFiles(WithTrailingSeparator(path)))
    if (WildMatch(p, 0, Decode(n), 0)) found.push_back(std::move(n));
  if (found.empty()) return false;
  names = std::move(found);
  return true;
}

// What the list takes: workbooks and the table files office workers get from other programs.
// Web pages, XML and plain text are too often something else; named .xls they are read all the
// same, since reading goes by content.
constexpr const char32_t* kListedPatterns[] = {U"*.xls", U"*.xlsx", U"*.xlsm", U"*.xlsb", U"*.csv",
                                               U"*.tsv", U"*.ods",  U"*.fods", U"*.et",   U"*.ett"};

std::vector<std::string> ListWorkbooks(const std::string& folder) {
  std::vector<std::string> out;
  for (auto& n : RegularFiles(WithTrailingSeparator(folder))) {
    // Office's lock files; LibreOffice's (.~lock.<name>#) start with a dot and are hidden.
    if (n.rfind("~$", 0) == 0) continue;
    const std::u32string d = Decode(n);
    for (const char32_t* pattern : kListedPatterns)
      if (WildMatch(pattern, 0, d, 0)) {
        out.push_back(std::move(n));
        break;
      }
  }
  return out;
}

FolderListing LoadFolderListing(const std::string& folder, const std::string& program_folder) {
  FolderListing out;
  out.folder = WithTrailingSeparator(folder.empty() ? program_folder : folder);
  out.names = ListWorkbooks(out.folder);
  out.found = !out.names.empty();
  return out;
}

}  // namespace qm
