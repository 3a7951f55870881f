// A scripted front end that answers a run's questions from a script and records everything the
// run shows, plus helpers that build small workbooks in memory.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "merge/engines.h"
#include "merge/header_rules.h"
#include "merge/presenter.h"
#include "workbook/store.h"
#include "workbook/value_text.h"

namespace qm::testing {

struct Dialog {
  std::string kind;  // "message", "question", "input", "password" (its answer shown as "***")
  std::string title, text, default_answer, answer;
};

enum class Answer { kOk, kCancel, kYes, kNo };
enum class Buttons { kOk, kOkCancel, kYesNo };

class ScriptedPort : public Answers, public RunView {
 public:
  // Answers in order of asking. Unscripted: OK for OK/Cancel boxes, No for Yes/No questions,
  // Cancel for input boxes.
  std::deque<Answer> buttons;
  std::deque<std::optional<std::string>> inputs;

  std::string log = "instructions";
  std::vector<std::string> status;
  std::vector<Dialog> dialogs;
  std::vector<std::string> events;  // every call, in order
  double max = -1, value = -1;
  int scrolls = 0;
  std::optional<std::string> shown;

  bool Confirm(const Confirmation& q) override {
    return Message(q.text, q.title, Buttons::kOkCancel) == Answer::kOk;
  }
  bool AnswerSorted(const SortedQuestion& q) override {
    return Message(q.text, q.title, Buttons::kYesNo) == Answer::kYes;
  }
  void Acknowledge(const Notice& n) override { Message(n.text, n.title, Buttons::kOk); }
  std::optional<std::string> AnswerHeaderRows(const InputQuestion& q) override {
    return Input(q.kind, q.prompt, q.title, q.default_answer);
  }
  std::optional<std::string> AnswerKeyColumn(const InputQuestion& q) override {
    return Input(q.kind, q.prompt, q.title, q.default_answer);
  }

  Answer Message(const std::string& text, const std::string& title, Buttons b) {
    Answer a = Answer::kOk;
    if (b == Buttons::kYesNo) a = Answer::kNo;
    if (b != Buttons::kOk && !buttons.empty()) {
      a = buttons.front();
      buttons.pop_front();
    }
    const char* names[] = {"OK", "Cancel", "Yes", "No"};
    dialogs.push_back(
        {b == Buttons::kOk ? "message" : "question", title, text, "", names[static_cast<int>(a)]});
    events.push_back("dialog " + title);
    return a;
  }
  std::vector<PromptKind> prompt_kinds;  // the question of every input box, in order
  std::optional<std::string> Input(PromptKind kind, const std::string& prompt,
                                   const std::string& title, const std::string& def) {
    prompt_kinds.push_back(kind);
    std::optional<std::string> a;
    if (!inputs.empty()) {
      a = inputs.front();
      inputs.pop_front();
    }
    dialogs.push_back({"input", title, prompt, def, a ? *a : "<cancel>"});
    events.push_back("input " + title);
    return a;
  }
  // Answers to password boxes, in order; unscripted: Cancel. The files asked about, in order.
  std::deque<std::optional<std::string>> password_answers;
  std::vector<std::string> password_files;
  std::optional<std::string> AnswerPassword(const PasswordQuestion& q) override {
    const std::string& file = q.file;
    password_files.push_back(file);
    std::optional<std::string> a;
    if (!password_answers.empty()) {
      a = password_answers.front();
      password_answers.pop_front();
    }
    dialogs.push_back({"password", "合并", q.Text(), "", a ? "***" : "<cancel>"});
    events.push_back("password " + file);
    return a;
  }
  void ReplaceLog(const std::string& t) override {
    log = t;
    events.push_back("log");
  }
  void AppendLog(const std::string& line) override {
    log += "\r\n" + line;
    events.push_back("log");
  }
  void ScrollLogToEnd() override {
    ++scrolls;
    events.push_back("scroll");
  }
  void SetProgressMax(double m) override {
    max = m;
    events.push_back("max " + std::to_string(static_cast<int>(m)));
  }
  void SetProgressValue(double v) override {
    value = v;
    events.push_back("value " + std::to_string(static_cast<int>(v)));
  }
  void ClearStatus() override {
    status.clear();
    events.push_back("clear status");
  }
  void PrintStatus(const std::string& line) override {
    status.push_back(line);
    events.push_back("status " + line);
  }
  void SetCurrentEntry(size_t index) override {
    events.push_back("current " + std::to_string(index));
  }
  void ShowResult(const std::string& path) override { shown = path; }
  std::vector<TableOutcome> outcomes;
  void ReportTable(const TableOutcome& o) override {
    outcomes.push_back(o);
    events.push_back(std::string("file ") + TableStatusName(o.status) + " " + o.name);
  }
  std::vector<std::string> notices;
  void ShowNotice(const std::string& line) override { notices.push_back(line); }

