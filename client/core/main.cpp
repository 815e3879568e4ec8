// The lobby client. No argument or environment variable configures it: its
// installation directory comes from WIN.INI, everything else from files
// there.
#include <QApplication>

#include "client_app.hpp"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Windows are hidden and shown all the time; only the exit sequence ends
  // the program.
  QApplication::setQuitOnLastWindowClosed(false);
  lobby::ClientApp client;
  client.Start();
  return QApplication::exec();
}
