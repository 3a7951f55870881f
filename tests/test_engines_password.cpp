// Protected sources in the engines: the password box through the port, wrong answers asked
// again, Cancel skipping the file, and a password that worked tried first from then on (by the
// read-ahead too).
#include <map>
#include <mutex>
#include <thread>

#include "test_engines_port.h"

namespace qm::testing {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kSecret = "秘钥-7Q";

Rows Table(const char* tag, int n, int first_id = 1) {
  Rows rows{{"编号", "姓名", "金额"}};
  for (int i = 0; i < n; ++i)
    rows.push_back({first_id + i, std::string(tag) + std::to_string(i + 1), (i + 1) * 10});
  return rows;
}

// What the store tried and what the user was told, in one order across threads.
struct Journal {
  std::mutex m;
  std::vector<std::string> lines;
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(m);
    lines.push_back(line);
  }
};

// A store whose locked files open only with their password, refused the way the readers refuse
// a protected workbook: each distinct password once, the default first, and slow tries asked
// about first. Every read is counted with the passwords it was given, every try journaled.
class LockedStore : public MemoryStore {
 public:
  std::map<std::string, std::string> locks;  // path -> password
  std::map<std::string, uint64_t> rounds;    // path -> hash rounds per try (default: few)
  std::vector<std::pair<std::string, std::vector<std::string>>> reads;
  Journal* journal = nullptr;

  Result<std::unique_ptr<Workbook>> Read(const std::string& path, const ReadOptions& options,
                                         std::string* used_password) override {
    {
      std::lock_guard<std::mutex> lock(m_);
      reads.emplace_back(path, options.passwords);
    }
    auto lock = locks.find(path);
    if (lock == locks.end()) return MemoryStore::Read(path, options, used_password);
    const std::vector<std::string> tries = PasswordsToTry(options);
    auto slow = rounds.find(path);
    if (slow != rounds.end() && SlowTries(slow->second, tries.size()) &&
        options.before_slow_tries && !options.before_slow_tries())
      return TriesPutOff(path);
    for (const std::string& p : tries) {
      if (journal) journal->Add("try " + path + " " + p);
      if (p == lock->second) {
        auto r = MemoryStore::Read(path, options, used_password);
        if (used_password) *used_password = p;
        return r;
      }
    }
    return MakeError(ErrorCode::kWrongPassword, path + ": the password is wrong or missing");
  }
  int ReadsOf(const std::string& path) const {
    int n = 0;
    for (const auto& r : reads) n += r.first == path ? 1 : 0;
    return n;
  }

 private:
  std::mutex m_;
};

// Notices are journaled with the thread that gave them.
class NoticePort : public ScriptedPort {
 public:
  Journal* journal = nullptr;
  std::vector<std::string> notices;
  std::vector<std::thread::id> notice_threads;
  void ShowNotice(const std::string& line) override {
    notices.push_back(line);
    notice_threads.push_back(std::this_thread::get_id());
    if (journal) journal->Add("notice " + line);
  }
};

struct LockedBench {
  LockedStore store;
  MergeRequest request = SourceRequest();
  NoticePort port;
  Presenter presenter{port};
  HeaderState header;
  MergeContext ctx{request, port, presenter, header, store};
  Journal journal;

