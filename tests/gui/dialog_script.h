// Answers the real modal dialogs of the window as they come up, in order, and records what
// each one showed.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

struct SeenDialog {
  QString kind;  // "message", "input" or "file"
  QString title;
  QString text;          // file dialogs: the file type shown
  QString default_text;  // input boxes: the answer offered; file dialogs: the folder shown
  bool hidden = false;   // input boxes: the entry hides what is typed
  QStringList buttons;   // message boxes only
};

class DialogScript : public QObject {
  Q_OBJECT

 public:
  using Responder = std::function<void(QWidget*)>;

  DialogScript();

  // Presses the button with this caption on a message box.
  DialogScript& Press(const QString& caption);
  // Types this text into an input box and presses OK; Cancel when `cancel`.
  DialogScript& Type(const QString& text, bool cancel = false);
  // Picks this file in the file dialog, or cancels it when empty.
  DialogScript& Pick(const QString& path);
  // Hands the dialog to `look`, then cancels it.
  DialogScript& Look(const Responder& look);
  // Hands the next dialog to `r`, which must close it.
  DialogScript& Do(Responder r) {
    script_.push_back(std::move(r));
    return *this;
  }
  // Dialogs beyond the script: take the default answer instead of failing the test.
  void AnswerTheRestWithDefaults() { defaults_ = true; }

  std::vector<SeenDialog> seen;
  int unexpected = 0;

 private:
  void Poll();

  QTimer timer_;
  std::deque<Responder> script_;
  QPointer<QWidget> handled_;
  bool defaults_ = false;
};
