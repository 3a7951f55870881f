// Failures of the spreadsheet layer travel as values: a code plus a detail that names the file
// and the reason. Nothing in this layer throws across its boundary.
#pragma once

#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace qm {

enum class ErrorCode {
  kOk = 0,
  kNotSupported,     // a format or operation this build cannot handle yet
  kNotAWorkbook,     // the bytes are not a spreadsheet we know
  kEncrypted,        // password protected in a way this program does not decrypt
  kWrongPassword,    // password protected, and no password tried opens it
  kTriesPutOff,      // password protected; the slow password tries were put off (see ReadOptions)
  kCorrupt,          // truncated or inconsistent container or record stream
  kTooLarge,         // absurd dimensions, zip bombs, entity bombs, over the size cap
  kIo,               // the operating system refused to read or write
  kInvalidArgument,  // a caller passed something out of range
  kEmpty,            // the file holds no bytes
  kMissing,          // no file by that name
  kNotRegular,       // a folder, pipe, device or socket where a file was expected
  kNoMemory,         // the memory budget would be exceeded
  kPermission,       // the operating system or the file's mode refuses access
  kDiskFull,         // no space left while writing
  kGridFull,         // the result would reach past the last row or column of a sheet
  kWpsFormat,        // a WPS workbook in a format of WPS's own rather than the BIFF8 it writes
  kNoSheet,          // the workbook has no sheet the run was asked to take
};

// The stable ASCII name of a code, as transcripts carry it ("password", "not-a-workbook", ...).
// Names are never renamed once given out: scripts match on them.
const char* ErrorCodeName(ErrorCode code);
// The code's text for a user, in Chinese ("文件受密码保护", ...).
const char* ErrorCodeText(ErrorCode code);

struct Error {
  ErrorCode code = ErrorCode::kOk;
  // Names the file and the reason ("path: reason"), for the developer; English in the older
  // readers, Chinese in the newer ones.
  std::string detail;
  // The file the failure is about, as the caller named it to the layer ("" when none).
  std::string file;
  // The OS or format detail the user reads in brackets after the code's text, in Chinese. Empty
  // lets the reason be taken from `detail` where that is written in Chinese and helps the user.
  std::string note;

  std::string Message() const { return detail; }
};

// The reason as a user reads it: the code's Chinese text, then the OS or format detail in
// brackets where there is one. `file` (as it leads `detail`) is left out of the bracket.
std::string ErrorReason(const Error& e, const std::string& file = {});
// The code for the failure behind an errno value (ENOENT is kMissing, EACCES kPermission, ...).
ErrorCode ErrorCodeFromErrno(int err);
// The same for an error of the standard library's filesystem calls, whose values are the
// system's own (Windows error numbers on Windows).
ErrorCode ErrorCodeFromSystem(const std::error_code& ec);

// What the system said, in Chinese, from the error number rather than the C library's English
// ("不存在", "是文件夹", "符号链接层数过多", ...; any other: "系统错误<number>").
std::string SystemErrorText(int err);
std::string SystemErrorText(const std::error_code& ec);
// The bracket of a failed system call: what was being done and the system's reason
// ("无法创建文件夹：已存在同名文件"); empty where the code's own text already says it all
// (a missing file, no permission, a full disk).
std::string SystemErrorNote(const std::string& doing, int err);
std::string SystemErrorNote(const std::string& doing, const std::error_code& ec);

// A status without a payload. Dropping one unread hides a failure, so the compiler says so.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error e) : error_(std::move(e)) {}  // NOLINT: implicit by design
  static Status Ok() { return Status(); }

  bool ok() const { return error_.code == ErrorCode::kOk; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }

 private:
  Error error_;
};

// A value or an error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Error e) : v_(std::move(e)) {}      // NOLINT: implicit by design

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }
  const Error& error() const { return std::get<1>(v_); }
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> v_;
};

// A protected workbook none of the passwords tried opens; `name` is the file.
Error WrongPasswordError(const std::string& name);

inline Error MakeError(ErrorCode code, std::string detail, std::string note = {}) {
  return Error{code, std::move(detail), {}, std::move(note)};
}

}  // namespace qm
