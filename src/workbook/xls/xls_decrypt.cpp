#include "xls_decrypt.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <variant>

#include "../bytes.h"
#include "../office/ooxml_decrypt.h"
#include "../utf.h"
#include "biff_records.h"

namespace qm::xls {

namespace {

constexpr size_t kBlock = 1024;  // both RC4 schemes re-key every 1024 bytes of the stream

using le::U16;
using le::U32;

// XOR obfuscation ([MS-OFFCRYPTO] 2.3.7): a 16-byte array derived from the password.
const uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                   0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
const uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
const uint8_t kPad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                          0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};

uint16_t XorKey(std::string_view pw) {
  uint16_t key = kInitialCode[pw.size() - 1];
  int element = 104;
  for (size_t i = pw.size(); i-- > 0;) {
    uint8_t c = static_cast<uint8_t>(pw[i]);
    for (int bit = 0; bit < 7; ++bit, --element) {
      if (c & 0x40) key ^= kXorMatrix[element];
      c = static_cast<uint8_t>(c << 1);
    }
  }
  return key;
}

uint16_t XorVerifier(std::string_view pw) {
  uint16_t v = 0;
  auto mix = [&](uint8_t b) {
    v = static_cast<uint16_t>((((v & 0x4000) ? 1 : 0) | ((v << 1) & 0x7FFF)) ^ b);
  };
  for (size_t i = pw.size(); i-- > 0;) mix(static_cast<uint8_t>(pw[i]));
  mix(static_cast<uint8_t>(pw.size()));
  return v ^ 0xCE4B;
}

uint8_t XorRor(uint8_t a, uint8_t b) {
  uint8_t x = a ^ b;
  return static_cast<uint8_t>(x >> 1 | x << 7);
}

std::array<uint8_t, 16> XorArray(std::string_view pw, uint16_t key) {
  std::array<uint8_t, 16> a{};
  if (pw.empty() || pw.size() > 15) return a;
  const uint8_t hi = key >> 8, lo = key & 0xFF;
  int len = static_cast<int>(pw.size());
  int i = len;
  if (i % 2 == 1) {
    a[i] = XorRor(kPad[0], hi);
    --i;
    a[i] = XorRor(static_cast<uint8_t>(pw[len - 1]), lo);
  }
  while (i > 0) {
    --i;
    a[i] = XorRor(static_cast<uint8_t>(pw[i]), hi);
    --i;
    a[i] = XorRor(static_cast<uint8_t>(pw[i]), lo);
  }
  // The rest is filled from the pad array downwards; with an even password length the last step
  // uses pad byte 0 and the count goes negative, which ends the loop.
  int at = 15;
  for (int pad = 15 - len; pad > 0;) {
    a[at--] = XorRor(kPad[pad--], hi);
    a[at--] = XorRor(kPad[pad--], lo);
  }
  return a;
}

// Makes the RC4 key of a block.
using KeyFn = std::function<std::vector<uint8_t>(uint32_t block)>;

constexpr size_t kVerifier = 16;  // the verifier is 16 bytes in both RC4 schemes

// Decrypts the verifier pair with the key of block 0 (one continuous keystream) and checks that
// the hash of the first matches the second: a whole SHA-1 digest, or MD5 without `sha1`.
bool Verify(const KeyFn& key, const uint8_t* verifier, const uint8_t* hash_in, bool sha1) {
  const size_t n = sha1 ? SHA1_DIGEST_SIZE : MD5_DIGEST_SIZE;
  std::vector<uint8_t> k = key(0);
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, k.size(), k.data());
  uint8_t v[kVerifier], h[SHA1_DIGEST_SIZE], d[SHA1_DIGEST_SIZE];
  arcfour_crypt(&ctx, kVerifier, v, verifier);
  arcfour_crypt(&ctx, n, h, hash_in);
  if (sha1) {
    sha1_ctx c;
    sha1_init(&c);
    sha1_update(&c, kVerifier, v);
    sha1_digest(&c, n, d);
  } else {
    md5_ctx c;
    md5_init(&c);
    md5_update(&c, kVerifier, v);
    md5_digest(&c, n, d);
  }
  return std::memcmp(d, h, n) == 0;
}

