// quillmere-cli: the merge engines without a window. The dialogs of one run are answered from the
// flags (or, for input boxes without a flag, on the terminal), the log goes to standard output,
// message boxes to standard error, and a JSON transcript of the run can be written at the end.
#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/check.h"
#include "cli/dump.h"
#include "cli/printable.h"
#include "cli/usage.h"
#include "core/dispatch.h"
#include "core/file_list.h"
#include "core/run_merge.h"
#include "core/run_summary.h"
#include "merge/engines.h"
#include "merge/texts.h"
#include "workbook/paths.h"
#include "workbook/result.h"
#include "workbook/temp_file.h"
#include "workbook/utf.h"

namespace {

using nlohmann::json;

constexpr int kExitDone = 0;
constexpr int kExitStopped = 1;
constexpr int kExitFailed = 2;
constexpr int kExitLeftOut = 3;  // done and saved, but a listed file was left out whole
constexpr int kExitUsage = 64;

bool StdinIsTerminal() {
#ifdef _WIN32
  // Not _isatty: it is true for every character device, NUL included, so `< NUL` in a script
  // would stop at a prompt. Only a console has a console mode.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

// The arguments after the program's name, in UTF-8. On Windows `argv` comes in the ANSI code
// page, where Chinese names turn into "?"; the UTF-16 command line has them whole.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  int n = 0;
  if (wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 1; i < n; ++i) {
      std::string& a = args.emplace_back();
      qm::Utf16ToUtf8 utf8(a);
      for (const wchar_t* u = w[i]; *u; ++u) utf8.Unit(static_cast<uint16_t>(*u));
      utf8.Finish();
    }
    LocalFree(w);
    return args;
  }
#endif
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

#ifdef _WIN32
// The console shows what the program prints as UTF-8, and gets its old code page back at exit:
// the setting belongs to the console window, which outlives the program.
UINT g_console_output_cp = 0, g_console_input_cp = 0;
void RestoreConsole() {
  if (g_console_output_cp) SetConsoleOutputCP(g_console_output_cp);
  if (g_console_input_cp) SetConsoleCP(g_console_input_cp);
}
void UseUtf8Console() {
  g_console_output_cp = GetConsoleOutputCP();
  g_console_input_cp = GetConsoleCP();
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  std::atexit(RestoreConsole);
}
#endif

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  size_t p = 0;
  for (;;) {
    size_t q = text.find("\r\n", p);
    out.push_back(text.substr(p, q == std::string::npos ? q : q - p));
    if (q == std::string::npos) return out;
    p = q + 2;
  }
}

// The command line's side of a run: its flags answer the questions (the terminal, when there is
// one, the input boxes not answered by a flag), the log goes to standard output, message boxes
// to standard error, and everything is kept for the transcript.
class CliFront : public qm::Answers, public qm::RunView {
 public:
  std::optional<std::string> header_rows, key;
  bool sorted = false;
  bool cancel = false;

  std::string log;
  std::vector<std::string> status;
  json dialogs = json::array();
  double max = 0, value = 0;

  // A message box with OK only, or a question with two buttons, shown on standard error.
  void Box(const std::string& text, const std::string& title, const char* kind,
           const char* answer) {
    std::cerr << "[" << qm::Printable(title, false) << "] " << qm::Printable(text, true)
              << std::endl;
    dialogs.push_back({{"kind", kind}, {"title", title}, {"text", text}, {"answer", answer}});
  }
  void Acknowledge(const qm::Notice& n) override { Box(n.text, n.title, "message", "OK"); }
  bool Confirm(const qm::Confirmation& q) override {
    Box(q.text, q.title, "question", cancel ? "Cancel" : "OK");
    return !cancel;
  }
  bool AnswerSorted(const qm::SortedQuestion& q) override {
    Box(q.text, q.title, "question", sorted ? "Yes" : "No");
    return sorted;
  }
  std::optional<std::string> AnswerHeaderRows(const qm::InputQuestion& q) override {
    return Input(header_rows, q.prompt, q.title, q.default_answer);
  }
  std::optional<std::string> AnswerKeyColumn(const qm::InputQuestion& q) override {
    return Input(key, q.prompt, q.title, q.default_answer);
  }

