// The compound-file writer: what it writes reads back, byte for byte, through our reader and
// through xlrd's independent one, for streams that end inside a sector and for streams large
// enough that the allocation table outgrows the header and needs its extension sectors.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "test_support.h"
#include "workbook/office/cfb_reader.h"
#include "workbook/office/cfb_writer.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Writes `data` as the stream "Workbook", in uneven pieces as the xls writer hands them over.
std::vector<uint8_t> WriteCompound(const std::vector<uint8_t>& data, const fs::path& path) {
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  EXPECT_NE(f, nullptr);
  cfb::Writer w;
  EXPECT_TRUE(w.Begin(f, u"Workbook", data.size()));
  for (size_t at = 0, piece = 1; at < data.size(); piece = piece * 3 + 1) {
    const size_t n = std::min(piece % 70001, data.size() - at);
    EXPECT_TRUE(w.Write(data.data() + at, n));
    at += n;
  }
  EXPECT_TRUE(w.Finish());
  std::fclose(f);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(CfbWriter, StreamsOfEverySizeReadBackThroughOurReaderAndXlrds) {
  const fs::path path =
      fs::temp_directory_path() / ("qm_cfb_" + std::to_string(::qm::testing::ProcessId()) + ".xls");
  const bool xlrd = testing::Shell("/usr/bin/python3 -c 'import xlrd' 2>&1 && echo yes") == "yes\n";
  if (!xlrd && testing::CheckersRequired()) ADD_FAILURE() << "python3-xlrd is not installed";
  // 8 MB needs more than the header's 109 table sectors: the extension is exercised.
  for (size_t size : {size_t{4096}, size_t{5000}, size_t{70000}, size_t{8} << 20}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = Pattern(size, static_cast<uint32_t>(size));
    const std::vector<uint8_t> file = WriteCompound(data, path);
    EXPECT_EQ(file.size() % 512, 0u);
    cfb::Reader r;
    ASSERT_EQ(r.Open(file.data(), file.size()), "");
    const int k = r.Find(u"workbook");
    ASSERT_GE(k, 0);
    bool truncated = false;
    EXPECT_EQ(r.ReadStream(k, &truncated), data);
    EXPECT_FALSE(truncated);
    if (!xlrd) continue;
    // xlrd's compound-document parser checks the chains and the allocation table itself.
    const std::string out = testing::Shell(
        "/usr/bin/python3 -c 'import sys, hashlib, xlrd.compdoc as c; "
        "d = c.CompDoc(open(sys.argv[1], \"rb\").read(), logfile=sys.stderr); "
        "s = d.get_named_stream(\"Workbook\"); print(len(s), hashlib.sha1(s).hexdigest())' '" +
        path.string() + "' 2>&1");
    std::ofstream(path.string() + ".raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    const std::string expect = testing::Shell(
        "/usr/bin/python3 -c 'import sys, hashlib; d = open(sys.argv[1], \"rb\").read(); "
        "print(len(d), hashlib.sha1(d).hexdigest())' '" +
        path.string() + ".raw'");
    EXPECT_EQ(out, expect);
    fs::remove(path.string() + ".raw");
  }
  fs::remove(path);
}

TEST(CfbWriter, RefusesSizesOutOfRangeAndAStreamOfAnotherLength) {
  const fs::path path = fs::temp_directory_path() /
                        ("qm_cfb_bad_" + std::to_string(::qm::testing::ProcessId()) + ".xls");
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  ASSERT_NE(f, nullptr);
  cfb::Writer small;
  EXPECT_FALSE(small.Begin(f, u"Workbook", 100));  // would belong in the mini stream
  cfb::Writer huge;
  EXPECT_FALSE(huge.Begin(f, u"Workbook", (uint64_t{1} << 31) + 1));
  cfb::Writer short_stream;
  ASSERT_TRUE(short_stream.Begin(f, u"Workbook", 5000));
  const std::vector<uint8_t> some(4000, 7);
  EXPECT_TRUE(short_stream.Write(some.data(), some.size()));
  EXPECT_FALSE(short_stream.Finish());
  cfb::Writer long_stream;
  ASSERT_TRUE(long_stream.Begin(f, u"Workbook", 5000));
  const std::vector<uint8_t> more(6000, 7);
  EXPECT_FALSE(long_stream.Write(more.data(), more.size()));
  std::fclose(f);
  fs::remove(path);
}

}  // namespace
}  // namespace qm
