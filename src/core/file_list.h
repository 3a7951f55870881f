// The listing of a source folder, shared by the window and the command line.
#pragma once

#include <string>
#include <vector>

#include "workbook/paths.h"

namespace qm {

// Fills `names` with the bare names of the regular files of `path` that match `pattern` (a
// wildcard such as "*.xls", compared without case) and returns true; leaves `names` alone and
// returns false when nothing matched. Names are in the order a file manager shows them (runs of
// digits by their value: 2月 before 10月).
bool GetFileList(const std::string& path, std::vector<std::string>& names,
                 const std::string& pattern);

// The workbooks of a folder as the file list shows them: *.xls, *.xlsx, *.xlsm, *.xlsb, *.csv,
// *.tsv, *.ods, *.fods, *.et and *.ett in any case, without lock files, in that order. Empty when
// there are none.
std::vector<std::string> ListWorkbooks(const std::string& folder);

// What loading a folder into the file list comes to: the folder to show (with a separator) and
// the workbooks to list in order. `found` is false when the folder holds none; the window then
// shows kNoWorkbooksMessage, leaves the list empty and keeps the folder it showed before. An
// empty `folder` means the program's own folder.
struct FolderListing {
  std::string folder;
  std::vector<std::string> names;
  bool found = false;
};
FolderListing LoadFolderListing(const std::string& folder, const std::string& program_folder);

// The message shown when a folder holds no workbooks.
constexpr const char* kNoWorkbooksMessage = "在程序所在文件夹下没有找到EXCEL文件";

}  // namespace qm
