// Decryption of BIFF8 record streams protected by the default password spreadsheet programs use
// for write-protected workbooks ("VelvetSweatshop"): XOR obfuscation, RC4 and RC4 CryptoAPI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qm::xls {

enum class DecryptOutcome {
  kDecrypted,      // the stream now holds plain records
  kWrongPassword,  // the default password does not open it: a real password protects it
  kUnsupported,    // an encryption scheme we do not decrypt
};

// `filepass_at` is the offset of the FILEPASS record's header inside `stream`. Record headers
// stay readable; every record body after FILEPASS is decrypted in place.
DecryptOutcome DecryptWithDefaultPassword(std::vector<uint8_t>& stream, size_t filepass_at);

// The same with any password (ASCII, at most 15 characters for XOR obfuscation).
DecryptOutcome DecryptWithPassword(std::vector<uint8_t>& stream, size_t filepass_at,
                                   std::string_view password);

}  // namespace qm::xls
