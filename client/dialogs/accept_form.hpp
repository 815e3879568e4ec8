// accept_form.hpp - the incoming offer dialog (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

class TAcceptF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TAcceptF(FormContext context);

 private:
  FormContext context_;
};

}  // namespace lobby