// Records whose bodies are never encrypted.
bool PlainRecord(uint16_t id) {
  switch (id) {
    case kBof:
    case kFilePass:
    case kInterfaceHdr:
    case kUsrExcl:
    case kFileLock:
    case kRRDInfo:
    case kRRDHead:
      return true;
    default:
      return false;
  }
}

void DecryptRecords(std::vector<uint8_t>& s, size_t from, const KeyFn& key) {
  uint32_t block = UINT32_MAX;
  std::array<uint8_t, kBlock> stream{};
  auto keystream_at = [&](size_t pos) {
    uint32_t b = static_cast<uint32_t>(pos / kBlock);
    if (b != block) {
      block = b;
      std::vector<uint8_t> k = key(b);
      arcfour_ctx ctx;
      arcfour_set_key(&ctx, k.size(), k.data());
      std::array<uint8_t, kBlock> zero{};
      arcfour_crypt(&ctx, kBlock, stream.data(), zero.data());
    }
    return stream[pos % kBlock];
  };
  size_t pos = from;
  while (pos + 4 <= s.size()) {
    uint16_t id = U16(&s[pos]);
    size_t len = U16(&s[pos + 2]);
    size_t body = pos + 4;
    size_t end = std::min(body + len, s.size());
    if (!PlainRecord(id)) {
      // The sheet offset of BOUNDSHEET stays readable so a reader can find the sheets.
      size_t first = id == kBoundSheet8 ? body + 4 : body;
      for (size_t i = first; i < end; ++i) s[i] ^= keystream_at(i);
    }
    pos = body + len;
  }
}

// Record bodies are XORed byte by byte with the array, starting at an index given by where the
// body ends, then rotated right by five bits.
void XorRecords(std::vector<uint8_t>& s, size_t from, const std::array<uint8_t, 16>& a) {
  size_t pos = from;
  while (pos + 4 <= s.size()) {
    uint16_t id = U16(&s[pos]);
    size_t len = U16(&s[pos + 2]);
    size_t body = pos + 4;
    size_t end = std::min(body + len, s.size());
    if (!PlainRecord(id)) {
      size_t first = id == kBoundSheet8 ? body + 4 : body;
      size_t index = (body + len) % 16;
      if (id == kBoundSheet8) index = (index + 4) % 16;
      for (size_t i = first; i < end; ++i) {
        uint8_t b = s[i] ^ a[index];
        s[i] = static_cast<uint8_t>(b >> 5 | b << 3);
        index = (index + 1) % 16;
      }
    }
    pos = body + len;
  }
}

// --- FILEPASS -----------------------------------------------------------------------------------

enum class Scheme { kXor, kRc4, kCryptoApi };

// A FILEPASS record, every field checked to lie inside the record before it is read.
struct FilePass {
  Scheme scheme = Scheme::kXor;
  size_t next = 0;                            // the offset of the first record after FILEPASS
  const uint8_t* key_and_verifier = nullptr;  // XOR: the 16-bit key and verifier
  const uint8_t* salt = nullptr;              // RC4 schemes: 16 bytes each
  const uint8_t* verifier = nullptr;
  const uint8_t* verifier_hash = nullptr;  // a whole MD5 (RC4) or SHA-1 (CryptoAPI) digest
  uint32_t key_bits = 128;                 // CryptoAPI
};

constexpr uint32_t kRc4Id = 0x6801, kSha1Id = 0x8004;

// Why a FILEPASS record cannot be used: the outcome and the note the user reads.
struct Refusal {
  DecryptOutcome outcome;
  std::string note;
  std::string why;  // for the detail only
};

Refusal Damaged(std::string why) {
  return {DecryptOutcome::kDamaged, "加密信息已损坏", std::move(why)};
}
Refusal Unsupported(std::string what) {
  return {DecryptOutcome::kUnsupported, std::move(what), {}};
}
std::string Numbered(const char* what, uint32_t id) {
  return std::string(what) + "（编号" + std::to_string(id) + "）";
}

