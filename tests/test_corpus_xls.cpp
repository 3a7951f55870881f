// Conformance of the .xls reader with the reference dumps of the shared real-world corpus.
#include <gtest/gtest.h>

#include <iostream>

#include "corpus_util.h"
#include "test_support.h"
#include "workbook/io.h"

namespace qm {
namespace {

using testing::CorpusFile;
using testing::CorpusFiles;

bool IsBiff(const nlohmann::json& j) {
  std::string f = j.value("format", "");
  return f.rfind("biff", 0) == 0 || f == "ole-other";
}

TEST(CorpusXls, FilesTheReferenceReadMatchCellForCell) {
  auto files =
      CorpusFiles([](const nlohmann::json& j) { return IsBiff(j) && j.value("ok", false); });
  if (files.empty()) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  int failed = 0;
  for (const CorpusFile& f : files) {
    auto wb = ReadWorkbookFile(f.path, {true});
    if (!wb) {
      ADD_FAILURE() << f.rel << ": " << wb.error().detail;
      ++failed;
      continue;
    }
    EXPECT_EQ((*wb)->styles().date1904, f.ref.value("date1904", false)) << f.rel;
    const Worksheet* ws = (*wb)->Worksheets(1);
    ASSERT_NE(ws, nullptr) << f.rel;
    // A BIFF2-4 file holds one unnamed sheet; we name it after the file, as spreadsheet programs
    // do, where the reference reader says "Sheet 1".
    std::string fmt = f.ref.value("format", "");
    if (fmt != "biff2" && fmt != "biff3" && fmt != "biff4") {
      EXPECT_EQ(ws->Name(), f.ref.value("sheet_name", "")) << f.rel;
    }
    // Reading every sheet must work too, not only the first.
    auto all = ReadWorkbookFile(f.path, {false});
    EXPECT_TRUE(all) << f.rel;
    auto bad = testing::CompareFirstSheet(**wb, f);
    if (!bad.empty()) {
      ++failed;
      std::string all;
      for (const auto& b : bad) all += "\n  " + b;
      ADD_FAILURE() << f.rel << ":" << all;
    }
  }
  EXPECT_EQ(failed, 0) << "of " << files.size() << " files";
}

TEST(CorpusXls, FilesTheReferenceCouldNotReadAreReadOrRefusedClearly) {
  auto files =
      CorpusFiles([](const nlohmann::json& j) { return IsBiff(j) && !j.value("ok", false); });
  if (files.empty()) {
    SKIP_OR_FAIL("no corpus at " QM_CORPUS_DIR);
  }
  for (const CorpusFile& f : files) {
    auto wb = ReadWorkbookFile(f.path, {true});
    if (wb) {
      EXPECT_NE((*wb)->Worksheets(1), nullptr) << f.rel;
    } else {
      // The message names the file and gives a reason after it.
      EXPECT_NE(wb.error().detail.find(f.path), std::string::npos) << wb.error().detail;
      EXPECT_GT(wb.error().detail.size(), f.path.size() + 10) << wb.error().detail;
    }
    std::string err = f.ref.value("error", "");
    if (err.find("encrypted") != std::string::npos && !wb) {
      EXPECT_STREQ(ErrorCodeName(wb.error().code), "password") << f.rel;
    }
    std::cout << "  " << f.rel << ": " << (wb ? "read" : wb.error().detail) << "\n";
  }
}

}  // namespace
}  // namespace qm
