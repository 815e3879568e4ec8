// The lobby client. No argument or environment variable configures it: its
// installation directory comes from WIN.INI, everything else from files
// there.
#include <fontconfig/fontconfig.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <thread>

#include "client_app.hpp"
#include "command_line.hpp"
#include "forms_ui.hpp"
#include "installation_check.hpp"
#include "platform/stop_signals.hpp"
#include "profile_files.hpp"
#include "qt_sound.hpp"

int main(int argc, char** argv) {
  // Before anything needs a display.
  if (const std::optional<int> status = lobby::HandleCommandLine(argc, argv)) return *status;
  const std::optional<std::string> missing = lobby::MissingInstallation(lobby::ReadInstallDir());
  // SIGTERM and SIGINT end the program through its exit sequence. The
  // signals are blocked first, before any thread exists, so that all of
  // them inherit it and only the loop's signal descriptor takes them.
  const platform::StopSignals stopSignals;
  // The main window's text fields need the fonts before the splash can be
  // shown, and reading fontconfig's set-up is the larger part of that. A
  // second core does it while the application object connects to the
  // display; Qt then finds it done. At the lowest priority: the display
  // server answering the connection must not wait for it. The main window
  // waits for it to end: Qt asking fontconfig before that would read the
  // whole set-up a second time, on the GUI thread.
  std::thread fontconfig([] {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    FcInit();
  });
  QApplication application(argc, argv);
  // The application's title is the caption of its fatal boxes; it is not
  // set as Qt's display name, which would be appended to every caption.
  QApplication::setApplicationName(QStringLiteral("lobby"));
  // Windows are hidden and shown all the time; only the exit sequence ends
  // the program.
  QApplication::setQuitOnLastWindowClosed(false);
  if (missing) {
    std::fprintf(stderr, "lobby: %s\n", missing->c_str());
    QMessageBox box(QMessageBox::NoIcon, lobby::kApplicationTitle, QString::fromStdString(*missing),
                    QMessageBox::Ok);
    box.exec();
    fontconfig.join();
    return 1;
  }
  lobby::SetSoundBackend(std::make_unique<lobby::QtSoundBackend>());
  int status = 0;
  {
    lobby::ClientApp client;
    client.Start([&fontconfig] { fontconfig.join(); });
    status = QApplication::exec();
  }
  // The audio thread ends before the application object.
  lobby::SetSoundBackend(nullptr);
  return status;
}
