// Saving a workbook: a locked temporary beside the target, written by the writer the name calls
// for, then renamed into place; and the temporary-file unit behind it.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "io.h"
#include "paths.h"
#include "temp_file.h"
#include "xls/xls.h"
#include "xlsx/xlsx.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return s;
}

std::string Extension(const std::string& path) {
  return Lower(PathToUtf8(PathFromUtf8(path).extension()));
}

#ifndef _WIN32
// The paths of the open temporaries, where a signal handler can read them: fixed buffers, a
// slot taken by a compare-and-swap and published once its path is complete.
constexpr int kSlots = 16;
constexpr size_t kSlotPathMax = 4096;
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being filled or emptied, 2 holds a temporary
  char path[kSlotPathMax];
};
Slot g_slots[kSlots];

extern "C" void RemoveTempFilesAndDie(int sig) {
  for (Slot& s : g_slots)
    if (s.state.load() == 2) ::unlink(s.path);
  // The handler was installed with SA_RESETHAND: the signal raised again ends the process as
  // it would have without us, once this handler returns.
  ::raise(sig);
}

void InstallSignalCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM}) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0) continue;
      // An ignored signal stays ignored, and a handler of the embedding program stays its own.
      if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
      struct sigaction sa {};
      sa.sa_handler = RemoveTempFilesAndDie;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESETHAND;
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

int Publish(const std::string& path) {
  if (path.size() >= kSlotPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void Withdraw(int slot) {
  if (slot < 0) return;
  g_slots[slot].state.store(1);
  g_slots[slot].path[0] = '\0';
  g_slots[slot].state.store(0);
}

bool SameFile(int fd, const std::string& path) {
  struct stat a {
  }, b{};
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}
#endif

}  // namespace

bool IsTempFileName(const std::string& name) {
  if (name == "~qm-result.tmp") return true;  // the fixed name older runs fell back on
  if (name.size() < 3 + 16 + 4 || name.compare(0, 3, "~qm") != 0) return false;
  for (size_t i = 3; i < 19; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  if (name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
  // Between the digits and ".tmp": nothing, or one extension of letters and digits.
  std::string ext = name.substr(19, name.size() - 19 - 4);
  if (ext.empty()) return true;
  if (ext[0] != '.' || ext.size() > 9) return false;
  return std::all_of(ext.begin() + 1, ext.end(),
                     [](unsigned char ch) { return std::isalnum(ch) != 0; });
}

void RemoveStaleTempFiles(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (!IsTempFileName(PathToUtf8(it->path().filename()))) continue;
#ifdef _WIN32
    // A running save holds its temporary open without sharing the right to delete it, so only
    // the leftovers of killed runs can go.
    std::error_code e2;
    if (it->is_regular_file(e2)) DeleteFileW(it->path().c_str());
#else
    const std::string p = it->path().string();
    int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Held by a running save: the lock is refused. Otherwise it is ours to remove, as long as
    // the name still leads to the file we locked.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        SameFile(fd, p))
      ::unlink(p.c_str());
    ::close(fd);
#endif
  }
}

Result<std::unique_ptr<TempFile>> TempFile::CreateBeside(const std::string& target) {
  const fs::path t = PathFromUtf8(target);
  const std::string ext = Lower(PathToUtf8(t.extension()));
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
  std::unique_ptr<TempFile> tmp(new TempFile());
#ifndef _WIN32
  InstallSignalCleanup();
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "~qm%016llx", static_cast<unsigned long long>(gen()));
    const std::string p = PathToUtf8(t.parent_path() / PathFromUtf8(buf + ext + ".tmp"));
#ifndef _WIN32
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int err = errno;
      return MakeError(
          ErrorCodeFromErrno(err),
          target + ": cannot save: cannot create a temporary file (" + std::strerror(err) + ")",
          SystemErrorNote("无法创建临时文件", err));
    }
    // Another run's clean-up may have taken the new file between its creation and the lock;
    // then the name is given up, not removed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, p)) {
      ::close(fd);
      continue;
    }
    tmp->fd_ = fd;
    tmp->slot_ = Publish(p);
#else
    // Held until the rename: readers and the writer may open it, nobody may delete it.
    HANDLE h =
        CreateFileW(PathFromUtf8(p).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) continue;
      const std::error_code ec(static_cast<int>(err), std::system_category());
      return MakeError(
          ErrorCodeFromSystem(ec),
          target + ": cannot save: cannot create a temporary file (" + ec.message() + ")",
          SystemErrorNote("无法创建临时文件", ec));
    }
    tmp->fd_ = reinterpret_cast<intptr_t>(h);
#endif
    tmp->path_ = p;
    return tmp;
  }
  return MakeError(ErrorCode::kIo,
                   target + ": cannot save: cannot create a temporary file (no free name)",
                   "无法创建临时文件：没有可用的文件名");
}

TempFile::~TempFile() {
#ifdef _WIN32
  Release();  // the hold forbids deleting, also to its holder
#endif
  if (!done_) {
    std::error_code ec;
    fs::remove(PathFromUtf8(path_), ec);
  }
  Release();
}

