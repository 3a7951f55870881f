// Small pieces the main window's source files share: its title for dialogs, the log's line break
// and the step from the program's UTF-8 strings to Qt's.
#pragma once

#include <QString>
#include <string>

namespace qm {

inline constexpr const char* kAppTitle = "合并";
inline constexpr const char* kCrLf = "\r\n";

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace qm
