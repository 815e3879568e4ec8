// The query dialog: what every activation resets, when and with which text
// it queries, how answers are listed and shown, the automatic refresh that
// updates the list in place, and its buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "core/bitmap_button.hpp"
#include "core/client_timer.hpp"
#include "core/test_form.hpp"
#include "dialog_fixture.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "zep/zep.h"

namespace {

using dialogtest::DialogTest;
using lobby::TConnect;
using lobby::Values;
using recorder::R;

const std::string kAnn =
    "ID=127.0.0.1:2002;OWN=1.1.1.1;VERSION=0.90b1;REAL=Ann;DESC=Likes chess;CITY=Oslo;COUNTRY=Norway;AGE=31;"
    "SEX=1;EMAIL=ann@example.org;";
const std::string kBo =
    "ID=127.0.0.1:2003;OWN=1.1.1.1;VERSION=0.90b1;REAL=Bo;DESC=New here;CITY=Bergen;COUNTRY=Norway;AGE=22;"
    "SEX=0;EMAIL=bo@example.org;";
// Bo again, with a new description.
const std::string kBoLater =
    "ID=127.0.0.1:2003;OWN=1.1.1.1;VERSION=0.90b1;REAL=Bo;DESC=Back from lunch;CITY=Bergen;COUNTRY=Norway;"
    "AGE=22;SEX=0;EMAIL=bo@example.org;";
const std::string kCy =
    "ID=127.0.0.1:2004;OWN=1.1.1.1;VERSION=0.90b1;REAL=Cy;DESC=Hi;CITY=Tromso;COUNTRY=Norway;AGE=40;"
    "SEX=0;EMAIL=cy@example.org;";

class QueryDialog : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Make(forms.Test);
    Make(forms.MessageF);
    dialog = Make(forms.Connect);
  }

  // Shown and activated as SetState does it.
  void Activate() { DialogTest::Activate(dialog); }
  using DialogTest::Activate;

  std::vector<std::string> Queries() const { return R().CallsOf("ZEPQueryUsers"); }

  static QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < dialog->ListUsers->count(); ++i) names.push_back(dialog->ListUsers->item(i)->text().toStdString());
    return names;
  }
  // One field of every entry, in the list's order.
  std::vector<std::string> Listed(std::string lobby::ListingRecord::*field) const {
    std::vector<std::string> values;
    for (const lobby::ListingRecord& entry : dialog->Entries()) values.push_back(entry.*field);
    return values;
  }
  std::vector<std::string> Details() const {
    std::vector<std::string> details;
    for (QLabel* l : {dialog->lRemoteName, dialog->lRemoteCity, dialog->lRemoteCountry, dialog->lRemoteAge,
                      dialog->lRemoteeMail, dialog->lRemoteDesc, dialog->lRemoteId})
      details.push_back(l->text().toStdString());
    return details;
  }
  bool ShowsFemale() const {
    EXPECT_NE(dialog->lFemale->isHidden(), dialog->lMale->isHidden());
    EXPECT_EQ(dialog->Female->isHidden(), dialog->lFemale->isHidden());
    EXPECT_EQ(dialog->Male->isHidden(), dialog->lMale->isHidden());
    return !dialog->lFemale->isHidden();
  }

  // The query answers of a running query, as the dispatch lists them.
  void List(const std::string& text) {
    if (dialog->ListQueryResult(text)) dialog->EnableConnectButton();
  }
  // The first query of a (new) activation, answered with these players.
  void FirstQueryAnswered(const std::vector<std::string>& players) {
    dialog->ShowAgain();
    WaitForActivation(dialog);
    Values().ServerAcknowledged = true;
    dialog->QueryTimerTimer();
    for (const std::string& player : players) List(player);
    dialog->QueryEnded();
  }
  // The automatic query's tick, answered with these players.
  void AutomaticQueryAnswered(const std::vector<std::string>& players) {
    const std::size_t sent = Queries().size();
    dialog->RefreshTimerTimer();
    ASSERT_EQ(Queries().size(), sent + 1);
    for (const std::string& player : players) List(player);
    dialog->QueryEnded();
  }
  void Select(int row) {
    QListWidget* list = dialog->ListUsers;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }

  TConnect* dialog = nullptr;
};

