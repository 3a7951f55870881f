// A zip package writer for .xlsx: small parts are deflated in one call; a large part is fed in
// pieces that are deflated on worker threads at the same time (each piece ends on a byte
// boundary with a sync flush, so the pieces simply follow one another in the file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "../result.h"

namespace qm::xlsx {

class ZipDeflateWriter {
 public:
  // level: zlib level; 1 is several times faster than the default and costs little size on XML.
  explicit ZipDeflateWriter(int level = 1, size_t max_in_flight = 4)
      : level_(level), max_in_flight_(max_in_flight) {}
  ~ZipDeflateWriter();

  Status Open(const std::string& path);
  // A whole part at once.
  Status AddPart(const std::string& name, std::string_view data);
  // A part in pieces: BeginPart, Feed as often as needed, EndPart.
  Status BeginPart(const std::string& name);
  Status Feed(std::string&& piece);
  // An empty buffer for the next piece with room for `bytes`: one of the pieces already
  // written when there is one. Fresh buffers for every piece of a large part cost a page fault
  // per page of each.
  std::string SpareBuffer(size_t bytes);
  Status EndPart();
  // Writes the central directory and closes the file.
  Status Finish();

 private:
  struct Piece {
    std::string in;  // spent, kept for reuse
    std::vector<uint8_t> out;
    uint32_t crc = 0;
    size_t in_size = 0;
    bool ok = true;
  };
  struct Entry {
    std::string name;
    uint32_t crc = 0;
    uint64_t csize = 0, usize = 0;
    uint64_t offset = 0;
  };
  static Piece Compress(std::string in, std::vector<uint8_t> out, int level, bool final);
  Status WritePiece(Piece p);
  Status WriteBytes(const void* p, size_t n);

  int level_;
  size_t max_in_flight_;
  FILE* f_ = nullptr;
  std::string path_;
  uint64_t pos_ = 0;
  std::vector<Entry> entries_;
  std::deque<std::future<Piece>> pending_;
  std::vector<std::string> spare_in_;
  std::vector<std::vector<uint8_t>> spare_out_;
  std::vector<uint8_t> SpareOut();
  bool in_part_ = false;
};

}  // namespace qm::xlsx
