// Reading never hangs and never aborts: sources that are no regular file are refused before a
// read can block, files over the size cap before they are read, and models that grow past the
// memory budget fail the read or paste that grew them, from the readers up to the CLI.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "core/dispatch.h"
#include "test_engines_port.h"
#include "test_support.h"
#include "workbook/io.h"
#include "workbook/memory_budget.h"
#include "workbook/store.h"

// AddressSanitizer, under GCC or Clang.
#if defined(__SANITIZE_ADDRESS__)
#define QM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_ASAN 1
#endif
#endif

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::Bench;

class ReadLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ::qm::testing::FreshTestFolder("qm_limits"); }
  void TearDown() override {
    memory::SetBudgetForTesting(0);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Leaves `headroom` bytes of budget above what the process holds now.
void LowerBudget(size_t headroom) {
  memory::SetBudgetForTesting(memory::InUse() + headroom);
}

// A sheet of blank cells that each carry a format: no value, yet every one is stored, which is
// how a small file comes to need gigabytes.
std::unique_ptr<Workbook> StyledBlanks(int rows, int cols) {
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  Xf x;
  x.num_fmt = 2;
  const uint16_t style = wb->styles().AddXf(x);
  for (int c = 1; c <= cols; ++c) (void)ws.SetText(1, c, "列" + std::to_string(c));
  for (int r = 2; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) (void)ws.SetBlank(r, c, style);
  return wb;
}

// A sheet of distinct short texts: the shared-string table of the file is as long as the sheet.
std::unique_ptr<Workbook> DistinctTexts(int rows, int cols) {
  auto wb = std::make_unique<Workbook>();
  Worksheet& ws = wb->AddWorksheet("Sheet1");
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) (void)ws.SetText(r, c, std::to_string(r * cols + c));
  return wb;
}

using testing::Slurp;

#ifndef _WIN32
struct Exit {
  bool exited = false;  // false: killed by a signal (an abort is 134 from a shell)
  int status = -1;
  std::string err;
};

// Runs a shell command line with standard error captured. `timeout` ends a run that hangs, so a
// regression fails the test instead of stalling the suite.
Exit Shell(const std::string& command, const fs::path& err_file) {
  std::string cmd =
      "timeout 120 sh -c '" + command + "' </dev/null >/dev/null 2>'" + err_file.string() + "'";
  int rc = std::system(cmd.c_str());
  Exit e;
  e.exited = WIFEXITED(rc);
  e.status = e.exited ? WEXITSTATUS(rc) : -1;
  e.err = Slurp(err_file);
  return e;
}

#endif

// --- Sources that are no regular file ------------------------------------------------------

#ifndef _WIN32  // named pipes, devices and sockets in the file system, and POSIX modes
TEST_F(ReadLimitsTest, PipesDevicesSocketsAndFoldersAreRefusedWithoutBlocking) {
  const std::string fifo = Path("x.xls");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  auto r = ReadWorkbookFile(fifo);  // hung forever waiting for a writer
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNotRegular);
  EXPECT_EQ(r.error().detail, fifo + ": cannot open the file (it is a named pipe)");
  EXPECT_EQ(ErrorReason(r.error(), fifo), "不是普通文件（是命名管道）");
  EXPECT_STREQ(ErrorCodeName(r.error().code), "not-regular");

  auto dev = ReadWorkbookFile("/dev/zero");  // would have filled memory until the abort
  ASSERT_FALSE(dev);
  EXPECT_EQ(dev.error().code, ErrorCode::kNotRegular);
  EXPECT_NE(dev.error().detail.find("/dev/zero: cannot open the file (it is a device)"),
            std::string::npos);

  const std::string sock_path = Path("s.xlsx");
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  auto s = ReadWorkbookFile(sock_path);
  ::close(sock);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().code, ErrorCode::kNotRegular);
  EXPECT_NE(s.error().detail.find("socket"), std::string::npos) << s.error().detail;

  fs::create_directories(dir_ / "folder.xlsx");
  auto f = ReadWorkbookFile(Path("folder.xlsx"));
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().code, ErrorCode::kNotRegular);
  EXPECT_EQ(ErrorReason(f.error(), Path("folder.xlsx")), "不是普通文件（是文件夹）");
}