TEST_F(QueryDialog, CaptionsAreSizedToTheirTextAndRoomyFieldsWrapOnceShown) {
  // Nothing is measured while the windows are made, before the splash is
  // on screen: all of it happens when the dialog is first shown.
  Activate();
  int headings = 0, captions = 0;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    // Pictures, value fields, and captions hidden until a player is shown
    // or a query is made.
    if (label->text().isEmpty() || label->autoFillBackground() || !label->isVisible()) continue;
    ++(label->font().italic() ? headings : captions);
    if (label->font().italic()) {
      EXPECT_EQ(label->font().pixelSize(), 13);
    }
    EXPECT_EQ(label->size(), label->sizeHint()) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
  }
  EXPECT_EQ(headings, 2);
  EXPECT_GE(captions, 5);
  // Captions hidden until now are sized as they are shown.
  dialog->lFemale->show();
  EXPECT_EQ(dialog->lFemale->size(), dialog->lFemale->sizeHint());
  dialog->FrQuery->show();
  int inQuery = 0;
  for (QLabel* label : dialog->FrQuery->findChildren<QLabel*>()) {
    if (label->text().isEmpty() || !label->isVisible()) continue;
    ++inQuery;
    EXPECT_EQ(label->size(), label->sizeHint()) << label->text().toStdString();
  }
  EXPECT_GE(inQuery, 6);
  EXPECT_TRUE(dialog->lRemoteDesc->wordWrap());
  EXPECT_TRUE(dialog->lMyDesc->wordWrap());
  EXPECT_EQ(dialog->lRemoteDesc->alignment(), Qt::AlignLeft | Qt::AlignTop);
  for (QLabel* field : {dialog->lRemoteName, dialog->lRemoteCity, dialog->lRemoteeMail, dialog->lMyName}) {
    EXPECT_FALSE(field->wordWrap());
    EXPECT_EQ(field->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
  }
  // The pictures are drawn by then too; the sex pictures, hidden while
  // nobody is shown, when they are shown.
  EXPECT_FALSE(dialog->QueryPic->pixmap().isNull());
  EXPECT_TRUE(dialog->Male->pixmap().isNull());
  dialog->Male->show();
  EXPECT_FALSE(dialog->Male->pixmap().isNull());
  dialog->Female->show();
  EXPECT_FALSE(dialog->Female->pixmap().isNull());
}

TEST_F(QueryDialog, EveryActivationStartsOver) {
  Activate();
  Values().ServerAcknowledged = true;
  List(kAnn);
  dialog->QueryEnded();
  dialog->QMaxAns->setCurrentIndex(3);
  dialog->bQueryOnClick();
  dialog->QCity->setText("Oslo");
  dialog->tSex->setCurrentIndex(2);

  // A message box over the dialog, closed: the dialog is activated again.
  Activate(forms.MessageF);
  forms.MessageF->hide();
  Activate(dialog);

  EXPECT_TRUE(Names().empty());
  EXPECT_TRUE(dialog->Entries().empty());
  EXPECT_EQ(Details(), std::vector<std::string>(7, "???"));
  EXPECT_EQ(Items(dialog->QMaxAns), (QStringList{"100", "50", "30", "10"}));
  EXPECT_EQ(dialog->QMaxAns->currentText(), "100");
  EXPECT_FALSE(dialog->bRefresh->isEnabled());
  EXPECT_FALSE(dialog->bConnect->isEnabled());
  EXPECT_FALSE(dialog->QueryPic->isHidden());
  EXPECT_TRUE(dialog->ListUsers->isHidden());
  EXPECT_TRUE(dialog->QueryTimer->isEnabled());
  // What the player asked for stays.
  EXPECT_FALSE(dialog->FrQuery->isHidden());
  EXPECT_EQ(dialog->QCity->text(), "Oslo");
  EXPECT_EQ(dialog->tSex->currentText(), "Female");

  dialog->QueryTimerTimer();
  EXPECT_EQ(Queries(), (std::vector<std::string>{"ZEPQueryUsers(7, \"CITY=Oslo;SEX=1;\", 100, 32, 0)"}));
}

