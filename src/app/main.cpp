#include <QApplication>

#include "app/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qm::Form1 w;
  w.show();
  return app.exec();
}