  LockedBench() {
    store.journal = &journal;
    port.journal = &journal;
  }
  void Add(const std::string& name, const Rows& rows, const std::string& password = {}) {
    store.Put("/src/" + name, Book(rows));
    if (!password.empty()) store.locks["/src/" + name] = password;
    request.files.push_back(name);
  }
  const Worksheet* Saved(const std::string& name = "合并结果.xls") const {
    const Workbook* wb = store.Get("/src/合并结果/" + name);
    return wb ? wb->Worksheets(1) : nullptr;
  }
  std::vector<Dialog> PasswordDialogs() const {
    std::vector<Dialog> out;
    for (const Dialog& d : port.dialogs)
      if (d.kind == "password") out.push_back(d);
    return out;
  }
  // The journal's lines about one file: its tries and its notice.
  std::vector<std::string> JournalOf(const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& l : journal.lines)
      if (l.find(name) != std::string::npos) out.push_back(l);
    return out;
  }
  // Nothing the user sees or the run records holds the secret.
  void ExpectSecretNowhere() const {
    EXPECT_EQ(port.log.find(kSecret), std::string::npos) << port.log;
    for (const Dialog& d : port.dialogs) {
      EXPECT_EQ(d.text.find(kSecret), std::string::npos) << d.text;
      EXPECT_EQ(d.answer.find(kSecret), std::string::npos) << d.answer;
    }
    for (const std::string& s : port.status) EXPECT_EQ(s.find(kSecret), std::string::npos) << s;
    for (const std::string& s : port.notices) EXPECT_EQ(s.find(kSecret), std::string::npos) << s;
  }
};

RunResult RunEngine(int engine, LockedBench& b) {
  switch (engine) {
    case 0:
      b.port.inputs = {"1"};
      return FastMerge(VerticalMode::kAppend, b.ctx);
    case 1:
      return SafeMerge(VerticalMode::kAppend, b.ctx);
    default:
      b.port.inputs = {"1"};
      return SmartMerge(SmartMode::kBoth, b.ctx);
  }
}

TEST(PasswordTest, WrongAnswerIsAskedAgainAndTheRightOneOpensThisAndTheNextFile) {
  for (int engine = 0; engine < 3; ++engine) {
    SCOPED_TRACE(engine);
    LockedBench b;
    b.Add("a.xls", Table("a", 1, 1));
    b.Add("b.xls", Table("b", 1, 2), kSecret);
    b.Add("c.xls", Table("c", 1, 3), kSecret);
    b.port.password_answers = {"猜的", kSecret};
    RunResult r = RunEngine(engine, b);
    ASSERT_EQ(r.outcome, Outcome::kDone) << b.port.log;

    // Asked for b twice, the second time told the first answer was wrong; c was never asked.
    const std::vector<Dialog> asked = b.PasswordDialogs();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "b.xls 受密码保护，请输入打开密码：");
    EXPECT_EQ(asked[1].text, "b.xls 的密码不对，请重新输入打开密码：");
    EXPECT_EQ(asked[0].title, "合并");
    EXPECT_EQ(b.port.password_files, (Lines{"b.xls", "b.xls"}));
    for (const TableOutcome& o : b.port.outcomes)
      EXPECT_NE(o.status, TableStatus::kUnreadable) << o.name;
    EXPECT_EQ(b.port.log.find("无法读取"), std::string::npos) << b.port.log;
    const std::string result = engine < 2 ? "合并结果.xls" : "智能合并结果.xls";
    ASSERT_NE(b.Saved(result), nullptr);
    EXPECT_EQ(b.Saved(result)->UsedRange().RowsCount(), 4);
    b.ExpectSecretNowhere();
  }
}

