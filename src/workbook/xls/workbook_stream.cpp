#include "workbook_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../office/cfb_writer.h"
#include "../paths.h"

namespace qm::xls {

Status WriteCompoundFile(const std::string& path, BiffBuffer& globals,
                         std::deque<BiffBuffer>& bodies) {
  // The stream's length is known before it is written, so the container's layout is too and
  // the bytes go straight to the file.
  uint64_t total = globals.bytes().size();
  for (BiffBuffer& b : bodies) total += b.spilled() + b.bytes().size();
  // Short streams would land in the mini stream, which some readers handle poorly.
  const uint64_t padding = total < 4096 ? 4096 - total : 0;

  std::FILE* f = CreateForWriting(path);
  if (!f) {
    const int err = errno;
    return MakeError(ErrorCodeFromErrno(err),
                     std::string("cannot create the file (") + std::strerror(err) + ")",
                     SystemErrorNote("无法创建文件", err));
  }
  cfb::Writer out;
  int saved_errno = 0;
  std::string why;
  bool ok = out.Begin(f, u"Workbook", total + padding);
  auto put = [&](const uint8_t* p, size_t n) {
    if (ok && n && !out.Write(p, n)) {
      saved_errno = errno;
      ok = false;
    }
  };
  put(globals.bytes().data(), globals.bytes().size());
  std::vector<uint8_t> chunk(1 << 20);
  for (BiffBuffer& b : bodies) {
    if (std::FILE* spill = b.spill_file(); spill && b.spilled()) {
      std::rewind(spill);
      for (size_t left = b.spilled(); ok && left > 0;) {
        const size_t n = std::fread(chunk.data(), 1, std::min(left, chunk.size()), spill);
        if (n == 0) {
          ok = false;
          why = "reading a temporary file failed";
          break;
        }
        put(chunk.data(), n);
        left -= n;
      }
    }
    put(b.bytes().data(), b.bytes().size());
  }
  if (padding) {
    const std::vector<uint8_t> zeros(padding, 0);
    put(zeros.data(), zeros.size());
  }
  if (ok && !out.Finish()) {
    saved_errno = errno;
    ok = false;
  }
  if (std::fflush(f) != 0 && ok) {
    saved_errno = errno;
    ok = false;
  }
  if (std::fclose(f) != 0 && ok) {
    saved_errno = errno;
    ok = false;
  }
  if (!ok) {
    if (why.empty())
      why = saved_errno
                ? std::string("writing the file failed (") + std::strerror(saved_errno) + ")"
                : "writing the file failed";
    return MakeError(ErrorCodeFromErrno(saved_errno), why,
                     saved_errno ? SystemErrorNote("无法写入文件", saved_errno) : std::string());
  }
  return Status::Ok();
}

}  // namespace qm::xls