  // The log split at CR LF.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> out;
    size_t p = 0;
    for (;;) {
      size_t q = log.find("\r\n", p);
      out.push_back(log.substr(p, q == std::string::npos ? q : q - p));
      if (q == std::string::npos) return out;
      p = q + 2;
    }
  }
  // Events of one kind only, e.g. the progress values.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }
};

// A cell for building sheets: blank, number, text or boolean.
struct V {
  enum Kind { kBlank, kNum, kText, kBool } kind = kBlank;
  double num = 0;
  std::string text;
  V() = default;
  V(int n) : kind(kNum), num(n) {}                       // NOLINT
  V(double n) : kind(kNum), num(n) {}                    // NOLINT
  V(const char* s) : kind(kText), text(s) {}             // NOLINT
  V(std::string s) : kind(kText), text(std::move(s)) {}  // NOLINT
  static V Bool(bool b) {
    V v;
    v.kind = kBool;
    v.num = b;
    return v;
  }
};
using Rows = std::vector<std::vector<V>>;

inline void Fill(Worksheet& ws, const Rows& rows, int first_row = 1) {
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows[i].size(); ++j) {
      const V& v = rows[i][j];
      int r = first_row + static_cast<int>(i), c = static_cast<int>(j) + 1;
      if (v.kind == V::kNum) (void)ws.SetNumber(r, c, v.num);
      if (v.kind == V::kText) (void)ws.SetText(r, c, v.text);
      if (v.kind == V::kBool) (void)ws.SetBool(r, c, v.num != 0);
    }
}

inline std::unique_ptr<Workbook> Book(const Rows& rows, int first_row = 1) {
  auto wb = std::make_unique<Workbook>();
  Fill(wb->AddWorksheet("Sheet1"), rows, first_row);
  return wb;
}

// A cell as text with its kind: "n:5", "t:5", "b:True", "" for blank.
inline std::string Show(const CellValue& v) {
  switch (v.type) {
    case CellType::kBlank:
      return "";
    case CellType::kNumber:
      return "n:" + ValueText(v);
    case CellType::kText:
      return "t:" + std::string(v.text);
    case CellType::kBool:
      return "b:" + ValueText(v);
    case CellType::kError:
      return "e:" + ValueText(v);
  }
  return "?";
}

// The whole used range of a sheet, row by row, each row cut after its last non-blank cell.
inline std::vector<std::vector<std::string>> Grid(const Worksheet& ws) {
  std::vector<std::vector<std::string>> out;
  if (ws.IsEmpty()) return out;
  Range u = ws.UsedRange();
  for (int r = 1; r <= u.r2; ++r) {
    std::vector<std::string> row;
    for (int c = 1; c <= u.c2; ++c) row.push_back(Show(ws.Cells(r, c)));
    while (!row.empty() && row.back().empty()) row.pop_back();
    out.push_back(row);
  }
  return out;
}

// A request for the folder /src, whose workbooks the tests keep in memory.
inline MergeRequest SourceRequest() {
  MergeRequest r;
  r.folder = "/src";
  return r;
}

// Everything one engine run needs, with the workbooks of /src in memory.
struct Bench {
  MergeRequest request = SourceRequest();
  MemoryStore store;
  ScriptedPort port;
  Presenter presenter{port};
  HeaderState header;
  MergeContext ctx{request, port, presenter, header, store};

  void Add(const std::string& name, std::unique_ptr<Workbook> wb) {
    store.Put(request.folder + "/" + name, std::move(wb));
    request.files.push_back(name);
  }
  void Add(const std::string& name, const Rows& rows) { Add(name, Book(rows)); }
  const Worksheet* Saved(const std::string& name = "合并结果.xls") const {
    const Workbook* wb = store.Get(request.folder + "/合并结果/" + name);
    return wb ? wb->Worksheets(1) : nullptr;
  }
};

}  // namespace qm::testing
