// WPS Spreadsheets workbooks (.et, .ett): the BIFF8 workbook WPS writes into its compound file is
// read as any .xls, and a compound file without one is refused as a WPS format we do not read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "format_samples.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/office/cfb_writer.h"
#include "workbook/paths.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class WpsTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::FreshTestFolder("qm_et"); }
  void TearDown() override { fs::remove_all(dir_); }
  // A compound file holding one stream of `size` bytes under the name `stream`.
  std::string CompoundFile(const std::string& name, const std::u16string& stream) {
    const std::string path = PathToUtf8(dir_ / PathFromUtf8(name));
    std::FILE* f = CreateForWriting(path);
    EXPECT_NE(f, nullptr);
    if (!f) return path;
    cfb::Writer w;
    const std::vector<uint8_t> bytes(4096, 0x5A);
    EXPECT_TRUE(w.Begin(f, stream, bytes.size()));
    EXPECT_TRUE(w.Write(bytes.data(), bytes.size()));
    EXPECT_TRUE(w.Finish());
    std::fclose(f);
    return path;
  }
  fs::path dir_;
};

TEST_F(WpsTest, WorkbookWrittenByWpsIsReadAsBiff8AndNamedEt) {
  Workbook wb;
  (void)wb.AddWorksheet("工作表1").SetText(1, 1, "金额");
  const std::string path = PathToUtf8(dir_ / "report.et");
  ASSERT_TRUE(SaveWorkbookFile(wb, PathToUtf8(dir_ / "report.xls")).ok());
  fs::rename(dir_ / "report.xls", dir_ / "report.et");
  auto r = ReadWorkbookFile(path);
  ASSERT_TRUE(r.ok()) << r.error().detail;
  EXPECT_EQ((*r)->format(), SourceFormat::kEt);
  EXPECT_STREQ(SourceFormatName((*r)->format()), "et");
  EXPECT_EQ((*r)->Worksheets(1)->Cells(1, 1).text, "金额");
  // The same bytes under an Excel name are an Excel workbook.
  fs::copy_file(dir_ / "report.et", dir_ / "x.xls");
  auto xls = ReadWorkbookFile(PathToUtf8(dir_ / "x.xls"));
  ASSERT_TRUE(xls.ok());
  EXPECT_EQ((*xls)->format(), SourceFormat::kBiff8);
}

// The user read 不支持的文件格式（不支持的WPS表格格式）, the format said twice over.
TEST_F(WpsTest, CompoundFileWithoutAWorkbookIsAnUnsupportedWpsFormatSaidOnce) {
  // WPS's own streams mark the file whatever its name; an .et name marks it too.
  for (const auto& [name, stream] :
       {std::pair{"a.et", std::u16string(u"Sheet")}, std::pair{"b.ett", std::u16string(u"Data")},
        std::pair{"c.xls", std::u16string(u"ETExtData")}}) {
    SCOPED_TRACE(name);
    const std::string path = CompoundFile(name, stream);
    auto r = ReadWorkbookFile(path);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::kWpsFormat);
    EXPECT_STREQ(ErrorCodeName(r.error().code), "not-supported");
    EXPECT_EQ(ErrorReason(r.error(), path), "不支持的WPS表格格式");
  }
  // Any other compound file stays what it was.
  const std::string other = CompoundFile("d.xls", u"Data");
  auto r = ReadWorkbookFile(other);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::kNotAWorkbook);
}

TEST(WpsSamples, MatchTheirReferenceDumps) {
  if (testing::FormatSamples("et").empty()) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats/et");
  }
  EXPECT_EQ(testing::ExpectSamplesReadAsReference("et", "et", true), 1);
}

}  // namespace
}  // namespace qm
