// The outgoing and incoming offer dialogs: what each activation sends and
// plays, in which order, and how the offer is withdrawn, accepted or
// refused.
#include <QLabel>
#include <QLineEdit>
#include <functional>

#include "core/bitmap_button.hpp"
#include "core/sound.hpp"
#include "core/test_form.hpp"
#include "dialog_fixture.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/suggest_form.hpp"

namespace {

using dialogtest::DialogTest;
using lobby::Values;
using recorder::R;

const std::string kAnn =
    "ID=127.0.0.1:2002;OWN=1.1.1.1;VERSION=0.90b1;REAL=Ann;DESC=Likes chess;CITY=Oslo;COUNTRY=Norway;AGE=31;"
    "SEX=1;EMAIL=ann@example.org;";

// Sounds into the log, with a hook run when one starts.
class HookedSound : public lobby::SoundBackend {
 public:
  explicit HookedSound(std::function<void(const std::string&)> hook) : hook_(std::move(hook)) {}
  void Play(const std::string& path, unsigned flags) override {
    R().calls.push_back("PlaySound(" + recorder::Quoted(path.c_str()) + ", " + std::to_string(flags) + ")");
    hook_(path);
  }
  void Stop() override { R().calls.push_back("StopAllSound()"); }

 private:
  std::function<void(const std::string&)> hook_;
};

class OfferDialogs : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Make(forms.Test);
    Make(forms.SuggestF);
    Make(forms.AcceptF);
    Make(forms.MessageF);
    Make(forms.Connect);
  }
  // A message box over the window, then closed: the window is active again.
  void MessageBoxOver(lobby::LobbyForm* window) {
    Activate(forms.MessageF);
    forms.MessageF->hide();
    window->activateWindow();
    WaitForActivation(window);
  }
  void Show(lobby::LobbyForm* window) {
    Activate(window);
  }
};

TEST_F(OfferDialogs, TheOfferGoesOutBeforeTheDialToneAndAgainOnEveryActivation) {
  lobby::TConnect* query = forms.Connect;
  query->ListQueryResult(kAnn);
  query->lMyName->setText("Sam");
  query->lMyDesc->setText("Evenings only");
  lobby::TSuggestF* offer = forms.SuggestF;
  Show(offer);
  EXPECT_EQ(offer->lRealName->text(), "Ann");
  EXPECT_EQ(offer->lDesc->text(), "Likes chess");
  EXPECT_EQ(offer->lMyName->text(), "Sam");
  EXPECT_EQ(offer->lMyDesc->text(), "Evenings only");
  const std::vector<std::string> oneOffer = {"ZEPJoinSubGroup(7, \"" + kAnn + "\")",
                                             "PlaySound(\"C:\\Games\\DIAL.WAV\", 2)",
                                             "PlaySound(\"C:\\Games\\TONE.WAV\", 11)"};
  EXPECT_EQ(Log(), oneOffer);

  ClearLog();
  query->lMyName->setText("Sam P.");
  MessageBoxOver(offer);
  EXPECT_EQ(Log(), oneOffer);
  EXPECT_EQ(offer->lMyName->text(), "Sam P.");
}

TEST_F(OfferDialogs, NoRingingAfterAnAnswerTakenDuringTheDialTone) {
  forms.Connect->ListQueryResult(kAnn);
  lobby::TSuggestF* offer = forms.SuggestF;
  // As a poll tick held back by the dial tone runs at its end and acts on
  // the partner's answer.
  lobby::SetSoundBackend(std::make_unique<HookedSound>([offer](const std::string& path) {
    if (path.find("DIAL") != std::string::npos) offer->hide();
  }));
  Show(offer);
  EXPECT_EQ(Log(), (std::vector<std::string>{"ZEPJoinSubGroup(7, \"" + kAnn + "\")",
                                             "PlaySound(\"C:\\Games\\DIAL.WAV\", 2)"}));
}

