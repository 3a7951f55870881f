#include "io.h"

#include "paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

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

// The temporary name keeps the target's extension before ".tmp", so the writer can tell an
// .xlsm target (which needs the macro-enabled content type) from an .xlsx one.
std::string TempNameBeside(const fs::path& target) {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "~qm%016llx", static_cast<unsigned long long>(gen()));
    fs::path p = target.parent_path() / (buf + Lower(PathToUtf8(target.extension())) + ".tmp");
    std::error_code ec;
    if (!fs::exists(p, ec)) return PathToUtf8(p);
  }
  return PathToUtf8(target.parent_path() / "~qm-result.tmp");
}

// What a file that is no workbook seems to be; many ".xls" files exported by other programs are
// web pages, XML or plain text. English for the detail, Chinese for the user's bracket.
struct Seeming {
  const char* english;
  const char* chinese;
};
Seeming UnknownContent(const uint8_t* d, size_t n) {
  size_t i = n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF ? 3 : 0;
  while (i < n && (d[i] == ' ' || d[i] == '\t' || d[i] == '\r' || d[i] == '\n')) ++i;
  if (i < n && d[i] == '<')
    return {"a web page or XML document saved under a workbook's name", "看起来是网页或XML文件"};
  bool text = true;
  for (size_t k = 0; k < std::min<size_t>(n, 4096) && text; ++k)
    text = d[k] >= 0x20 || d[k] == '\t' || d[k] == '\r' || d[k] == '\n';
  if (text)
    return {"a text file, such as CSV, saved under a workbook's name", "看起来是文本文件，如CSV"};
  return {"neither an Excel nor a zip package file", "既不是Excel文件也不是zip压缩包"};
}

}  // namespace

bool FitsXlsGrid(const Workbook& wb) {
  for (int i = 1; i <= wb.WorksheetCount(); ++i) {
    const Worksheet* ws = wb.Worksheets(i);
    if (ws->IsEmpty()) continue;
    Range u = ws->UsedRange();
    if (u.r2 > 65536 || u.c2 > 256) return false;
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
                                                    const ReadOptions& options) {
  Result<std::unique_ptr<Workbook>> r = MakeError(ErrorCode::kNotAWorkbook, "");
  switch (SniffContainer(data, size)) {
    case ContainerKind::kCompoundFile:
    case ContainerKind::kRawBiff:
      r = xls::Read(data, size, name, options);
      break;
    case ContainerKind::kZip:
      r = xlsx::Read(data, size, name, options);
      break;
    case ContainerKind::kUnknown: {
      if (size == 0) return MakeError(ErrorCode::kEmpty, name + ": the file is empty");
      Seeming seems = UnknownContent(data, size);
      return MakeError(ErrorCode::kNotAWorkbook, name + ": not a workbook (" + seems.english + ")",
                       seems.chinese);
    }
  }
  if (r.ok()) (*r)->SetFullName(name);
  return r;
}

Result<std::unique_ptr<Workbook>> ReadWorkbookFile(const std::string& path,
                                                   const ReadOptions& options) {
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  // A folder opens like a file here but fails on the first read.
  if (fs::is_directory(p, ec))
    return MakeError(ErrorCode::kIo, path + ": cannot open the file (it is a folder)");
  std::ifstream in(p, std::ios::binary);
  if (!in)
    return MakeError(ErrorCode::kIo,
                     path + ": cannot open the file (" + std::strerror(errno) + ")");
  // read() turns a failing read into the bad bit; reading through stream iterators would let
  // the library's exception escape instead.
  std::vector<uint8_t> bytes;
  if (uintmax_t size = fs::file_size(p, ec); !ec && size < (uintmax_t{1} << 32))
    bytes.reserve(static_cast<size_t>(size));
  std::vector<char> chunk(1 << 20);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
    bytes.insert(bytes.end(), chunk.data(), chunk.data() + in.gcount());
  if (in.bad())
    return MakeError(ErrorCode::kIo,
                     path + ": reading the file failed (" + std::strerror(errno) + ")");
  return ReadWorkbookBytes(bytes.data(), bytes.size(), path, options);
}

Result<SaveResult> SaveWorkbookFile(const Workbook& wb, const std::string& path) {
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
  } else if (!as_xls && ext != ".xlsx" && ext != ".xlsm") {
    return MakeError(ErrorCode::kInvalidArgument,
                     path + ": cannot save: the name must end in .xls, .xlsx or .xlsm");
  }
  fs::path target = PathFromUtf8(out.path);
  std::error_code ec;
  if (!target.parent_path().empty() && !fs::is_directory(target.parent_path(), ec))
    return MakeError(ErrorCode::kIo, out.path + ": cannot save: the folder does not exist");
  std::string tmp = TempNameBeside(target);
  Status st = as_xls ? xls::Write(wb, tmp, &out.warnings) : xlsx::Write(wb, tmp, &out.warnings);
  if (!st) {
    fs::remove(PathFromUtf8(tmp), ec);
    Error e = st.error();
    e.detail = out.path + ": cannot save: " + e.detail;
    return e;
  }
  fs::rename(PathFromUtf8(tmp), target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(PathFromUtf8(tmp), ignored);
    return MakeError(ErrorCode::kIo, out.path + ": cannot save: " + ec.message());
  }
  return out;
}

}  // namespace qm
