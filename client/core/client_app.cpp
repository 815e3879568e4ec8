#include "client_app.hpp"

#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/server_form.hpp"
#include "dialogs/suggest_form.hpp"
#include "open_form.hpp"
#include "test_form.hpp"

namespace lobby {

ClientApp::ClientApp() : bridge_(std::make_unique<LoopBridge>()) {
  // Stopped by a signal (the desktop session ending, Ctrl+C): leave as the
  // main window's close box does, through the exit sequence.
  QObject::connect(bridge_.get(), &LoopBridge::stopRequested, [this] {
    if (!stopping_) {
      stopping_ = true;
      core_.ExitSequence();
    }
  });
}

ClientApp::~ClientApp() {
  delete forms_.Connect;
  delete forms_.MessageF;
  delete forms_.AcceptF;
  delete forms_.SuggestF;
  delete forms_.ServerF;
  delete forms_.Test;
  delete forms_.Open;
  forms_ = Forms{};
}

void ClientApp::Start(const std::function<void()>& beforeFonts) {
  FormContext context{core_, forms_};
  forms_.Open = new TOpen(context);
  if (beforeFonts) beforeFonts();
  forms_.Test = new TTest(context);
  forms_.ServerF = new TServerF(context);
  forms_.SuggestF = new TSuggestF(context);
  forms_.AcceptF = new TAcceptF(context);
  forms_.MessageF = new TMessageF(context);
  forms_.Connect = new TConnect(context);
  forms_.Open->ShowAndActivate();
}

}  // namespace lobby
