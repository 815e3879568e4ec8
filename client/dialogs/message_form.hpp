// message_form.hpp - the client's message box TMessageF (internal).
//
// Everything the client tells the player after start-up appears here. The
// box is modeless: the client goes on handling agent messages and timers
// while it is shown. There is one box; a second text replaces the first. It
// stays above the window that owned it when it was shown; its OK silences
// every sound (the looping tones of the offer dialogs end that way) and gives
// the activation back to the window under it.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <string>

#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

inline constexpr const char* kMessageCaption = "QOR's Corvane Game - Message";

class TMessageF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TMessageF(FormContext context);
  ~TMessageF() override;

  // Shows text above owner (none: above whatever is on screen).
  void ShowText(LobbyForm* owner, const std::string& text);
  void bOkMessClick();

  // Shape1, the red frame, is painted by the form itself.
  static constexpr QRect kShape1{-3, 0, 284, 169};
  static constexpr int kShape1Pen = 5;

  QGroupBox* fMess;
  QLabel* lMess;
  QPushButton* bOkMess;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void FormClose() override;

 private:
  void Close(bool silence);

  FormContext context_;
};

}  // namespace lobby