TEST_F(ReadLimitsTest, OpenFailuresCarryTheirCodeAndTheSystemsWords) {
  auto missing = ReadWorkbookFile(Path("none.xls"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::kMissing);
  EXPECT_EQ(missing.error().detail,
            Path("none.xls") + ": cannot open the file (No such file or directory)");
  EXPECT_EQ(ErrorReason(missing.error(), Path("none.xls")), "文件不存在");

  auto under_file = ReadWorkbookFile(Path("none.xls/a.xls"));
  ASSERT_FALSE(under_file);
  EXPECT_EQ(under_file.error().code, ErrorCode::kMissing);

  std::ofstream(Path("locked.xls")) << "x";
  fs::permissions(Path("locked.xls"), fs::perms::none);
  if (::access(Path("locked.xls").c_str(), R_OK) == 0)
    GTEST_SKIP() << "the file mode does not stop this user (root)";
  auto locked = ReadWorkbookFile(Path("locked.xls"));
  ASSERT_FALSE(locked);
  EXPECT_EQ(locked.error().code, ErrorCode::kPermission);
  EXPECT_NE(locked.error().detail.find("Permission denied"), std::string::npos);
  EXPECT_EQ(ErrorReason(locked.error(), Path("locked.xls")), "没有读写权限");
}

TEST_F(ReadLimitsTest, ReadAheadOfAPipeReturnsTheRefusalInsteadOfBlockingItsThread) {
  const std::string fifo = Path("b.xls");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  DiskStore disk;
  WorkbookReader reader(disk);
  ReadOptions first;
  first.first_worksheet_only = true;
  reader.Prefetch(fifo, first);
  auto r = reader.Read(fifo, first);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNotRegular);
  // A prefetch that is dropped must not block closing either.
  reader.Prefetch(fifo, first);
  reader.Drop();
}

#endif

// --- The size cap --------------------------------------------------------------------------

TEST_F(ReadLimitsTest, FileOverTheSizeCapIsRefusedBeforeItIsRead) {
  const std::string big = Path("b.xls");
  // Sparse: no disk space is used, and reading it whole took gigabytes and aborted.
  std::ofstream(dir_ / "b.xls").put('x');
  fs::resize_file(dir_ / "b.xls", memory::kMaxSourceBytes + 1);
  const size_t before = memory::InUse();
  auto r = ReadWorkbookFile(big);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kTooLarge);
  EXPECT_EQ(r.error().note, "超过1 GiB");
  EXPECT_EQ(ErrorReason(r.error(), big), "文件太大（超过1 GiB）");
  EXPECT_EQ(r.error().detail.rfind(big + ": ", 0), 0u) << r.error().detail;
  EXPECT_EQ(memory::InUse(), before);
}

// --- The memory budget ---------------------------------------------------------------------

TEST_F(ReadLimitsTest, SheetChargesFollowItsGrowthAndAreGivenBackWhenItGoes) {
  const size_t baseline = memory::InUse();
  {
    Worksheet a("a", nullptr);
    for (int r = 1; r <= 20000; ++r)
      for (int c = 1; c <= 10; ++c) a.AppendNumber(r, c, r * c, 0);
    const size_t charged = a.ChargedBytes();
    EXPECT_GE(charged, size_t{200000} * sizeof(Cell));
    EXPECT_LE(charged, a.MemoryBytes() * 2);
    // Up to one batch may wait uncharged.
    EXPECT_GE(memory::InUse() + (size_t{1} << 20), baseline + charged);

    Worksheet b = a;  // a copy holds as much again
    EXPECT_GE(memory::InUse() + (size_t{2} << 20), baseline + 2 * charged);
    b.DeleteRows(1, 19000);  // deleting gives most of it back
    EXPECT_LT(b.ChargedBytes(), charged / 4);
    (void)a.PasteFrom(b, Range{1, 1, 1000, 10}, 20001, 1);
  }
  EXPECT_EQ(memory::InUse(), baseline);
}

