#include "ooxml_decrypt.h"

#include <expat.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <nettle/nettle-meta.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#include "../memory_budget.h"
#include "../xml_sax.h"
#include "cfb_reader.h"

namespace qm::ooxml {

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t U64(const uint8_t* p) {
  return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32;
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// --- Failures: the detail names the file, the note is what the user reads after the code's text --

Error Fail(ErrorCode code, const std::string& name, const std::string& note,
           const std::string& more = {}) {
  const std::string lead = code == ErrorCode::kEncrypted ? "文件受密码保护，" : "";
  return MakeError(code, name + ": " + lead + note + (more.empty() ? "" : "（" + more + "）"),
                   note);
}
Error WrongPassword(const std::string& name) {
  return WrongPasswordError(name);
}
// `what` says which part of the encryption this program does not decrypt.
Error Unsupported(const std::string& name, const std::string& what) {
  return Fail(ErrorCode::kEncrypted, name, what);
}
// The encryption information contradicts itself; `why` goes to the detail only.
Error BadInfo(const std::string& name, const std::string& why) {
  return Fail(ErrorCode::kCorrupt, name, "加密信息已损坏", why);
}
Error Truncated(const std::string& name) {
  return Fail(ErrorCode::kCorrupt, name, "加密的数据不完整");
}
Error LyingSize(const std::string& name, uint64_t declared, size_t held) {
  return Fail(ErrorCode::kCorrupt, name, "加密数据声明的大小与实际不符",
              "声明" + std::to_string(declared) + "字节，实有" + std::to_string(held) + "字节");
}
Error BadHmac(const std::string& name) {
  return Fail(ErrorCode::kCorrupt, name, "加密数据的完整性校验失败");
}

// --- Hashes and AES through nettle's generic interfaces ----------------------------------------

union HashCtx {
  sha1_ctx sha1;
  sha256_ctx sha256;
  sha512_ctx sha512;  // also SHA-384
};

const nettle_hash* HashByName(std::string_view n) {
  if (n == "SHA1" || n == "SHA-1") return &nettle_sha1;
  if (n == "SHA256" || n == "SHA-256") return &nettle_sha256;
  if (n == "SHA384" || n == "SHA-384") return &nettle_sha384;
  if (n == "SHA512" || n == "SHA-512") return &nettle_sha512;
  return nullptr;
}

class Hasher {
 public:
  explicit Hasher(const nettle_hash* h) : h_(h) { h_->init(&ctx_); }
  Hasher& Add(const uint8_t* p, size_t n) {
    h_->update(&ctx_, n, p);
    return *this;
  }
  Hasher& Add(const Bytes& b) { return Add(b.data(), b.size()); }
  Bytes Digest() {
    Bytes d(h_->digest_size);
    h_->digest(&ctx_, d.size(), d.data());
    return d;
  }

 private:
  const nettle_hash* h_;
  HashCtx ctx_;
};

// `b` cut or padded with `pad` bytes to `n` bytes, as the key and IV derivations need.
Bytes Fit(Bytes b, size_t n, uint8_t pad) {
  b.resize(n, pad);
  return b;
}

class Aes {
 public:
  // False for a key length AES does not have.
  bool SetKey(const uint8_t* key, size_t len) {
    switch (len) {
      case 16:
        c_ = &nettle_aes128;
        break;
      case 24:
        c_ = &nettle_aes192;
        break;
      case 32:
        c_ = &nettle_aes256;
        break;
      default:
        return false;
    }
    c_->set_decrypt_key(&ctx_, key);
    return true;
  }
  void Ecb(size_t n, uint8_t* dst, const uint8_t* src) const { c_->decrypt(&ctx_, n, dst, src); }
  // `n` a multiple of 16; `iv` is 16 bytes.
  void Cbc(const uint8_t* iv, size_t n, uint8_t* dst, const uint8_t* src) const {
    uint8_t v[16];
    std::memcpy(v, iv, 16);
    cbc_decrypt(&ctx_, c_->decrypt, 16, v, n, dst, src);
  }
  Bytes Cbc(const Bytes& iv, const Bytes& src) const {
    Bytes out(src.size());
    Cbc(iv.data(), src.size(), out.data(), src.data());
    return out;
  }

 private:
  const nettle_cipher* c_ = nullptr;
  union {
    aes128_ctx a128;
    aes192_ctx a192;
    aes256_ctx a256;
  } ctx_;
};

// --- Standard encryption ------------------------------------------------------------------------

struct Standard {
  uint32_t key_bytes = 16;
  Bytes salt, verifier, verifier_hash;
};

constexpr uint32_t kAes128 = 0x660E, kAes192 = 0x660F, kAes256 = 0x6610, kSha1 = 0x8004;
// Hash rounds of every Standard key derivation, and the most an Agile file may ask for.
constexpr uint32_t kStandardSpin = 50000, kMaxSpin = 10000000;

// "不支持的加密算法（编号26625）": the algorithm as the file numbers it.
std::string Numbered(const char* what, uint32_t id) {
  return std::string(what) + "（编号" + std::to_string(id) + "）";
}
std::string AesBits(uint32_t bits) {
  return "不支持的AES密钥长度（" + std::to_string(bits) + "位）";
}

Result<Standard> ParseStandard(std::span<const uint8_t> info, const std::string& name) {
  // Version (4), flags (4), header size (4), the header, then the verifier.
  if (info.size() < 12) return BadInfo(name, "太短");
  const uint32_t header_size = U32(&info[8]);
  if (header_size < 32 || header_size > info.size() - 12) return BadInfo(name, "头部长度超出范围");
  const uint8_t* h = &info[12];
  const uint32_t flags = U32(h), alg = U32(h + 8), hash = U32(h + 12), bits = U32(h + 16);
  // fAES clear: the package is under CryptoAPI's stream cipher, not decrypted for a package.
  if (!(flags & 0x20)) return Unsupported(name, "不支持的加密方式（CryptoAPI流密码）");
  if (hash != 0 && hash != kSha1) return Unsupported(name, Numbered("不支持的哈希算法", hash));
  uint32_t want = alg == 0 || alg == kAes128 ? 128
                  : alg == kAes192           ? 192
                  : alg == kAes256           ? 256
                                             : 0;
  if (want == 0) return Unsupported(name, Numbered("不支持的加密算法", alg));
  if (bits != 0 && bits != want) return Unsupported(name, AesBits(bits));
  Standard s;
  s.key_bytes = want / 8;
  size_t at = 12 + header_size;
  // Salt size, 16-byte salt, encrypted verifier, hash size, 32-byte encrypted verifier hash.
  if (info.size() - at < 4 + 16 + 16 + 4 + 32) return BadInfo(name, "校验数据不完整");
  if (U32(&info[at]) != 16) return BadInfo(name, "盐值不是16字节");
  s.salt.assign(&info[at + 4], &info[at + 20]);
  s.verifier.assign(&info[at + 20], &info[at + 36]);
  // The verifier hash is a SHA-1 digest; any other size is no hash this format makes.
  if (U32(&info[at + 36]) != 20) return BadInfo(name, "校验哈希的长度不是20字节");
  s.verifier_hash.assign(&info[at + 40], &info[at + 72]);
  return s;
}

// The AES key for `password` ([MS-OFFCRYPTO] 2.3.4.7): 50,000 rounds of SHA-1 over salt and
// password, then the block-0 hash spread over the key length.
std::optional<Bytes> StandardKey(const Standard& s, const std::string& pw16) {
  Bytes h = Hasher(&nettle_sha1)
                .Add(s.salt)
                .Add(reinterpret_cast<const uint8_t*>(pw16.data()), pw16.size())
                .Digest();
  uint8_t buf[4 + 20];
  for (uint32_t i = 0; i < kStandardSpin; ++i) {
    PutU32(buf, i);
    std::memcpy(buf + 4, h.data(), 20);
    sha1_ctx c;
    sha1_init(&c);
    sha1_update(&c, sizeof buf, buf);
    sha1_digest(&c, 20, h.data());
  }
  uint8_t block0[4] = {0, 0, 0, 0};
  Bytes final_hash = Hasher(&nettle_sha1).Add(h).Add(block0, 4).Digest();
  uint8_t x1[64], x2[64];
  std::memset(x1, 0x36, 64);
  std::memset(x2, 0x5C, 64);
  for (size_t i = 0; i < 20; ++i) x1[i] ^= final_hash[i], x2[i] ^= final_hash[i];
  Bytes key = Hasher(&nettle_sha1).Add(x1, 64).Digest();
  Bytes second = Hasher(&nettle_sha1).Add(x2, 64).Digest();
  key.insert(key.end(), second.begin(), second.end());
  key.resize(s.key_bytes);
  // The verifier: its SHA-1 must equal the decrypted verifier hash.
  Aes aes;
  aes.SetKey(key.data(), key.size());
  uint8_t v[16], vh[32];
  aes.Ecb(16, v, s.verifier.data());
  aes.Ecb(32, vh, s.verifier_hash.data());
  Bytes vd = Hasher(&nettle_sha1).Add(v, 16).Digest();
  if (!nettle_memeql_sec(vd.data(), vh, 20)) return std::nullopt;
  return key;
}

// --- Agile encryption ---------------------------------------------------------------------------

struct Agile {
  // keyData: how the package itself is encrypted.
  uint32_t key_bits = 0, block_size = 0, hash_size = 0;
  const nettle_hash* hash = nullptr;
  Bytes salt;
  // dataIntegrity.
  Bytes hmac_key, hmac_value;
  bool has_integrity = false;
  // The password key encryptor.
  uint32_t pw_key_bits = 0, pw_block_size = 0, pw_hash_size = 0, spin = 0;
  const nettle_hash* pw_hash = nullptr;
  Bytes pw_salt, verifier_input, verifier_value, key_value;
  bool has_password = false;
};

std::optional<Bytes> Base64(const char* s) {
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  for (; *s; ++s) {
    char c = *s;
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=' || c == ' ' || c == '\r' || c == '\n' || c == '\t')
      continue;
    else
      return std::nullopt;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return out;
}

class AgileHandler : public sax::Handler {
 public:
  explicit AgileHandler(Agile& a) : a_(a) {}

  void Start(std::string_view local, const XML_Char** atts) {
    if (local == "keyData") {
      Common(atts, a_.key_bits, a_.block_size, a_.hash_size, a_.hash, a_.salt);
    } else if (local == "dataIntegrity") {
      a_.has_integrity = true;
      Value(atts, "encryptedHmacKey", a_.hmac_key);
      Value(atts, "encryptedHmacValue", a_.hmac_value);
    } else if (local == "encryptedKey" && sax::Attr(atts, "spinCount") && !a_.has_password) {
      // The password's key encryptor; a certificate's has no spin count.
      a_.has_password = true;
      Common(atts, a_.pw_key_bits, a_.pw_block_size, a_.pw_hash_size, a_.pw_hash, a_.pw_salt);
      a_.spin = Number(atts, "spinCount");
      Value(atts, "encryptedVerifierHashInput", a_.verifier_input);
      Value(atts, "encryptedVerifierHashValue", a_.verifier_value);
      Value(atts, "encryptedKeyValue", a_.key_value);
    }
  }
  void End(std::string_view) {}
  void Text(const char*, int) {}

  std::string unsupported;  // the first algorithm we do not decrypt
  std::string bad;          // the first malformed value

 private:
  // What an attribute holds, for the user: the attribute names themselves mean nothing to one.
  static const char* Meaning(std::string_view n) {
    static const std::pair<const char*, const char*> kMeanings[] = {
        {"keyBits", "密钥长度"},
        {"blockSize", "分组长度"},
        {"hashSize", "哈希长度"},
        {"spinCount", "迭代次数"},
        {"saltValue", "盐值"},
        {"encryptedHmacKey", "完整性校验密钥"},
        {"encryptedHmacValue", "完整性校验值"},
        {"encryptedVerifierHashInput", "密码校验数据"},
        {"encryptedVerifierHashValue", "密码校验哈希"},
        {"encryptedKeyValue", "加密的密钥"},
    };
    for (const auto& [attr, meaning] : kMeanings)
      if (n == attr) return meaning;
    return "一项数值";
  }
  uint32_t Number(const XML_Char** atts, const char* n) {
    const char* v = sax::Attr(atts, n);
    if (!v || !*v || std::strlen(v) > 9 || std::strspn(v, "0123456789") != std::strlen(v)) {
      if (bad.empty()) bad = std::string(Meaning(n)) + "缺失或不是数字";
      return 0;
    }
    return static_cast<uint32_t>(std::stoul(v));
  }
  void Value(const XML_Char** atts, const char* n, Bytes& out) {
    const char* v = sax::Attr(atts, n);
    std::optional<Bytes> b = v ? Base64(v) : std::nullopt;
    if (b)
      out = std::move(*b);
    else if (bad.empty())
      bad = std::string(Meaning(n)) + "缺失或编码无效";
  }
  void Common(const XML_Char** atts, uint32_t& key_bits, uint32_t& block, uint32_t& hash_size,
              const nettle_hash*& hash, Bytes& salt) {
    key_bits = Number(atts, "keyBits");
    block = Number(atts, "blockSize");
    hash_size = Number(atts, "hashSize");
    Value(atts, "saltValue", salt);
    const char* cipher = sax::Attr(atts, "cipherAlgorithm");
    const char* chaining = sax::Attr(atts, "cipherChaining");
    const char* h = sax::Attr(atts, "hashAlgorithm");
    // The descriptor names its algorithms rather than numbering them; the names are the
    // format's, not the user's, and stay out of the message.
    if (!cipher || std::string_view(cipher) != "AES")
      Unsupported("不支持的加密算法");
    else if (!chaining || std::string_view(chaining) != "ChainingModeCBC")
      Unsupported("不支持的分组链接模式");
    else if (key_bits != 128 && key_bits != 192 && key_bits != 256)
      Unsupported(AesBits(key_bits));
    hash = h ? HashByName(h) : nullptr;
    if (!hash)
      Unsupported("不支持的哈希算法");
    else if (hash_size != hash->digest_size && bad.empty())
      bad = "哈希长度与哈希算法不符";
    if (block != 16 && bad.empty()) bad = "分组长度不是16字节";
  }
  void Unsupported(const std::string& what) {
    if (unsupported.empty()) unsupported = what;
  }
  Agile& a_;
};

Result<Agile> ParseAgile(std::span<const uint8_t> info, const std::string& name) {
  // Version 4.4, reserved 0x40, then the XML descriptor.
  if (info.size() < 8) return BadInfo(name, "太短");
  if (info.size() > (1u << 20)) return BadInfo(name, "加密描述超过1048576字节");
  Agile a;
  AgileHandler h(a);
  XML_Parser p = XML_ParserCreate(nullptr);
  if (!p) throw std::bad_alloc();
  struct Guard {
    XML_Parser p;
    ~Guard() { XML_ParserFree(p); }
  } guard{p};
  h.parser = p;
  XML_SetUserData(p, &h);
  XML_SetStartElementHandler(p, [](void* ud, const XML_Char* n, const XML_Char** at) {
    auto* self = static_cast<AgileHandler*>(ud);
    self->Guarded([&] { self->Start(sax::LocalName(n), at); });
  });
  // Entities have no business in the descriptor; refusing them keeps entity bombs out.
  XML_SetEntityDeclHandler(
      p, [](void* ud, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
            const XML_Char*, const XML_Char*) {
        static_cast<AgileHandler*>(ud)->Fail(MakeError(ErrorCode::kCorrupt, "加密描述声明了实体"));
      });
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
  const int ok = XML_Parse(p, reinterpret_cast<const char*>(&info[8]),
                           static_cast<int>(info.size() - 8), XML_TRUE);
  if (h.error) {
    if (h.error->code == ErrorCode::kNoMemory) return *h.error;
    return BadInfo(name, h.error->detail);
  }
  if (ok != XML_STATUS_OK)
    return BadInfo(name,
                   "加密描述的格式有误（第" + std::to_string(XML_GetCurrentLineNumber(p)) + "行）");
  if (!h.unsupported.empty()) return Unsupported(name, h.unsupported);
  if (!a.has_password) return Unsupported(name, "只能用证书打开，不能用密码打开");
  if (!h.bad.empty()) return BadInfo(name, h.bad);
  if (a.salt.empty() || a.pw_salt.empty() || a.salt.size() > 65536 || a.pw_salt.size() > 65536)
    return BadInfo(name, "盐值为空或过长");
  // The format caps the spin count at ten million; more would only make every try slow.
  if (a.spin > kMaxSpin) return BadInfo(name, "迭代次数超过10000000");
  auto blocks = [](const Bytes& b) { return !b.empty() && b.size() % 16 == 0; };
  if (!blocks(a.verifier_input) || !blocks(a.verifier_value) || !blocks(a.key_value) ||
      a.key_value.size() < a.key_bits / 8 || a.verifier_value.size() < a.pw_hash_size)
    return BadInfo(name, "密钥或密码校验数据的长度不对");
  if (a.has_integrity && (!blocks(a.hmac_key) || !blocks(a.hmac_value) ||
                          a.hmac_key.size() < a.hash_size || a.hmac_value.size() < a.hash_size))
    return BadInfo(name, "完整性校验数据的长度不对");
  return a;
}

const uint8_t kVerifierInputBlock[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
const uint8_t kVerifierValueBlock[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
const uint8_t kKeyValueBlock[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};
const uint8_t kHmacKeyBlock[8] = {0x5F, 0xB2, 0xAD, 0x01, 0x0C, 0xB9, 0xE1, 0xF6};
const uint8_t kHmacValueBlock[8] = {0xA0, 0x67, 0x7F, 0x02, 0xB2, 0x2C, 0x84, 0x33};

// The package's secret key when `password` opens it ([MS-OFFCRYPTO] 2.3.4.11-13).
std::optional<Bytes> AgileKey(const Agile& a, const std::string& pw16) {
  const nettle_hash* hf = a.pw_hash;
  const size_t n = hf->digest_size;
  Bytes h = Hasher(hf)
                .Add(a.pw_salt)
                .Add(reinterpret_cast<const uint8_t*>(pw16.data()), pw16.size())
                .Digest();
  uint8_t buf[4 + 64];
  HashCtx ctx;
  for (uint32_t i = 0; i < a.spin; ++i) {
    PutU32(buf, i);
    std::memcpy(buf + 4, h.data(), n);
    hf->init(&ctx);
    hf->update(&ctx, 4 + n, buf);
    hf->digest(&ctx, n, h.data());
  }
  const Bytes iv = Fit(a.pw_salt, a.pw_block_size, 0x36);
  auto decrypt_with = [&](const uint8_t* block, const Bytes& data) {
    Bytes key = Fit(Hasher(hf).Add(h).Add(block, 8).Digest(), a.pw_key_bits / 8, 0x36);
    Aes aes;
    aes.SetKey(key.data(), key.size());
    return aes.Cbc(iv, data);
  };
  Bytes input = decrypt_with(kVerifierInputBlock, a.verifier_input);
  Bytes value = decrypt_with(kVerifierValueBlock, a.verifier_value);
  input.resize(std::min(input.size(), a.pw_salt.size()));
  Bytes want = Hasher(hf).Add(input).Digest();
  if (!nettle_memeql_sec(want.data(), value.data(), n)) return std::nullopt;
  Bytes key = decrypt_with(kKeyValueBlock, a.key_value);
  key.resize(a.key_bits / 8);
  return key;
}

// The IV of a package segment or integrity value: the hash of the salt and a block key.
Bytes AgileIv(const Agile& a, const uint8_t* block, size_t block_len) {
  return Fit(Hasher(a.hash).Add(a.salt).Add(block, block_len).Digest(), a.block_size, 0x36);
}

bool AgileHmacMatches(const Agile& a, const Aes& aes, std::span<const uint8_t> stream) {
  Bytes key = aes.Cbc(AgileIv(a, kHmacKeyBlock, 8), a.hmac_key);
  Bytes want = aes.Cbc(AgileIv(a, kHmacValueBlock, 8), a.hmac_value);
  key.resize(a.hash_size);
  HashCtx outer, inner, state;
  hmac_set_key(&outer, &inner, &state, a.hash, key.size(), key.data());
  hmac_update(&state, a.hash, stream.size(), stream.data());
  Bytes got(a.hash_size);
  hmac_digest(&outer, &inner, &state, a.hash, got.size(), got.data());
  return nettle_memeql_sec(got.data(), want.data(), a.hash_size);
}

}  // namespace

std::string PasswordUtf16(const std::string& s) {
  std::string out;
  auto put = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0xF8) extra = 0;
    uint32_t u = extra == 0 ? c : c & (0x3F >> extra);
    bool good = extra > 0 && i + extra < s.size();
    for (int k = 1; good && k <= extra; ++k) {
      const uint8_t d = static_cast<uint8_t>(s[i + k]);
      if ((d & 0xC0) != 0x80) good = false;
      u = u << 6 | (d & 0x3F);
    }
    if (extra > 0 && !good) {
      put(c);  // not UTF-8: Latin-1
      ++i;
      continue;
    }
    i += 1 + extra;
    if (u >= 0x10000) {
      u -= 0x10000;
      put(0xD800 | (u >> 10));
      put(0xDC00 | (u & 0x3FF));
    } else {
      put(u);
    }
  }
  return out;
}

Result<Decrypted> DecryptStreams(std::span<const uint8_t> info, std::span<const uint8_t> package,
                                 bool package_cut, const std::string& name,
                                 const ReadOptions& options) {
  if (info.size() < 8) return BadInfo(name, "太短");
  const uint16_t major = U16(&info[0]), minor = U16(&info[2]);
  const bool agile = major == 4 && minor == 4;
  const bool standard = (major == 2 || major == 3 || major == 4) && minor == 2;
  if (!agile && !standard) {
    if (minor == 3) return Unsupported(name, "不支持的加密方式（可扩展加密）");
    return Unsupported(
        name, "不支持的加密版本（" + std::to_string(major) + "." + std::to_string(minor) + "）");
  }
  std::optional<Standard> st;
  std::optional<Agile> ag;
  if (agile) {
    Result<Agile> r = ParseAgile(info, name);
    if (!r) return r.error();
    ag = std::move(r.value());
  } else {
    Result<Standard> r = ParseStandard(info, name);
    if (!r) return r.error();
    st = std::move(r.value());
  }

  // The stream: the package's size, then its bytes encrypted in whole AES blocks.
  if (package_cut || package.size() < 8) return Truncated(name);
  const uint64_t declared = U64(package.data());
  const size_t held = package.size() - 8;
  if (declared > held) {
    // A stream cut inside a block was cut; a whole one that holds less than it says lies.
    if (held % 16 != 0) return Truncated(name);
    return LyingSize(name, declared, held);
  }
  const size_t want = static_cast<size_t>(declared);
  const size_t enc = (want + 15) / 16 * 16;
  if (enc > held) return Truncated(name);  // the last block is cut

  // Every try is a whole key derivation; a high spin count times many passwords takes seconds,
  // and the caller may want to say so first, or to leave it to another thread.
  const std::vector<std::string> tries = PasswordsToTry(options);
  if (SlowTries(st ? kStandardSpin : ag->spin, tries.size()) && options.before_slow_tries &&
      !options.before_slow_tries())
    return TriesPutOff(name);
  for (size_t t = 0; t < tries.size(); ++t) {
    const std::string pw16 = PasswordUtf16(tries[t]);
    std::optional<Bytes> key = st ? StandardKey(*st, pw16) : AgileKey(*ag, pw16);
    if (!key) continue;
    Aes aes;
    aes.SetKey(key->data(), key->size());
    if (ag && ag->has_integrity && !AgileHmacMatches(*ag, aes, package)) return BadHmac(name);
    Decrypted d;
    if (t > 0 || !options.try_default_password) d.password = tries[t];
    d.package.resize(enc);
    const uint8_t* src = package.data() + 8;
    if (st) {
      aes.Ecb(enc, d.package.data(), src);
    } else {
      // Segments of 4096 bytes, each with an IV from its index.
      for (size_t at = 0, seg = 0; at < enc; at += 4096, ++seg) {
        uint8_t index[4];
        PutU32(index, static_cast<uint32_t>(seg));
        const size_t n = std::min<size_t>(4096, enc - at);
        aes.Cbc(AgileIv(*ag, index, 4).data(), n, d.package.data() + at, src + at);
      }
    }
    d.package.resize(want);
    return d;
  }
  return WrongPassword(name);
}

bool IsEncryptedPackage(const cfb::Reader& cfb) {
  return cfb.Find(u"EncryptionInfo") >= 0 && cfb.Find(u"EncryptedPackage") >= 0;
}

Result<Decrypted> DecryptPackage(const cfb::Reader& cfb, const std::string& name,
                                 const ReadOptions& options, memory::ScopedCharge& charge) {
  const int info_index = cfb.Find(u"EncryptionInfo");
  const int package_index = cfb.Find(u"EncryptedPackage");
  if (info_index < 0 || package_index < 0) return Truncated(name);
  // A directory may claim any size; only what the file could hold is worth setting memory aside
  // for, and a claim past that is damage, not a shortage of memory.
  if (!cfb.DeclaredSizeFits(info_index) || !cfb.DeclaredSizeFits(package_index))
    return Fail(ErrorCode::kCorrupt, name, "加密数据声明的大小超过文件本身的大小");
  bool info_cut = false, package_cut = false;
  std::vector<uint8_t> info = cfb.ReadStream(info_index, &info_cut);
  if (info_cut) return BadInfo(name, "加密信息流不完整");
  std::vector<uint8_t> copy;
  std::span<const uint8_t> package = cfb.InPlace(package_index);
  if (package.empty()) {
    charge.AddOrThrow(static_cast<size_t>(cfb.entries()[package_index].size));
    copy = cfb.ReadStream(package_index, &package_cut);
    package = copy;
  }
  if (package.size() >= 8) charge.AddOrThrow(package.size());
  Result<Decrypted> d = DecryptStreams(info, package, package_cut, name, options);
  if (!d) return d.error();
  return d;
}

}  // namespace qm::ooxml