TEST_F(QueryDialog, TheFirstQueryWaitsForTheAcknowledgement) {
  Activate();
  dialog->QueryTimerTimer();
  EXPECT_TRUE(Queries().empty());
  EXPECT_TRUE(dialog->QueryTimer->isEnabled()) << "it tries again";
  EXPECT_EQ(dialog->QueryTimer->interval(), 3000);

  Values().ServerAcknowledged = true;
  dialog->RefreshTimer->setEnabled(true);
  dialog->QueryTimerTimer();
  EXPECT_EQ(Queries(), (std::vector<std::string>{"ZEPQueryUsers(7, \" \", 100, 32, 0)"}));
  EXPECT_FALSE(dialog->QueryTimer->isEnabled());
  EXPECT_FALSE(dialog->RefreshTimer->isEnabled());
}

TEST_F(QueryDialog, TheQueryTextFollowsTheLookForFieldsOnlyWhileTheyAreShown) {
  Activate();
  Values().ServerAcknowledged = true;
  dialog->QName->setText("Ann");
  dialog->QAge->setText("31");
  dialog->QDesc->setText("a;b=c");
  dialog->tSex->setCurrentIndex(1);
  dialog->QMaxAns->setCurrentIndex(3);
  dialog->bRefreshClick();  // hidden: the fields do not count
  dialog->bQueryOnClick();
  EXPECT_TRUE(dialog->bQueryOn->isStayingDown());
  dialog->bRefreshClick();
  dialog->bQueryOnClick();
  EXPECT_FALSE(dialog->bQueryOn->isStayingDown());
  EXPECT_TRUE(dialog->FrQuery->isHidden());
  EXPECT_EQ(Queries(), (std::vector<std::string>{"ZEPQueryUsers(7, \" \", 10, 32, 0)",
                                                 "ZEPQueryUsers(7, \"REAL=Ann;AGE=31;DESC=a;b=c;SEX=0;\", 10, 32, 0)"}));
}

TEST(QueryText, PairsGoInTheirOrderAndEmptyFieldsAreLeftOut) {
  lobby::QueryFields f;
  EXPECT_EQ(lobby::BuildQueryText(f), " ");
  f.city = "x";
  f.sex = 2;
  EXPECT_EQ(lobby::BuildQueryText(f), "CITY=x;SEX=1;");
  f = {"n", "c", "k", "9", "e", "d", 0};
  EXPECT_EQ(lobby::BuildQueryText(f), "REAL=n;CITY=c;COUNTRY=k;AGE=9;EMAIL=e;DESC=d;");
}

TEST_F(QueryDialog, AQueryAlreadyRunningCountsAsAccepted) {
  Activate();
  Values().ServerAcknowledged = true;
  R().results["ZEPQueryUsers"] = ZEP_RET_ALREADYINQUERY;
  dialog->RefreshTimer->setEnabled(true);
  dialog->QueryTimerTimer();
  EXPECT_TRUE(R().CallsOf("Message").empty());
  EXPECT_FALSE(dialog->RefreshTimer->isEnabled());
  List(kAnn);
  EXPECT_EQ(Names(), std::vector<std::string>{"Ann"});
}

TEST_F(QueryDialog, ARefusedQueryIsExplainedWithTheCodeAndStopsTheTimer) {
  const std::string code =
      "10035 - ZEP_RET_NOTINSERVER This operation (e.g. ZEPLeaveServer) is out of context since you're not "
      "connected to a server.";
  Activate();
  Values().ServerAcknowledged = true;
  R().results["ZEPQueryUsers"] = ZEP_RET_NOTINSERVER;
  ui.visible = {lobby::Form::Connect};
  dialog->QueryTimerTimer();
  dialog->bRefreshClick();
  EXPECT_EQ(R().CallsOf("Message"),
            (std::vector<std::string>{
                "Message(TConnect, \"Couldn't Query.  Server is probably down.  Try again later." + code + "\")",
                "Message(TConnect, \"Couldn't Query.  Server is probably down.  Try again later. " + code + "\")"}));
  EXPECT_FALSE(dialog->QueryTimer->isEnabled());
  EXPECT_FALSE(dialog->bRefresh->isEnabled()) << "until some later query ends";
}