TEST_F(ReadLimitsTest, WorkbookPastTheBudgetFailsTheReadWithNoMemoryNamingTheFile) {
  for (const char* name : {"blanks.xlsx", "blanks.xls", "texts.xlsx", "texts.xls"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    const bool texts = name[0] == 't';
    ASSERT_TRUE(
        SaveWorkbookFile(texts ? *DistinctTexts(20000, 30) : *StyledBlanks(20000, 30), path));
    const size_t baseline = memory::InUse();
    LowerBudget(size_t{2} << 20);
    auto r = ReadWorkbookFile(path);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
    EXPECT_EQ(r.error().detail, path + ": not enough memory to hold the workbook");
    EXPECT_EQ(ErrorReason(r.error(), path).rfind("内存不足（", 0), 0u);
    // The partly read model was dropped and its charge with it.
    EXPECT_EQ(memory::InUse(), baseline);

    memory::SetBudgetForTesting(0);
    auto ok = ReadWorkbookFile(path);
    ASSERT_TRUE(ok) << ok.error().detail;
    EXPECT_EQ((*ok)->Worksheets(1)->CellCount(), size_t{20000} * 30);
  }
}

TEST_F(ReadLimitsTest, ResultGrowingPastTheBudgetFailsThePasteWithNoMemory) {
  auto src = StyledBlanks(30000, 20);
  const Worksheet& from = *src->Worksheets(1);
  Workbook result;
  result.AddWorksheet("Sheet1");
  LowerBudget(size_t{4} << 20);
  Status st = result.Worksheets(1)->PasteFrom(from, from.UsedRange(), 1, 1);
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().code, ErrorCode::kNoMemory);
  EXPECT_NE(st.error().detail.find("not enough memory to hold the workbook"), std::string::npos);
  // The setters report the same instead of raising, once their growth is charged.
  Status set;
  for (int r = 40000; r < 200000 && set; ++r) set = result.Worksheets(1)->SetNumber(r, 1, r);
  EXPECT_EQ(set.error().code, ErrorCode::kNoMemory);

  memory::SetBudgetForTesting(0);
  Workbook again;
  again.AddWorksheet("Sheet1");
  EXPECT_TRUE(again.Worksheets(1)->PasteFrom(from, from.UsedRange(), 1, 1));
  EXPECT_EQ(again.Worksheets(1)->CellCount(), size_t{30000} * 20);
}

// A source that alone passes the budget is skipped like any unreadable one; a result that
// outgrows it ends the run with the failure message.
TEST_F(ReadLimitsTest, SourcePastTheBudgetIsSkippedAndAResultPastItEndsTheRun) {
  {
    Bench b;
    b.Add("a.xls", StyledBlanks(2, 20));
    b.Add("b.xls", StyledBlanks(40000, 20));
    b.port.inputs = {"1"};
    LowerBudget(size_t{8} << 20);
    RunResult r = RunChoice(DispatchChoice{Engine::kFastMerge, VerticalMode::kAppend}, b.ctx);
    memory::SetBudgetForTesting(0);
    EXPECT_EQ(r.outcome, Outcome::kDone);
    ASSERT_EQ(b.port.outcomes.size(), 2u);
    EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kUnreadable);
    EXPECT_EQ(b.port.outcomes[1].code, "no-memory");
    EXPECT_EQ(b.port.outcomes[1].reason.rfind("内存不足", 0), 0u) << b.port.outcomes[1].reason;
  }
  // Many sources that each fit, whose rows together do not.
  Bench b;
  b.Add("a.xls", StyledBlanks(2, 20));
  for (int k = 0; k < 20; ++k) b.Add("b" + std::to_string(k) + ".xls", StyledBlanks(3000, 20));
  b.port.inputs = {"1"};
  LowerBudget(size_t{8} << 20);
  RunResult r = RunChoice(DispatchChoice{Engine::kFastMerge, VerticalMode::kAppend}, b.ctx);
  memory::SetBudgetForTesting(0);
  EXPECT_EQ(r.outcome, Outcome::kFailed) << b.port.log;
  ASSERT_FALSE(b.port.dialogs.empty());
  const std::string& text = b.port.dialogs.back().text;
  EXPECT_EQ(text.rfind("合并失败：/src/", 0), 0u) << text;
  EXPECT_NE(text.find("：内存不足"), std::string::npos) << text;
  EXPECT_FALSE(b.store.Has("/src/合并结果/合并结果.xls"));
}

// A store whose reads or saves run out of memory the way the allocator does.
class StarvedStore : public MemoryStore {
 public:
  bool starve_reads = false;
  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options,
                                         std::string* used_password) override {
    if (starve_reads) throw std::bad_alloc();
    return MemoryStore::Read(path, options, used_password);
  }
  Result<SaveResult> Save(const Workbook&, const std::string&) override { throw std::bad_alloc(); }
};

TEST_F(ReadLimitsTest, OutOfMemoryInAReadAheadBecomesAnErrorNotAnAbort) {
  StarvedStore store;
  store.Put("/src/a.xls", StyledBlanks(3, 3));
  store.starve_reads = true;
  WorkbookReader reader(store);
  reader.Prefetch("/src/a.xls");
  auto r = reader.Read("/src/a.xls");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, ErrorCode::kNoMemory);
  EXPECT_EQ(r.error().detail, "/src/a.xls: not enough memory to hold the workbook");
  auto direct = reader.Read("/src/a.xls");
  ASSERT_FALSE(direct);
  EXPECT_EQ(direct.error().code, ErrorCode::kNoMemory);
}

