// Quorvel: the windowed viewer of the syslog server.

#include <QApplication>

#include "ui/app/quorvel_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quorvel");
  qv::CQuorvelApp app;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!app.InitInstance(arguments)) return 1;
  return QApplication::exec();
}
