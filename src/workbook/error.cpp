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
  // The note, when there is one, is the whole reason: it names what the code's text only
  // describes (the sheet asked for).
  bool note_is_reason = false;
};

// One table for every failure a user can see; a new code gets a new row, names never change.
constexpr CodeEntry kCodes[] = {
    {ErrorCode::kOk, "ok", "成功", false},
    {ErrorCode::kNotSupported, "not-supported", "不支持的文件格式", true},
    {ErrorCode::kNotAWorkbook, "not-a-workbook", "不是Excel工作簿", false},
    {ErrorCode::kEncrypted, "password", "文件受密码保护", false, true},
    {ErrorCode::kWrongPassword, "password", "文件受密码保护", false, true, "密码不对或未提供"},
    {ErrorCode::kTriesPutOff, "password", "文件受密码保护", false, true, "尚未尝试密码"},
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
    {ErrorCode::kWpsFormat, "not-supported", "不支持的WPS表格格式", false},
    {ErrorCode::kNoSheet, "no-sheet", "没有要合并的工作表", false, false, nullptr, true},
};

const CodeEntry& Entry(ErrorCode code) {
  for (const CodeEntry& e : kCodes)
    if (e.code == code) return e;
  return Entry(ErrorCode::kIo);
}

// An older reader's detail is English, for the developer; a newer one writes it in Chinese.
// Only the latter may stand in the user's bracket. Names quoted in an English detail ("the
// worksheet \"一月\" ...") do not make it Chinese.
bool WrittenInChinese(const std::string& s) {
  bool quoted = false;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == '"') quoted = !quoted;
    // CJK ideographs: U+3400..U+9FFF, three bytes from E3 90 80 to E9 BF BF.
    if (!quoted && b >= 0xE3 && b <= 0xE9 && i + 1 < s.size() &&
        (b > 0xE3 || static_cast<unsigned char>(s[i + 1]) >= 0x90))
      return true;
    i += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  }
  return false;
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
  if (entry.note_is_reason && !e.note.empty()) return e.note;
  std::string bracket = entry.fixed_note ? entry.fixed_note : e.note;
  if (bracket.empty() && entry.bracket_from_detail) {
    bracket = e.detail;
    // Details lead with the file ("path: reason"); the user sees the file beside the reason
    // already.
    if (!file.empty() && bracket.compare(0, file.size(), file) == 0 &&
        bracket.compare(file.size(), 2, ": ") == 0)
      bracket.erase(0, file.size() + 2);
    if (!WrittenInChinese(bracket)) bracket.clear();
  }
  std::string out = entry.text;
  if (bracket.empty()) return out;
  return entry.detail_continues ? out + "，" + bracket : out + "（" + bracket + "）";
}

Error WrongPasswordError(const std::string& name) {
  const CodeEntry& entry = Entry(ErrorCode::kWrongPassword);
  return MakeError(ErrorCode::kWrongPassword, name + ": " + entry.text + "，" + entry.fixed_note);
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

std::string SystemErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return "不存在";
    case EACCES:
    case EPERM:
      return "没有权限";
    case EEXIST:
      return "已存在同名文件";
    case EISDIR:
      return "是文件夹";
#ifdef ELOOP
    case ELOOP:
      return "符号链接层数过多";
#endif
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return "磁盘已满";
    case EROFS:
      return "文件系统是只读的";
    case EMFILE:
    case ENFILE:
      return "打开的文件太多";
    case ENAMETOOLONG:
      return "文件名太长";
    case EBUSY:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
      return "文件正被占用";
    default:
      return "系统错误" + std::to_string(err);
  }
}

std::string SystemErrorText(const std::error_code& ec) {
  // Windows error numbers reach here through the library's mapping to the portable conditions;
  // one it does not know keeps its own number.
  const std::error_condition c = ec.default_error_condition();
  if (c.category() == std::generic_category()) return SystemErrorText(c.value());
  return "系统错误" + std::to_string(ec.value());
}

namespace {
std::string NoteFor(const std::string& doing, ErrorCode code, int generic_err,
                    const std::string& text) {
  // These codes' texts name the failure already; EROFS is refused as kPermission but is worth
  // saying.
  if ((code == ErrorCode::kMissing || code == ErrorCode::kPermission ||
       code == ErrorCode::kDiskFull || code == ErrorCode::kNoMemory) &&
      generic_err != EROFS)
    return {};
  return doing.empty() ? text : doing + "：" + text;
}
}  // namespace

std::string SystemErrorNote(const std::string& doing, int err) {
  return NoteFor(doing, ErrorCodeFromErrno(err), err, SystemErrorText(err));
}

std::string SystemErrorNote(const std::string& doing, const std::error_code& ec) {
  const std::error_condition c = ec.default_error_condition();
  const int generic = c.category() == std::generic_category() ? c.value() : 0;
  return NoteFor(doing, ErrorCodeFromSystem(ec), generic, SystemErrorText(ec));
}

}  // namespace qm
