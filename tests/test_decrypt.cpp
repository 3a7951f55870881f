// Workbooks that open only with the user's password: .xls protected by XOR obfuscation, RC4 or
// RC4 CryptoAPI, and .xlsx packages under Standard or Agile encryption. What we decrypt is
// checked against an independent decryptor (msoffcrypto-tool) and against the plain sources the
// fixtures were made from; damaged packages must each say what is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/memory_budget.h"
#include "workbook/office/cfb_reader.h"
#include "workbook/office/ooxml_decrypt.h"
#include "workbook/xls/xls_decrypt.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string Encrypted(const std::string& name) {
  return std::string(QM_TEST_DATA) + "/encrypted/" + name;
}

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

ReadOptions WithPasswords(std::vector<std::string> pw) {
  ReadOptions o;
  o.passwords = std::move(pw);
  return o;
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// True when every run of ASCII letters in `text` is one of the format and program names a user
// may read.
bool NoEnglishWords(const std::string& text) {
  static const std::set<std::string> kNames = {
      "xls", "xlsx", "xlsm", "xlsb",      "csv",   "tsv",   "ods", "Excel", "WPS",      "JSON",
      "UTF", "BIFF", "zip",  "CryptoAPI", "Agile", "OOXML", "AES", "SHA",   "quillmere"};
  for (size_t i = 0; i < text.size();) {
    size_t j = i;
    while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
    if (j > i && !kNames.count(text.substr(i, j - i))) return false;
    i = j > i ? j : i + 1;
  }
  return true;
}

// Every worksheet of `b` holds what `a` holds: names, cell kinds, numbers and texts.
void ExpectSameCells(const Workbook& a, const Workbook& b, const std::string& what) {
  ASSERT_EQ(b.WorksheetCount(), a.WorksheetCount()) << what;
  for (int i = 1; i <= a.WorksheetCount(); ++i) {
    const Worksheet& x = *a.Worksheets(i);
    const Worksheet& y = *b.Worksheets(i);
    EXPECT_EQ(y.Name(), x.Name()) << what;
    ASSERT_EQ(y.RowCount(), x.RowCount()) << what << " sheet " << i;
    for (int row = 1; row <= x.RowCount(); ++row) {
      ASSERT_EQ(y.RowAt(row)->cells.size(), x.RowAt(row)->cells.size()) << what << " row " << row;
      for (const Cell& c : x.RowAt(row)->cells) {
        CellValue u = x.ValueOf(c), v = y.Cells(row, c.col);
        EXPECT_EQ(v.type, u.type) << what << " R" << row << "C" << c.col;
        EXPECT_EQ(v.number, u.number) << what << " R" << row << "C" << c.col;
        EXPECT_EQ(v.text, u.text) << what << " R" << row << "C" << c.col;
      }
    }
  }
}

bool HaveMsoffcrypto() {
  int st = 0;
  testing::Shell("command -v msoffcrypto-tool >/dev/null 2>&1", &st);
  return st == 0;
}

// The workbook msoffcrypto-tool decrypts `path` to, read as a plain file.
std::unique_ptr<Workbook> ReadMsoffcryptoDecryption(const std::string& path,
                                                    const std::string& password) {
  const fs::path dir =
      fs::temp_directory_path() / ("qm-decrypt-" + std::to_string(::qm::testing::ProcessId()));
  fs::create_directories(dir);
  const fs::path out = dir / fs::path(path).filename();
  int st = 0;
  std::string log = testing::Shell(
      "msoffcrypto-tool -p '" + password + "' '" + path + "' '" + out.string() + "' 2>&1", &st);
  EXPECT_EQ(st, 0) << log;
  auto r = ReadWorkbookFile(out.string());
  fs::remove_all(dir);
  EXPECT_TRUE(r) << r.error().detail;
  return r ? std::move(r.value()) : nullptr;
}

struct Case {
  const char* file;
  const char* password;
};
const Case kIndependentlyCheckable[] = {
    {"standard_aes128.xlsx", "标准Std1"},  {"agile_aes256_sha512.xlsx", "Agile密码"},
    {"agile_aes128_sha1.xlsx", "sha1-pw"}, {"cryptoapi_128.xls", "secret128"},
    {"cryptoapi_40.xls", "short40"},       {"rc4.xls", "rc4pass"},
};

TEST(EncryptedFixtures, EachOpensWithItsPasswordAsMsoffcryptoDecryptsIt) {
  if (!HaveMsoffcrypto()) {
    SKIP_WITHOUT_CHECKER("msoffcrypto-tool is not installed");
  }
  for (const Case& c : kIndependentlyCheckable) {
    std::string used = "stale";
    // The right password comes after wrong ones; it is the one reported.
    auto r = ReadWorkbookFile(Encrypted(c.file), WithPasswords({"wrong", "", c.password, "later"}),
                              &used);
    ASSERT_TRUE(r) << r.error().detail;
    EXPECT_EQ(used, c.password) << c.file;
    EXPECT_GT((*r)->Worksheets(1)->CellCount(), 0u) << c.file;
    auto want = ReadMsoffcryptoDecryption(Encrypted(c.file), c.password);
    ASSERT_TRUE(want) << c.file;
    ExpectSameCells(*want, **r, c.file);
  }
}

TEST(EncryptedFixtures, XorObfuscationOpensToThePlainSource) {
  auto plain = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/xls/styled.xls");
  ASSERT_TRUE(plain);
  std::string used;
  auto r = ReadWorkbookFile(Encrypted("xor_biff8.xls"), WithPasswords({"xorpw1"}), &used);
  ASSERT_TRUE(r) << r.error().detail;
  EXPECT_EQ(used, "xorpw1");
  ExpectSameCells(**plain, **r, "xor_biff8.xls");

  // BIFF5 writes the key and verifier without an encryption type before them.
  auto old = ReadWorkbookFile(Encrypted("xor_biff5.xls"), WithPasswords({"alt95"}), &used);
  ASSERT_TRUE(old) << old.error().detail;
  EXPECT_EQ(used, "alt95");
  const Worksheet& ws = *(*old)->Worksheets(1);
  EXPECT_EQ(ws.Name(), "Daten");
  EXPECT_EQ(ws.Cells(1, 1).text, "Grüße");
  EXPECT_EQ(ws.Cells(1, 2).number, 42.5);
  EXPECT_EQ(ws.Cells(2, 1).number, -7);
}

TEST(EncryptedFixtures, WithoutTheRightPasswordEachIsRefusedAsPasswordProtected) {
  for (const char* f :
       {"standard_aes128.xlsx", "agile_aes256_sha512.xlsx", "agile_aes128_sha1.xlsx",
        "cryptoapi_128.xls", "cryptoapi_40.xls", "rc4.xls", "xor_biff8.xls", "xor_biff5.xls"}) {
    for (const ReadOptions& o : {ReadOptions{}, WithPasswords({"wrong", "标准std1"})}) {
      std::string used = "stale";
      auto r = ReadWorkbookFile(Encrypted(f), o, &used);
      ASSERT_FALSE(r) << f;
      EXPECT_STREQ(ErrorCodeName(r.error().code), "password") << f;
      EXPECT_EQ(ErrorReason(r.error(), Encrypted(f)), "文件受密码保护，密码不对或未提供") << f;
      EXPECT_EQ(r.error().detail.rfind(Encrypted(f) + ": ", 0), 0u) << r.error().detail;
      EXPECT_NE(r.error().detail.find("文件受密码保护，密码不对或未提供"), std::string::npos);
      EXPECT_EQ(used, "") << f;
    }
  }
}

TEST(EncryptedFixtures, AWorkbookThatNeedsNoUserPasswordReportsNone) {
  std::string used = "stale";
  auto plain =
      ReadWorkbookFile(std::string(QM_TEST_DATA) + "/xls/styled.xls", WithPasswords({"x"}), &used);
  ASSERT_TRUE(plain);
  EXPECT_EQ(used, "");
  used = "stale";
  auto velvet = ReadWorkbookFile(std::string(QM_TEST_DATA) + "/xls/velvet_cryptoapi.xls",
                                 WithPasswords({"x"}), &used);
  ASSERT_TRUE(velvet) << velvet.error().detail;
  EXPECT_EQ(used, "");
}

// --- Damaged packages ---------------------------------------------------------------------------

struct Streams {
  std::vector<uint8_t> info, package;
};

Streams StreamsOf(const std::string& file) {
  std::vector<uint8_t> bytes = Slurp(Encrypted(file));
  cfb::Reader cfb;
  EXPECT_EQ(cfb.Open(bytes.data(), bytes.size()), "");
  return {cfb.ReadStream(cfb.Find(u"EncryptionInfo")),
          cfb.ReadStream(cfb.Find(u"EncryptedPackage"))};
}

// Replaces the first `from` in the stream's bytes with `to`.
void Patch(std::vector<uint8_t>& b, const std::string& from, const std::string& to) {
  std::string s(b.begin(), b.end());
  size_t at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
  b.assign(s.begin(), s.end());
}

Error DecryptError(const Streams& s, bool cut = false, std::vector<std::string> pw = {"sha1-pw"}) {
  auto r = ooxml::DecryptStreams(s.info, s.package, cut, "bad.xlsx", WithPasswords(std::move(pw)));
  EXPECT_FALSE(r);
  return r ? Error{} : r.error();
}

TEST(EncryptedPackage, EachKindOfDamageHasItsOwnReason) {
  const Streams good = StreamsOf("agile_aes128_sha1.xlsx");
  auto ok = ooxml::DecryptStreams(good.info, good.package, false, "good.xlsx",
                                  WithPasswords({"sha1-pw"}));
  ASSERT_TRUE(ok) << ok.error().detail;
  EXPECT_EQ(ok->password, "sha1-pw");
  EXPECT_EQ(ok->package, Slurp(std::string(QM_TEST_DATA) + "/xlsx/dump_sample.xlsx"));

  Error wrong = DecryptError(good, false, {"Sha1-pw"});
  EXPECT_STREQ(ErrorCodeName(wrong.code), "password");
  EXPECT_EQ(ErrorReason(wrong), "文件受密码保护，密码不对或未提供");

  // The container ended the stream early, or the stream stops inside a cipher block (which once
  // made the decryption read past the end of the stream).
  Error cut = DecryptError(good, true);
  EXPECT_EQ(cut.code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(cut), "文件已损坏（加密的数据不完整）");
  Streams short_block = good;
  short_block.package.resize(short_block.package.size() - 5);
  EXPECT_EQ(ErrorReason(DecryptError(short_block)), "文件已损坏（加密的数据不完整）");
  Streams no_size = good;
  no_size.package.resize(5);
  EXPECT_EQ(ErrorReason(DecryptError(no_size)), "文件已损坏（加密的数据不完整）");

  // Whole blocks, but fewer than the size in front of them claims.
  Streams lying = good;
  lying.package[0] = static_cast<uint8_t>(lying.package.size());  // more than the stream holds
  lying.package[1] = 0xFF;
  Error lie = DecryptError(lying);
  EXPECT_EQ(lie.code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(lie), "文件已损坏（加密数据声明的大小与实际不符）");
  EXPECT_NE(lie.detail.find("字节"), std::string::npos) << lie.detail;

  // One encrypted byte changed: the password is right, the integrity check is not.
  Streams tampered = good;
  tampered.package[tampered.package.size() / 2] ^= 0x01;
  Error hmac = DecryptError(tampered);
  EXPECT_EQ(hmac.code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(hmac), "文件已损坏（加密数据的完整性校验失败）");

  // Algorithms we do not decrypt are told apart from a wrong password, in the user's language.
  Streams des = good;
  Patch(des.info, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"");
  Error unsupported = DecryptError(des);
  EXPECT_EQ(unsupported.code, ErrorCode::kEncrypted);
  EXPECT_EQ(ErrorReason(unsupported), "文件受密码保护，不支持的加密算法");
  Streams md5 = good;
  Patch(md5.info, "hashAlgorithm=\"SHA1\"", "hashAlgorithm=\"MD5!\"");
  EXPECT_EQ(ErrorReason(DecryptError(md5)), "文件受密码保护，不支持的哈希算法");
  Streams extensible = good;
  extensible.info[0] = 3, extensible.info[2] = 3;
  EXPECT_EQ(ErrorReason(DecryptError(extensible)),
            "文件受密码保护，不支持的加密方式（可扩展加密）");
  Streams version = good;
  version.info[0] = 9;
  EXPECT_EQ(ErrorReason(DecryptError(version)), "文件受密码保护，不支持的加密版本（9.4）");

  // The descriptor is parsed with entities refused and its numbers bounded.
  Streams entity = good;
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaa\">]><e>&a;</e>";
  entity.info.resize(8);
  entity.info.insert(entity.info.end(), bomb.begin(), bomb.end());
  EXPECT_EQ(ErrorReason(DecryptError(entity)), "文件已损坏（加密信息已损坏）");
  Streams spin = good;
  Patch(spin.info, "spinCount=\"100000\"", "spinCount=\"10000001\"");
  Error slow = DecryptError(spin);
  EXPECT_EQ(slow.code, ErrorCode::kCorrupt);
  EXPECT_EQ(slow.detail, "bad.xlsx: 加密信息已损坏（迭代次数超过10000000）");
  Streams garbled = good;
  garbled.info.resize(60);  // the descriptor stops inside its first tag
  EXPECT_EQ(ErrorReason(DecryptError(garbled)), "文件已损坏（加密信息已损坏）");
  // Every detail names the file, then says in Chinese what is wrong: no English reaches the user
  // through the command line's output of the detail either.
  for (const Error& e : {DecryptError(des), DecryptError(md5), DecryptError(garbled),
                         DecryptError(entity), DecryptError(tampered), DecryptError(lying)}) {
    ASSERT_EQ(e.detail.rfind("bad.xlsx: ", 0), 0u) << e.detail;
    EXPECT_TRUE(NoEnglishWords(e.detail.substr(10))) << e.detail;
  }
}

TEST(EncryptedPackage, StandardEncryptionChecksItsVerifierAndSize) {
  const Streams good = StreamsOf("standard_aes128.xlsx");
  auto ok = ooxml::DecryptStreams(good.info, good.package, false, "s.xlsx",
                                  WithPasswords({"x", "标准Std1"}));
  ASSERT_TRUE(ok) << ok.error().detail;
  EXPECT_EQ(ok->password, "标准Std1");
  EXPECT_EQ(ok->package, Slurp(std::string(QM_TEST_DATA) + "/xlsx/dump_sample.xlsx"));

  Streams rc4 = good;
  rc4.info[12] &= static_cast<uint8_t>(~0x20);  // fAES cleared: RC4 CryptoAPI over the package
  EXPECT_EQ(ErrorReason(DecryptError(rc4, false, {"标准Std1"})),
            "文件受密码保护，不支持的加密方式（CryptoAPI流密码）");
  Streams md5 = good;
  md5.info[12 + 12] = 0x03;  // the hash algorithm: MD5 (0x8003)
  EXPECT_EQ(ErrorReason(DecryptError(md5, false, {"标准Std1"})),
            "文件受密码保护，不支持的哈希算法（编号32771）");
  Streams cipher = good;
  cipher.info[12 + 8] = 0x01, cipher.info[12 + 9] = 0x68;  // the cipher: 0x6801
  EXPECT_EQ(ErrorReason(DecryptError(cipher, false, {"标准Std1"})),
            "文件受密码保护，不支持的加密算法（编号26625）");
  Streams lying = good;
  lying.package[2] = 0x01;  // 64 KiB more than there is
  EXPECT_EQ(ErrorReason(DecryptError(lying, false, {"标准Std1"})),
            "文件已损坏（加密数据声明的大小与实际不符）");
  Streams cut_header = good;
  cut_header.info.resize(40);
  EXPECT_EQ(DecryptError(cut_header, false, {"标准Std1"}).code, ErrorCode::kCorrupt);
}

// A 9 KiB file whose directory claimed a 4 GiB EncryptedPackage had the claim charged to the
// memory budget before anything was read, and was refused as 内存不足 under a memory limit.
TEST(EncryptedPackage, ADirectoryClaimingMoreThanTheFileHoldsIsDamagedNotAMemoryShortage) {
  const std::vector<uint8_t> good = Slurp(Encrypted("agile_aes128_sha1.xlsx"));
  // A directory entry starts with its UTF-16 name; the stream's size is at 0x78.
  const std::u16string name = u"EncryptedPackage";
  const std::string pattern(reinterpret_cast<const char*>(name.data()), name.size() * 2);
  const size_t entry = std::string(good.begin(), good.end()).find(pattern);
  ASSERT_NE(entry, std::string::npos);
  struct BudgetBack {
    ~BudgetBack() { memory::SetBudgetForTesting(0); }
  } budget_back;
  memory::SetBudgetForTesting(memory::InUse() + (size_t{64} << 20));
  for (uint32_t claim : {0xFFFFFFF0u, static_cast<uint32_t>(good.size())}) {
    std::vector<uint8_t> file = good;
    Put32(file, entry + 0x78, claim);
    auto r = ReadWorkbookBytes(file.data(), file.size(), "claim.xlsx", WithPasswords({"sha1-pw"}));
    ASSERT_FALSE(r) << claim;
    EXPECT_EQ(r.error().code, ErrorCode::kCorrupt) << claim;
    EXPECT_EQ(ErrorReason(r.error(), "claim.xlsx"),
              "文件已损坏（加密数据声明的大小超过文件本身的大小）");
  }
  auto ok = ReadWorkbookBytes(good.data(), good.size(), "good.xlsx", WithPasswords({"sha1-pw"}));
  EXPECT_TRUE(ok) << ok.error().detail;
}

// --- How many passwords are tried, and when that is announced ------------------------------------

TEST(PasswordTries, EachDistinctPasswordIsTriedOnceTheDefaultFirst) {
  ReadOptions o = WithPasswords({"a", "a", kDefaultPassword, "b", "a", ""});
  EXPECT_EQ(PasswordsToTry(o), (std::vector<std::string>{kDefaultPassword, "a", "b", ""}));
  // Asked again after the default failed: the answer alone, even when it is the default's text.
  o.try_default_password = false;
  EXPECT_EQ(PasswordsToTry(o), (std::vector<std::string>{"a", kDefaultPassword, "b", ""}));
  EXPECT_TRUE(PasswordsToTry(WithPasswords({})).size() == 1);
}

TEST(PasswordTries, TriesOfMoreThanTwoMillionHashRoundsInAllAreSlow) {
  EXPECT_FALSE(SlowTries(100000, 20));  // Agile's usual spin count
  EXPECT_TRUE(SlowTries(100000, 21));
  EXPECT_FALSE(SlowTries(50000, 40));  // Standard encryption's fixed count
  EXPECT_TRUE(SlowTries(50000, 41));
  EXPECT_TRUE(SlowTries(10000000, 1));  // the most the format allows, the default alone
  EXPECT_FALSE(SlowTries(0, 1000));
  EXPECT_TRUE(SlowTries(1, SIZE_MAX));
  EXPECT_TRUE(SlowTries(10000000, SIZE_MAX / 2));
}

// 1,000 copies of one wrong password cost 1,000 key derivations (28.6 s on one Agile file), and
// nothing told the user why the run stood still when a file's tries were slow.
TEST(PasswordTries, SlowTriesAreAskedAboutBeforeAnyHashingAndRepeatsCostNothing) {
  int asked = 0;
  auto put_off = [&asked] {
    ++asked;
    return false;
  };
  // Ten million rounds, the most the format allows: asked, and put off before a single round.
  Streams most = StreamsOf("agile_aes128_sha1.xlsx");
  Patch(most.info, "spinCount=\"100000\"", "spinCount=\"10000000\"");
  ReadOptions o = WithPasswords({"sha1-pw"});
  o.before_slow_tries = put_off;
  auto r = ooxml::DecryptStreams(most.info, most.package, false, "slow.xlsx", o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kTriesPutOff);
  EXPECT_EQ(ErrorReason(r.error()), "文件受密码保护，尚未尝试密码");
  EXPECT_EQ(asked, 1);

  // Many distinct passwords at the usual counts, through the whole reader.
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back("p" + std::to_string(i));
  for (const char* f : {"standard_aes128.xlsx", "agile_aes256_sha512.xlsx"}) {
    asked = 0;
    o = WithPasswords(many);
    o.before_slow_tries = put_off;
    auto whole = ReadWorkbookFile(Encrypted(f), o);
    ASSERT_FALSE(whole) << f;
    EXPECT_EQ(whole.error().code, ErrorCode::kTriesPutOff) << f;
    EXPECT_EQ(asked, 1) << f;
  }

  // A thousand copies of one password are two tries with the default: not slow, not asked.
  asked = 0;
  o = WithPasswords(std::vector<std::string>(1000, "wrong"));
  o.before_slow_tries = put_off;
  auto repeated = ReadWorkbookFile(Encrypted("agile_aes128_sha1.xlsx"), o);
  ASSERT_FALSE(repeated);
  EXPECT_EQ(ErrorReason(repeated.error()), "文件受密码保护，密码不对或未提供");
  EXPECT_EQ(asked, 0);
}

// --- FILEPASS records of .xls ------------------------------------------------------------------

// The Workbook stream of an encrypted .xls fixture and the offset of its FILEPASS record.
struct XlsStream {
  std::vector<uint8_t> bytes;
  size_t filepass = 0;
  size_t Length() const { return bytes[filepass + 2] | bytes[filepass + 3] << 8; }
};

XlsStream WorkbookStreamOf(const std::string& file) {
  std::vector<uint8_t> b = Slurp(Encrypted(file));
  cfb::Reader cfb;
  EXPECT_EQ(cfb.Open(b.data(), b.size()), "");
  XlsStream x{cfb.ReadStream(cfb.Find(u"Workbook"))};
  const std::vector<uint8_t>& s = x.bytes;
  for (size_t pos = 0; pos + 4 <= s.size(); pos += 4 + (s[pos + 2] | s[pos + 3] << 8)) {
    if ((s[pos] | s[pos + 1] << 8) == 0x002F) {
      x.filepass = pos;
      break;
    }
  }
  EXPECT_GT(x.filepass, 0u) << file;
  return x;
}

// A stream of one FILEPASS record with this body and nothing after it, so that a read past the
// record is a read past the buffer.
std::vector<uint8_t> LoneFilePass(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> s(4 + body.size());
  s[0] = 0x2F;
  s[2] = static_cast<uint8_t>(body.size());
  s[3] = static_cast<uint8_t>(body.size() >> 8);
  std::copy(body.begin(), body.end(), s.begin() + 4);
  return s;
}

// A 20-byte RC4 CryptoAPI FILEPASS whose header size said 20 made the reader take the key size
// 14 bytes past the buffer (a heap over-read under the sanitizers).
TEST(XlsFilePass, AHeaderSizeReachingPastTheRecordIsDamageNotAnOverRead) {
  std::vector<uint8_t> short_header =
      LoneFilePass({1, 0, 4, 0, 2, 0, 0x04, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x68});
  EXPECT_EQ(xls::DecryptWithPassword(short_header, 0, "x"), xls::DecryptOutcome::kDamaged);
  Status st = xls::Decrypt(short_header, 0, "x.xls", {});
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(st.error(), "x.xls"), "文件已损坏（加密信息已损坏）");
  EXPECT_EQ(st.error().detail.rfind("x.xls: ", 0), 0u);
  EXPECT_TRUE(NoEnglishWords(st.error().detail.substr(7))) << st.error().detail;

  // A record header cut, or a length past the stream.
  for (std::vector<uint8_t> s : {std::vector<uint8_t>{0x2F, 0x00, 0x36}, LoneFilePass({1, 0})}) {
    if (s.size() > 3) s[2] = 60;
    EXPECT_EQ(xls::Decrypt(s, 0, "x.xls", {}).error().code, ErrorCode::kCorrupt);
  }

  // Every shorter cut of a real record of each scheme is refused; none is read past its end.
  const std::vector<std::string> passwords = {"secret128", "rc4pass", "xorpw1"};
  for (const char* f : {"cryptoapi_128.xls", "rc4.xls", "xor_biff8.xls"}) {
    const XlsStream x = WorkbookStreamOf(f);
    const auto body = x.bytes.begin() + static_cast<std::ptrdiff_t>(x.filepass + 4);
    for (size_t n = 0; n < x.Length(); ++n) {
      std::vector<uint8_t> cut = LoneFilePass(std::vector<uint8_t>(body, body + n));
      Status r = xls::Decrypt(cut, 0, "cut.xls", WithPasswords(passwords));
      ASSERT_FALSE(r) << f << " cut to " << n;
      // Four bytes read as BIFF5's key and verifier, which the passwords do not match.
      if (n == 4)
        EXPECT_EQ(r.error().code, ErrorCode::kWrongPassword) << f;
      else
        EXPECT_EQ(r.error().code, ErrorCode::kCorrupt) << f << " cut to " << n;
    }
    std::vector<uint8_t> whole = x.bytes;
    std::string used;
    EXPECT_TRUE(xls::Decrypt(whole, x.filepass, f, WithPasswords(passwords), &used)) << f;
    EXPECT_NE(used, "");
  }
}

