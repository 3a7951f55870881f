// The sheets' text pool and what rests on it: texts kept in blocks with fixed views, texts of
// many pasted sheets kept once, and a result written from such a pool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "container_parts.h"
#include "test_support.h"
#include "workbook/paths.h"
#include "workbook/text_pool.h"
#include "workbook/workbook.h"
#include "workbook/xlsx/xlsx.h"

namespace qm {
namespace {

TEST(TextPool, TextsSurviveBlockBoundariesLongTextsAndCopies) {
  TextPool pool;
  std::vector<std::string> want;
  // Enough short texts to fill several blocks of every size, a text that takes a block of its
  // own, an empty one and one past the length a view can hold.
  for (int i = 0; i < 200000; ++i) want.push_back("文本" + std::to_string(i * 7919));
  want.insert(want.begin() + 1000, std::string(300000, 'x'));
  want.insert(want.begin() + 2000, std::string());
  want.push_back(std::string((size_t{1} << 24) + 5, 'y'));
  std::vector<std::string_view> early;
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(pool.Add(want[i]), i);
    if (i < 100) early.push_back(pool[static_cast<uint32_t>(i)]);
  }
  ASSERT_EQ(pool.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(pool[static_cast<uint32_t>(i)], want[i]) << "text " << i;
  // Texts handed out before the pool grew still point at their characters.
  for (size_t i = 0; i < early.size(); ++i) EXPECT_EQ(early[i], want[i]);
  TextPool copy = pool;
  pool = TextPool();
  for (size_t i = 0; i < want.size(); i += 997) EXPECT_EQ(copy[static_cast<uint32_t>(i)], want[i]);
  EXPECT_EQ(copy[static_cast<uint32_t>(want.size() - 1)], want.back());
}

TEST(TextPool, InternKeepsEachTextOnceAndSaysWhenThePoolIsDistinct) {
  TextPool pool;
  EXPECT_TRUE(pool.distinct());
  const uint32_t a = pool.Intern("北京");
  const uint32_t b = pool.Intern("上海");
  EXPECT_EQ(pool.Intern("北京"), a);
  EXPECT_NE(a, b);
  for (int i = 0; i < 5000; ++i) pool.Intern(std::to_string(i % 1000));  // the table grows
  EXPECT_EQ(pool.size(), 1002u);
  EXPECT_EQ(pool.Intern("999"), pool.Intern("999"));
  EXPECT_TRUE(pool.distinct());
  // Once the intern table is let go, interning finds the old texts again.
  pool.ShrinkToFit();
  EXPECT_EQ(pool.Intern("上海"), b);
  EXPECT_EQ(pool.size(), 1002u);
  EXPECT_TRUE(pool.distinct());
  // A plain Add may repeat a text: a writer must then compare texts itself.
  pool.Add("北京");
  EXPECT_FALSE(pool.distinct());
}

TEST(TextPool, ResultOfManyPastesKeepsSharedTextsOnceAndWritesTheSameTable) {
  // Tables of many files name the same departments: the result's pool holds each once, and the
  // written shared-string table is the one a table of distinct texts gives: first use order,
  // every cell counted.
  Workbook result;
  Worksheet& out = result.AddWorksheet("Sheet1");
  const char* depts[] = {"财务部", "销售部", "财务部", " 留空 "};
  for (int file = 0; file < 3; ++file) {
    Workbook src;
    Worksheet& s = src.AddWorksheet("Sheet1");
    for (int r = 1; r <= 4; ++r) {
      (void)s.SetText(r, 1, depts[r - 1]);
      (void)s.SetText(r, 2, "单号" + std::to_string(file * 10 + r));
    }
    ASSERT_TRUE(out.PasteFrom(s, s.UsedRange(), file * 4 + 1, 1).ok());
  }
  EXPECT_EQ(out.texts().size(), 3u + 12u);
  EXPECT_TRUE(out.texts().distinct());
  EXPECT_EQ(out.Cells(9, 1).text, "财务部");
  EXPECT_EQ(out.Cells(12, 2).text, "单号24");

  const std::filesystem::path dir = testing::FreshTestFolder("qm-text-pool");
  const std::string path = PathToUtf8(dir / "r.xlsx");
  ASSERT_TRUE(xlsx::Write(result, path).ok());
  const std::string sst = testing::PackageParts(path).at("xl/sharedStrings.xml");
  std::filesystem::remove_all(dir);
  EXPECT_NE(sst.find("count=\"24\" uniqueCount=\"15\""), std::string::npos) << sst;
  EXPECT_NE(sst.find("<si><t>财务部</t></si><si><t>单号1</t></si><si><t>销售部</t></si>"),
            std::string::npos)
      << sst;
  EXPECT_NE(sst.find("<si><t xml:space=\"preserve\"> 留空 </t></si>"), std::string::npos) << sst;
}

}  // namespace
}  // namespace qm
