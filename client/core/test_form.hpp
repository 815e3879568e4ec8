// test_form.hpp - the main window: profile and registration (internal).
#pragma once

#include "core/forms.hpp"
#include "core/lobby_form.hpp"
#include "platform/platform.h"
#include <string>

namespace lobby {

class TTest : public LobbyForm {
  Q_OBJECT
 public:
  explicit TTest(FormContext context);
  plat_hwnd AgentMessageWindow() const { return 0; }
  plat_hwnd HangmanWindow() const { return 0; }
  // The texts of tRealName and tDescription as they stand.
  std::string RealNameText() const { return {}; }
  std::string DescriptionText() const { return {}; }
 private:
  FormContext context_;
};

}  // namespace lobby
