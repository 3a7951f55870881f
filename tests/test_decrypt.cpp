// Workbooks that open only with the user's password: .xls protected by XOR obfuscation, RC4 or
// RC4 CryptoAPI, and .xlsx packages under Standard or Agile encryption. What we decrypt is
// checked against an independent decryptor (msoffcrypto-tool) and against the plain sources the
// fixtures were made from; damaged packages must each say what is wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "workbook/io.h"
#include "workbook/xls/cfb_reader.h"
#include "workbook/xlsx/ooxml_decrypt.h"

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
      EXPECT_NE(r.error().detail.find("password protected"), std::string::npos);
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
  auto r = ooxml::DecryptStreams(s.info, s.package, cut, "bad.xlsx", pw);
  EXPECT_FALSE(r);
  return r ? Error{} : r.error();
}

TEST(EncryptedPackage, EachKindOfDamageHasItsOwnReason) {
  const Streams good = StreamsOf("agile_aes128_sha1.xlsx");
  auto ok = ooxml::DecryptStreams(good.info, good.package, false, "good.xlsx", {"sha1-pw"});
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
  EXPECT_NE(lie.detail.find("claims"), std::string::npos) << lie.detail;

  // One encrypted byte changed: the password is right, the integrity check is not.
  Streams tampered = good;
  tampered.package[tampered.package.size() / 2] ^= 0x01;
  Error hmac = DecryptError(tampered);
  EXPECT_EQ(hmac.code, ErrorCode::kCorrupt);
  EXPECT_EQ(ErrorReason(hmac), "文件已损坏（加密数据的完整性校验失败）");
  EXPECT_NE(hmac.detail.find("HMAC"), std::string::npos);

  // Algorithms we do not decrypt are named, not taken for a wrong password.
  Streams des = good;
  Patch(des.info, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"");
  Error unsupported = DecryptError(des);
  EXPECT_EQ(unsupported.code, ErrorCode::kEncrypted);
  EXPECT_EQ(ErrorReason(unsupported), "文件受密码保护，不支持的加密方式：DES");
  Streams md5 = good;
  Patch(md5.info, "hashAlgorithm=\"SHA1\"", "hashAlgorithm=\"MD5!\"");
  EXPECT_NE(ErrorReason(DecryptError(md5)).find("不支持的加密方式"), std::string::npos);
  Streams extensible = good;
  extensible.info[0] = 3, extensible.info[2] = 3;
  EXPECT_EQ(ErrorReason(DecryptError(extensible)),
            "文件受密码保护，不支持的加密方式：extensible encryption");

  // The descriptor is parsed with entities refused and its numbers bounded.
  Streams entity = good;
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaa\">]><e>&a;</e>";
  entity.info.resize(8);
  entity.info.insert(entity.info.end(), bomb.begin(), bomb.end());
  EXPECT_EQ(ErrorReason(DecryptError(entity)), "文件已损坏（加密信息已损坏）");
  Streams spin = good;
  Patch(spin.info, "spinCount=\"100000\"", "spinCount=\"999999999\"");
  Error slow = DecryptError(spin);
  EXPECT_EQ(slow.code, ErrorCode::kCorrupt);
  EXPECT_NE(slow.detail.find("spin count"), std::string::npos);
}

TEST(EncryptedPackage, StandardEncryptionChecksItsVerifierAndSize) {
  const Streams good = StreamsOf("standard_aes128.xlsx");
  auto ok = ooxml::DecryptStreams(good.info, good.package, false, "s.xlsx", {"x", "标准Std1"});
  ASSERT_TRUE(ok) << ok.error().detail;
  EXPECT_EQ(ok->password, "标准Std1");
  EXPECT_EQ(ok->package, Slurp(std::string(QM_TEST_DATA) + "/xlsx/dump_sample.xlsx"));

  Streams rc4 = good;
  rc4.info[12] &= static_cast<uint8_t>(~0x20);  // fAES cleared: RC4 CryptoAPI over the package
  EXPECT_EQ(ErrorReason(DecryptError(rc4, false, {"标准Std1"})),
            "文件受密码保护，不支持的加密方式：RC4");
  Streams lying = good;
  lying.package[2] = 0x01;  // 64 KiB more than there is
  EXPECT_EQ(ErrorReason(DecryptError(lying, false, {"标准Std1"})),
            "文件已损坏（加密数据声明的大小与实际不符）");
  Streams cut_header = good;
  cut_header.info.resize(40);
  EXPECT_EQ(DecryptError(cut_header, false, {"标准Std1"}).code, ErrorCode::kCorrupt);
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
