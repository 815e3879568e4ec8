// The lobby client. No argument or environment variable configures it: its
// installation directory comes from WIN.INI, everything else from files
// there.
#include <QApplication>

#include "client_app.hpp"
#include "qt_sound.hpp"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The application's title is the caption of its fatal boxes; it is not
  // set as Qt's display name, which would be appended to every caption.
  QApplication::setApplicationName(QStringLiteral("lobby"));
  // Windows are hidden and shown all the time; only the exit sequence ends
  // the program.
  QApplication::setQuitOnLastWindowClosed(false);
  lobby::SetSoundBackend(std::make_unique<lobby::QtSoundBackend>());
  int status = 0;
  {
    lobby::ClientApp client;
    client.Start();
    status = QApplication::exec();
  }
  // The audio thread ends before the application object.
  lobby::SetSoundBackend(nullptr);
  return status;
}