TEST_F(ReadLimitsTest, OutOfMemoryEscapingAnEngineEndsTheRunWithAMessage) {
  StarvedStore store;
  MergeRequest request = testing::SourceRequest();
  testing::ScriptedPort port;
  Presenter presenter{port};
  HeaderState header;
  MergeContext ctx{request, port, presenter, header, store};
  store.Put("/src/a.xls", testing::Book({{"k", "v"}, {1, 2}}));
  store.Put("/src/b.xls", testing::Book({{"k", "v"}, {3, 4}}));
  request.files = {"a.xls", "b.xls"};
  port.inputs = {"1"};
  RunResult r = RunChoice(DispatchChoice{Engine::kFastMerge, VerticalMode::kAppend}, ctx);
  EXPECT_EQ(r.outcome, Outcome::kFailed);
  EXPECT_FALSE(r.result_path);
  ASSERT_FALSE(port.dialogs.empty());
  EXPECT_EQ(port.dialogs.back().title, "合并");
  EXPECT_EQ(port.dialogs.back().text.rfind("合并失败：内存不足（", 0), 0u)
      << port.dialogs.back().text;
}

#ifndef _WIN32  // the command line run through the POSIX shell, pipes and ulimit
// --- The command line ----------------------------------------------------------------------

TEST_F(ReadLimitsTest, CliRefusesAListedPipeAsTemplateOrLaterSourceInsteadOfHanging) {
  ASSERT_TRUE(SaveWorkbookFile(*testing::Book({{"k", "v"}, {1, 2}}), Path("01月.xls")));
  ASSERT_EQ(::mkfifo(Path("x.xls").c_str(), 0600), 0);
  const std::string cli = QM_CLI_PATH;
  // As the template the pipe ends the run; as a later source it is skipped (exit 3).
  for (const char* files : {"01月.xls,x.xls", "x.xls,01月.xls"}) {
    Exit e = Shell(cli + " " + dir_.string() + " --kind vertical --variant safe --header-rows 1" +
                       " --files " + files,
                   dir_ / "err.txt");
    ASSERT_TRUE(e.exited) << files;
    const bool first = files[0] == 'x';
    EXPECT_EQ(e.status, first ? 2 : 3) << files << e.err;
    EXPECT_NE(e.err.find(first ? "x.xls：不是普通文件（是命名管道）" : "无法读取跳过1个"),
              std::string::npos)
        << e.err;
  }
  Exit dump = Shell(cli + " --dump " + Path("x.xls"), dir_ / "err.txt");
  EXPECT_EQ(dump.status, 2);
  EXPECT_EQ(dump.err, "无法读取：" + Path("x.xls") + "（不是普通文件（是命名管道））\n");
}

TEST_F(ReadLimitsTest, CliUnderAnAddressSpaceLimitEndsWithAMessageNotAnAbort) {
#ifdef QM_ASAN
  // AddressSanitizer reserves terabytes of shadow memory at start-up, so the CLI cannot even
  // start under an address-space limit in such a build.
  GTEST_SKIP() << "sanitizer builds cannot run under an address-space limit";
#endif
  // 2.4 million styled blanks: a few MiB on disk, far more as cells. Four of them under a
  // 256 MiB address space went to std::bad_alloc and exit 134.
  ASSERT_TRUE(SaveWorkbookFile(*StyledBlanks(120000, 20), Path("bomb.xlsx")));
  const std::string cli = QM_CLI_PATH;
  for (const char* kind : {"--kind vertical --variant fast", "--kind overwrite --variant safe"}) {
    Exit e = Shell("ulimit -v 262144; exec " + cli + " " + dir_.string() + " " + kind +
                       " --header-rows 1 --key 1 --files bomb.xlsx,bomb.xlsx,bomb.xlsx,bomb.xlsx",
                   dir_ / "err.txt");
    ASSERT_TRUE(e.exited) << kind;
    EXPECT_EQ(e.status, 2) << kind << e.err;
    EXPECT_TRUE(e.err.find("内存不足") != std::string::npos ||
                e.err.find("not enough memory") != std::string::npos)
        << kind << e.err;
  }
  Exit dump =
      Shell("ulimit -v 65536; exec " + cli + " --dump " + Path("bomb.xlsx"), dir_ / "err.txt");
  ASSERT_TRUE(dump.exited);
  EXPECT_EQ(dump.status, 2) << dump.err;
  EXPECT_NE(dump.err.find("（内存不足"), std::string::npos) << dump.err;
}

#endif

}  // namespace
}  // namespace qm
