// open_form.hpp - the splash window TOpen, the program's main form
// (internal).
//
// Its creation is the program's start: the single-instance check, the
// installation directory, the help file and the music. Its OK (or its close
// box) stops the music and hands over to the main window; it comes back
// showing "Loading, please wait..." while a registration is under way.
#pragma once

#include <QLabel>

#include "core/bitmap_button.hpp"
#include "core/forms.hpp"
#include "core/lobby_form.hpp"

namespace lobby {

inline constexpr const char* kSplashCaption = "QOR's Corvane Game";

class TOpen : public LobbyForm {
  Q_OBJECT
 public:
  explicit TOpen(FormContext context);

  QLabel* LoadingIm;
  BitmapButton* bOk;

  void bOkClick();

 protected:
  void FormClose() override;

 private:
  void FormCreate();
  void Leave();

  FormContext context_;
};

}  // namespace lobby
