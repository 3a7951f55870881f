// Decryption of BIFF8 record streams (and BIFF5 ones, which know only XOR obfuscation) with the
// default password spreadsheet programs use for write-protected workbooks ("VelvetSweatshop") or
// a password the user gave: XOR obfuscation, RC4 and RC4 CryptoAPI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../io.h"
#include "../result.h"

namespace qm::xls {

enum class DecryptOutcome {
  kDecrypted,      // the stream now holds plain records
  kWrongPassword,  // the password does not open it
  kUnsupported,    // an encryption scheme we do not decrypt
  kDamaged,        // the FILEPASS record contradicts itself or its stream
};

// `filepass_at` is the offset of the FILEPASS record's header inside `stream`. Record headers
// stay readable; every record body after FILEPASS is decrypted in place.
DecryptOutcome DecryptWithDefaultPassword(std::vector<uint8_t>& stream, size_t filepass_at);

// The same with any password (UTF-8; at most 15 characters for XOR obfuscation, which takes
// them as bytes). The stream is left as it was unless the outcome is kDecrypted.
DecryptOutcome DecryptWithPassword(std::vector<uint8_t>& stream, size_t filepass_at,
                                   std::string_view password);

// Decrypts the stream with the first of PasswordsToTry(options) that opens it. On success
// `*used` (when given) receives that password, or "" for the default one. Errors name `name`
// and carry the note the user reads: a wrong or missing password, a scheme this program does not
// decrypt (kEncrypted), a damaged FILEPASS record (kCorrupt).
Status Decrypt(std::vector<uint8_t>& stream, size_t filepass_at, const std::string& name,
               const ReadOptions& options, std::string* used = nullptr);

}  // namespace qm::xls