TEST_F(OfferDialogs, CancelEscapeAndTheCloseBoxWithdrawTheOffer) {
  lobby::TSuggestF* offer = forms.SuggestF;
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    Show(offer);
    Values().CurrentState = lobby::State::stOffering;
    Values().MusicPlaying = true;
    ui.visible.clear();
    ClearLog();
    if (way == 0) offer->bCancel->click();
    if (way == 1) QTest::keyClick(offer, Qt::Key_Escape);
    if (way == 2) offer->close();
    EXPECT_FALSE(offer->isVisible());
    EXPECT_FALSE(Values().MusicPlaying);
    EXPECT_EQ(Log(), (std::vector<std::string>{"StopAllSound()", "ZEPAbortSubGroupJoinRequest(7)", "Show(TConnect)",
                                               "Hide(TOpen)"}));
    EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
  }
}

class IncomingOffer : public OfferDialogs {
 protected:
  void SetUp() override {
    OfferDialogs::SetUp();
    dialog = forms.AcceptF;
    Values().OfferRecord = "ID=127.0.0.1:2009;VERSION=0.90b1;REAL=Bob;DESC=Hi;";
    Values().OfferName = "Bob";
    Values().OfferDesc = "Hi";
    Values().CurrentState = lobby::State::stOffered;
  }
  lobby::TAcceptF* dialog = nullptr;
};

TEST_F(IncomingOffer, ActivationShowsTheOfferAndRings) {
  Show(dialog);
  EXPECT_EQ(dialog->lRealName->text(), "Bob");
  EXPECT_EQ(dialog->lDesc->text(), "Hi");
  EXPECT_EQ(dialog->tRefuse->text(), "None");
  EXPECT_EQ(Log(), std::vector<std::string>{"PlaySound(\"C:\\Games\\REMOTE.WAV\", 11)"});
}

TEST_F(IncomingOffer, AcceptStartsTheGameThenAcceptsWithNoneWhateverTheReasonField) {
  Values().OfferName = "???";
  Show(dialog);
  dialog->tRefuse->setText("Busy");
  Values().MusicPlaying = true;
  ClearLog();
  dialog->bAccept->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "StopAllSound()",
                       "CVRunGame(\"l\", \"C:\\Games\\DATA\", \"C:\\Games\\Zudeduzu.wav\", \"QOR's Corvane Game "
                       "v091.b2 - Connected to ???\", 0, window, 514)",
                       "Hide(TOpen)",
                       "ZEPAcceptSubGroupJoinRequest(7, \"" + Values().OfferRecord + "\", 1, \"None\")",
                       "ZEPSetResponseStatus(7, 0, 0, \"I am already playing with somebody else.\")",
                       "RefreshTimer(off)", "QueryTimer(off)", "ZEPLeaveServer(7)"}));
  EXPECT_EQ(Values().CurrentState, lobby::State::stPlaying);
  EXPECT_TRUE(Values().InSubGroup);
  EXPECT_FALSE(Values().MusicPlaying);
}

TEST_F(IncomingOffer, RefuseSendsTheReasonFieldAsItStandsAndKeepsIt) {
  const auto refusal = [&](const std::string& reason) {
    return std::vector<std::string>{"StopAllSound()",
                                    "ZEPAcceptSubGroupJoinRequest(7, \"" + Values().OfferRecord + "\", 0, \"" +
                                        reason + "\")",
                                    "ZEPSetResponseStatus(7, 1, 0, null)", "Show(TConnect)", "Hide(TOpen)"};
  };
  // Untouched, typed, cleared; by the button, by Esc and by the close box.
  const char* reasons[] = {nullptr, "Not now, sorry", ""};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    Values().CurrentState = lobby::State::stOffered;
    Show(dialog);
    if (reasons[i] != nullptr) dialog->tRefuse->setText(reasons[i]);
    ui.visible.clear();
    ClearLog();
    if (i == 0) dialog->bRefuse->click();
    if (i == 1) QTest::keyClick(dialog->tRefuse, Qt::Key_Escape);
    if (i == 2) dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Log(), refusal(reasons[i] != nullptr ? reasons[i] : "None"));
    EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
  }
  Show(dialog);
  EXPECT_EQ(dialog->tRefuse->text(), "") << "the field keeps its text from one offer to the next";
}

TEST_F(IncomingOffer, EnterAccepts) {
  Show(dialog);
  ClearLog();
  QTest::keyClick(dialog->tRefuse, Qt::Key_Return);
  EXPECT_EQ(R().CallsOf("ZEPAcceptSubGroupJoinRequest").size(), 1u);
  EXPECT_EQ(Values().CurrentState, lobby::State::stPlaying);
}

}  // namespace
