// client_forms.hpp - the whole client put together on the offscreen
// platform, for tests: its own WIN.INI, runtime folder and installation
// directory (with the generated bitmaps and help), the sounds recorded.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "call_recorder.hpp"
#include "core/client_app.hpp"
#include "core/client_values.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/server_form.hpp"
#include "dialogs/suggest_form.hpp"
#include "core/open_form.hpp"
#include "core/test_form.hpp"
#include "platform/temp_files.hpp"

namespace clienttest {

// Runs the event loop until cond holds or the bound passes.
inline bool WaitFor(const std::function<bool()>& cond, int boundMs = 10000) {
  QDeadlineTimer deadline(boundMs);
  while (!cond()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs action inside the application's own loop and returns the loop's exit
// code: 0 when the client ended the program, -1 when the bound passed first.
// (Only the main loop may be asked to quit: a quit outside it would make
// every later nested loop return at once.)
inline int RunUntilQuit(const std::function<void()>& action, int boundMs = 10000) {
  QTimer::singleShot(0, action);
  QTimer bound;  // gone with this call, so it never quits a later loop
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  bound.start(boundMs);
  return QCoreApplication::exec();
}

class ClientForms : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(install_);
    fs::copy(std::string(LOBBY_DATA_DIR) + "/Bitmaps", install_ + "/Bitmaps");
    fs::copy_file(std::string(LOBBY_DATA_DIR) + "/Corva.hlp", install_ + "/Corva.hlp");
    test_support::WriteFile(dir_ / "WIN.INI", "[QORGames]\nCorvanePath=" + install_ + "\n");
    recorder::R().Reset();
    recorder::InstallRecordingSound();
    lobby::ResetValues();
    app_ = std::make_unique<lobby::ClientApp>();
    // What the program waits for there (fontconfig's set-up) must come
    // after the splash and before any form that measures text.
    app_->Start([this] { formsMadeBeforeFonts_ = MadeForms(); });
    ASSERT_TRUE(WaitFor([this] { return Open()->isVisible(); }));
  }
  void TearDown() override { app_.reset(); }

  lobby::ClientCore& core() { return app_->core(); }
  lobby::Forms& forms() { return app_->forms(); }
  lobby::TOpen* Open() { return forms().Open; }
  int MadeForms() {
    const lobby::Forms& f = forms();
    return int(f.Open != nullptr) + (f.Test != nullptr) + (f.ServerF != nullptr) + (f.SuggestF != nullptr) +
           (f.AcceptF != nullptr) + (f.MessageF != nullptr) + (f.Connect != nullptr);
  }
  lobby::TTest* Test() { return forms().Test; }
  lobby::TMessageF* Box() { return forms().MessageF; }
  std::string InstallDir() const { return install_ + "\\"; }
  std::string ProfileFile() const { return install_ + "/VOSSA.INI"; }

  // Leaves the splash and waits until the main window is the active one.
  void ToMainWindow() {
    Open()->bOk->click();
    ASSERT_TRUE(WaitFor([this] { return Test()->isActiveWindow() && lobby::LobbyForm::LastActivated() == Test(); }));
  }
  // Shows the main window anew (as SetState(1) does) and waits for its
  // activation to have run.
  void ActivateMainWindowAgain() {
    core().SetState(lobby::State::stRegister);
    ASSERT_TRUE(WaitFor([this] { return lobby::LobbyForm::LastActivated() == Test(); }));
  }

  test_support::TempDir dir_;
  const std::string install_ = dir_ / "Install";
  test_support::ScopedEnv winIni_{"LOBBY_WIN_INI", dir_ / "WIN.INI"};
  test_support::ScopedEnv drives_{"LOBBY_DRIVES", dir_ / "drives"};
  test_support::ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path()};
  // The window search of the single-instance check looks at no display.
  test_support::ScopedEnv display_{"DISPLAY", nullptr};
  std::unique_ptr<lobby::ClientApp> app_;
  int formsMadeBeforeFonts_ = -1;
};

}  // namespace clienttest