void TempFile::Release() {
#ifdef _WIN32
  if (fd_ != -1) CloseHandle(reinterpret_cast<HANDLE>(fd_));
#else
  Withdraw(slot_);
  slot_ = -1;
  if (fd_ >= 0) ::close(static_cast<int>(fd_));
#endif
  fd_ = -1;
}

Status TempFile::RenameTo(const std::string& target) {
#ifdef _WIN32
  Release();  // renaming needs the right to delete, which the hold denies
  const fs::path to = PathFromUtf8(target);
  if (!MoveFileExW(PathFromUtf8(path_).c_str(), to.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = GetLastError();
    std::error_code ec;
    if (fs::is_directory(to, ec))
      return MakeError(ErrorCode::kNotRegular, target + ": cannot save: it is a folder",
                       "是文件夹");
    // Windows cannot replace a file another program has open: most often the last result,
    // still open in the spreadsheet program. An exclusive open fails on exactly that.
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) {
      HANDLE h = CreateFileW(to.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
      else if (GetLastError() == ERROR_SHARING_VIOLATION)
        return MakeError(ErrorCode::kPermission,
                         target + ": cannot save: the file is open in another program",
                         "文件正被其他程序打开，请关闭后再试");
    }
    ec.assign(static_cast<int>(err), std::system_category());
    return MakeError(ErrorCodeFromSystem(ec), target + ": cannot save: " + ec.message(),
                     SystemErrorNote("无法保存", ec));
  }
#else
  std::error_code ec;
  fs::rename(PathFromUtf8(path_), PathFromUtf8(target), ec);
  if (ec)
    return MakeError(ErrorCodeFromSystem(ec), target + ": cannot save: " + ec.message(),
                     SystemErrorNote("无法保存", ec));
#endif
  done_ = true;
  return Status::Ok();
}

std::FILE* OpenSpillFile() {
#ifdef _WIN32
  // tmpfile() there makes its file in the root of the current drive, which normal users may not
  // write to. "D": removed when closed, also when the process is killed.
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH) return nullptr;
  if (GetTempFileNameW(folder, L"qm", 0, name) == 0) return nullptr;
  std::FILE* f = _wfopen(name, L"w+bD");
  if (!f) DeleteFileW(name);
  return f;
#else
  // Where the user's TMPDIR says (tmpfile() would not look), named only until it is open.
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/qmspill-XXXXXX";
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  ::unlink(name.c_str());
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) ::close(fd);
  return f;
#endif
}

namespace {

// `tried` receives the path written to (the .xlsx one when the content did not fit .xls).
Result<SaveResult> SaveUnnamed(const Workbook& wb, const std::string& path, std::string& tried) {
  SaveResult out;
  out.path = path;
  std::string ext = Extension(path);
  bool as_xls = ext == ".xls";
  if (as_xls && !FitsXlsGrid(wb)) {
    fs::path p = PathFromUtf8(path);
    p.replace_extension(".xlsx");
    out.path = PathToUtf8(p);
    out.switched_to_xlsx = true;
    as_xls = false;
    tried = out.path;
  } else if (!as_xls && ext != ".xlsx" && ext != ".xlsm") {
    return MakeError(ErrorCode::kInvalidArgument,
                     path + ": cannot save: the name must end in .xls, .xlsx or .xlsm",
                     "文件名须以.xls、.xlsx或.xlsm结尾");
  }
  fs::path target = PathFromUtf8(out.path);
  std::error_code ec;
  if (!target.parent_path().empty() && !fs::is_directory(target.parent_path(), ec))
    return MakeError(ErrorCode::kMissing, out.path + ": cannot save: the folder does not exist",
                     "保存到的文件夹不存在");
  // A file the user made read-only is not replaced behind their back, as a spreadsheet program
  // would refuse it too. The mode bits decide, not access(): the superuser may write anything.
  fs::file_status st = fs::status(target, ec);
  if (!ec && fs::is_regular_file(st) &&
      (st.permissions() & (fs::perms::owner_write | fs::perms::group_write |
                           fs::perms::others_write)) == fs::perms::none)
    return MakeError(ErrorCode::kPermission, out.path + ": cannot save: the file is read-only",
                     "文件是只读的");

  const std::string folder =
      PathToUtf8(target.parent_path().empty() ? fs::path(".") : target.parent_path());
  RemoveStaleTempFiles(folder);
  auto tmp = TempFile::CreateBeside(out.path);
  if (!tmp) return tmp.error();
  const std::string& tmp_path = (*tmp)->path();
  Status written =
      as_xls ? xls::Write(wb, tmp_path, &out.warnings) : xlsx::Write(wb, tmp_path, &out.warnings);
  if (!written) {
    Error e = written.error();
    e.detail = out.path + ": cannot save: " + e.detail;
    return e;
  }
  if (Status moved = (*tmp)->RenameTo(out.path); !moved) return moved.error();
  return out;
}

}  // namespace

Result<SaveResult> SaveWorkbookFile(const Workbook& wb, const std::string& path) {
  std::string tried = path;
  auto r = SaveUnnamed(wb, path, tried);
  if (r) return r;
  Error e = r.error();
  e.file = tried;
  return e;
}

}  // namespace qm
