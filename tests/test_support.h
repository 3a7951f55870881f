// What several test files share: skipping only where a missing tool or data set may be missing,
// and LibreOffice conversions that survive a slow or failed first start.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace qm::testing {

// Continuous integration (CI=true) installs every tool and data set the tests use
// (tools/install-deps.sh test), so there a missing one is a broken machine, not a reason to
// stop testing quietly.
inline bool InCi() {
  const char* v = std::getenv("CI");
  return v != nullptr && std::string_view(v) == "true";
}

// Whether a missing independent checker (see SKIP_WITHOUT_CHECKER) is a failure here.
inline bool CheckersRequired() {
#ifdef _WIN32
  return false;
#else
  return InCi();
#endif
}

// For names of temporary folders that runs side by side must not share.
inline int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// An empty folder for the running test alone: the system's temporary folder, then
// "<prefix>_<process>_<test name>", emptied first.
inline std::filesystem::path FreshTestFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / (prefix + "_" + std::to_string(ProcessId()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Runs a shell command; its exit status goes to *status (-1 when it did not exit normally) and
// its standard output (and standard error, when the command redirects it) is returned. The
// commands are POSIX shell: on Windows (cmd.exe) the independent checkers they start are not
// there, and the tests that need them skip.
inline std::string Shell(const std::string& cmd, int* status = nullptr) {
  std::string out;
#ifdef _WIN32
  FILE* p = ::_popen(cmd.c_str(), "r");
#else
  FILE* p = ::popen(cmd.c_str(), "r");
#endif
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
#ifdef _WIN32
  int rc = ::_pclose(p);
  if (status) *status = rc;
#else
  int rc = ::pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  return out;
}

// The whole content of a file (empty when it cannot be read).
inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline bool HaveLibreOffice() {
  int st = 0;
  Shell("command -v soffice >/dev/null 2>&1", &st);
  return st == 0;
}

struct Conversion {
  bool ok = false;      // every output file is there
  std::string console;  // what soffice printed, every attempt, for the failure message
  int attempts = 0;
};

// Converts `files` (relative to `dir`) with LibreOffice into dir/`outdir`, `filter` being a
// --convert-to argument such as "csv:Text - txt - csv (StarCalc):44,34,76". Each attempt runs on
// a profile of its own that recalculates every formula on load (out of the box LibreOffice keeps
// the cached values of .xlsx files, which would make comparing with them pointless). An attempt
// that leaves an output missing is LibreOffice failing to start or to load, and is tried again,
// up to three times; what the files then hold is for the caller to judge, never retried.
inline Conversion ConvertWithLibreOffice(const std::filesystem::path& dir,
                                         const std::vector<std::string>& files,
                                         const std::string& filter,
                                         const std::string& outdir = "out",
                                         const std::string& infilter = "") {
  namespace fs = std::filesystem;
  static std::atomic<int> profiles{0};
  const std::string ext = filter.substr(0, filter.find(':'));
  Conversion c;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    c.attempts = attempt;
    const fs::path profile =
        dir / ("lo-profile-" + std::to_string(ProcessId()) + "-" + std::to_string(profiles++));
    fs::remove_all(profile);
    fs::create_directories(profile / "user");
    std::ofstream(profile / "user" / "registrymodifications.xcu")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop "
           "oor:name=\"OOXMLRecalcMode\" oor:op=\"fuse\"><value>0</value></prop></item>\n"
           "</oor:items>\n";
    std::string cmd = "cd '" + dir.string() +
                      "' && timeout 180 soffice --headless -env:UserInstallation=file://" +
                      profile.string() + " --convert-to '" + filter + "' --outdir '" + outdir + "'";
    if (!infilter.empty()) cmd += " --infilter='" + infilter + "'";
    for (const auto& f : files) cmd += " '" + f + "'";
    int status = 0;
    std::string out = Shell(cmd + " 2>&1", &status);
    c.console += "--- attempt " + std::to_string(attempt) + ", exit status " +
                 std::to_string(status) + ":\n" + out;
    fs::remove_all(profile);
    c.ok = true;
    for (const auto& f : files)
      if (!fs::exists(dir / outdir / (fs::path(f).stem().string() + "." + ext))) c.ok = false;
    if (c.ok) break;
  }
  return c;
}

}  // namespace qm::testing

// Skips the test where a tool or data set may be missing, fails it under CI=true.
#define SKIP_OR_FAIL(why) QM_SKIP_UNLESS_REQUIRED(::qm::testing::InCi(), why)

// For the independent checkers (LibreOffice, xlrd, openpyxl, msoffcrypto-tool): Linux programs,
// so the Windows build under Wine skips what needs them; the Linux run checks the same writers
// and readers with them.
#define SKIP_WITHOUT_CHECKER(why) QM_SKIP_UNLESS_REQUIRED(::qm::testing::CheckersRequired(), why)

#define QM_SKIP_UNLESS_REQUIRED(required, why)           \
  if (required)                                          \
    GTEST_FAIL() << (why) << " (required when CI=true)"; \
  else                                                   \
    GTEST_SKIP() << (why)
