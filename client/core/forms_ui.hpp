// forms_ui.hpp - the state machine's view of the real windows (internal).
#pragma once

#include <memory>

#include "client_ui.hpp"
#include "forms.hpp"

namespace lobby {

class DesktopNotifier;
class LobbyForm;

class FormsUi : public ClientUi {
 public:
  explicit FormsUi(Forms& forms);
  ~FormsUi() override;

  bool IsFormVisible(Form form) const override;
  void ShowForm(Form form) override;
  void HideForm(Form form) override;
  void ShowFormAgain(Form form) override;
  void ShowMessage(std::optional<Form> owner, const std::string& text) override;
  void FatalMessage(const std::string& text) override;
  void DestroySplash() override;
  void QuitLoop() override;
  bool InBackground() const override;
  void CallPlayerBack(Form form, const std::string& summary, const std::string& body) override;

  void SetQueryTimer(bool on) override;
  void SetRefreshTimer(bool on) override;
  void QueryEnded() override;
  void EnableConnectButton() override;
  bool ListQueryResult(const std::string& text) override;
  std::string RemoteNameCaption() const override;

  plat_hwnd AgentMessageWindow() const override;
  plat_hwnd HangmanWindow() const override;

  LobbyForm* FormWidget(Form form) const;

 private:
  Forms& forms_;
  // Made when first needed: only then does the client open the session bus.
  std::unique_ptr<DesktopNotifier> notifier_;
};

// Caption of the fatal boxes (the application's title).
inline constexpr const char* kApplicationTitle = "QOR's Corvane Game v0.91b2";

}  // namespace lobby
