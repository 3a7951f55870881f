#include "zip_reader.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "../bytes.h"

namespace qm::zip {
namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kEnd64LocatorSig = 0x07064b50;
constexpr size_t kChunk = 64 * 1024;
// Parts up to this size are expanded in one call by the faster decoder; larger ones stream.
constexpr uint64_t kWholeInflate = 16u << 20;

// One decoder per reading thread, made on first use.
libdeflate_decompressor* Decoder() {
  struct Owned {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Owned() { libdeflate_free_decompressor(d); }
  };
  thread_local Owned owned;
  return owned.d;
}

using le::U16;
using le::U32;
using le::U64;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string NormalizeName(std::string_view raw) {
  std::string n(raw);
  std::replace(n.begin(), n.end(), '\\', '/');
  size_t start = n.find_first_not_of('/');
  return start == std::string::npos ? std::string() : n.substr(start);
}

std::string Bytes(uint64_t n) {
  if (n >= (1ull << 30)) return std::to_string(n >> 30) + " GiB";
  if (n >= (1ull << 20)) return std::to_string(n >> 20) + " MiB";
  return std::to_string(n) + " bytes";
}
// The same for the user.
std::string BytesText(uint64_t n) {
  return n >= (1ull << 20) ? Bytes(n) : std::to_string(n) + "字节";
}

}  // namespace

Error Archive::Fail(ErrorCode code, const std::string& entry, const std::string& why,
                    std::string note) const {
  std::string d = file_ + ": ";
  if (!entry.empty()) d += "zip entry \"" + entry + "\": ";
  return MakeError(code, d + why, std::move(note));
}

Result<Archive> Archive::Open(const uint8_t* data, size_t size, std::string file_name,
                              const Limits& limits) {
  Archive a;
  a.data_ = data;
  a.size_ = size;
  a.file_ = std::move(file_name);
  a.limits_ = limits;
  auto corrupt = [&](const std::string& why, const char* note) {
    return a.Fail(ErrorCode::kCorrupt, "", why, note);
  };
  constexpr const char* kCut = "不是完整的zip压缩包，文件可能不完整";
  constexpr const char* kBadIndex = "zip压缩包的目录已损坏";
  if (size < 22) return corrupt("not a complete zip package (no end of central directory)", kCut);
  // The end record sits in the last 22 bytes plus a comment of at most 64 KiB.
  size_t min_pos = size > 22 + 65535 ? size - 22 - 65535 : 0;
  size_t eocd = SIZE_MAX;
  for (size_t p = size - 22 + 1; p-- > min_pos;) {
    if (U32(data + p) == kEndSig) {
      eocd = p;
      break;
    }
  }
  if (eocd == SIZE_MAX)
    return corrupt("not a complete zip package (no end of central directory; truncated?)", kCut);
  uint64_t count = U16(data + eocd + 10);
  uint64_t cd_size = U32(data + eocd + 12);
  uint64_t cd_offset = U32(data + eocd + 16);
  if ((count == 0xFFFF || cd_size == 0xFFFFFFFF || cd_offset == 0xFFFFFFFF) && eocd >= 20 &&
      U32(data + eocd - 20) == kEnd64LocatorSig) {
    uint64_t z64 = U64(data + eocd - 20 + 8);
    if (z64 > size || size - z64 < 56 || U32(data + z64) != kEnd64Sig)
      return corrupt("broken ZIP64 end of central directory", kBadIndex);
    count = U64(data + z64 + 32);
    cd_size = U64(data + z64 + 40);
    cd_offset = U64(data + z64 + 48);
  }
  if (cd_offset > size || cd_size > size - cd_offset)
    return corrupt("the central directory lies outside the file (truncated?)", kCut);
  if (count > limits.max_entries)
    return a.Fail(ErrorCode::kTooLarge, "",
                  "the package holds " + std::to_string(count) + " entries, more than the " +
                      std::to_string(limits.max_entries) + " allowed",
                  "zip压缩包含" + std::to_string(count) + "个部件，超过上限" +
                      std::to_string(limits.max_entries) + "个");
  const uint8_t* p = data + cd_offset;
  const uint8_t* end = p + cd_size;
  a.entries_.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (end - p < 46 || U32(p) != kCentralSig)
      return corrupt("bad central directory record " + std::to_string(i + 1), kBadIndex);
    Entry e;
    e.flags = U16(p + 8);
    e.method = U16(p + 10);
    e.crc = U32(p + 16);
    e.compressed_size = U32(p + 20);
    e.size = U32(p + 24);
    size_t name_len = U16(p + 28), extra_len = U16(p + 30), comment_len = U16(p + 32);
    e.local_offset = U32(p + 42);
    if (static_cast<size_t>(end - p) < 46 + name_len + extra_len + comment_len)
      return corrupt("bad central directory record " + std::to_string(i + 1), kBadIndex);
    e.name = NormalizeName(std::string_view(reinterpret_cast<const char*>(p + 46), name_len));
    // ZIP64: the 64-bit values follow in the order of the fields that overflowed.
    const uint8_t* x = p + 46 + name_len;
    const uint8_t* xend = x + extra_len;
    while (xend - x >= 4) {
      uint16_t id = U16(x), len = U16(x + 2);
      if (xend - x - 4 < len) break;
      if (id == 0x0001) {
        const uint8_t* f = x + 4;
        const uint8_t* fend = f + len;
        if (e.size == 0xFFFFFFFF && fend - f >= 8) e.size = U64(f), f += 8;
        if (e.compressed_size == 0xFFFFFFFF && fend - f >= 8) e.compressed_size = U64(f), f += 8;
        if (e.local_offset == 0xFFFFFFFF && fend - f >= 8) e.local_offset = U64(f);
      }
      x += 4 + len;
    }
    p += 46 + name_len + extra_len + comment_len;
    a.by_name_[LowerAscii(e.name)] = a.entries_.size();
    a.entries_.push_back(std::move(e));
  }
  return a;
}

