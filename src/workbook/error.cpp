#include <cerrno>

#include "result.h"

namespace qm {

namespace {

struct CodeEntry {
  ErrorCode code;
  const char* name;
  const char* text;
  bool bracket_from_detail;  // the English detail says something the code's text does not
  // How the detail follows the text: most details are asides in brackets; a password's
  // continues the sentence.
  bool detail_continues = false;
  // The detail a code always has, whatever the reader said.
  const char* fixed_note = nullptr;
};

// One table for every failure a user can see; a new code gets a new row, names never change.
constexpr CodeEntry kCodes[] = {
    {ErrorCode::kOk, "ok", "成功", false},
    {ErrorCode::kNotSupported, "not-supported", "不支持的文件格式", true},
    {ErrorCode::kNotAWorkbook, "not-a-workbook", "不是Excel工作簿", false},
    {ErrorCode::kEncrypted, "password", "文件受密码保护", false, true},
    {ErrorCode::kWrongPassword, "password", "文件受密码保护", false, true, "密码不对或未提供"},
    {ErrorCode::kCorrupt, "corrupt", "文件已损坏", true},
    {ErrorCode::kTooLarge, "too-large", "文件太大", true},
    {ErrorCode::kIo, "io", "读写文件出错", true},
    {ErrorCode::kInvalidArgument, "invalid", "参数无效", true},
    {ErrorCode::kEmpty, "empty", "文件是空的", false},
    {ErrorCode::kMissing, "missing", "文件不存在", false},
    {ErrorCode::kNotRegular, "not-regular", "不是普通文件", true},
    {ErrorCode::kNoMemory, "no-memory", "内存不足", true},
    {ErrorCode::kPermission, "permission", "没有读写权限", false},
    {ErrorCode::kDiskFull, "disk-full", "磁盘已满", false},
    {ErrorCode::kGridFull, "grid-full", "超出工作表的行列上限", true},
};

const CodeEntry& Entry(ErrorCode code) {
  for (const CodeEntry& e : kCodes)
    if (e.code == code) return e;
  return Entry(ErrorCode::kIo);
}

}  // namespace

const char* ErrorCodeName(ErrorCode code) {
  return Entry(code).name;
}

const char* ErrorCodeText(ErrorCode code) {
  return Entry(code).text;
}

std::string ErrorReason(const Error& e, const std::string& file) {
  const CodeEntry& entry = Entry(e.code);
  std::string bracket = entry.fixed_note ? entry.fixed_note : e.note;
  if (bracket.empty() && entry.bracket_from_detail) {
    bracket = e.detail;
    // Details lead with the file ("path: reason"); the user sees the file beside the reason
    // already.
    if (!file.empty() && bracket.compare(0, file.size(), file) == 0 &&
        bracket.compare(file.size(), 2, ": ") == 0)
      bracket.erase(0, file.size() + 2);
  }
  std::string out = entry.text;
  if (bracket.empty()) return out;
  return entry.detail_continues ? out + "，" + bracket : out + "（" + bracket + "）";
}

ErrorCode ErrorCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ErrorCode::kMissing;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorCode::kPermission;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return ErrorCode::kDiskFull;
    case ENOMEM:
      return ErrorCode::kNoMemory;
    case EISDIR:
    case ENXIO:
      return ErrorCode::kNotRegular;
    default:
      return ErrorCode::kIo;
  }
}

ErrorCode ErrorCodeFromSystem(const std::error_code& ec) {
  const std::error_condition c = ec.default_error_condition();
  return c.category() == std::generic_category() ? ErrorCodeFromErrno(c.value()) : ErrorCode::kIo;
}

}  // namespace qm
