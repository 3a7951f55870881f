// The program's temporary files: "~qm", 16 hex digits, the target's extension and ".tmp", made
// beside the file they are to become. Each is created exclusively and held (an exclusive flock;
// on Windows an open handle that does not share deletion) until it is renamed into place or
// removed, so that a later run can tell what a killed process left behind (nobody holds it) from
// the work of a running one (held). SIGINT and SIGTERM remove the temporaries still open before the
// process ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "result.h"

namespace qm {

class TempFile {
 public:
  // Creates an empty temporary beside `target`, keeping the target's extension (lower case)
  // before ".tmp" so that a writer can still tell .xlsm from .xlsx by the name.
  static Result<std::unique_ptr<TempFile>> CreateBeside(const std::string& target);
  ~TempFile();  // removes the temporary unless it was renamed into place
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // Renames the temporary to `target`, replacing it; a temporary not renamed is removed when the
  // object goes. Errors name `target`.
  Status RenameTo(const std::string& target);

 private:
  TempFile() = default;
  void Release();  // gives up the hold (and on POSIX systems the signal clean-up's entry)
  std::string path_;
  intptr_t fd_ = -1;  // POSIX: the locked descriptor; Windows: the handle that holds the file
  int slot_ = -1;
  bool done_ = false;
};

// True for a name of the program's temporary pattern.
bool IsTempFileName(const std::string& name);
// Removes every temporary of the program's pattern in `folder` that no running process holds,
// whatever its age: the leftovers of runs that were killed while saving.
void RemoveStaleTempFiles(const std::string& folder);

// An anonymous file in the system's temporary folder, opened for reading and writing and removed
// when closed; nullptr when none can be made.
std::FILE* OpenSpillFile();

}  // namespace qm
