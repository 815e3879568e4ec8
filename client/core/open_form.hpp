// open_form.hpp - the splash window (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

class TOpen : public LobbyForm {
  Q_OBJECT
 public:
  explicit TOpen(FormContext context);

 private:
  FormContext context_;
};

}  // namespace lobby