// The verifier hash was compared over min(size, 20) bytes: a size of 0 compared nothing, so a
// protected file "opened" with the default password and was merged as garbage, with exit 0.
TEST(XlsFilePass, AVerifierHashSizeOtherThanSha1sIsDamageNotAnyPasswordLetThrough) {
  const XlsStream x = WorkbookStreamOf("cryptoapi_128.xls");
  const size_t body = x.filepass + 4;
  const size_t hash_size_at = body + 14 + U32At(x.bytes, body + 10) + 36;
  ASSERT_EQ(U32At(x.bytes, hash_size_at), 20u);
  for (uint32_t size : {0u, 1u, 16u, 21u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> s = x.bytes;
    Put32(s, hash_size_at, size);
    const std::vector<uint8_t> before = s;
    Status st = xls::Decrypt(s, x.filepass, "h.xls", {});
    ASSERT_FALSE(st) << size;
    EXPECT_EQ(st.error().code, ErrorCode::kCorrupt) << size;
    EXPECT_EQ(s, before) << "records changed for size " << size;
  }

  // The whole file, through the reader a merge uses.
  std::vector<uint8_t> file = Slurp(Encrypted("cryptoapi_128.xls"));
  cfb::Reader cfb;
  ASSERT_EQ(cfb.Open(file.data(), file.size()), "");
  std::span<const uint8_t> in_place = cfb.InPlace(cfb.Find(u"Workbook"));
  ASSERT_FALSE(in_place.empty());
  Put32(file, static_cast<size_t>(in_place.data() - file.data()) + hash_size_at, 0);
  auto r = ReadWorkbookBytes(file.data(), file.size(), "h.xls");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(r.error(), "h.xls"), "文件已损坏（加密信息已损坏）");
}

