#include "forms_ui.hpp"

#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QMessageBox>
#include <utility>

#include "desktop_notifier.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/server_form.hpp"
#include "dialogs/suggest_form.hpp"
#include "loop_bridge.hpp"
#include "open_form.hpp"
#include "test_form.hpp"

namespace lobby {

FormsUi::FormsUi(Forms& forms) : forms_(forms) {}
FormsUi::~FormsUi() = default;

LobbyForm* FormsUi::FormWidget(Form form) const {
  switch (form) {
    case Form::Open: return forms_.Open;
    case Form::Test: return forms_.Test;
    case Form::Server: return forms_.ServerF;
    case Form::Suggest: return forms_.SuggestF;
    case Form::Accept: return forms_.AcceptF;
    case Form::Message: return forms_.MessageF;
    case Form::Connect: return forms_.Connect;
  }
  return nullptr;
}

bool FormsUi::IsFormVisible(Form form) const {
  LobbyForm* widget = FormWidget(form);
  return widget != nullptr && widget->isVisible();
}

void FormsUi::ShowForm(Form form) {
  if (LobbyForm* widget = FormWidget(form)) widget->ShowAndActivate();
}

void FormsUi::ShowFormAgain(Form form) {
  if (LobbyForm* widget = FormWidget(form)) widget->ShowAgain();
}

void FormsUi::HideForm(Form form) {
  if (LobbyForm* widget = FormWidget(form)) widget->hide();
}

void FormsUi::ShowMessage(std::optional<Form> owner, const std::string& text) {
  if (forms_.MessageF == nullptr) return;
  // With none of the dialogs on screen the box belongs to the main window or
  // the splash, whichever shows: a box without an owner is a window like any
  // other to a window manager, which may map it under the one the player
  // looks at.
  for (Form fallback : {Form::Test, Form::Open}) {
    if (!owner && IsFormVisible(fallback)) owner = fallback;
  }
  forms_.MessageF->ShowText(owner ? FormWidget(*owner) : nullptr, text);
}

void FormsUi::FatalMessage(const std::string& text) {
  // Nothing of the agent's runs while the box waits: the process ends after
  // it without another agent call.
  LoopBridge::Pause();
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
  // At once: no clean-up, no agent call.
  _exit(1);
}

void FormsUi::DestroySplash() {
  if (forms_.Open == nullptr) return;
  // At once, not later: the loop ends right after, and nothing of the splash
  // is on the stack (the exit comes from the main or the query window).
  delete std::exchange(forms_.Open, nullptr);
}

void FormsUi::QuitLoop() { QCoreApplication::exit(0); }

bool FormsUi::InBackground() const { return QGuiApplication::applicationState() != Qt::ApplicationActive; }

void FormsUi::CallPlayerBack(Form form, const std::string& summary, const std::string& body) {
  LobbyForm* widget = FormWidget(form);
  if (widget == nullptr) return;
  QApplication::alert(widget);
  if (!notifier_) notifier_ = std::make_unique<DesktopNotifier>();
  notifier_->Notify(QString::fromStdString(summary), QString::fromStdString(body),
                    [target = QPointer<LobbyForm>(widget)] {
                      // Only while the window still waits for the person.
                      if (target && target->isVisible()) target->BringBack();
                    });
}

void FormsUi::SetQueryTimer(bool on) {
  if (forms_.Connect) forms_.Connect->SetQueryTimer(on);
}

void FormsUi::SetRefreshTimer(bool on) {
  if (forms_.Connect) forms_.Connect->SetRefreshTimer(on);
}

void FormsUi::QueryEnded() {
  if (forms_.Connect) forms_.Connect->QueryEnded();
}

void FormsUi::EnableConnectButton() {
  if (forms_.Connect) forms_.Connect->EnableConnectButton();
}

bool FormsUi::ListQueryResult(const std::string& text) {
  return forms_.Connect != nullptr && forms_.Connect->ListQueryResult(text);
}

std::string FormsUi::RemoteNameCaption() const {
  return forms_.Connect ? forms_.Connect->RemoteNameCaption() : std::string();
}

plat_hwnd FormsUi::AgentMessageWindow() const { return forms_.Test ? forms_.Test->AgentMessageWindow() : 0; }

plat_hwnd FormsUi::HangmanWindow() const { return forms_.Test ? forms_.Test->HangmanWindow() : 0; }

}  // namespace lobby
