// suggest_form.hpp - the outgoing offer dialog (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

class TSuggestF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TSuggestF(FormContext context);

 private:
  FormContext context_;
};

}  // namespace lobby