// Schemes and algorithms the reader does not decrypt are named in Chinese, with their numbers.
TEST(XlsFilePass, UnsupportedSchemesSayWhichInChinese) {
  const XlsStream x = WorkbookStreamOf("cryptoapi_128.xls");
  const size_t body = x.filepass + 4;
  struct Change {
    size_t at;
    uint32_t value;
    const char* reason;
  };
  const Change changes[] = {
      {body + 14 + 8, 0x6602, "文件受密码保护，不支持的加密算法（编号26114）"},
      {body + 14 + 12, 0x8003, "文件受密码保护，不支持的哈希算法（编号32771）"},
      {body + 2, 0x00030003, "文件受密码保护，不支持的加密版本（3.3）"},
  };
  for (const Change& c : changes) {
    std::vector<uint8_t> s = x.bytes;
    Put32(s, c.at, c.value);
    Status st = xls::Decrypt(s, x.filepass, "u.xls", {});
    ASSERT_FALSE(st) << c.reason;
    EXPECT_EQ(ErrorReason(st.error(), "u.xls"), c.reason);
    EXPECT_TRUE(NoEnglishWords(st.error().detail.substr(7))) << st.error().detail;
  }
}

// --- Files written by spreadsheet programs ------------------------------------------------------

TEST(EncryptedCorpus, RealFilesOpenWithTheirPasswords) {
  const std::string dir = std::string(QM_CORPUS_DIR) + "/poi/";
  if (!fs::exists(dir + "password.xls")) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  // The XOR-obfuscated file holds the numbers 1, 2 and 3 in its first column.
  std::string used;
  auto xor_abc = ReadWorkbookFile(dir + "xor-encryption-abc.xls", WithPasswords({"abc"}), &used);
  ASSERT_TRUE(xor_abc) << xor_abc.error().detail;
  EXPECT_EQ(used, "abc");
  const Worksheet& ws = *(*xor_abc)->Worksheets(1);
  std::vector<double> numbers;
  for (int row = 1; row <= ws.RowCount(); ++row)
    for (const Cell& c : ws.RowAt(row)->cells)
      if (ws.ValueOf(c).IsNumber()) numbers.push_back(ws.ValueOf(c).number);
  EXPECT_EQ(numbers, (std::vector<double>{1, 2, 3}));

  for (const Case& c :
       {Case{"password.xls", "password"}, Case{"protected_passtika.xlsx", "tika"}}) {
    auto refused = ReadWorkbookFile(dir + c.file);
    ASSERT_FALSE(refused) << c.file;
    EXPECT_STREQ(ErrorCodeName(refused.error().code), "password");
    auto r = ReadWorkbookFile(dir + c.file, WithPasswords({c.password}), &used);
    ASSERT_TRUE(r) << r.error().detail;
    EXPECT_EQ(used, c.password);
    EXPECT_GT((*r)->Worksheets(1)->CellCount(), 0u) << c.file;
    if (!HaveMsoffcrypto()) {
      SKIP_WITHOUT_CHECKER("msoffcrypto-tool is not installed");
    }
    auto want = ReadMsoffcryptoDecryption(dir + c.file, c.password);
    ASSERT_TRUE(want) << c.file;
    ExpectSameCells(*want, **r, c.file);
  }
}

}  // namespace
}  // namespace qm
