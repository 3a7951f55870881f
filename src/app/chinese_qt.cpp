#include "app/chinese_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTranslator>

namespace qm {
namespace {

// Qt 6.4's Chinese catalogue lacks the file types the file dialog gives folders, drives and
// links: its Type column read "Folder" under any locale.
class FileTypeTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char* disambiguation,
                    int n) const override {
    (void)disambiguation;
    (void)n;
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
    static const struct {
      const char* english;
      const char* chinese;
    } kTypes[] = {{"Folder", "文件夹"}, {"File Folder", "文件夹"}, {"Drive", "驱动器"},
                  {"File", "文件"},     {"Shortcut", "快捷方式"},  {"Alias", "替身"},
                  {"Unknown", "未知"}};
    for (const auto& t : kTypes)
      if (qstrcmp(source, t.english) == 0) return QString::fromUtf8(t.chinese);
    return {};
  }
};

// The file dialog's model writes sizes and dates in the system's locale, not the default one:
// "8 Dec 2024 09:30", "12 bytes" under a C or English system. This proxy writes them in the
// default locale.
class DefaultLocaleColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (files && role == Qt::DisplayRole && index.isValid()) {
      const QModelIndex source = mapToSource(index);
      if (index.column() == 3)
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
      if (index.column() == 1 && !files->isDir(source))
        return QLocale().formattedDataSize(files->size(source));
    }
    return QIdentityProxyModel::data(index, role);
  }
};

// Gives every Qt-drawn file dialog the proxy as it is shown, whoever opens it. Native dialogs
// speak the system's language and take no proxy.
class FileDialogColumns : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show)
      if (auto* dialog = qobject_cast<QFileDialog*>(watched); dialog && !dialog->proxyModel())
        dialog->setProxyModel(new DefaultLocaleColumns(dialog));
    return false;
  }
};

}  // namespace

QTranslator* UseChineseForQt(QCoreApplication& app) {
  // Dates and sizes in message boxes and the file dialog as China writes them.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China));
  // Built in from qt6-translations-l10n (see src/app/CMakeLists.txt), so that the program
  // needs nothing installed beside it, on Windows either.
  auto* qt = new QTranslator(&app);
  if (!qt->load(QStringLiteral(":/i18n/qtbase_zh_CN.qm"))) {
    delete qt;
    return nullptr;
  }
  QCoreApplication::installTranslator(qt);
  // Asked before Qt's catalogue, as translators installed later are. Both helpers belong to it:
  // deleting it takes them along.
  QCoreApplication::installTranslator(new FileTypeTranslator(qt));
  app.installEventFilter(new FileDialogColumns(qt));
  return qt;
}

}  // namespace qm