TEST(PasswordTest, CancelSkipsTheFileAsUnreadableAndAProtectedTemplateEndsTheRun) {
  {
    LockedBench b;
    b.Add("a.xls", Table("a", 1, 1));
    b.Add("b.xls", Table("b", 1, 2), kSecret);
    b.Add("c.xls", Table("c", 1, 3));
    b.port.password_answers = {"猜的", std::nullopt};
    RunResult r = SafeMerge(VerticalMode::kAppend, b.ctx);
    ASSERT_EQ(r.outcome, Outcome::kDone);
    ASSERT_EQ(b.port.outcomes.size(), 3u);
    EXPECT_EQ(b.port.outcomes[1].status, TableStatus::kUnreadable);
    EXPECT_EQ(b.port.outcomes[1].code, "password");
    EXPECT_EQ(b.port.outcomes[1].reason, "文件受密码保护，密码不对或未提供");
    EXPECT_EQ(b.port.outcomes[2].status, TableStatus::kMerged);
    const Lines lines = b.port.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "无法读取，已跳过：b.xls（文件受密码保护，密码不对或未提供）"),
              lines.end())
        << b.port.log;
    ASSERT_EQ(b.PasswordDialogs().size(), 2u);
    EXPECT_EQ(b.PasswordDialogs()[1].answer, "<cancel>");
    EXPECT_EQ(b.Saved()->UsedRange().RowsCount(), 3);
  }
  {
    LockedBench b;
    b.Add("a.xls", Table("a", 1, 1), kSecret);
    b.Add("b.xls", Table("b", 1, 2));
    RunResult r = SafeMerge(VerticalMode::kAppend, b.ctx);
    EXPECT_EQ(r.outcome, Outcome::kFailed);
    ASSERT_EQ(b.PasswordDialogs().size(), 1u);
    EXPECT_EQ(b.PasswordDialogs()[0].text, "a.xls 受密码保护，请输入打开密码：");
    EXPECT_EQ(b.port.dialogs.back().text, "合并失败：/src/a.xls：文件受密码保护，密码不对或未提供");
    ASSERT_FALSE(b.port.outcomes.empty());
    EXPECT_EQ(b.port.outcomes[0].code, "password");
    EXPECT_EQ(b.Saved(), nullptr);
  }
}

TEST(PasswordTest, FrontEndPasswordsAreTriedUnaskedAndTheOneThatWorkedMovesToTheFront) {
  LockedBench b;
  std::vector<std::string> known = {"旧的", kSecret};
  b.request.passwords = &known;
  b.Add("a.xls", Table("a", 1, 1));
  b.Add("b.xls", Table("b", 1, 2), kSecret);
  b.Add("c.xls", Table("c", 1, 3), kSecret);
  b.Add("d.xls", Table("d", 1, 4), "别的");
  b.port.password_answers = {"别的"};
  b.port.inputs = {"1"};
  RunResult r = FastMerge(VerticalMode::kAppend, b.ctx);
  ASSERT_EQ(r.outcome, Outcome::kDone);
  EXPECT_EQ(b.port.password_files, (Lines{"d.xls"}));
  // The front end keeps what the user typed, the latest success first.
  EXPECT_EQ(known, (Lines{"别的", kSecret, "旧的"}));
  // The read-ahead of c was made with the password b had just moved to the front, and handed
  // out as it was: c was read once.
  EXPECT_EQ(b.store.ReadsOf("/src/c.xls"), 1);
  for (const auto& read : b.store.reads) {
    if (read.first == "/src/c.xls") {
      EXPECT_EQ(read.second.front(), kSecret);
    }
  }
  EXPECT_EQ(b.Saved()->UsedRange().RowsCount(), 5);
  b.ExpectSecretNowhere();
}

TEST(PasswordTest, ReadAheadWithOtherPasswordsIsReadAgainWhenItWasRefused) {
  LockedStore store;
  store.Put("/b.xls", Book(Rows{{"b"}}));
  store.locks["/b.xls"] = kSecret;
  WorkbookReader reader(store);
  reader.Prefetch("/b.xls");
  ReadOptions with;
  with.passwords = {kSecret};
  std::string used = "stale";
  auto b = reader.Read("/b.xls", with, &used);
  ASSERT_TRUE(b);
  EXPECT_EQ(used, kSecret);
  EXPECT_EQ(store.ReadsOf("/b.xls"), 2);

  // Refused: nothing counts as used.
  auto refused = reader.Read("/b.xls", {}, &used);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, ErrorCode::kWrongPassword);
  EXPECT_EQ(used, "");
}

