// libFuzzer target for what encrypted workbooks declare before any password is tried: an .xls
// FILEPASS record with the records after it, or an encrypted package's EncryptionInfo and
// EncryptedPackage streams. Every length must be checked before its field is read.
//
// Input: one byte choosing the kind (even: .xls, odd: package), then for .xls the record stream
// starting at FILEPASS; for a package two bytes giving the EncryptionInfo stream's length, that
// stream, and the EncryptedPackage stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "workbook/io.h"
#include "workbook/office/ooxml_decrypt.h"
#include "workbook/xls/xls_decrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool package = data[0] & 1;
  ++data, --size;
  if (!package) {
    // The .xls schemes cost a hash or two per password: the default and one more are tried.
    std::vector<uint8_t> stream(data, data + size);
    qm::ReadOptions options;
    options.passwords = {"fuzz"};
    std::string used;
    (void)qm::xls::Decrypt(stream, 0, "fuzz.xls", options, &used);
    return 0;
  }
  if (size < 2) return 0;
  const size_t info_size = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  const std::span<const uint8_t> info(data + 2, info_size);
  const std::span<const uint8_t> stream(data + 2 + info_size, size - 2 - info_size);
  // No password at all: the declarations are checked, nothing is hashed (a key derivation takes
  // up to ten million rounds and would only slow the search).
  qm::ReadOptions options;
  options.try_default_password = false;
  for (bool cut : {false, true})
    (void)qm::ooxml::DecryptStreams(info, stream, cut, "fuzz.xlsx", options);
  return 0;
}
