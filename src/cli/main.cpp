// quillmere-cli: the merge engines without a window. The dialogs of one run are answered from the
// flags (or, for input boxes without a flag, on the terminal), the log goes to standard output,
// message boxes to standard error, and a JSON transcript of the run can be written at the end.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/core/dispatch.h"
#include "app/core/file_list.h"
#include "cli/dump.h"
#include "merge/engines.h"
#include "workbook/paths.h"

namespace {

using nlohmann::json;

constexpr int kExitDone = 0;
constexpr int kExitStopped = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

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

// Carriage returns inside dialog texts would move the terminal's cursor; show them as line breaks.
std::string ForTerminal(std::string s) {
  for (char& ch : s)
    if (ch == '\r') ch = '\n';
  return s;
}

class CliPort : public qm::InteractionPort {
 public:
  std::string folder;
  std::vector<std::string> files;
  std::optional<std::string> header_rows, key;
  bool sorted = false;
  bool cancel = false;

  std::string log;
  std::vector<std::string> status;
  json dialogs = json::array();
  double max = 0, value = 0;

  qm::Answer Message(const std::string& text, const std::string& title,
                     qm::Buttons buttons) override {
    std::cerr << "[" << title << "] " << ForTerminal(text) << std::endl;
    qm::Answer a = qm::Answer::kOk;
    if (buttons == qm::Buttons::kOkCancel) a = cancel ? qm::Answer::kCancel : qm::Answer::kOk;
    if (buttons == qm::Buttons::kYesNo) a = sorted ? qm::Answer::kYes : qm::Answer::kNo;
    static const char* kNames[] = {"OK", "Cancel", "Yes", "No"};
    dialogs.push_back({{"kind", buttons == qm::Buttons::kOk ? "message" : "question"},
                       {"title", title},
                       {"text", text},
                       {"answer", kNames[static_cast<int>(a)]}});
    return a;
  }

  std::optional<std::string> Input(const std::string& prompt, const std::string& title,
                                   const std::string& default_answer) override {
    // The key prompt has its own title; the other input box asks for the header rows.
    const std::optional<std::string>& given = title == "输入提示" ? key : header_rows;
    std::optional<std::string> answer = given;
    std::cerr << "[" << title << "] " << ForTerminal(prompt);
    if (!given && isatty(STDIN_FILENO)) {
      std::cerr << " [" << default_answer << "] " << std::flush;
      std::string line;
      if (std::getline(std::cin, line))
        answer = line.empty() ? default_answer : line;
      else
        std::cerr << std::endl;
    } else {
      std::cerr << " > " << (answer ? *answer : std::string("(Cancel)")) << std::endl;
    }
    dialogs.push_back({{"kind", "input"},
                       {"title", title},
                       {"text", prompt},
                       {"default", default_answer},
                       {"answer", answer ? json(*answer) : json(nullptr)}});
    return answer;
  }

  std::string LogText() override { return log; }

  void SetLogText(const std::string& text) override {
    // Appended lines are printed as they come; a replaced log is printed whole.
    size_t from = 0;
    std::vector<std::string> lines = SplitLines(text);
    if (!log.empty() && text.size() > log.size() && text.compare(0, log.size(), log) == 0 &&
        text.compare(log.size(), 2, "\r\n") == 0)
      from = SplitLines(log).size();
    for (size_t i = from; i < lines.size(); ++i) std::cout << lines[i] << "\n";
    std::cout << std::flush;
    log = text;
  }
  void ScrollLogToEnd() override {}

  void SetProgressMax(double m) override { max = m; }
  void SetProgressValue(double v) override { value = v; }

  void ClearStatus() override { status.clear(); }
  void PrintStatus(const std::string& line) override {
    status.push_back(line);
    std::cout << line << std::endl;
  }

  std::string SourceFolder() override { return folder; }
  std::vector<std::string> FileList() override { return files; }

