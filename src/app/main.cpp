// quillmere: the window. One optional argument names the folder to list instead of the
// program's own; a workbook named there (as a desktop's "open with" passes it) lists its folder.
#include <QApplication>
#include <QFileInfo>

#include "app/app_icon.h"
#include "app/chinese_qt.h"
#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setWindowIcon(qm::AppIcon());
  qm::UseChineseForQt(app);

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
