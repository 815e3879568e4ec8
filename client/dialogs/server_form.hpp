// server_form.hpp - the server selection dialog (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

class TServerF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TServerF(FormContext context);

 private:
  FormContext context_;
};

}  // namespace lobby
