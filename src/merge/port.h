// Everything an engine says to or asks of the user goes through this port: the window implements
// it with real dialogs, the command line with flags and the terminal, tests with a script.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "merge/answers.h"

namespace qm {

enum class Buttons { kOk, kOkCancel, kYesNo };

enum class Answer { kOk, kCancel, kYes, kNo };

// What became of one listed file in a run.
enum class FileStatus {
  kTemplate,        // entry 0: its table went first into the result
  kMerged,          // joined the result (a smart merge's file that only filled cells included)
  kHeaderMismatch,  // the safe merge skipped it: its header differs from the template's
  kUnreadable,      // could not be read and was skipped (or, for the template, ended the run)
  kNotReached,      // the run ended before it
};

struct FileOutcome {
  size_t index = 0;  // entry of the file list
  std::string name;  // as listed
  FileStatus status = FileStatus::kNotReached;
  std::optional<long long> rows;  // rows the file brought into the result, where that applies
  std::string code;               // unreadable: the stable ASCII code ("password", ...)
  std::string reason;             // unreadable: the Chinese reason
};

// The question of the password box, the first time and after a password that did not open the
// file.
std::string PasswordPrompt(const std::string& file, bool wrong_before);

// The stable names transcripts use: "template", "merged", "header-mismatch", "unreadable",
// "not-reached".
const char* FileStatusName(FileStatus status);

class InteractionPort {
 public:
  virtual ~InteractionPort() = default;

  // A modal message box; returns the button pressed (closing the box counts as Cancel/No).
  virtual Answer Message(const std::string& text, const std::string& title, Buttons buttons) = 0;
  // An input box asking the question `kind`; nullopt on Cancel.
  virtual std::optional<std::string> Input(PromptKind kind, const std::string& prompt,
                                           const std::string& title,
                                           const std::string& default_answer) = 0;

  // The log: replaced whole (an engine's opening line), or one line added after a line break
  // (CR LF) to whatever it holds then, the user's own edits included. The caret is moved to the
  // end to scroll.
  virtual void ReplaceLog(const std::string& text) = 0;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void ScrollLogToEnd() = 0;

  virtual void SetProgressMax(double max) = 0;
  virtual void SetProgressValue(double value) = 0;

  // The status area: cleared, or one line printed below the previous ones.
  virtual void ClearStatus() = 0;
  virtual void PrintStatus(const std::string& line) = 0;

  // The source folder and the file list, as the user left them.
  virtual std::string SourceFolder() = 0;
  virtual std::vector<std::string> FileList() = 0;

  // Asks for the password that opens the protected `file` (as listed), in a box whose entry
  // hides what is typed; `wrong_before` says the last password given for it did not open it.
  // nullopt on Cancel. A front end without prompts (the default) never asks: the file is then
  // skipped as unreadable. The answer is the user's secret: never log or record it.
  virtual std::optional<std::string> AskPassword(const std::string& file, bool wrong_before) {
    (void)file;
    (void)wrong_before;
    return std::nullopt;
  }

  // A line that tells the user why the run is about to wait (password tries of a protected
  // source that will take a while), shown at once. It is no line of the engine's log: the window
  // adds it to the log box, the command line prints it on standard error. A front end that shows
  // nothing (the default) loses nothing but the explanation.
  virtual void Notice(const std::string& line) { (void)line; }

  // Makes entry `index` of the file list its current entry: the smart merges put the caret on
  // the template while they work. A front end without a list has nothing to do.
  virtual void SetCurrentEntry(size_t index) { (void)index; }

  // The run ended normally with the result open: show it to the user.
  virtual void ShowResult(const std::string& path) = 0;

  // An engine reports every listed file's outcome once, in list order, by the end of the run
  // (files it never reached as kNotReached). Front ends that keep no account ignore it.
  virtual void ReportFile(const FileOutcome& outcome) { (void)outcome; }
};

}  // namespace qm
