// dialog_fixture.hpp - what the dialog tests share: the real dialogs over a
// state machine whose windows are the recording stand-in, the recording
// agent, and an installation directory "C:\Games\" of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "core/forms.hpp"
#include "core/lobby_form.hpp"
#include "support/call_recorder.hpp"
#include "support/recording_ui.hpp"

namespace dialogtest {

namespace fs = std::filesystem;

// A folder that stands for drive C: for the life of a test.
class Drives {
 public:
  Drives() {
    char templ[] = "/tmp/lobby-dialogs-XXXXXX";
    root_ = mkdtemp(templ);
    fs::create_directories(root_ / "c" / "Games");
    setenv("LOBBY_DRIVES", root_.c_str(), 1);
  }
  ~Drives() {
    unsetenv("LOBBY_DRIVES");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Drives(const Drives&) = delete;
  Drives& operator=(const Drives&) = delete;

  // The native path of C:\Games\<name>.
  fs::path Games(const std::string& name) const { return root_ / "c" / "Games" / name; }

  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Games(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Games(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) const { return fs::exists(Games(name)); }

 private:
  fs::path root_;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder::R().Reset();
    recorder::InstallRecordingSound();
    lobby::ResetValues();
    lobby::Values().SessionFlag = true;
    lobby::Values().SessionHandle = 7;
    lobby::Values().InstallDir = "C:\\Games\\";
  }
  void TearDown() override {
    // Hidden first: a form remembers the last one activated until it is
    // hidden, and a new form may be made at the same address.
    for (auto& form : owned_) form->hide();
    // Dialogs before the state machine they point to.
    owned_.clear();
    forms = lobby::Forms{};
  }

  // Creates a form as the program does, registered in forms.
  template <typename Form>
  Form* Make(Form*& slot) {
    auto form = std::make_unique<Form>(context);
    slot = form.get();
    owned_.push_back(std::unique_ptr<QWidget>(form.release()));
    return slot;
  }

  // Lets posted events through.
  static void Settle() {
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  // Waits (within a bound) until the window system has activated form:
  // offscreen at once, on a display once the window manager has.
  static void WaitForActivation(lobby::LobbyForm* form) {
    for (int i = 0; i < 500 && lobby::LobbyForm::LastActivated() != form; ++i) QTest::qWait(10);
    Settle();
  }
  static void Activate(lobby::LobbyForm* form) {
    form->ShowAndActivate();
    WaitForActivation(form);
  }

  // The log from here on.
  void ClearLog() { recorder::R().calls.clear(); }
  static const std::vector<std::string>& Log() { return recorder::R().calls; }

  Drives drives;
  recorder::RecordingUi ui;
  lobby::ClientCore core{ui};
  lobby::Forms forms;
  lobby::FormContext context{core, forms};

 private:
  std::vector<std::unique_ptr<QWidget>> owned_;
};

}  // namespace dialogtest