  std::optional<std::string> Input(const std::optional<std::string>& given,
                                   const std::string& prompt, const std::string& title,
                                   const std::string& default_answer) {
    std::optional<std::string> answer = given;
    std::cerr << "[" << qm::Printable(title, false) << "] " << qm::Printable(prompt, true);
    if (!given && StdinIsTerminal()) {
      std::cerr << " [" << qm::Printable(default_answer, false) << "] " << std::flush;
      std::string line;
      if (std::getline(std::cin, line))
        answer = line.empty() ? default_answer : line;
      else
        std::cerr << std::endl;
    } else {
      std::cerr << " > " << (answer ? qm::Printable(*answer, false) : std::string("（取消）"))
                << std::endl;
    }
    dialogs.push_back({{"kind", "input"},
                       {"title", title},
                       {"text", prompt},
                       {"default", default_answer},
                       {"answer", answer ? json(*answer) : json(nullptr)}});
    return answer;
  }

  // Appended lines are printed as they come; a replaced log is printed whole.
  void ReplaceLog(const std::string& text) override {
    for (const std::string& line : SplitLines(text))
      std::cout << qm::Printable(line, false) << "\n";
    std::cout << std::flush;
    log = text;
  }
  void AppendLog(const std::string& line) override {
    std::cout << qm::Printable(line, false) << std::endl;
    log += "\r\n" + line;
  }
  void ScrollLogToEnd() override {}

  void SetProgressMax(double m) override { max = m; }
  void SetProgressValue(double v) override { value = v; }

  void ClearStatus() override { status.clear(); }
  void PrintStatus(const std::string& line) override {
    status.push_back(line);
    std::cout << qm::Printable(line, false) << std::endl;
  }

  // Standard output shows the log; a notice of why the run waits is no line of it.
  void ShowNotice(const std::string& line) override {
    std::cerr << qm::Printable(line, false) << std::endl;
  }

  void ShowResult(const std::string& path) override {
    std::cerr << "结果文件：" << qm::Printable(path, false) << std::endl;
  }

  std::vector<qm::TableOutcome> outcomes;
  void ReportTable(const qm::TableOutcome& o) override { outcomes.push_back(o); }
};

const char* OutcomeName(qm::Outcome o) {
  switch (o) {
    case qm::Outcome::kDone:
      return "done";
    case qm::Outcome::kCancelled:
      return "cancelled";
    case qm::Outcome::kStopped:
    case qm::Outcome::kInterrupted:
      return "stopped";
    case qm::Outcome::kFailed:
      return "failed";
    case qm::Outcome::kEmpty:
      return "empty";
  }
  return "failed";
}

int ExitStatus(qm::Outcome o, const qm::RunSummary& summary) {
  switch (o) {
    case qm::Outcome::kDone:
      return qm::SomeFileLeftOut(summary) ? kExitLeftOut : kExitDone;
    case qm::Outcome::kFailed:
      return kExitFailed;
    default:
      return kExitStopped;
  }
}

// Whole numbers print without a decimal point.
json Number(double d) {
  if (d == static_cast<double>(static_cast<long long>(d))) return static_cast<long long>(d);
  return d;
}

// The by-name merge's account of a table, for the transcript; nothing for the other merges.
void AddByName(json& entry, const qm::TableOutcome& o) {
  if (!o.by_name) return;
  entry["columns_added"] = o.by_name->columns_added;
  entry["columns_missing"] = o.by_name->columns_missing;
  entry["rows_skipped_blank"] = o.by_name->rows_skipped_blank;
  entry["rows_skipped_total"] = o.by_name->rows_skipped_total;
}

// The transcript names each table's sheet when the run took others than the first.
void AddSheetsToTranscript(json& files, const std::vector<qm::TableOutcome>& outcomes,
                           const qm::SheetChoice& sheets) {
  if (sheets.mode == qm::SheetMode::kFirst) return;
  for (size_t i = 0; i < outcomes.size() && i < files.size(); ++i)
    files[i]["sheet"] = outcomes[i].sheet.empty() ? json(nullptr) : json(outcomes[i].sheet);
}