TEST_F(QueryDialog, RefreshBeforeTheAcknowledgementEmptiesTheListAndSendsNothing) {
  Activate();
  List(kAnn);
  dialog->QueryEnded();
  dialog->bRefreshClick();
  EXPECT_TRUE(Names().empty());
  EXPECT_EQ(Details(), std::vector<std::string>(7, "???"));
  EXPECT_FALSE(dialog->bRefresh->isEnabled());
  EXPECT_FALSE(dialog->bConnect->isEnabled());
  EXPECT_TRUE(Queries().empty());
}

TEST_F(QueryDialog, AnswersAreListedInArrivalOrderAndTheFirstIsShown) {
  Activate();
  EXPECT_TRUE(dialog->ListQueryResult(kAnn));
  EXPECT_FALSE(dialog->ListUsers->isHidden());
  EXPECT_TRUE(dialog->QueryPic->isHidden());
  EXPECT_TRUE(dialog->ListQueryResult(kBo));
  EXPECT_TRUE(dialog->ListQueryResult(kAnn)) << "the same player twice is listed twice";
  EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Bo", "Ann"}));
  EXPECT_EQ(Listed(&lobby::ListingRecord::text), (std::vector<std::string>{kAnn, kBo, kAnn}));
  EXPECT_EQ(Listed(&lobby::ListingRecord::city), (std::vector<std::string>{"Oslo", "Bergen", "Oslo"}));
  EXPECT_EQ(Listed(&lobby::ListingRecord::sex), (std::vector<std::string>{"1", "0", "1"}));
  // Later answers leave the selection alone.
  EXPECT_EQ(dialog->ListUsers->currentRow(), 0);
  EXPECT_EQ(Details(), (std::vector<std::string>{"Ann", "Oslo", "Norway", "31", "ann@example.org", "Likes chess",
                                                 kAnn}));
  EXPECT_EQ(dialog->RemoteIdText(), kAnn);
  EXPECT_EQ(dialog->RemoteNameCaption(), "Ann");
  EXPECT_TRUE(ShowsFemale());
  EXPECT_EQ(dialog->lRemoteSex->text(), "1");

  // Another line clicked: every detail and the partner of the next offer.
  Select(1);
  EXPECT_EQ(Details(), (std::vector<std::string>{"Bo", "Bergen", "Norway", "22", "bo@example.org", "New here", kBo}));
  EXPECT_EQ(dialog->RemoteIdText(), kBo);
  EXPECT_FALSE(ShowsFemale());
}

TEST_F(QueryDialog, AnAnswerMissingAFieldListsNothing) {
  Activate();
  const std::string incomplete[] = {
      "OWN=1.1.1.1;REAL=Ann;DESC=d;CITY=c;COUNTRY=k;AGE=1;SEX=1;EMAIL=e;",  // no ID=
      "ID=1.2.3.4:2001;REAL=Ann;DESC=d;CITY=c;COUNTRY=k;AGE=;SEX=1;EMAIL=e;",
      "ID=1.2.3.4:2001;REAL=Ann;DESC=d;CITY=c;COUNTRY=k;AGE=1;SEX=1;",
  };
  for (const std::string& text : incomplete) {
    SCOPED_TRACE(text);
    List(text);
  }
  EXPECT_TRUE(Names().empty());
  EXPECT_TRUE(dialog->Entries().empty());
  EXPECT_FALSE(dialog->bConnect->isEnabled());
  EXPECT_FALSE(dialog->QueryPic->isHidden());
  EXPECT_EQ(Details(), std::vector<std::string>(7, "???"));
}

TEST_F(QueryDialog, AnySexOtherThanOneIsShownAsMale) {
  for (const char* sex : {"0", "2", "x1"}) {
    SCOPED_TRACE(sex);
    Activate();
    List("ID=1.2.3.4:2001;REAL=R;DESC=d;CITY=c;COUNTRY=k;AGE=1;SEX=" + std::string(sex) + ";EMAIL=e;");
    EXPECT_FALSE(ShowsFemale());
    EXPECT_EQ(dialog->lRemoteSex->text(), "2");
    dialog->hide();
  }
}