const Entry* Archive::Find(std::string_view name) const {
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  auto it = by_name_.find(LowerAscii(name));
  return it == by_name_.end() ? nullptr : &entries_[it->second];
}

Status Archive::Extract(const Entry& e, const Sink& sink) {
  if (e.flags & 1)
    return Fail(ErrorCode::kEncrypted, e.name, "the entry is encrypted (password protected)",
                "不支持的加密方式");
  if (e.local_offset > size_ || size_ - e.local_offset < 30 ||
      U32(data_ + e.local_offset) != kLocalSig)
    return Fail(ErrorCode::kCorrupt, e.name, "bad local header (truncated or corrupt package)",
                "zip压缩包中的部件头已损坏");
  const uint8_t* lh = data_ + e.local_offset;
  uint64_t start = e.local_offset + 30 + U16(lh + 26) + U16(lh + 28);
  if (start > size_ || e.compressed_size > size_ - start)
    return Fail(ErrorCode::kCorrupt, e.name, "the data runs past the end of the file (truncated?)",
                "数据超出文件末尾，文件可能不完整");
  const uint8_t* src = data_ + start;
  uint64_t produced = 0;
  uint32_t crc = 0;
  bool stopped = false;
  // Every expanded byte passes through here, so the caps hold whatever the headers claim.
  auto deliver = [&](const uint8_t* d, size_t n) -> Status {
    produced += n;
    total_ += n;
    if (produced > e.size)
      return Fail(ErrorCode::kCorrupt, e.name,
                  "expands past its declared size of " + std::to_string(e.size) + " bytes",
                  "解压后的数据比声明的大小多");
    if (produced > limits_.max_entry_bytes)
      return Fail(ErrorCode::kTooLarge, e.name,
                  "expands to more than " + Bytes(limits_.max_entry_bytes) + " (zip bomb?)",
                  "一个部件解压后超过" + BytesText(limits_.max_entry_bytes));
    if (total_ > limits_.max_total_bytes)
      return Fail(
          ErrorCode::kTooLarge, e.name,
          "the package expands to more than " + Bytes(limits_.max_total_bytes) + " (zip bomb?)",
          "解压后超过" + BytesText(limits_.max_total_bytes));
    if (produced > limits_.ratio_grace &&
        produced / std::max<uint64_t>(e.compressed_size, 1) > limits_.max_ratio)
      return Fail(ErrorCode::kTooLarge, e.name,
                  "compression ratio above " + std::to_string(limits_.max_ratio) + ":1 (zip bomb?)",
                  "压缩比超过" + std::to_string(limits_.max_ratio) + "比1");
    crc = libdeflate_crc32(crc, d, n);
    if (!sink(reinterpret_cast<const char*>(d), n)) stopped = true;
    return Status::Ok();
  };
  // A part of modest size is expanded in one call; when it does not expand to exactly its
  // declared size the streaming way below runs instead and says what is wrong.
  std::unique_ptr<uint8_t[]> whole;
  size_t whole_size = 0;
  if (e.method == 8 && e.size > 0 && e.size <= kWholeInflate && Decoder()) {
    whole.reset(new uint8_t[static_cast<size_t>(e.size)]);
    size_t used = 0;
    if (libdeflate_deflate_decompress_ex(Decoder(), src, static_cast<size_t>(e.compressed_size),
                                         whole.get(), static_cast<size_t>(e.size), &used,
                                         &whole_size) != LIBDEFLATE_SUCCESS ||
        whole_size != e.size)
      whole.reset();
  }
  if (whole) {
    for (size_t off = 0; off < whole_size && !stopped;) {
      const size_t n = std::min(kChunk, whole_size - off);
      if (auto st = deliver(whole.get() + off, n); !st) return st;
      off += n;
    }
  } else if (e.method == 0) {
    for (uint64_t off = 0; off < e.compressed_size && !stopped;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, e.compressed_size - off));
      if (auto st = deliver(src + off, n); !st) return st;
      off += n;
    }
  } else if (e.method == 8) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
      return Fail(ErrorCode::kCorrupt, e.name, "cannot start inflating", "无法解压");
    std::unique_ptr<z_stream, void (*)(z_stream*)> guard(&zs, [](z_stream* z) { inflateEnd(z); });
    std::unique_ptr<uint8_t[]> out(new uint8_t[kChunk]);
    uint64_t consumed = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END && !stopped) {
      if (zs.avail_in == 0) {
        uint64_t left = e.compressed_size - consumed;
        if (left == 0)
          return Fail(ErrorCode::kCorrupt, e.name, "the compressed data ends early (truncated?)",
                      "压缩数据提前结束，文件可能不完整");
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, 1u << 30));
        zs.next_in = const_cast<Bytef*>(src + consumed);
        zs.avail_in = static_cast<uInt>(n);
        consumed += n;
      }
      zs.next_out = out.get();
      zs.avail_out = kChunk;
      rc = inflate(&zs, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        return Fail(ErrorCode::kCorrupt, e.name,
                    std::string("corrupt compressed data (") + (zs.msg ? zs.msg : "inflate") + ")",
                    "压缩数据已损坏");
      size_t got = kChunk - zs.avail_out;
      if (rc == Z_BUF_ERROR && got == 0 && zs.avail_in != 0)
        return Fail(ErrorCode::kCorrupt, e.name, "corrupt compressed data", "压缩数据已损坏");
      if (got)
        if (auto st = deliver(out.get(), got); !st) return st;
    }
  } else {
    return Fail(ErrorCode::kNotSupported, e.name,
                "compression method " + std::to_string(e.method) + " is not supported",
                "不支持的压缩方法（编号" + std::to_string(e.method) + "）");
  }
  if (stopped) return Status::Ok();
  if (produced != e.size)
    return Fail(ErrorCode::kCorrupt, e.name,
                "expands to " + std::to_string(produced) + " bytes, not the declared " +
                    std::to_string(e.size),
                "解压后的大小与声明的不符");
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // Fuzz builds skip this one check so mutated inputs reach the parts behind the first entry.
  if (crc != e.crc)
    return Fail(ErrorCode::kCorrupt, e.name, "bad CRC-32 (corrupt package)", "数据校验不符");
#endif
  return Status::Ok();
}

Result<std::string> Archive::ReadAll(const Entry& e) {
  std::string out;
  Status st = Extract(e, [&](const char* d, size_t n) {
    out.append(d, n);
    return true;
  });
  if (!st) return st.error();
  return out;
}

}  // namespace qm::zip
