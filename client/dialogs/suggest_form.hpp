// suggest_form.hpp - the outgoing offer dialog (internal).
//
// On screen while the player waits for the partner's answer to an offer of
// a game: each activation sends the offer to the player selected in the
// query dialog, plays the dial tone to its end and then rings until the
// answer comes or the player withdraws. The answer itself is the state
// machine's business.
#pragma once

#include "core/forms.hpp"
#include "dialog_parts.hpp"

class QLabel;

namespace lobby {

class BitmapButton;

class TSuggestF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TSuggestF(FormContext context);

  void FormActivate() override;
  void bCancelClick();
  void FormClose() override;

  QLabel* lMyName;
  QLabel* lMyDesc;
  QLabel* lRealName;
  QLabel* lDesc;
  BitmapButton* bCancel;

 private:
  FormContext context_;
};

}  // namespace lobby
