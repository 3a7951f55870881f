// Password-encrypted .xlsx/.xlsm packages: a compound file whose EncryptionInfo stream says how
// the key is made from the password and whose EncryptedPackage stream holds the zip package,
// encrypted. Standard encryption (AES with SHA-1) and Agile encryption (AES with SHA-1/256/384/512,
// its data integrity HMAC checked) are decrypted; the plain package then goes through the
// ordinary zip reader with its size and bomb limits (the caller's: this folder knows containers
// and encryption, not what the package holds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "../io.h"
#include "../memory_budget.h"
#include "../result.h"
#include "../workbook.h"

namespace qm::cfb {
class Reader;
}

namespace qm::ooxml {

struct Decrypted {
  std::vector<uint8_t> package;  // the plain zip package
  std::string password;          // the password that opened it; empty for the default one
};

// Decrypts the two streams of an encrypted package, trying PasswordsToTry(options) in order.
// `package_cut` says the container ended the EncryptedPackage stream early. Errors name `name`
// and carry the Chinese note the user reads: a wrong or missing password, an encryption this
// program does not decrypt, tries put off by `options.before_slow_tries` (all kEncrypted),
// damaged encryption information, a truncated stream, a size that lies or data that fails its
// integrity check (kCorrupt).
Result<Decrypted> DecryptStreams(std::span<const uint8_t> info, std::span<const uint8_t> package,
                                 bool package_cut, const std::string& name,
                                 const ReadOptions& options);

// True when the opened compound file holds an encrypted package rather than a workbook stream.
bool IsEncryptedPackage(const cfb::Reader& cfb);

// Decrypts the package of `cfb`. The copies of the encrypted stream and the plain package are
// charged to `charge`, which the caller keeps while it reads the package.
Result<Decrypted> DecryptPackage(const cfb::Reader& cfb, const std::string& name,
                                 const ReadOptions& options, memory::ScopedCharge& charge);

// UTF-16LE bytes of a UTF-8 password, as the key derivations hash it. Bytes that are not UTF-8
// are taken as Latin-1.
std::string PasswordUtf16(const std::string& utf8);

}  // namespace qm::ooxml
