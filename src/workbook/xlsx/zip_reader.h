// A small read-only zip reader for workbook packages. It trusts nothing in the file: sizes,
// offsets and counts are checked against the buffer, and the bytes an entry expands to are
// counted here, so a lying or hostile archive is refused instead of exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../result.h"

namespace qm::zip {

struct Entry {
  std::string name;  // as stored, with "\" turned into "/" and a leading "/" removed
  uint64_t compressed_size = 0;
  uint64_t size = 0;  // expanded size the central directory declares
  uint64_t local_offset = 0;
  uint32_t crc = 0;
  uint16_t method = 0;  // 0 stored, 8 deflate
  uint16_t flags = 0;
};

struct Limits {
  uint64_t max_entry_bytes = 2ull << 30;  // expanded bytes of one entry
  uint64_t max_total_bytes = 4ull << 30;  // expanded bytes over the whole archive
  // Largest expanded/compressed ratio, checked once an entry has produced `ratio_grace` bytes;
  // ordinary worksheet XML stays well below it, bombs go far above.
  uint64_t max_ratio = 500;
  uint64_t ratio_grace = 1u << 20;
  size_t max_entries = 200000;
};

// Receives expanded bytes in pieces; returns false to stop early (not an error).
using Sink = std::function<bool(const char* data, size_t size)>;

class Archive {
 public:
  // Reads the central directory of `data` (which must outlive the archive). `file_name` is
  // used in messages.
  static Result<Archive> Open(const uint8_t* data, size_t size, std::string file_name,
                              const Limits& limits = {});

  const std::vector<Entry>& entries() const { return entries_; }
  // Part names compare without ASCII case, as package part names do; when a name occurs twice
  // the later entry wins.
  const Entry* Find(std::string_view name) const;

  // Streams an entry through `sink` in pieces of at most 64 KiB.
  Status Extract(const Entry& e, const Sink& sink);
  // The whole entry as one string (for small parts).
  Result<std::string> ReadAll(const Entry& e);

  uint64_t total_expanded() const { return total_; }

 private:
  // `why` for the developer's detail, `note` for the user's bracket.
  Error Fail(ErrorCode code, const std::string& entry, const std::string& why,
             std::string note) const;

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::string file_;
  Limits limits_;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> by_name_;  // lower-case name -> last entry
  uint64_t total_ = 0;
};

}  // namespace qm::zip