std::variant<FilePass, Refusal> ParseFilePass(const std::vector<uint8_t>& s, size_t at) {
  if (at > s.size() || s.size() - at < 4) return Damaged("加密记录不完整");
  const size_t len = U16(&s[at + 2]);
  const size_t body = at + 4;
  if (s.size() - body < len) return Damaged("加密记录不完整");
  FilePass fp;
  fp.next = body + len;
  const uint8_t* p = &s[body];
  // BIFF5 knows only XOR obfuscation and writes its key and verifier without a type before them.
  if (len == 4) {
    fp.key_and_verifier = p;
    return fp;
  }
  if (len < 6) return Damaged("加密记录不完整");
  const uint16_t type = U16(p);
  if (type == 0) {
    fp.key_and_verifier = p + 2;
    return fp;
  }
  if (type != 1) return Unsupported("不支持的加密方式（类型" + std::to_string(type) + "）");
  const uint16_t major = U16(p + 2), minor = U16(p + 4);

  if (major == 1 && minor == 1) {
    // Salt, verifier and the verifier's MD5, 16 bytes each.
    if (len < 6 + 3 * 16) return Damaged("加密记录不完整");
    fp.scheme = Scheme::kRc4;
    fp.salt = p + 6;
    fp.verifier = p + 22;
    fp.verifier_hash = p + 38;
    return fp;
  }
  if (!(major >= 2 && major <= 4 && minor == 2))
    return Unsupported("不支持的加密版本（" + std::to_string(major) + "." + std::to_string(minor) +
                       "）");

  // Flags (4), header size (4), the header (flags, extra size, cipher, hash, key bits, ...),
  // then the verifier: salt size (4), salt, verifier, hash size (4), hash.
  if (len < 14) return Damaged("加密记录不完整");
  const uint32_t header_size = U32(p + 10);
  // The header's fields up to the key size are read; the record must hold the header whole.
  if (header_size < 20 || header_size > len - 14) return Damaged("加密头部的长度超出记录");
  const uint8_t* hdr = p + 14;
  const uint32_t cipher = U32(hdr + 8), hash = U32(hdr + 12);
  uint32_t key_bits = U32(hdr + 16);
  if (cipher != 0 && cipher != kRc4Id) return Unsupported(Numbered("不支持的加密算法", cipher));
  if (hash != 0 && hash != kSha1Id) return Unsupported(Numbered("不支持的哈希算法", hash));
  if (key_bits == 0) key_bits = 40;
  if (key_bits < 40 || key_bits > 128 || key_bits % 8)
    return Unsupported("不支持的密钥长度（" + std::to_string(key_bits) + "位）");
  const size_t ver = 14 + size_t{header_size};
  if (len - ver < 4 + 16 + 16 + 4 + SHA1_DIGEST_SIZE) return Damaged("密码校验数据不完整");
  const uint8_t* v = p + ver;
  if (U32(v) != 16) return Damaged("盐值不是16字节");
  // The hash is SHA-1's; a size that says otherwise (0 once let any password through) is damage.
  if (U32(v + 36) != SHA1_DIGEST_SIZE) return Damaged("校验哈希的长度不是20字节");
  fp.scheme = Scheme::kCryptoApi;
  fp.key_bits = key_bits;
  fp.salt = v + 4;
  fp.verifier = v + 20;
  fp.verifier_hash = v + 40;
  return fp;
}