TEST_F(QueryDialog, TheAutomaticRefreshRepeatsTheLastQueryOnlyWhenItIsDue) {
  EXPECT_EQ(dialog->RefreshTimer->interval(), lobby::kAutoRefreshIntervalMs);
  Activate();
  Values().ServerAcknowledged = true;
  dialog->RefreshTimer->setEnabled(true);
  dialog->RefreshTimerTimer();
  EXPECT_TRUE(Queries().empty()) << "not before the first query";
  dialog->bQueryOnClick();
  dialog->QCity->setText("Oslo");
  dialog->QueryTimerTimer();
  dialog->RefreshTimerTimer();
  EXPECT_EQ(Queries().size(), 1u) << "not while a query runs";
  dialog->QueryEnded();
  EXPECT_TRUE(dialog->RefreshTimer->isEnabled());

  // What was asked is asked again, whatever the fields hold meanwhile.
  dialog->QCity->setText("Bergen");
  dialog->RefreshTimerTimer();
  EXPECT_EQ(Queries().back(), "ZEPQueryUsers(7, \"CITY=Oslo;\", 100, 32, 0)");
  EXPECT_FALSE(dialog->RefreshTimer->isEnabled());
  EXPECT_FALSE(dialog->bRefresh->isEnabled()) << "as while any query runs";
  dialog->QueryEnded();

  const std::size_t sent = Queries().size();
  dialog->cAutoRefresh->setChecked(false);
  EXPECT_FALSE(dialog->RefreshTimer->isEnabled());
  dialog->RefreshTimerTimer();
  for (lobby::Form over : {lobby::Form::Message, lobby::Form::Accept, lobby::Form::Suggest}) {
    dialog->cAutoRefresh->setChecked(true);
    ui.visible = {over};
    dialog->RefreshTimerTimer();
  }
  ui.visible.clear();
  Values().ServerAcknowledged = false;
  dialog->RefreshTimerTimer();
  EXPECT_EQ(Queries().size(), sent);

  Values().ServerAcknowledged = true;
  dialog->cAutoRefresh->setChecked(false);
  dialog->cAutoRefresh->setChecked(true);
  EXPECT_TRUE(dialog->RefreshTimer->isEnabled()) << "ticked again";
  dialog->RefreshTimerTimer();
  EXPECT_EQ(Queries().size(), sent + 1);
}

TEST_F(QueryDialog, AnAutomaticAnswerUpdatesTheListInPlaceAndKeepsTheSelection) {
  FirstQueryAnswered({kAnn, kBo});
  Select(1);
  dialog->RefreshTimerTimer();
  List(kCy);
  List(kBoLater);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Bo"})) << "kept until the answer is complete";
  dialog->QueryEnded();

  EXPECT_EQ(Names(), (std::vector<std::string>{"Bo", "Cy"}));
  EXPECT_EQ(Listed(&lobby::ListingRecord::text), (std::vector<std::string>{kBoLater, kCy}));
  EXPECT_EQ(dialog->ListUsers->currentRow(), 0);
  EXPECT_EQ(Details(), (std::vector<std::string>{"Bo", "Bergen", "Norway", "22", "bo@example.org",
                                                 "Back from lunch", kBoLater}));
  EXPECT_EQ(dialog->RemoteIdText(), kBoLater);
  EXPECT_TRUE(dialog->bConnect->isEnabled());

  // A first answer that found nobody: the first newcomer is shown, as any
  // first answer's is.
  FirstQueryAnswered({});
  AutomaticQueryAnswered({kCy, kAnn});
  EXPECT_EQ(Names(), (std::vector<std::string>{"Cy", "Ann"}));
  EXPECT_EQ(dialog->RemoteIdText(), kCy);
  EXPECT_TRUE(dialog->bConnect->isEnabled());
  AutomaticQueryAnswered({});
  EXPECT_FALSE(dialog->QueryPic->isHidden()) << "nobody left";
}

