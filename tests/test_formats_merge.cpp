// A folder holding one table of every format the readers know, each with the same header, merges
// with the safe vertical merge into one result that holds every file's rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/dispatch.h"
#include "core/file_list.h"
#include "format_builders.h"
#include "test_engines_port.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/value_text.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace testing::biff12;

const char* const kOdfNamespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"";

// The header and one row of a table as OpenDocument table rows.
std::string OdfRows(int id, const std::string& name, double amount) {
  auto text = [](const std::string& t) {
    return "<table:table-cell office:value-type=\"string\"><text:p>" + t +
           "</text:p></table:table-cell>";
  };
  auto number = [](double v) {
    return "<table:table-cell office:value-type=\"float\" office:value=\"" + NumberText(v) + "\"/>";
  };
  return "<table:table table:name=\"Sheet1\"><table:table-row>" + text("编号") + text("名称") +
         text("金额") + "</table:table-row><table:table-row>" + number(id) + text(name) +
         number(amount) + "</table:table-row></table:table>";
}

std::unique_ptr<Workbook> Book(int id, const std::string& name, double amount) {
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  (void)ws.SetText(1, 1, "编号");
  (void)ws.SetText(1, 2, "名称");
  (void)ws.SetText(1, 3, "金额");
  (void)ws.SetNumber(2, 1, id);
  (void)ws.SetText(2, 2, name);
  (void)ws.SetNumber(2, 3, amount);
  return wb;
}

TEST(FormatsMerge, OneFileOfEachFormatMergesWithTheSafeVerticalMerge) {
  const fs::path dir = testing::FreshTestFolder("qm_formats_merge");
  const std::string d = dir.generic_string();
  ASSERT_TRUE(SaveWorkbookFile(*Book(1, "表格xls", 10), d + "/01.xls").ok());
  ASSERT_TRUE(SaveWorkbookFile(*Book(2, "表格xlsx", 20), d + "/02.xlsx").ok());
  testing::WriteZip(
      d + "/03.ods",
      {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
       {"content.xml", std::string("<office:document-content") + kOdfNamespaces +
                           "><office:body><office:spreadsheet>" + OdfRows(3, "表格ods", 30) +
                           "</office:spreadsheet></office:body>"
                           "</office:document-content>"}});
  std::ofstream(dir / "04.fods") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document"
                                 << kOdfNamespaces
                                 << " office:mimetype=\"application/vnd.oasis.opendocument."
                                    "spreadsheet\"><office:body><office:spreadsheet>"
                                 << OdfRows(4, "表格fods", 40)
                                 << "</office:spreadsheet></office:body></office:document>";
  // An export named .xls that is an XML Spreadsheet.
  std::ofstream(dir / "05.xls")
      << "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
         "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"Sheet1\">"
         "<Table><Row><Cell><Data ss:Type=\"String\">编号</Data></Cell><Cell><Data "
         "ss:Type=\"String\">名称</Data></Cell><Cell><Data ss:Type=\"String\">金额</Data></Cell>"
         "</Row><Row><Cell><Data ss:Type=\"Number\">5</Data></Cell><Cell><Data ss:Type=\"String\">"
         "表格xml</Data></Cell><Cell><Data ss:Type=\"Number\">50</Data></Cell></Row></Table>"
         "</Worksheet></Workbook>";
  testing::XlsbBook xlsb;
  xlsb.strings = {"编号", "名称", "金额", "表格xlsb"};
  xlsb.sheets = {
      {"Sheet1", RowHdr(0) + Rec(0x07, CellHead(0) + U32(0)) + Rec(0x07, CellHead(1) + U32(1)) +
                     Rec(0x07, CellHead(2) + U32(2)) + RowHdr(1) + Rec(0x05, CellHead(0) + F64(6)) +
                     Rec(0x07, CellHead(1) + U32(3)) + Rec(0x05, CellHead(2) + F64(60))}};
  testing::WriteZip(d + "/06.xlsb", testing::XlsbParts(xlsb));
  ASSERT_TRUE(SaveWorkbookFile(*Book(7, "表格et", 70), d + "/07.xls").ok());
  fs::rename(dir / "07.xls", dir / "07.et");

  MergeRequest request = testing::SourceRequest();
  request.folder = d;
  // The folder's own listing: every one of these is listed.
  request.files = ListWorkbooks(d);
  ASSERT_EQ(request.files, (std::vector<std::string>{"01.xls", "02.xlsx", "03.ods", "04.fods",
                                                     "05.xls", "06.xlsb", "07.et"}));
  DiskStore store;
  testing::ScriptedPort port;
  Presenter presenter{port};
  HeaderState header;
  MergeContext ctx{request, port, presenter, header, store};
  RunResult r = RunChoice(DispatchChoice{Engine::kSafeMerge, VerticalMode::kAppend}, ctx);
  ASSERT_EQ(r.outcome, Outcome::kDone) << port.log;
  ASSERT_EQ(port.outcomes.size(), 7u);
  for (const TableOutcome& o : port.outcomes)
    EXPECT_TRUE(o.status == TableStatus::kTemplate || o.status == TableStatus::kMerged)
        << o.name << " " << o.reason;
  auto result = ReadWorkbookFile(d + "/合并结果/合并结果.xls");
  ASSERT_TRUE(result.ok()) << result.error().detail;
  const Worksheet& ws = *(*result)->Worksheets(1);
  EXPECT_EQ(ws.Cells(1, 2).text, "名称");
  const char* names[] = {"表格xls", "表格xlsx", "表格ods", "表格fods",
                         "表格xml", "表格xlsb", "表格et"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(ws.Cells(i + 2, 1).number, i + 1);
    EXPECT_EQ(ws.Cells(i + 2, 2).text, names[i]);
    EXPECT_EQ(ws.Cells(i + 2, 3).number, (i + 1) * 10);
  }
  EXPECT_TRUE(ws.Cells(9, 1).IsBlank());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