// Written beside its place and renamed, so that an interrupted run never leaves half a file or
// replaces a good one with one. Names that are not UTF-8 go in with U+FFFD for the bad bytes.
// Returns why it could not be written, or nothing.
std::optional<std::string> WriteTranscript(const std::string& file, const CliFront& port,
                                           const qm::RunResult& r, const qm::SheetChoice& sheets) {
  json t = {{"log", port.log},
            {"status", port.status},
            {"dialogs", port.dialogs},
            {"progress", {{"max", Number(port.max)}, {"value", Number(port.value)}}},
            {"result", r.result_path ? json(*r.result_path) : json(nullptr)},
            {"outcome", OutcomeName(r.outcome)}};
  json files = json::array();
  for (const qm::TableOutcome& o : port.outcomes) {
    const bool unreadable = o.status == qm::TableStatus::kUnreadable;
    json entry = {{"name", o.name},
                  {"status", qm::TableStatusName(o.status)},
                  {"rows", o.rows ? json(*o.rows) : json(nullptr)},
                  {"code", unreadable ? json(o.code) : json(nullptr)},
                  {"reason", unreadable ? json(o.reason) : json(nullptr)}};
    AddByName(entry, o);
    files.push_back(std::move(entry));
  }
  AddSheetsToTranscript(files, port.outcomes, sheets);
  t["files"] = std::move(files);
  const qm::RunSummary summary = qm::Summarize(port.outcomes);
  t["summary"] = {{"merged", summary.merged},
                  {"header_mismatch", summary.header_mismatch},
                  {"unreadable", summary.unreadable}};
  auto tmp = qm::TempFile::CreateBeside(file);
  if (!tmp) return qm::ErrorReason(tmp.error());
  {
    std::ofstream out(qm::PathFromUtf8((*tmp)->path()), std::ios::binary);
    out << t.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    out.close();
    if (!out) return std::string(qm::ErrorCodeText(qm::ErrorCode::kIo));
  }
  if (qm::Status moved = (*tmp)->RenameTo(file); !moved) return qm::ErrorReason(moved.error());
  return std::nullopt;
}

// Whether the transcript can be written where asked, found before the run so that a bad place
// costs neither the run nor its result. Creating the temporary the real write starts with is
// the one sure test: the superuser passes mode bits, and a read-only mount refuses everyone.
std::optional<std::string> TranscriptUnwritable(const std::string& transcript) {
  const std::filesystem::path t = qm::PathFromUtf8(transcript);
  std::error_code ec;
  if (std::filesystem::is_directory(t, ec)) return "是文件夹";
  const std::filesystem::path parent = t.parent_path().empty() ? "." : t.parent_path();
  if (!std::filesystem::is_directory(parent, ec)) return "所在的文件夹不存在";
  auto tmp = qm::TempFile::CreateBeside(transcript);
  if (!tmp) return qm::ErrorReason(tmp.error());
  return std::nullopt;  // the temporary goes with `tmp`
}

std::filesystem::path Canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(qm::PathFromUtf8(path), ec);
  return ec ? std::filesystem::absolute(qm::PathFromUtf8(path), ec).lexically_normal() : p;
}

// A transcript over a source would destroy it, and one in the result folder would mix with the
// results; both are refused before anything runs.
bool TranscriptCollides(const std::string& transcript, const std::string& folder,
                        const std::vector<std::string>& files) {
  const std::filesystem::path t = Canonical(transcript);
  const std::string dir = qm::WithTrailingSeparator(folder);
  for (const std::string& f : files)
    if (Canonical(dir + f) == t) return true;
  const std::filesystem::path results = Canonical(dir + qm::texts::kResultFolder);
  auto rel = t.lexically_relative(results);
  return !rel.empty() && *rel.begin() != "..";
}

// --sheet: first (the default), first-visible, all, or the name of a sheet. Nothing for an empty
// value, which names no sheet.
std::optional<qm::SheetChoice> ParseSheetOption(const std::string& value) {
  qm::SheetChoice choice;
  if (value.empty()) return std::nullopt;
  if (value == "first")
    choice.mode = qm::SheetMode::kFirst;
  else if (value == "first-visible")
    choice.mode = qm::SheetMode::kFirstVisible;
  else if (value == "all")
    choice.mode = qm::SheetMode::kAllVisible;
  else
    choice = {qm::SheetMode::kNamed, value};
  return choice;
}

// --files takes names inside FOLDER only.
bool IsPlainName(const std::string& name) {
  return name.find_first_of("/\\") == std::string::npos && name != ".." && name != ".";
}

// "--opt=" is an empty answer, as "--opt ''" is; the parser would take it for a missing value.
std::vector<std::string> SplitEmptyAssignments(std::vector<std::string> raw) {
  std::vector<std::string> args;
  for (std::string& a : raw) {
    if (a.size() > 3 && a.compare(0, 2, "--") == 0 && a.back() == '=' &&
        a.find('=') == a.size() - 1) {
      args.push_back(a.substr(0, a.size() - 1));
      args.emplace_back();
    } else {
      args.push_back(std::move(a));
    }
  }
  return args;
}

