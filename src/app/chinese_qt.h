// Qt's own texts (the file dialog's labels, the message boxes' standard buttons, dates) in
// Chinese whatever the system's locale: the window speaks Chinese, so its dialogs must too.
#pragma once

class QCoreApplication;
class QTranslator;

namespace qm {

// Installs Qt's zh_CN translation, built into the program, on `app`, makes Chinese (China) the
// default locale, and has Qt-drawn file dialogs write dates and sizes in it. Returns Qt's
// translator (owned by `app`; deleting it undoes all but the locale), or nullptr when the
// built-in translation could not be loaded.
QTranslator* UseChineseForQt(QCoreApplication& app);

}  // namespace qm
