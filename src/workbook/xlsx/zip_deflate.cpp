#include "zip_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "../paths.h"

namespace qm::xlsx {
namespace {

// The failure behind errno: `what` for the developer's detail, `doing` for the user's bracket.
Error SystemError(const char* what, const char* doing) {
  const int err = errno;
  return MakeError(ErrorCodeFromErrno(err), std::string(what) + " (" + std::strerror(err) + ")",
                   SystemErrorNote(doing, err));
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// The current local time in MS-DOS form (time in the low half).
uint32_t DosTime() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  if (tm.tm_year < 80) return (1 << 21) | (1 << 16);
  uint32_t date =
      static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

constexpr uint32_t kMax32 = 0xFFFFFFFFu;

// The last spare buffer, or an empty one when none is left.
template <class Buffer>
Buffer TakeSpare(std::vector<Buffer>& spares) {
  if (spares.empty()) return {};
  Buffer b = std::move(spares.back());
  spares.pop_back();
  return b;
}

}  // namespace

ZipDeflateWriter::~ZipDeflateWriter() {
  for (auto& f : pending_) f.wait();
  if (f_) std::fclose(f_);
}

Status ZipDeflateWriter::Open(const std::string& path) {
  path_ = path;
  f_ = CreateForWriting(path);
  if (!f_) return SystemError("cannot create the file", "无法创建文件");
  std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
  return Status::Ok();
}

Status ZipDeflateWriter::WriteBytes(const void* p, size_t n) {
  if (n && std::fwrite(p, 1, n, f_) != n)
    return SystemError("writing the file failed", "无法写入文件");
  pos_ += n;
  return Status::Ok();
}

std::string ZipDeflateWriter::SpareBuffer(size_t bytes) {
  std::string b = TakeSpare(spare_in_);
  b.clear();
  b.reserve(bytes);
  return b;
}

std::vector<uint8_t> ZipDeflateWriter::SpareOut() {
  return TakeSpare(spare_out_);
}

ZipDeflateWriter::Piece ZipDeflateWriter::Compress(std::string in, std::vector<uint8_t> out,
                                                   int level, bool final) {
  Piece p;
  p.out = std::move(out);
  p.in_size = in.size();
  p.crc = libdeflate_crc32(0, in.data(), in.size());
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    p.ok = false;
    return p;
  }
  p.out.resize(deflateBound(&z, in.size()) + 16);
  z.next_in = reinterpret_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = p.out.data();
  z.avail_out = static_cast<uInt>(p.out.size());
  int rc = deflate(&z, final ? Z_FINISH : Z_SYNC_FLUSH);
  p.ok = rc == (final ? Z_STREAM_END : Z_OK) && z.avail_in == 0;
  p.out.resize(p.out.size() - z.avail_out);
  deflateEnd(&z);
  p.in = std::move(in);
  return p;
}

Status ZipDeflateWriter::BeginPart(const std::string& name) {
  Entry e;
  e.name = name;
  e.offset = pos_;
  e.crc = 0;
  entries_.push_back(e);
  std::vector<uint8_t> h;
  Put32(h, 0x04034b50);
  Put16(h, 20);
  Put16(h, 0x0800);  // names are UTF-8
  Put16(h, 8);
  Put32(h, DosTime());
  Put32(h, 0);  // crc and sizes are filled in by EndPart
  Put32(h, 0);
  Put32(h, 0);
  Put16(h, static_cast<uint32_t>(name.size()));
  Put16(h, 0);
  h.insert(h.end(), name.begin(), name.end());
  in_part_ = true;
  return WriteBytes(h.data(), h.size());
}

Status ZipDeflateWriter::WritePiece(Piece p) {
  if (!p.ok) return MakeError(ErrorCode::kIo, "compressing a package part failed");
  Entry& e = entries_.back();
  e.crc = static_cast<uint32_t>(crc32_combine(e.crc, p.crc, static_cast<z_off_t>(p.in_size)));
  e.usize += p.in_size;
  e.csize += p.out.size();
  Status st = WriteBytes(p.out.data(), p.out.size());
  // As many spares as pieces can be in flight, so the buffers are reused, never piled up.
  if (spare_in_.size() <= max_in_flight_ && p.in.capacity() > 0)
    spare_in_.push_back(std::move(p.in));
  if (spare_out_.size() <= max_in_flight_ && p.out.capacity() > 0)
    spare_out_.push_back(std::move(p.out));
  return st;
}

Status ZipDeflateWriter::Feed(std::string&& piece) {
  while (pending_.size() >= max_in_flight_) {
    Status st = WritePiece(pending_.front().get());
    pending_.pop_front();
    if (!st) return st;
  }
  try {
    pending_.push_back(
        std::async(std::launch::async, &Compress, std::move(piece), SpareOut(), level_, false));
  } catch (const std::system_error&) {
    // No thread to be had: compress here, after what is already queued.
    while (!pending_.empty()) {
      Status st = WritePiece(pending_.front().get());
      pending_.pop_front();
      if (!st) return st;
    }
    return WritePiece(Compress(std::move(piece), SpareOut(), level_, false));
  }
  return Status::Ok();
}

Status ZipDeflateWriter::EndPart() {
  while (!pending_.empty()) {
    Status st = WritePiece(pending_.front().get());
    pending_.pop_front();
    if (!st) return st;
  }
  // An empty final block of fixed codes closes the stream of sync-flushed pieces.
  static const uint8_t kFinal[2] = {0x03, 0x00};
  entries_.back().csize += 2;
  Status st = WriteBytes(kFinal, 2);
  if (!st) return st;
  in_part_ = false;
  const Entry& e = entries_.back();
  if (e.csize > kMax32 || e.usize > kMax32 || pos_ > kMax32)
    return MakeError(ErrorCode::kTooLarge, "a part of the package exceeds 4 GB");
  std::vector<uint8_t> h;
  Put32(h, e.crc);
  Put32(h, static_cast<uint32_t>(e.csize));
  Put32(h, static_cast<uint32_t>(e.usize));
  if (std::fflush(f_) != 0 || fseeko(f_, static_cast<off_t>(e.offset + 14), SEEK_SET) != 0 ||
      std::fwrite(h.data(), 1, h.size(), f_) != h.size() ||
      fseeko(f_, static_cast<off_t>(pos_), SEEK_SET) != 0)
    return SystemError("writing the file failed", "无法写入文件");
  return Status::Ok();
}

Status ZipDeflateWriter::AddPart(const std::string& name, std::string_view data) {
  Status st = BeginPart(name);
  if (!st) return st;
  st = WritePiece(Compress(std::string(data), SpareOut(), level_, false));
  if (!st) return st;
  return EndPart();
}

Status ZipDeflateWriter::Finish() {
  if (in_part_) return MakeError(ErrorCode::kInvalidArgument, "a package part was left open");
  uint64_t cd_start = pos_;
  std::vector<uint8_t> cd;
  uint32_t dos = DosTime();
  for (const Entry& e : entries_) {
    Put32(cd, 0x02014b50);
    Put16(cd, 20);
    Put16(cd, 20);
    Put16(cd, 0x0800);
    Put16(cd, 8);
    Put32(cd, dos);
    Put32(cd, e.crc);
    Put32(cd, static_cast<uint32_t>(e.csize));
    Put32(cd, static_cast<uint32_t>(e.usize));
    Put16(cd, static_cast<uint32_t>(e.name.size()));
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, 0);
    Put32(cd, static_cast<uint32_t>(e.offset));
    cd.insert(cd.end(), e.name.begin(), e.name.end());
  }
  const auto cd_size = static_cast<uint32_t>(cd.size());
  Put32(cd, 0x06054b50);
  Put16(cd, 0);
  Put16(cd, 0);
  Put16(cd, static_cast<uint32_t>(entries_.size()));
  Put16(cd, static_cast<uint32_t>(entries_.size()));
  Put32(cd, cd_size);
  Put32(cd, static_cast<uint32_t>(cd_start));
  Put16(cd, 0);
  Status st = WriteBytes(cd.data(), cd.size());
  if (!st) return st;
  FILE* f = f_;
  f_ = nullptr;
  if (std::fclose(f) != 0) return SystemError("closing the file failed", "无法关闭文件");
  return Status::Ok();
}

}  // namespace qm::xlsx
