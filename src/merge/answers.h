// The questions a run asks its user, typed: each front end answers them from its own source
// (the window's dialogs, the command line's flags and terminal, a test's script). A run waits for
// every answer; closing a box counts as Cancel (or No).
#pragma once

#include <optional>
#include <string>

namespace qm {

// A question with OK and Cancel: the confirmation before a merge starts.
struct Confirmation {
  std::string text, title;
};

// The smart merge's question whether the tables are sorted by key, with Yes and No.
struct SortedQuestion {
  std::string text, title;
};

// Which question an input box asks.
enum class PromptKind {
  kHeaderRows,  // how many header rows the fast merge cuts from every appended block
  kKeyColumn,   // the key column, with the header list as the prompt
};

// An input box: the answer is the text typed, or nullopt for Cancel.
struct InputQuestion {
  PromptKind kind = PromptKind::kHeaderRows;
  std::string prompt, title, default_answer;
};

// The password of a protected source (as listed), in a box whose entry hides what is typed;
// `wrong_before` says the last password given for it did not open it.
struct PasswordQuestion {
  std::string file;
  bool wrong_before = false;
  std::string title = "合并";

  std::string Text() const;
};

// A box with an OK button only: why a run stopped or failed.
struct Notice {
  std::string text, title;
};

class Answers {
 public:
  virtual ~Answers() = default;

  // True for OK.
  virtual bool Confirm(const Confirmation& q) = 0;
  // True for Yes.
  virtual bool AnswerSorted(const SortedQuestion& q) = 0;
  virtual std::optional<std::string> AnswerHeaderRows(const InputQuestion& q) = 0;
  virtual std::optional<std::string> AnswerKeyColumn(const InputQuestion& q) = 0;
  // nullopt for Cancel. A front end without prompts (the default) never asks: the file is then
  // skipped as unreadable. The answer is the user's secret: never log or record it.
  virtual std::optional<std::string> AnswerPassword(const PasswordQuestion& q) {
    (void)q;
    return std::nullopt;
  }
  // Returns once the user has seen it.
  virtual void Acknowledge(const Notice& n) = 0;
};

}  // namespace qm
