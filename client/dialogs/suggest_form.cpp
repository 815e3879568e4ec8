#include "suggest_form.hpp"

#include <QLabel>

#include "connect_form.hpp"
#include "core/bitmap_button.hpp"
#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "core/sound.hpp"
#include "zep/zep.h"

namespace lobby {

TSuggestF::TSuggestF(FormContext context)
    : LobbyForm("Offering a game to Remote, please wait...", 640, 480), context_(context) {
  SetFontWhenShown(DialogFont());
  AddLabel(this, "My Real Name", 96, 112);
  lMyName = AddValueLabel(this, 96, 128, 193, 17);
  AddLabel(this, "My Description", 96, 152);
  lMyDesc = AddValueLabel(this, 99, 168, 189, 73);
  AddLabel(this, "Partner's Name", 376, 112);
  lRealName = AddValueLabel(this, 376, 128, 177, 13);
  AddLabel(this, "Partner's Description", 376, 152);
  lDesc = AddValueLabel(this, 376, 168, 177, 73);
  bCancel = new BitmapButton(Glyph::Cancel, "Withdraw the offer", this);
  bCancel->setGeometry(288, 288, 86, 40);
  SetCancelButton(bCancel);
  LoadBackground(Values().InstallDir + "Bitmaps\\Cv_sec.bmp");
  connect(bCancel, &QPushButton::clicked, this, [this] { bCancelClick(); });
}

void TSuggestF::FormActivate() {
  ClientValues& v = Values();
  std::string partner;
  if (TConnect* query = context_.forms.Connect) {
    lRealName->setText(query->lRemoteName->text());
    lDesc->setText(query->lRemoteDesc->text());
    lMyName->setText(query->lMyName->text());
    lMyDesc->setText(query->lMyDesc->text());
    partner = query->RemoteIdText();
  }
  // Sent again on every activation; a second request for the same partner
  // is refused by the agent, which does no harm. Whether it went out is told
  // later by an agent message.
  ZEPJoinSubGroup(v.SessionHandle, partner.c_str());
  PlaySoundFile(v.InstallDir + "DIAL.WAV", kSoundSync);
  // While the dial tone played, a held tick of the agent poll may have
  // taken the answer and moved on; ringing after the dialog has gone would
  // outlast the offer.
  if (!isVisible()) return;
  PlaySoundFile(v.InstallDir + "TONE.WAV", kSoundAsyncLoop);
}

void TSuggestF::bCancelClick() {
  StopAllSound();
  hide();
  // Without a pending offer this fails, and the query dialog comes back
  // all the same.
  ZEPAbortSubGroupJoinRequest(Values().SessionHandle);
  context_.core.HandleEvent(Event::evCancelOffer);
}

void TSuggestF::FormClose() { bCancelClick(); }

}  // namespace lobby
