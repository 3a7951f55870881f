// Reading and writing workbook files: the format is picked by content when reading and by the
// file name's extension when writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "result.h"
#include "workbook.h"

namespace qm {

enum class ContainerKind { kUnknown, kCompoundFile, kZip, kRawBiff };

// Looks at the first bytes only.
ContainerKind SniffContainer(const uint8_t* data, size_t size);

// The password a spreadsheet program encrypts with when the user gave none.
inline constexpr const char* kDefaultPassword = "VelvetSweatshop";

// Password tries that will cost more hash rounds than this in all (a file's rounds per try
// times the passwords to try) take seconds: they are announced before they start.
inline constexpr uint64_t kSlowTriesRounds = 2000000;

struct ReadOptions {
  // The engines only ever look at the first worksheet; skipping the others saves time.
  bool first_worksheet_only = false;
  // Passwords to open encrypted workbooks with, tried in order after the default password
  // spreadsheet programs use when the user set none.
  std::vector<std::string> passwords = {};
  // False when the default password has failed on this file already: a caller that asks the
  // user again tries the answer alone.
  bool try_default_password = true;
  // Asked, on the thread that reads, before password tries that will cost more than
  // kSlowTriesRounds: true lets them start; false ends the read at once with
  // ErrorCode::kTriesPutOff, so that the caller can read again where it can tell the user first.
  // Unset, the tries start unannounced.
  std::function<bool()> before_slow_tries = {};
};

// The passwords a read tries, in order: the default one (unless `options` say it failed), then
// the caller's. Each distinct password is tried once: a repeat, or the default given again,
// would only cost another key derivation.
std::vector<std::string> PasswordsToTry(const ReadOptions& options);
// Whether tries of `passwords` passwords at `rounds_per_try` hash rounds each are slow enough
// to be announced.
bool SlowTries(uint64_t rounds_per_try, size_t passwords);
// The refusal (ErrorCode::kTriesPutOff) of a read whose slow password tries `before_slow_tries`
// put off.
Error TriesPutOff(const std::string& name);

// Reads the whole file (opened read-only) and hands it to the reader its content calls for.
// `*used_password`, when given, receives the password of `options.passwords` that opened the
// workbook, or "" when it needed none of them (so a caller can try that one first next time).
Result<std::unique_ptr<Workbook>> ReadWorkbookFile(const std::string& path,
                                                   const ReadOptions& options = {},
                                                   std::string* used_password = nullptr);
// The same for bytes already in memory; `name` is used in messages.
Result<std::unique_ptr<Workbook>> ReadWorkbookBytes(const uint8_t* data, size_t size,
                                                    const std::string& name,
                                                    const ReadOptions& options = {},
                                                    std::string* used_password = nullptr);

// True when every sheet of the workbook fits the .xls grid (kXlsMaxRows, kXlsMaxCols).
bool FitsXlsGrid(const Workbook& wb);

struct SaveResult {
  std::string path;                   // the file actually written
  bool switched_to_xlsx = false;      // the content did not fit the .xls grid
  std::vector<std::string> warnings;  // what the writer had to change (texts cut, ...)
};

// Writes `wb` to `path`: a temporary file beside the target, renamed into place. A name ending
// in .xls is written as BIFF8 unless the content exceeds that grid, in which case the .xlsx name
// with the same base is written instead and reported.
Result<SaveResult> SaveWorkbookFile(const Workbook& wb, const std::string& path);

}  // namespace qm