  void ShowResult(const std::string& path) override {
    std::cerr << "result: " << path << std::endl;
  }
};

const char* OutcomeName(qm::Outcome o) {
  switch (o) {
    case qm::Outcome::kDone:
      return "done";
    case qm::Outcome::kCancelled:
      return "cancelled";
    case qm::Outcome::kStopped:
      return "stopped";
    case qm::Outcome::kFailed:
      return "failed";
    case qm::Outcome::kEmpty:
      return "empty";
  }
  return "failed";
}

int ExitStatus(qm::Outcome o) {
  switch (o) {
    case qm::Outcome::kDone:
      return kExitDone;
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

bool WriteTranscript(const std::string& file, const CliPort& port, const qm::RunResult& r) {
  json t = {{"log", port.log},
            {"status", port.status},
            {"dialogs", port.dialogs},
            {"progress", {{"max", Number(port.max)}, {"value", Number(port.value)}}},
            {"result", r.result_path ? json(*r.result_path) : json(nullptr)},
            {"outcome", OutcomeName(r.outcome)}};
  std::ofstream out(qm::PathFromUtf8(file), std::ios::binary);
  out << t.dump(2) << "\n";
  return static_cast<bool>(out);
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Merges the workbooks of one folder into one result workbook."};
  std::string dump, folder, kind, variant, transcript, sorted = "no";
  std::vector<std::string> files;
  std::optional<std::string> header_rows, key;
  bool json_out = false, cancel = false;
  app.add_option("--dump", dump, "print the first worksheet of a workbook");
  app.add_flag("--json", json_out, "with --dump: print JSON");
  app.add_option("folder", folder, "the source folder");
  app.add_option("--kind", kind, "vertical | overwrite | smart")
      ->check(CLI::IsMember({"vertical", "overwrite", "smart"}));
  app.add_option("--variant", variant,
                 "safe | fast (vertical, overwrite); horizontal | both (smart)")
      ->check(CLI::IsMember({"safe", "fast", "horizontal", "both"}));
  app.add_option("--files", files, "the list order, the template first; names separated by commas")
      ->allow_extra_args(false);
  app.add_option("--header-rows", header_rows, "the answer typed into the header-rows box");
  app.add_option("--key", key, "the answer typed into the key-column box");
  app.add_option("--sorted", sorted, "answer to the sorted-input question")
      ->check(CLI::IsMember({"yes", "no"}));
  app.add_flag("--cancel", cancel, "answer Cancel to the confirmation");
  app.add_option("--transcript", transcript, "write a JSON transcript of the run to this file");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }
  if (!dump.empty()) return qm::RunDump(dump, json_out);

  if (folder.empty() || kind.empty() || variant.empty()) {
    std::cerr << "usage: quillmere-cli FOLDER --kind KIND --variant VARIANT [options]\n"
                 "       quillmere-cli --dump WORKBOOK [--json]\n";
    return kExitUsage;
  }
  const int k = kind == "vertical" ? 0 : kind == "overwrite" ? 1 : 2;
  int v = -1;
  if (k == 2) v = variant == "horizontal" ? 0 : variant == "both" ? 1 : -1;
  if (k != 2) v = variant == "safe" ? 0 : variant == "fast" ? 1 : -1;
  std::optional<qm::DispatchChoice> choice = v < 0 ? std::nullopt : qm::Dispatch(k, v);
  if (!choice) {
    std::cerr << "--variant " << variant << " does not go with --kind " << kind << "\n";
    return kExitUsage;
  }

  CliPort port;
  port.folder = folder;
  port.header_rows = header_rows;
  port.key = key;
  port.sorted = sorted == "yes";
  port.cancel = cancel;
  for (const auto& f : files) AddFiles(folder, f, port.files);
  if (files.empty()) port.files = qm::ListWorkbooks(folder);

  qm::RunResult result;
  if (port.files.empty()) {
    port.Message(qm::kNoWorkbooksMessage, "合并", qm::Buttons::kOk);
    result.outcome = qm::Outcome::kEmpty;
  } else {
    qm::Application spreadsheet;
    qm::HeaderState header;
    qm::MergeContext ctx{spreadsheet, port, header};
    result = qm::RunChoice(*choice, ctx);
  }
  if (!transcript.empty() && !WriteTranscript(transcript, port, result)) {
    std::cerr << transcript << ": cannot write the transcript\n";
    return kExitFailed;
  }
  return ExitStatus(result.outcome);
}
