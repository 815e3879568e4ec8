// accept_form.hpp - the incoming offer dialog (internal).
//
// Rings while another player offers a game, shows who offers, and answers:
// accepting starts the game at once, refusing sends the reason typed in
// tRefuse, which keeps its text from one offer to the next.
#pragma once

#include "core/forms.hpp"
#include "dialog_parts.hpp"

class QLabel;
class QLineEdit;

namespace lobby {

class BitmapButton;

// What further offers are answered with while the game runs.
inline constexpr const char* kPlayingReason = "I am already playing with somebody else.";

class TAcceptF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TAcceptF(FormContext context);

  void FormActivate() override;
  void bAcceptClick();
  void bRefuseClick();
  void FormClose() override;

  QLabel* lRealName;
  QLabel* lDesc;
  BitmapButton* bAccept;
  BitmapButton* bRefuse;
  QLineEdit* tRefuse;

 private:
  FormContext context_;
};

}  // namespace lobby
