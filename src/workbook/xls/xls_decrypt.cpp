#include "xls_decrypt.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>

#include "../bytes.h"
#include "../utf.h"
#include "../xlsx/ooxml_decrypt.h"
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

// Decrypts the verifier pair with the key of block 0 (one continuous keystream) and checks that
// the hash of the first matches the second.
bool Verify(const KeyFn& key, const uint8_t* verifier, const uint8_t* hash, size_t hash_len,
            bool sha1) {
  std::vector<uint8_t> k = key(0);
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, k.size(), k.data());
  uint8_t v[16], h[20];
  arcfour_crypt(&ctx, 16, v, verifier);
  arcfour_crypt(&ctx, hash_len, h, hash);
  uint8_t d[20];
  if (sha1) {
    sha1_ctx s;
    sha1_init(&s);
    sha1_update(&s, 16, v);
    sha1_digest(&s, SHA1_DIGEST_SIZE, d);
    return std::memcmp(d, h, std::min<size_t>(hash_len, 20)) == 0;
  }
  md5_ctx m;
  md5_init(&m);
  md5_update(&m, 16, v);
  md5_digest(&m, MD5_DIGEST_SIZE, d);
  return std::memcmp(d, h, 16) == 0;
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

}  // namespace

DecryptOutcome DecryptWithDefaultPassword(std::vector<uint8_t>& s, size_t at) {
  return DecryptWithPassword(s, at, "VelvetSweatshop");
}

DecryptOutcome DecryptWithPasswords(std::vector<uint8_t>& s, size_t at,
                                    const std::vector<std::string>& passwords, std::string* used) {
  DecryptOutcome out = DecryptWithDefaultPassword(s, at);
  if (out == DecryptOutcome::kDecrypted && used) used->clear();
  for (size_t i = 0; i < passwords.size() && out == DecryptOutcome::kWrongPassword; ++i) {
    out = DecryptWithPassword(s, at, passwords[i]);
    if (out == DecryptOutcome::kDecrypted && used) *used = passwords[i];
  }
  return out;
}

DecryptOutcome DecryptWithPassword(std::vector<uint8_t>& s, size_t at, std::string_view password) {
  if (at + 4 > s.size()) return DecryptOutcome::kUnsupported;
  size_t len = U16(&s[at + 2]);
  size_t body = at + 4;
  // BIFF5 knows only XOR obfuscation and writes its key and verifier without a type before them.
  const bool biff5_xor = len == 4;
  if (body + len > s.size() || (len < 6 && !biff5_xor)) return DecryptOutcome::kUnsupported;
  const uint8_t* p = &s[body];
  uint16_t type = biff5_xor ? 0 : U16(p);
  if (type == 0) {
    if (password.empty() || password.size() > 15) return DecryptOutcome::kWrongPassword;
    const uint8_t* kv = biff5_xor ? p : p + 2;
    uint16_t key = XorKey(password);
    if (key != U16(kv) || XorVerifier(password) != U16(kv + 2))
      return DecryptOutcome::kWrongPassword;
    XorRecords(s, body + len, XorArray(password, key));
    return DecryptOutcome::kDecrypted;
  }
  if (type != 1) return DecryptOutcome::kUnsupported;
  uint16_t major = U16(p + 2), minor = U16(p + 4);
  const std::string pw = ooxml::PasswordUtf16(std::string(password));
  const size_t next = body + len;

  if (major == 1 && minor == 1) {
    if (len < 6 + 48) return DecryptOutcome::kUnsupported;
    const uint8_t* salt = p + 6;
    uint8_t h0[16];
    md5_ctx m;
    md5_init(&m);
    md5_update(&m, pw.size(), reinterpret_cast<const uint8_t*>(pw.data()));
    md5_digest(&m, 16, h0);
    // The intermediate key: 16 repetitions of the first five hash bytes and the salt.
    uint8_t buf[21 * 16];
    for (int i = 0; i < 16; ++i) {
      std::memcpy(buf + 21 * i, h0, 5);
      std::memcpy(buf + 21 * i + 5, salt, 16);
    }
    uint8_t h1[16];
    md5_init(&m);
    md5_update(&m, sizeof buf, buf);
    md5_digest(&m, 16, h1);
    KeyFn key = [h1](uint32_t block) {
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
    if (!Verify(key, p + 22, p + 38, 16, false)) return DecryptOutcome::kWrongPassword;
    DecryptRecords(s, next, key);
    return DecryptOutcome::kDecrypted;
  }

  if (major >= 2 && major <= 4 && minor == 2) {
    // Flags, header size, header (flags, extra, algorithm, hash, key bits, ...), verifier.
    if (len < 14) return DecryptOutcome::kUnsupported;
    uint32_t header_size = U32(p + 10);
    if (header_size < 20 || header_size > len) return DecryptOutcome::kUnsupported;
    const uint8_t* hdr = p + 14;
    uint32_t key_bits = U32(hdr + 16);
    if (key_bits == 0) key_bits = 40;
    if (key_bits < 40 || key_bits > 128 || key_bits % 8) return DecryptOutcome::kUnsupported;
    size_t ver = 14 + header_size;
    if (ver + 4 + 16 + 16 + 4 + 20 > len) return DecryptOutcome::kUnsupported;
    const uint8_t* v = p + ver;
    uint32_t salt_size = U32(v);
    if (salt_size != 16) return DecryptOutcome::kUnsupported;
    const uint8_t* salt = v + 4;
    uint8_t h0[20];
    sha1_ctx c;
    sha1_init(&c);
    sha1_update(&c, 16, salt);
    sha1_update(&c, pw.size(), reinterpret_cast<const uint8_t*>(pw.data()));
    sha1_digest(&c, 20, h0);
    // Writers disagree on whether a 40-bit key is passed as 5 bytes or padded to 16 with zeros;
    // the verifier tells which one this file used.
    for (bool pad : {false, true}) {
      if (pad && key_bits != 40) break;
      KeyFn key = [h0, key_bits, pad](uint32_t block) {
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
      if (Verify(key, v + 20, v + 40, std::min<uint32_t>(U32(v + 36), 20), true)) {
        DecryptRecords(s, next, key);
        return DecryptOutcome::kDecrypted;
      }
    }
    return DecryptOutcome::kWrongPassword;
  }
  return DecryptOutcome::kUnsupported;
}

}  // namespace qm::xls
