// File names are UTF-8 everywhere in the program; these convert at the filesystem boundary so
// that Chinese names work on Windows too.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace qm {

inline std::filesystem::path PathFromUtf8(const std::string& s) {
  return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

// With '/' between the parts on every system (see WithTrailingSeparator).
inline std::string PathToUtf8(const std::filesystem::path& p) {
  std::u8string u = p.generic_u8string();
  return std::string(u.begin(), u.end());
}

// `folder` with one trailing path separator (none added to an empty string). Inside the program
// paths use '/' on every system, which Windows accepts too; the window shows native separators.
inline std::string WithTrailingSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder;
  return folder + "/";
}

// Creates (or empties) a file for writing in binary; nullptr with errno set when it cannot. The
// name is UTF-8, which Windows takes only through the wide call.
inline std::FILE* CreateForWriting(const std::string& path) {
#ifdef _WIN32
  return _wfopen(PathFromUtf8(path).c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

}  // namespace qm
