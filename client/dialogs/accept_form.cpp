#include "accept_form.hpp"

#include <QLabel>
#include <QLineEdit>

#include "core/bitmap_button.hpp"
#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "core/sound.hpp"
#include "zep/zep.h"

namespace lobby {

TAcceptF::TAcceptF(FormContext context) : LobbyForm("Remote is offering a game...", 640, 484), context_(context) {
  SetFontWhenShown(DialogFont());
  AddLabel(this, "Real Name", 136, 72);
  lRealName = AddValueLabel(this, 136, 88, 225, 13);
  AddLabel(this, "Description", 136, 112);
  lDesc = AddValueLabel(this, 136, 128, 225, 89);
  bAccept = new BitmapButton(Glyph::Accept, "Accept the offer", this);
  bAccept->setGeometry(152, 248, 85, 41);
  bRefuse = new BitmapButton(Glyph::Refuse, "Refuse the offer", this);
  bRefuse->setGeometry(272, 248, 85, 41);
  QLabel* hint = AddLabel(this, "If refusing Remote's offer, give a short explanation :", 128, 296);
  // At least as wide as the field under it, once it is sized to its text.
  WhenShown(hint, [hint] { hint->resize(std::max(241, hint->width()), 13); });
  tRefuse = AddEdit(this, 128, 312, 241, 21);
  tRefuse->setText("None");
  SetDefaultButton(bAccept);
  SetCancelButton(bRefuse);
  setTabOrder(bAccept, bRefuse);
  setTabOrder(bRefuse, tRefuse);
  LoadBackground(Values().InstallDir + "Bitmaps\\Cv_sec.bmp");
  connect(bAccept, &QPushButton::clicked, this, [this] { bAcceptClick(); });
  connect(bRefuse, &QPushButton::clicked, this, [this] { bRefuseClick(); });
}

void TAcceptF::FormActivate() {
  const ClientValues& v = Values();
  lRealName->setText(ToQt(v.OfferName));
  lDesc->setText(ToQt(v.OfferDesc));
  PlaySoundFile(v.InstallDir + "REMOTE.WAV", kSoundAsyncLoop);
}

void TAcceptF::bAcceptClick() {
  ClientValues& v = Values();
  StopAllSound();
  hide();
  // The game is started before the acceptance goes out, and whether it
  // started is not asked.
  context_.core.StartGame("l", FromQt(lRealName->text()));
  ZEPAcceptSubGroupJoinRequest(v.SessionHandle, v.OfferRecord.c_str(), 1, "None");
  ZEPSetResponseStatus(v.SessionHandle, 0, 0, kPlayingReason);
  context_.core.HandleEvent(Event::evAccept);
}

void TAcceptF::bRefuseClick() {
  ClientValues& v = Values();
  StopAllSound();
  hide();
  // As typed, an empty text included.
  const std::string reason = FromQt(tRefuse->text());
  ZEPAcceptSubGroupJoinRequest(v.SessionHandle, v.OfferRecord.c_str(), 0, reason.c_str());
  // Offers reach the player again.
  ZEPSetResponseStatus(v.SessionHandle, 1, 0, nullptr);
  context_.core.HandleEvent(Event::evRefuse);
}

void TAcceptF::FormClose() { bRefuseClick(); }

}  // namespace lobby
