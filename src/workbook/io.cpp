#include "io.h"

#include "html/html_reader.h"
#include "memory_budget.h"
#include "office/cfb_reader.h"
#include "office/ooxml_decrypt.h"
#include "other_formats.h"
#include "paths.h"
#include "text/csv_reader.h"
#include "text/text_source.h"
#include "xls/xls.h"
#include "xlsx/xlsx.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace qm {
namespace fs = std::filesystem;

namespace {

// What a file that no reader takes seems to be (web pages and plain text are read; XML of other
// kinds is not). English for the detail, Chinese for the user's bracket.
struct Seeming {
  const char* english;
  const char* chinese;
};
Seeming UnknownContent(const uint8_t* d, size_t n) {
  size_t i = n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF ? 3 : 0;
  while (i < n && (d[i] == ' ' || d[i] == '\t' || d[i] == '\r' || d[i] == '\n')) ++i;
  if (i < n && d[i] == '<')
    return {"a web page or XML document saved under a workbook's name", "看起来是网页或XML文件"};
  return {"neither an Excel nor a zip package file", "既不是Excel文件也不是zip压缩包"};
}

Error NoMemory(const std::string& name, std::string note) {
  return MakeError(ErrorCode::kNoMemory, name + ": not enough memory to hold the workbook",
                   std::move(note));
}

// A compound file holds either a BIFF workbook or, with no workbook stream, a password-encrypted
// .xlsx/.xlsm package that decrypts to an ordinary one.
Result<std::unique_ptr<Workbook>> ReadCompoundFile(const uint8_t* data, size_t size,
                                                   const std::string& name,
                                                   const ReadOptions& options,
                                                   std::string* used_password) {
  cfb::Reader cfb;
  std::string why = cfb.Open(data, size);
  if (!why.empty()) return MakeError(ErrorCode::kCorrupt, name + ": " + why);
  if (cfb.Find(u"Workbook") >= 0 || cfb.Find(u"Book") >= 0 || !ooxml::IsEncryptedPackage(cfb))
    return xls::Read(cfb, name, options, used_password);
  memory::ScopedCharge charge;
  Result<ooxml::Decrypted> d = ooxml::DecryptPackage(cfb, name, options, charge);
  if (!d) return d.error();
  Result<std::unique_ptr<Workbook>> r =
      xlsx::Read(d->package.data(), d->package.size(), name, options);
  if (r.ok() && used_password) *used_password = d->password;
  return r;
}

Result<std::unique_ptr<Workbook>> ReadBytesUnguarded(const uint8_t* data, size_t size,
                                                     const std::string& name,
                                                     const ReadOptions& options,
                                                     std::string* used_password) {
  if (used_password) used_password->clear();
  Result<std::unique_ptr<Workbook>> r = MakeError(ErrorCode::kNotAWorkbook, "");
  switch (SniffContainer(data, size)) {
    case ContainerKind::kCompoundFile:
      r = ReadCompoundFile(data, size, name, options, used_password);
      break;
    case ContainerKind::kRawBiff:
      r = xls::Read(data, size, name, options, used_password);
      break;
    case ContainerKind::kZip:
      // .xlsx/.xlsm, .xlsb or .ods, by what the package holds.
      r = ReadPackage(data, size, name, options);
      break;
    case ContainerKind::kUnknown: {
      if (size == 0) return MakeError(ErrorCode::kEmpty, name + ": the file is empty");
      // XML Spreadsheet 2003 and flat OpenDocument, whatever the name says.
      if (XmlKind xml = SniffXml(data, size); xml != XmlKind::kNone) {
        r = ReadXmlDocument(xml, data, size, name, options);
        break;
      }
      // Many a "workbook" exported by another program is a web page or plain text.
      if (html::LooksLikeHtml(data, size)) {
        r = html::Read(data, size, name);
        break;
      }
      if (text::LooksLikeText(data, size)) {
        r = text::ReadCsv(data, size, name);
        break;
      }
      Seeming seems = UnknownContent(data, size);
      return MakeError(ErrorCode::kNotAWorkbook, name + ": not a workbook (" + seems.english + ")",
                       seems.chinese);
    }
  }
  if (r.ok()) (*r)->SetFullName(name);
  // A reader that ran out names the part it was in; the user needs the file alone.
  if (!r.ok() && r.error().code == ErrorCode::kNoMemory) return NoMemory(name, r.error().note);
  return r;
}

Error TooLarge(const std::string& path, uint64_t size) {
  return MakeError(ErrorCode::kTooLarge,
                   path + ": the file holds " + std::to_string(size) + " bytes, more than the " +
                       memory::kMaxSourceText + " a workbook is read from",
                   std::string("超过") + memory::kMaxSourceText);
}

// `what` for the developer's detail, `doing` for the user's bracket.
Error FromErrno(const std::string& path, const char* what, const char* doing, int err) {
  return MakeError(ErrorCodeFromErrno(err), path + ": " + what + " (" + std::strerror(err) + ")",
                   SystemErrorNote(doing, err));
}

#ifdef _WIN32

Status ReadSource(const std::string& path, std::vector<uint8_t>& bytes,
                  memory::ScopedCharge& charge) {
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  fs::file_status status = fs::status(p, ec);
  if (ec || !fs::exists(status))
    return MakeError(ErrorCode::kMissing, path + ": cannot open the file (No such file)");
  if (fs::is_directory(status))
    return MakeError(ErrorCode::kNotRegular, path + ": cannot open the file (it is a folder)",
                     "是文件夹");
  if (!fs::is_regular_file(status))
    return MakeError(ErrorCode::kNotRegular,
                     path + ": cannot open the file (it is not a regular file)");
  uintmax_t size = fs::file_size(p, ec);
  if (ec)
    return MakeError(ErrorCode::kIo, path + ": cannot open the file (" + ec.message() + ")",
                     SystemErrorNote("无法打开文件", ec));
  if (size > memory::kMaxSourceBytes) return TooLarge(path, size);
  std::ifstream in(p, std::ios::binary);
  if (!in) return FromErrno(path, "cannot open the file", "无法打开文件", errno);
  if (!charge.Add(static_cast<size_t>(size)))
    return NoMemory(path, "文件超过可用的" + memory::BudgetText() + "内存");
  bytes.resize(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return FromErrno(path, "reading the file failed", "无法读取文件", errno);
  return Status::Ok();
}

#else

// What a path that is no regular file is, for the detail and the user's bracket.
Error NotRegular(const std::string& path, mode_t mode) {
  struct Kind {
    bool is;
    const char* english;
    const char* chinese;
  };
  const Kind kinds[] = {
      {S_ISDIR(mode), "it is a folder", "是文件夹"},
      {S_ISFIFO(mode), "it is a named pipe", "是命名管道"},
      {S_ISCHR(mode) || S_ISBLK(mode), "it is a device", "是设备文件"},
      {S_ISSOCK(mode), "it is a socket", "是套接字"},
  };
  for (const Kind& k : kinds)
    if (k.is)
      return MakeError(ErrorCode::kNotRegular, path + ": cannot open the file (" + k.english + ")",
                       k.chinese);
  return MakeError(ErrorCode::kNotRegular, path + ": cannot open the file (not a regular file)");
}

struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads a whole regular file. Nothing here can block: a pipe or device is opened without
// waiting for a writer and refused once its type is known, before the first read.
Status ReadSource(const std::string& path, std::vector<uint8_t>& bytes,
                  memory::ScopedCharge& charge) {
  Descriptor d;
  do {
    d.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (d.fd < 0 && errno == EINTR);
  if (d.fd < 0) {
    const int err = errno;
    struct stat st {};
    // A socket cannot be opened at all; say what it is rather than "no such device".
    if (err == ENXIO && ::stat(path.c_str(), &st) == 0) return NotRegular(path, st.st_mode);
    return FromErrno(path, "cannot open the file", "无法打开文件", err);
  }
  struct stat st {};
  if (::fstat(d.fd, &st) != 0)
    return FromErrno(path, "cannot open the file", "无法打开文件", errno);
  if (!S_ISREG(st.st_mode)) return NotRegular(path, st.st_mode);
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > memory::kMaxSourceBytes) return TooLarge(path, size);
  if (int flags = ::fcntl(d.fd, F_GETFL); flags >= 0)
    (void)::fcntl(d.fd, F_SETFL, flags & ~O_NONBLOCK);
  if (!charge.Add(static_cast<size_t>(size)))
    return NoMemory(path, "文件超过可用的" + memory::BudgetText() + "内存");
  bytes.resize(static_cast<size_t>(size));
  size_t got = 0;
  for (;;) {
    ssize_t n;
    if (got < bytes.size()) {
      n = ::read(d.fd, bytes.data() + got, bytes.size() - got);
      if (n > 0) got += static_cast<size_t>(n);
    } else {
      // The file may have grown since it was measured: read on, up to the cap.
      uint8_t more[65536];
      n = ::read(d.fd, more, sizeof more);
      if (n > 0) {
        if (got + static_cast<size_t>(n) > memory::kMaxSourceBytes)
          return TooLarge(path, got + static_cast<size_t>(n));
        if (!charge.Add(static_cast<size_t>(n)))
          return NoMemory(path, "文件超过可用的" + memory::BudgetText() + "内存");
        bytes.insert(bytes.end(), more, more + n);
        got += static_cast<size_t>(n);
      }
    }
    if (n == 0) break;
    if (n < 0 && errno != EINTR)
      return FromErrno(path, "reading the file failed", "无法读取文件", errno);
  }
  // It may also have shrunk.
  bytes.resize(got);
  return Status::Ok();
}

#endif

}  // namespace

std::vector<std::string> PasswordsToTry(const ReadOptions& options) {
  std::vector<std::string> out;
  if (options.try_default_password) out.push_back(kDefaultPassword);
  for (const std::string& p : options.passwords)
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  return out;
}

bool SlowTries(uint64_t rounds_per_try, size_t passwords) {
  // Beyond any real count of passwords; keeps the product from overflowing.
  if (passwords > kSlowTriesRounds) return rounds_per_try > 0;
  return rounds_per_try * passwords > kSlowTriesRounds;
}

Error TriesPutOff(const std::string& name) {
  return MakeError(ErrorCode::kTriesPutOff, name + ": 文件受密码保护，尚未尝试密码");
}

bool FitsXlsGrid(const Workbook& wb) {
  for (int i = 1; i <= wb.WorksheetCount(); ++i) {
    const Worksheet* ws = wb.Worksheets(i);
    if (ws->IsEmpty()) continue;
    Range u = ws->UsedRange();
    if (u.r2 > kXlsMaxRows || u.c2 > kXlsMaxCols) return false;
  }
  return true;
}

ContainerKind SniffContainer(const uint8_t* d, size_t n) {
  static const uint8_t kCfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (n >= 8 && std::memcmp(d, kCfb, 8) == 0) return ContainerKind::kCompoundFile;
  if (n >= 4 && d[0] == 'P' && d[1] == 'K' &&
      ((d[2] == 3 && d[3] == 4) || (d[2] == 5 && d[3] == 6)))
    return ContainerKind::kZip;
  // A BOF record of BIFF2 (0009), BIFF3 (0209), BIFF4 (0409) or BIFF5/8 (0809).
  if (n >= 4 && d[0] == 0x09 && (d[1] == 0x00 || d[1] == 0x02 || d[1] == 0x04 || d[1] == 0x08))
    return ContainerKind::kRawBiff;
  return ContainerKind::kUnknown;
}

Result<std::unique_ptr<Workbook>> ReadWorkbookBytes(const uint8_t* data, size_t size,
                                                    const std::string& name,
                                                    const ReadOptions& options,
                                                    std::string* used_password) {
  try {
    return ReadBytesUnguarded(data, size, name, options, used_password);
  } catch (const std::bad_alloc& e) {
    return NoMemory(name, memory::NoMemoryNote(e));
  }
}

namespace {

Result<std::unique_ptr<Workbook>> ReadFileUnnamed(const std::string& path,
                                                  const ReadOptions& options,
                                                  std::string* used_password) {
  try {
    // The bytes count against the budget while the reader works on them.
    memory::ScopedCharge charge;
    std::vector<uint8_t> bytes;
    if (Status st = ReadSource(path, bytes, charge); !st) return st.error();
    return ReadWorkbookBytes(bytes.data(), bytes.size(), path, options, used_password);
  } catch (const std::bad_alloc& e) {
    return NoMemory(path, memory::NoMemoryNote(e));
  }
}

}  // namespace

Result<std::unique_ptr<Workbook>> ReadWorkbookFile(const std::string& path,
                                                   const ReadOptions& options,
                                                   std::string* used_password) {
  auto r = ReadFileUnnamed(path, options, used_password);
  if (r) return r;
  Error e = r.error();
  e.file = path;
  return e;
}

}  // namespace qm
