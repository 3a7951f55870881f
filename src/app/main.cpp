// quillmere: the window. One optional argument names the folder to list instead of the
// program's own; a workbook named there (as a desktop's "open with" passes it) lists its folder.
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/app_icon.h"
#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setWindowIcon(qm::AppIcon());
  // The window's own texts are Chinese; the file dialog follows them when Qt's translation is
  // installed.
  QTranslator qt_zh;
  if (qt_zh.load(QStringLiteral("qtbase_zh_CN"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      qt_zh.load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&qt_zh);

  QStringList args = app.arguments();
  args.removeFirst();
  QString folder;
  if (args.size() == 1) {
    const QFileInfo given(args.front());
    folder = given.isFile() ? given.absolutePath() : given.absoluteFilePath();
  }

  qm::MainWindow w;
  w.Load(folder);
  w.show();
  return app.exec();
}
