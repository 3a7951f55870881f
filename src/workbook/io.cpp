#include "io.h"

#include "paths.h"

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

}  // namespace qm
