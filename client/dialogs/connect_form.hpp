// connect_form.hpp - the player query and browse dialog (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"
#include "platform/platform.h"
#include <string>

namespace lobby {

class TConnect : public LobbyForm {
  Q_OBJECT
 public:
  explicit TConnect(FormContext context);
  void SetQueryTimer(bool on);
  void SetRefreshTimer(bool on);
  void EnableRefreshButton();
  void EnableConnectButton();
  bool ListQueryResult(const std::string& text);
  std::string RemoteNameCaption() const;
 private:
  FormContext context_;
};

}  // namespace lobby
