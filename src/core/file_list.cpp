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

// Windows folder order: by name, ASCII letters without case, code point by code point.
bool WindowsLess(const std::string& a, const std::string& b) {
  std::u32string x = Decode(a), y = Decode(b);
  for (auto& ch : x) ch = FoldAscii(ch);
  for (auto& ch : y) ch = FoldAscii(ch);
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
  std::sort(names.begin(), names.end(), WindowsLess);
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

std::vector<std::string> ListWorkbooks(const std::string& folder) {
  std::vector<std::string> out;
  for (auto& n : RegularFiles(WithTrailingSeparator(folder))) {
    if (n.rfind("~$", 0) == 0) continue;
    std::u32string d = Decode(n);
    if (WildMatch(U"*.xls", 0, d, 0) || WildMatch(U"*.xlsx", 0, d, 0) ||
        WildMatch(U"*.xlsm", 0, d, 0))
      out.push_back(std::move(n));
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
