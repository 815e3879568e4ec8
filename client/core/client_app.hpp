// client_app.hpp - the lobby client put together (internal): the seven
// forms, the state machine over them and the platform loop inside Qt's. A
// stop signal runs the exit sequence once.
#pragma once

#include <functional>
#include <memory>

#include "client_core.hpp"
#include "forms.hpp"
#include "forms_ui.hpp"
#include "loop_bridge.hpp"

namespace lobby {

class ClientApp {
 public:
  ClientApp();
  ~ClientApp();
  ClientApp(const ClientApp&) = delete;
  ClientApp& operator=(const ClientApp&) = delete;

  // Creates the forms in their order (the splash's creation runs the
  // single-instance check and starts the music) and shows the splash.
  // beforeFonts, if given, runs after the splash is made and before the
  // main window, the first form to measure text and so to need the fonts.
  void Start(const std::function<void()>& beforeFonts = {});

  ClientCore& core() { return core_; }
  Forms& forms() { return forms_; }
  FormsUi& ui() { return ui_; }

 private:
  Forms forms_;
  FormsUi ui_{forms_};
  ClientCore core_{ui_};
  std::unique_ptr<LoopBridge> bridge_;
  bool stopping_ = false;
};

}  // namespace lobby