// Decrypts the records after FILEPASS when `password` opens them.
bool TryPassword(std::vector<uint8_t>& s, const FilePass& fp, std::string_view password) {
  if (fp.scheme == Scheme::kXor) {
    // The password is taken as bytes, at most 15 of them.
    if (password.empty() || password.size() > 15) return false;
    const uint16_t key = XorKey(password);
    if (key != U16(fp.key_and_verifier) || XorVerifier(password) != U16(fp.key_and_verifier + 2))
      return false;
    XorRecords(s, fp.next, XorArray(password, key));
    return true;
  }
  const std::string pw = ooxml::PasswordUtf16(std::string(password));
  KeyFn key;
  if (fp.scheme == Scheme::kRc4) {
    uint8_t h0[16];
    md5_ctx m;
    md5_init(&m);
    md5_update(&m, pw.size(), reinterpret_cast<const uint8_t*>(pw.data()));
    md5_digest(&m, 16, h0);
    // The intermediate key: 16 repetitions of the first five hash bytes and the salt.
    uint8_t buf[21 * 16];
    for (int i = 0; i < 16; ++i) {
      std::memcpy(buf + 21 * i, h0, 5);
      std::memcpy(buf + 21 * i + 5, fp.salt, 16);
    }
    uint8_t h1[16];
    md5_init(&m);
    md5_update(&m, sizeof buf, buf);
    md5_digest(&m, 16, h1);
    key = [h1](uint32_t block) {
      uint8_t in[9];
      std::memcpy(in, h1, 5);
      le::Put32(in + 5, block);
      std::vector<uint8_t> k(16);
      md5_ctx c;
      md5_init(&c);
      md5_update(&c, 9, in);
      md5_digest(&c, 16, k.data());
      return k;
    };
    if (!Verify(key, fp.verifier, fp.verifier_hash, false)) return false;
    DecryptRecords(s, fp.next, key);
    return true;
  }
  uint8_t h0[20];
  sha1_ctx c;
  sha1_init(&c);
  sha1_update(&c, 16, fp.salt);
  sha1_update(&c, pw.size(), reinterpret_cast<const uint8_t*>(pw.data()));
  sha1_digest(&c, 20, h0);
  // Writers disagree on whether a 40-bit key is passed as 5 bytes or padded to 16 with zeros;
  // the verifier tells which one this file used.
  const uint32_t key_bits = fp.key_bits;
  for (bool pad : {false, true}) {
    if (pad && key_bits != 40) break;
    key = [h0, key_bits, pad](uint32_t block) {
      uint8_t in[24];
      std::memcpy(in, h0, 20);
      le::Put32(in + 20, block);
      uint8_t d[20];
      sha1_ctx cc;
      sha1_init(&cc);
      sha1_update(&cc, 24, in);
      sha1_digest(&cc, 20, d);
      std::vector<uint8_t> k(d, d + key_bits / 8);
      if (pad) k.resize(16, 0);
      return k;
    };
    if (Verify(key, fp.verifier, fp.verifier_hash, true)) {
      DecryptRecords(s, fp.next, key);
      return true;
    }
  }
  return false;
}

}  // namespace

DecryptOutcome DecryptWithDefaultPassword(std::vector<uint8_t>& s, size_t at) {
  return DecryptWithPassword(s, at, kDefaultPassword);
}

DecryptOutcome DecryptWithPassword(std::vector<uint8_t>& s, size_t at, std::string_view password) {
  std::variant<FilePass, Refusal> fp = ParseFilePass(s, at);
  if (const Refusal* r = std::get_if<Refusal>(&fp)) return r->outcome;
  return TryPassword(s, std::get<FilePass>(fp), password) ? DecryptOutcome::kDecrypted
                                                          : DecryptOutcome::kWrongPassword;
}

Status Decrypt(std::vector<uint8_t>& s, size_t at, const std::string& name,
               const ReadOptions& options, std::string* used) {
  if (used) used->clear();
  auto fail = [&](ErrorCode code, const std::string& note, const std::string& why) {
    const std::string lead = code == ErrorCode::kEncrypted ? "文件受密码保护，" : "";
    return MakeError(code, name + ": " + lead + note + (why.empty() ? "" : "（" + why + "）"),
                     note);
  };
  std::variant<FilePass, Refusal> parsed = ParseFilePass(s, at);
  if (const Refusal* r = std::get_if<Refusal>(&parsed))
    return fail(
        r->outcome == DecryptOutcome::kDamaged ? ErrorCode::kCorrupt : ErrorCode::kEncrypted,
        r->note, r->why);
  const FilePass& fp = std::get<FilePass>(parsed);
  // Each try costs a hash or two here, never enough to announce.
  const std::vector<std::string> tries = PasswordsToTry(options);
  for (size_t t = 0; t < tries.size(); ++t) {
    if (!TryPassword(s, fp, tries[t])) continue;
    if (used && (t > 0 || !options.try_default_password)) *used = tries[t];
    return Status::Ok();
  }
  return WrongPasswordError(name);
}

}  // namespace qm::xls
