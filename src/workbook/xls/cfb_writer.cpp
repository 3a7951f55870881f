// The compound file around a BIFF8 workbook stream, written by libgsf.
#include "cfb_writer.h"

#include <gsf/gsf-infile.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "../paths.h"

namespace qm::xls {

Status WriteCompoundFile(const std::string& path, BiffBuffer& globals,
                         std::deque<BiffBuffer>& bodies) {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
  // Our caller already writes to a temporary name and renames it, so the file is written in
  // place (libgsf's own file output would add a second temporary file and rename).
#ifdef _WIN32
  FILE* f = _wfopen(PathFromUtf8(path).c_str(), L"wb");
#else
  FILE* f = std::fopen(path.c_str(), "wb");
#endif
  if (!f)
    return MakeError(ErrorCodeFromErrno(errno),
                     std::string("cannot create the file (") + std::strerror(errno) + ")");
  GsfOutput* sink = gsf_output_stdio_new_FILE(path.c_str(), f, FALSE);
  if (!sink) {
    std::fclose(f);
    return MakeError(ErrorCode::kIo, "cannot create the file");
  }
  GsfOutfile* ole = gsf_outfile_msole_new_full(sink, 512, 64);
  GsfOutput* child = gsf_outfile_new_child(ole, "Workbook", FALSE);
  bool ok = child != nullptr;
  std::string why;
  int saved_errno = 0;
  size_t total = 0;
  auto put = [&](const uint8_t* p, size_t n) {
    if (ok && n && !gsf_output_write(child, n, p)) {
      saved_errno = errno;
      ok = false;
    }
    total += n;
  };
  put(globals.bytes().data(), globals.bytes().size());
  std::vector<uint8_t> chunk(1 << 20);
  for (BiffBuffer& b : bodies) {
    if (FILE* f = b.spill_file(); f && b.spilled()) {
      std::rewind(f);
      for (size_t left = b.spilled(); ok && left > 0;) {
        size_t n = std::fread(chunk.data(), 1, std::min(left, chunk.size()), f);
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
  // Short streams would land in the mini-stream, which some readers handle poorly.
  if (total < 4096) {
    std::vector<uint8_t> zeros(4096 - total, 0);
    put(zeros.data(), zeros.size());
  }
  if (child) {
    if (!ok && why.empty() && gsf_output_error(child)) why = gsf_output_error(child)->message;
    if (!gsf_output_close(child)) {
      if (ok) saved_errno = errno;
      ok = false;
    }
    g_object_unref(child);
  }
  if (!gsf_output_close(GSF_OUTPUT(ole))) {
    if (ok) saved_errno = errno;
    if (why.empty() && gsf_output_error(GSF_OUTPUT(ole)))
      why = gsf_output_error(GSF_OUTPUT(ole))->message;
    ok = false;
  }
  g_object_unref(ole);
  // Closing the container closes the file too, unless it failed half way.
  if (!gsf_output_is_closed(sink) && !gsf_output_close(sink)) {
    if (ok) saved_errno = errno;
    if (why.empty() && gsf_output_error(sink)) why = gsf_output_error(sink)->message;
    ok = false;
  }
  g_object_unref(sink);
  // libgsf reports the failed write by text only; the errno of the failing call is still set.
  if (!ok)
    return MakeError(ErrorCodeFromErrno(saved_errno),
                     why.empty() ? "writing the file failed" : why);
  return Status::Ok();
}

}  // namespace qm::xls