// One occurrence of --files: a name of the folder as it stands, else names separated by commas.
void AddFiles(const std::string& folder, const std::string& arg, std::vector<std::string>& out) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(qm::PathFromUtf8(qm::WithTrailingSeparator(folder) + arg),
                                       ec)) {
    out.push_back(arg);
    return;
  }
  size_t p = 0;
  for (;;) {
    size_t q = arg.find(',', p);
    std::string name = arg.substr(p, q == std::string::npos ? q : q - p);
    if (!name.empty()) out.push_back(name);
    if (q == std::string::npos) return;
    p = q + 1;
  }
}

qm::MergeVariant VariantNamed(const std::string& variant) {
  if (variant == "safe") return qm::MergeVariant::kSafe;
  if (variant == "fast") return qm::MergeVariant::kFast;
  if (variant == "horizontal") return qm::MergeVariant::kHorizontal;
  if (variant == "byname") return qm::MergeVariant::kByName;
  return qm::MergeVariant::kBoth;
}

// A FOLDER that does not exist or is no folder is bad usage; says which.
bool FolderUsable(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path f = qm::PathFromUtf8(folder);
  if (!std::filesystem::exists(f, ec)) {
    std::cerr << "文件夹不存在：" << qm::Printable(folder, false) << "\n";
    return false;
  }
  if (!std::filesystem::is_directory(f, ec)) {
    std::cerr << "不是文件夹：" << qm::Printable(folder, false) << "\n";
    return false;
  }
  return true;
}