TEST_F(QueryDialog, ASelectedPlayerWhoLeavesIsSaidToHaveLeftAndNobodyElseIsPicked) {
  FirstQueryAnswered({kAnn, kBo});
  Values().CurrentState = lobby::State::stLobby;
  AutomaticQueryAnswered({kBo, kCy});
  EXPECT_EQ(Names(), (std::vector<std::string>{"Bo", "Cy"}));
  EXPECT_TRUE(dialog->ListUsers->selectedItems().isEmpty());
  EXPECT_EQ(dialog->lRemoteName->text(), "Ann");
  EXPECT_EQ(dialog->lRemoteDesc->text(), "Ann has left the lobby.");
  EXPECT_EQ(dialog->RemoteIdText(), "???");
  EXPECT_FALSE(dialog->bConnect->isEnabled());
  dialog->bConnectClick();
  EXPECT_EQ(Values().CurrentState, lobby::State::stLobby) << "no offer to anybody";
  AutomaticQueryAnswered({kBo, kCy, kAnn});
  EXPECT_EQ(dialog->RemoteIdText(), "???") << "still nobody picked";

  Select(1);
  EXPECT_EQ(dialog->RemoteIdText(), kCy);
  EXPECT_TRUE(dialog->bConnect->isEnabled());
}

TEST_F(QueryDialog, ARefusedAutomaticQueryIsShownOnceAndWaitsForTheNextActivation) {
  FirstQueryAnswered({kAnn});
  R().results["ZEPQueryUsers"] = ZEP_RET_NOTINSERVER;
  dialog->RefreshTimerTimer();
  dialog->RefreshTimer->setEnabled(true);
  dialog->RefreshTimerTimer();
  EXPECT_EQ(R().CallsOf("Message").size(), 1u);
  EXPECT_EQ(Queries().size(), 2u);
  EXPECT_EQ(Names(), std::vector<std::string>{"Ann"});

  R().results.clear();
  FirstQueryAnswered({kAnn});
  dialog->RefreshTimerTimer();
  EXPECT_EQ(Queries().size(), 4u);
}

TEST_F(QueryDialog, OfferingHidesTheDialogShowsTheOfferAndStopsBothTimers) {
  Activate();
  List(kAnn);
  Values().CurrentState = lobby::State::stLobby;
  dialog->SetQueryTimer(true);
  dialog->SetRefreshTimer(true);
  ClearLog();
  dialog->bConnect->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Log(), (std::vector<std::string>{"Show(TSuggestF)", "Hide(TOpen)"}));
  EXPECT_EQ(Values().CurrentState, lobby::State::stOffering);
  EXPECT_FALSE(dialog->QueryTimer->isEnabled());
  EXPECT_FALSE(dialog->RefreshTimer->isEnabled());
}

TEST_F(QueryDialog, TheMusicButtonSwitchesTheMusicAndShowsWhatItWillDo) {
  Activate();
  dialog->BitBtn1->click();
  EXPECT_TRUE(Values().MusicPlaying);
  EXPECT_EQ(dialog->BitBtn1->glyph(), lobby::Glyph::MusicOff);
  dialog->BitBtn1->click();
  EXPECT_FALSE(Values().MusicPlaying);
  EXPECT_EQ(dialog->BitBtn1->glyph(), lobby::Glyph::MusicOn);
  EXPECT_EQ(Log(), (std::vector<std::string>{"PlaySound(\"C:\\Games\\Zudeduzu.wav\", 11)", "StopAllSound()"}));
}

TEST_F(QueryDialog, ExitAndTheCloseBoxLeaveTheServerAndTheSessionAndQuit) {
  const std::vector<std::string> exitCalls = {"RefreshTimer(off)", "QueryTimer(off)", "ZEPLeaveServer(7)",
                                              "StopAllSound()", "ZEPLeaveSession(7)", "Quit()"};
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Exit");
    Activate();
    Values().SessionFlag = true;
    Values().CurrentState = lobby::State::stLobby;
    Values().MusicPlaying = true;
    ClearLog();
    if (closeBox)
      dialog->close();
    else
      dialog->bExit->click();
    EXPECT_EQ(Log(), exitCalls);
    EXPECT_FALSE(Values().SessionFlag);
    EXPECT_FALSE(Values().MusicPlaying);
    EXPECT_EQ(Values().CurrentState, lobby::State::stLeaving);
  }
}

}  // namespace
