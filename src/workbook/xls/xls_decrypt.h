// Decryption of BIFF8 record streams (and BIFF5 ones, which know only XOR obfuscation) with the
// default password spreadsheet programs use for write-protected workbooks ("VelvetSweatshop") or
// a password the user gave: XOR obfuscation, RC4 and RC4 CryptoAPI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

// The same with any password (UTF-8; at most 15 characters for XOR obfuscation, which takes
// them as bytes). The stream is left as it was unless the outcome is kDecrypted.
DecryptOutcome DecryptWithPassword(std::vector<uint8_t>& stream, size_t filepass_at,
                                   std::string_view password);

// Tries the default password, then `passwords` in order. On success `*used` (when given)
// receives the password of `passwords` that opened the stream, or "" for the default one.
DecryptOutcome DecryptWithPasswords(std::vector<uint8_t>& stream, size_t filepass_at,
                                    const std::vector<std::string>& passwords,
                                    std::string* used = nullptr);

}  // namespace qm::xls
