// message_form.hpp - the client's message box (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"
#include "platform/platform.h"
#include <string>

namespace lobby {

class TMessageF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TMessageF(FormContext context);
  void ShowText(LobbyForm* owner, const std::string& text);
 private:
  FormContext context_;
};

}  // namespace lobby