// Password tries of a slow file (a high spin count) held the run for many seconds with no sign of
// life, and the read-ahead met them on a thread that must not talk to the user.
TEST(PasswordTest, SlowTriesAreAnnouncedOnceOnTheRunsThreadBeforeTheyStart) {
  for (int engine = 0; engine < 3; ++engine) {
    SCOPED_TRACE(engine);
    LockedBench b;
    std::vector<std::string> known = {"旧的", kSecret};
    b.request.passwords = &known;
    b.Add("a.xls", Table("a", 1, 1));
    b.Add("b.xls", Table("b", 1, 2), kSecret);  // met by the read-ahead
    b.Add("c.xls", Table("c", 1, 3), kSecret);
    b.Add("d.xls", Table("d", 1, 4), kSecret);
    // Three distinct passwords each: the default and the two known ones.
    b.store.rounds["/src/b.xls"] = 10000000;
    b.store.rounds["/src/c.xls"] = 100000;
    b.store.rounds["/src/d.xls"] = 1000000;
    ASSERT_EQ(RunEngine(engine, b).outcome, Outcome::kDone) << b.port.log;

    EXPECT_EQ(b.port.notices, (Lines{"正在尝试密码：b.xls", "正在尝试密码：d.xls"}));
    for (std::thread::id t : b.port.notice_threads) EXPECT_EQ(t, std::this_thread::get_id());
    // Told before the first try, which the read-ahead left to the run.
    EXPECT_EQ(b.JournalOf("b.xls"),
              (Lines{"notice 正在尝试密码：b.xls", "try /src/b.xls VelvetSweatshop",
                     "try /src/b.xls 旧的", "try /src/b.xls " + std::string(kSecret)}));
    EXPECT_EQ(b.JournalOf("c.xls"),
              (Lines{"try /src/c.xls VelvetSweatshop", "try /src/c.xls " + std::string(kSecret)}));
    EXPECT_EQ(b.store.ReadsOf("/src/c.xls"), 1);
    EXPECT_TRUE(b.port.password_files.empty());
    for (const TableOutcome& o : b.port.outcomes)
      EXPECT_NE(o.status, TableStatus::kUnreadable) << o.name;
    // The notice is no line of the log.
    EXPECT_EQ(b.port.log.find("正在尝试密码"), std::string::npos) << b.port.log;
    b.ExpectSecretNowhere();
  }
}

// Every answer in the password box cost a whole key derivation, the default password's and the
// known ones' included, however often the same wrong password was given.
TEST(PasswordTest, NoPasswordIsTriedTwiceOnOneFileHoweverOftenItIsGiven) {
  LockedBench b;
  std::vector<std::string> known = {"猜的", "猜的", kDefaultPassword};
  b.request.passwords = &known;
  b.Add("a.xls", Table("a", 1, 1));
  b.Add("b.xls", Table("b", 1, 2), kSecret);
  b.store.rounds["/src/b.xls"] = 10000000;
  b.port.password_answers = {"猜的", "错的", "错的", kDefaultPassword, kSecret};
  ASSERT_EQ(SafeMerge(VerticalMode::kAppend, b.ctx).outcome, Outcome::kDone);

  EXPECT_EQ(
      b.JournalOf("b.xls"),
      (Lines{"notice 正在尝试密码：b.xls", "try /src/b.xls VelvetSweatshop", "try /src/b.xls 猜的",
             "try /src/b.xls 错的", "try /src/b.xls " + std::string(kSecret)}));
  // Asked five times: every answer after the first was "wrong", the repeats without a try.
  const std::vector<Dialog> asked = b.PasswordDialogs();
  ASSERT_EQ(asked.size(), 5u);
  EXPECT_EQ(asked[0].text, "b.xls 受密码保护，请输入打开密码：");
  for (size_t i = 1; i < asked.size(); ++i)
    EXPECT_EQ(asked[i].text, "b.xls 的密码不对，请重新输入打开密码：");
  EXPECT_EQ(b.Saved()->UsedRange().RowsCount(), 3);
  b.ExpectSecretNowhere();
}

}  // namespace
}  // namespace qm::testing
