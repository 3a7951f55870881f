#include "dialog_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

SeenDialog Describe(QWidget* w) {
  SeenDialog d;
  d.title = w->windowTitle();
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    d.kind = "message";
    d.text = box->text();
    for (QAbstractButton* b : box->buttons()) d.buttons << b->text();
  } else if (auto* in = qobject_cast<QInputDialog*>(w)) {
    d.kind = "input";
    d.text = in->labelText();
    d.default_text = in->textValue();
    d.hidden = in->textEchoMode() == QLineEdit::Password;
  } else if (auto* fd = qobject_cast<QFileDialog*>(w)) {
    d.kind = "file";
    if (auto* types = fd->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
      d.text = types->currentText();
    d.default_text = fd->directory().absolutePath();
  }
  return d;
}

void PressDefault(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    if (QPushButton* b = box->defaultButton()) return b->click();
    return box->buttons().front()->click();
  }
  if (auto* d = qobject_cast<QDialog*>(w)) d->accept();
}

}  // namespace

DialogScript::DialogScript() {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &DialogScript::Poll);
  timer_.start();
}

DialogScript& DialogScript::Press(const QString& caption) {
  script_.push_back([caption](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return qobject_cast<QDialog*>(w)->reject();
    for (QAbstractButton* b : box->buttons())
      // A real click, so it passes every event filter the window has installed.
      if (b->text() == caption) return QTest::mouseClick(b, Qt::LeftButton);
    box->reject();
  });
  return *this;
}

DialogScript& DialogScript::Type(const QString& text, bool cancel) {
  script_.push_back([text, cancel](QWidget* w) {
    auto* in = qobject_cast<QInputDialog*>(w);
    if (!in || cancel) return qobject_cast<QDialog*>(w)->reject();
    in->setTextValue(text);
    in->accept();
  });
  return *this;
}

DialogScript& DialogScript::Pick(const QString& path) {
  script_.push_back([path](QWidget* w) {
    auto* fd = qobject_cast<QFileDialog*>(w);
    if (!fd || path.isEmpty()) return qobject_cast<QDialog*>(w)->reject();
    fd->selectFile(path);
    static_cast<QDialog*>(fd)->accept();
  });
  return *this;
}

DialogScript& DialogScript::Look(const Responder& look) {
  script_.push_back([look](QWidget* w) {
    look(w);
    if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  });
  return *this;
}

void DialogScript::Poll() {
  QWidget* w = QApplication::activeModalWidget();
  if (!w || w == handled_ || !w->isVisible()) return;
  handled_ = w;
  seen.push_back(Describe(w));
  if (!script_.empty()) {
    Responder r = std::move(script_.front());
    script_.pop_front();
    r(w);
  } else if (defaults_) {
    PressDefault(w);
  } else {
    ++unexpected;
    if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  }
}