// The list in order: the --files names, else the folder's listing. False (with the message) when
// a name would leave the folder.
bool ListFiles(const std::string& folder, const std::vector<std::string>& given,
               std::vector<std::string>& out) {
  for (const auto& f : given) AddFiles(folder, f, out);
  if (given.empty()) out = qm::ListWorkbooks(folder);
  for (const std::string& name : out)
    if (!IsPlainName(name)) {
      std::cerr << "--files 只接受文件夹中的文件名，不接受路径：" << qm::Printable(name, false)
                << "\n";
      return false;
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A reader that goes away (`| head -1`) must not end the merge half way: output is a report,
  // the result file is the work. Failed writes to a closed pipe are simply lost.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
  UseUtf8Console();
#endif
  CLI::App app;
  // Unknown options and extra words are told in Chinese below, not by the parser.
  app.allow_extras();
  app.set_help_flag();
  std::string dump, folder, kind, variant, transcript, sorted = "no";
  std::vector<std::string> files, passwords;
  std::optional<std::string> header_rows, key;
  bool json_out = false, cancel = false, check = false, source_column = false, help = false;
  // What each option means is in kCliHelp.
  app.add_flag("-h,--help", help);
  app.add_option("--dump", dump);
  app.add_flag("--json", json_out);
  app.add_flag("--check", check);
  app.add_option("folder", folder);
  CLI::Option* kind_option = app.add_option("--kind", kind);
  CLI::Option* variant_option = app.add_option("--variant", variant);
  app.add_option("--files", files)->allow_extra_args(false);
  app.add_option("--header-rows", header_rows);
  app.add_option("--key", key);
  CLI::Option* sorted_option = app.add_option("--sorted", sorted);
  app.add_flag("--cancel", cancel);
  app.add_option("--transcript", transcript);
  // Never echoed: not on the terminal, not in the log, not in the transcript.
  app.add_option("--password", passwords)->allow_extra_args(false);
  app.add_flag("--source-column", source_column);
  std::string sheet = "first";
  app.add_option("--sheet", sheet);
  try {
    std::vector<std::string> args = SplitEmptyAssignments(CommandLineArguments(argc, argv));
    std::reverse(args.begin(), args.end());  // the parser takes them last first
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    std::cerr << qm::ParseErrorText(e.get_name(), e.what()) << "\n" << qm::kCliMoreHelp;
    return kExitUsage;
  }
  if (help) {
    std::cout << qm::kCliHelp;
    return kExitDone;
  }
  // Every refusal of the arguments names what is wrong, then where the help is.
  auto usage_error = [](const std::string& text) {
    std::cerr << text << qm::kCliMoreHelp;
    return kExitUsage;
  };
  if (std::vector<std::string> extras = app.remaining(); !extras.empty())
    return usage_error(qm::ExtrasText(extras));
  std::string bad_value;
  if (kind_option->count())
    bad_value = qm::CheckChoice("--kind", kind, {"vertical", "overwrite", "smart"});
  if (bad_value.empty() && variant_option->count())
    bad_value =
        qm::CheckChoice("--variant", variant, {"safe", "fast", "horizontal", "both", "byname"});
  if (bad_value.empty() && sorted_option->count())
    bad_value = qm::CheckChoice("--sorted", sorted, {"yes", "no"});
  if (!bad_value.empty()) return usage_error(bad_value + "\n");
  const std::optional<qm::SheetChoice> sheets = ParseSheetOption(sheet);
  if (!sheets)
    return usage_error("--sheet 不能为空：可以是 first、first-visible、all 或工作表的名称\n");
  if (!dump.empty()) return qm::RunDump(dump, json_out, passwords, *sheets);
  if (check) {
    if (folder.empty()) return usage_error(std::string("缺少 FOLDER\n") + qm::kCliCheckUsage);
    std::vector<std::string> list;
    if (!FolderUsable(folder) || !ListFiles(folder, files, list)) return kExitUsage;
    if (list.empty()) {
      std::cerr << "[合并] " << qm::kNoWorkbooksMessage << "\n";
      return kExitStopped;
    }
    return qm::PrintCheck(
        qm::CheckFiles(folder, list, std::thread::hardware_concurrency(), passwords, *sheets),
        json_out, *sheets);
  }

  if (folder.empty() || kind.empty() || variant.empty()) {
    std::string missing;
    for (const auto& [lacking, name] :
         {std::pair{folder.empty(), "FOLDER"}, std::pair{kind.empty(), "--kind"},
          std::pair{variant.empty(), "--variant"}})
      if (lacking) missing += (missing.empty() ? "" : "、") + std::string(name);
    return usage_error("缺少 " + missing + "\n" + qm::kCliUsage);
  }
  const qm::MergeKind k = kind == "vertical"    ? qm::MergeKind::kVertical
                          : kind == "overwrite" ? qm::MergeKind::kOverwrite
                                                : qm::MergeKind::kSmart;
  const qm::MergeVariant v = VariantNamed(variant);
  // A variant of the other kinds (--kind smart --variant safe) has no engine.
  std::optional<qm::DispatchChoice> choice = qm::Dispatch(k, v);
  if (!choice)
    return usage_error(
        "--variant " + variant + " 不适用于 --kind " + kind +
        "：vertical 和 overwrite 用 safe、fast 或 byname，smart 用 horizontal 或 both\n");

  if (!FolderUsable(folder)) return kExitUsage;

  CliFront port;
  qm::MergeRequest request;
  request.kind = k;
  request.variant = v;
  request.source_column = source_column;
  request.sheets = *sheets;
  request.passwords = &passwords;
  // The result's path is told in full, whatever folder the command was started in.
  {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(qm::PathFromUtf8(folder), ec);
    request.folder = ec ? folder : qm::PathToUtf8(abs.lexically_normal());
  }
  port.header_rows = header_rows;
  port.key = key;
  port.sorted = sorted == "yes";
  port.cancel = cancel;
  if (!ListFiles(folder, files, request.files)) return kExitUsage;
  if (!transcript.empty() && TranscriptCollides(transcript, folder, request.files)) {
    std::cerr << "--transcript 不能写到源文件或合并结果文件夹：" << qm::Printable(transcript, false)
              << "\n";
    return kExitUsage;
  }
  if (!transcript.empty())
    if (std::optional<std::string> why = TranscriptUnwritable(transcript)) {
      std::cerr << "--transcript 无法写入：" << qm::Printable(transcript, false) << "（" << *why
                << "）\n";
      return kExitUsage;
    }

  qm::RunResult result;
  if (request.files.empty()) {
    port.Acknowledge({qm::kNoWorkbooksMessage, "合并"});
    result.outcome = qm::Outcome::kEmpty;
  } else {
    qm::HeaderState header;
    result = qm::RunMerge(request, port, port, header);
  }
  const qm::RunSummary summary = qm::Summarize(port.outcomes);
  if (result.outcome == qm::Outcome::kDone && result.result_path)
    std::cerr << qm::Printable(qm::SummaryLine(summary, *result.result_path), false) << std::endl;
  if (!transcript.empty())
    if (std::optional<std::string> why = WriteTranscript(transcript, port, result, *sheets)) {
      std::cerr << "无法写入运行记录：" << qm::Printable(transcript, false) << "（" << *why
                << "）\n";
      return kExitFailed;
    }
  return ExitStatus(result.outcome, summary);
}
