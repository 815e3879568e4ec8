// The client's windows on the offscreen platform: start-up, the splash, the
// main window with its profile, and the message box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <filesystem>

#include "core/help_window.hpp"
#include "platform/platform.h"
#include "support/client_forms.hpp"
#include "zep/zep.h"

using clienttest::RunUntilQuit;
using clienttest::WaitFor;
using lobby::LobbyForm;
using lobby::Values;
using recorder::R;
using test_support::ReadFile;
using test_support::WriteFile;

namespace {

using Calls = std::vector<std::string>;

class Forms : public clienttest::ClientForms {};

// ---- start-up -----------------------------------------------------------------

TEST_F(Forms, SevenFormsWithTheirCaptionsSizesAndFrames) {
  struct Expected {
    LobbyForm* form;
    const char* caption;
    int width, height;
  } forms[] = {
      {Open(), "QOR's Corvane Game", 640, 480},
      {Test(), "QOR's Corvane Game - Entering the Vossa", 640, 480},
      {this->forms().ServerF, "Choosing a Server...", 640, 480},
      {this->forms().SuggestF, "Offering a game to Remote, please wait...", 640, 480},
      {this->forms().AcceptF, "Remote is offering a game...", 640, 484},
      {this->forms().Connect, "Entering the Vossa...", 640, 480},
  };
  const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
  for (const Expected& e : forms) {
    ASSERT_NE(e.form, nullptr) << e.caption;
    EXPECT_EQ(e.form->windowTitle().toStdString(), e.caption);
    EXPECT_EQ(e.form->size(), QSize(e.width, e.height)) << e.caption;
    EXPECT_EQ(e.form->minimumSize(), e.form->maximumSize()) << e.caption << " is not resizable";
    EXPECT_LE((e.form->geometry().center() - screenCentre).manhattanLength(), 2) << e.caption;
    const Qt::WindowFlags flags = e.form->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint) << e.caption;
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint) << e.caption;
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint) << e.caption;
    EXPECT_EQ(e.form->isVisible(), e.form == Open()) << e.caption << ": only the splash is shown";
  }
  EXPECT_EQ(Box()->size(), QSize(281, 168));
  EXPECT_TRUE(Box()->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(Box()->isVisible());
}

TEST_F(Forms, TheSplashsCreationStartsEverything) {
  EXPECT_EQ(Values().InstallDir, InstallDir());
  EXPECT_EQ(Values().HelpFile, InstallDir() + "Corva.hlp");
  EXPECT_TRUE(Open()->hasBackground());
  // The main window found its background because the splash ran first.
  EXPECT_TRUE(Test()->hasBackground());
  EXPECT_EQ(R().calls, (Calls{"PlaySound(\"" + InstallDir() + "Zudeduzu.wav\", 11)"}));
  EXPECT_TRUE(Values().MusicPlaying);
  EXPECT_TRUE(Values().SessionFlag);
  EXPECT_FALSE(Values().InSubGroup);
  EXPECT_EQ(Values().CurrentState, lobby::State{});
  EXPECT_TRUE(Open()->bOk->isVisible());
  EXPECT_FALSE(Open()->LoadingIm->isVisible());
  EXPECT_EQ(Open()->LoadingIm->text(), "Loading, please wait...");
  EXPECT_FALSE(Open()->bOk->accessibleName().isEmpty());
  // The fonts were waited for with the splash made and nothing else.
  EXPECT_EQ(formsMadeBeforeFonts_, 1);
  EXPECT_EQ(MadeForms(), 7);
}

TEST_F(Forms, TheSplashsOkStopsTheMusicAndShowsTheMainWindow) {
  // Enter presses the default button.
  QTest::keyClick(Open(), Qt::Key_Return);
  EXPECT_EQ(R().calls.back(), "StopAllSound()");
  EXPECT_FALSE(Values().MusicPlaying);
  EXPECT_EQ(Values().CurrentState, lobby::State::stRegister);
  EXPECT_TRUE(Test()->isVisible());
  EXPECT_FALSE(Open()->isVisible());
  EXPECT_FALSE(Open()->bOk->isVisibleTo(Open()));
  EXPECT_TRUE(Open()->LoadingIm->isVisibleTo(Open()));
}

TEST_F(Forms, ClosingTheSplashEndsTheProgram) {
  EXPECT_EQ(RunUntilQuit([this] { Open()->close(); }), 0);
  EXPECT_EQ(Values().CurrentState, lobby::State::stRegister);
  EXPECT_FALSE(Values().MusicPlaying);
}

// ---- the main window ---------------------------------------------------------------

TEST_F(Forms, MainWindowComponentsStandWhereTheyBelong) {
  lobby::TTest* t = Test();
  const std::pair<QWidget*, QRect> placed[] = {
      {t->Label1, {160, 72, 140, 13}},   {t->tRealName, {160, 88, 177, 21}}, {t->tCity, {344, 88, 145, 21}},
      {t->tCountry, {200, 112, 105, 21}}, {t->tAge, {344, 112, 33, 21}},      {t->tSex, {416, 112, 73, 21}},
      {t->tEmail, {200, 136, 289, 21}},   {t->tDescription, {160, 176, 329, 65}},
      {t->bServer, {536, 200, 81, 41}},   {t->bHelp, {21, 144, 69, 40}},      {t->bExit, {544, 5, 75, 38}},
      {t->bOk, {288, 392, 86, 41}},       {t->BitBtn1, {16, 192, 81, 49}},    {t->bAgentMessage, {8, 8, 97, 25}},
      {t->bHangman, {8, 40, 97, 25}},
  };
  for (const auto& [widget, rect] : placed) EXPECT_EQ(widget->geometry(), rect) << widget->objectName().toStdString();
  const std::pair<QLabel*, QPoint> labels[] = {{t->Label2, {344, 72}}, {t->Label3, {160, 112}}, {t->Label4, {320, 112}},
                                               {t->Label5, {392, 112}}, {t->Label6, {160, 136}}, {t->Label7, {160, 160}}};
  for (const auto& [label, at] : labels) EXPECT_EQ(label->pos(), at) << label->text().toStdString();
  // Every caption fits its label.
  for (QLabel* label : {t->Label1, t->Label2, t->Label3, t->Label4, t->Label5, t->Label6, t->Label7})
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
  EXPECT_EQ(t->tSex->count(), 2);
  EXPECT_EQ(t->tSex->itemText(0), "Male");
  EXPECT_EQ(t->tSex->itemText(1), "Female");
  EXPECT_FALSE(t->bAgentMessage->isVisibleTo(t));
  EXPECT_FALSE(t->bHangman->isVisibleTo(t));
  EXPECT_EQ(t->bHangman->text(), "Hangman");
  EXPECT_EQ(t->AgentMessTimer->interval(), 10);
  EXPECT_FALSE(t->AgentMessTimer->isEnabled());
  EXPECT_EQ(t->HangmanMessTimer->interval(), 10);
  for (QAbstractButton* b : {static_cast<QAbstractButton*>(t->bServer), static_cast<QAbstractButton*>(t->bHelp),
                             static_cast<QAbstractButton*>(t->bExit), static_cast<QAbstractButton*>(t->bOk),
                             static_cast<QAbstractButton*>(t->BitBtn1)}) {
    EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
    EXPECT_FALSE(b->toolTip().isEmpty()) << b->objectName().toStdString();
  }
}

TEST_F(Forms, TabOrderRunsThroughTheFieldsThenTheButtons) {
  lobby::TTest* t = Test();
  const QWidget* order[] = {t->tRealName, t->tCity,  t->tCountry, t->tAge, t->tSex, t->tEmail,
                            t->tDescription, t->bServer, t->bHelp, t->bExit, t->bOk};
  QWidget* w = t->tRealName;
  for (std::size_t i = 1; i < std::size(order); ++i) {
    do w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(t) || w->parentWidget() != t);
    EXPECT_EQ(w, order[i]) << "after " << order[i - 1]->objectName().toStdString() << " comes "
                           << w->objectName().toStdString();
  }
}

TEST_F(Forms, ActivationShowsTheStoredProfile) {
  WriteFile(ProfileFile(), "[Vossa]\nRealName=" + std::string(85, 'r') +
                               "\nDescription=Likes long games\nCITY=Oslo\nCOUNTRY=Norway\nAGE=42\nSEX=1\n"
                               "EMAIL=ann@example.org\n");
  ToMainWindow();
  lobby::TTest* t = Test();
  EXPECT_EQ(t->tRealName->text().toStdString(), std::string(79, 'r'));
  EXPECT_EQ(t->tDescription->text(), "Likes long games");
  EXPECT_EQ(t->tCity->text(), "Oslo");
  EXPECT_EQ(t->tCountry->text(), "Norway");
  EXPECT_EQ(t->tAge->text(), "42");
  EXPECT_EQ(t->tSex->currentText(), "Female");
  EXPECT_EQ(t->tEmail->text(), "ann@example.org");
  for (const char* sex : {"SEX=2", "SEX=", "SEX=female", ""}) {
    WriteFile(ProfileFile(), std::string("[Vossa]\nRealName=Ann\n") + sex + "\n");
    ActivateMainWindowAgain();
    EXPECT_EQ(t->tSex->currentText(), "Male") << sex;
  }
  // Edits not saved are replaced at the next activation.
  t->tCity->setText("Bergen");
  ActivateMainWindowAgain();
  EXPECT_EQ(t->tCity->text(), "");
}

TEST_F(Forms, AStateSetTwiceNeverHidesItsWindowOnTheWay) {
  // After a game the main window's state is set twice in a row. Hidden and
  // shown again at once, a window can stay unmapped for good under a window
  // manager; it stays on screen instead, and is activated again all the same.
  ToMainWindow();
  struct HideCounter : QObject {
    int hides = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Hide) ++hides;
      return false;
    }
  } counter;
  Test()->installEventFilter(&counter);
  WriteFile(ProfileFile(), "[Vossa]\nRealName=Ann\nCITY=Oslo\n");
  core().SetState(lobby::State::stRegister);
  EXPECT_EQ(Test()->tCity->text(), "Oslo") << "activated again";
  WriteFile(ProfileFile(), "[Vossa]\nRealName=Ann\nCITY=Bergen\n");
  core().SetState(lobby::State::stRegister);
  EXPECT_EQ(Test()->tCity->text(), "Bergen") << "activated again";
  EXPECT_EQ(counter.hides, 0);
  EXPECT_TRUE(Test()->isVisible());
  EXPECT_EQ(lobby::LobbyForm::LastActivated(), Test());
  Test()->removeEventFilter(&counter);
}

TEST_F(Forms, EmptyFieldsAreStoredAsDashesAndComeBackSo) {
  ToMainWindow();
  lobby::TTest* t = Test();
  t->tRealName->setText("Ann");
  t->tSex->setCurrentIndex(1);
  t->bServer->click();
  EXPECT_TRUE(forms().ServerF->isVisible());
  EXPECT_TRUE(t->isVisible()) << "the main window stays";
  EXPECT_EQ(ReadFile(ProfileFile()),
            "[Vossa]\nRealName=Ann\nDescription=-\nCITY=-\nCOUNTRY=-\nAGE=-\nSEX=1\nEMAIL=-\n");
  ActivateMainWindowAgain();
  EXPECT_EQ(t->tCity->text(), "-");
  EXPECT_EQ(t->tDescription->text(), "-");
  EXPECT_EQ(t->tEmail->text(), "-");
  EXPECT_EQ(t->tSex->currentText(), "Female");
}

TEST_F(Forms, RegistrationNeedsARealNameAndWritesNothingWithout) {
  ToMainWindow();
  for (const char* name : {"", "My Name"}) {
    R().calls.clear();
    Test()->tRealName->setText(name);
    QTest::keyClick(Test()->tRealName, Qt::Key_Return);  // the default button
    EXPECT_FALSE(std::filesystem::exists(ProfileFile())) << name;
    EXPECT_TRUE(R().calls.empty()) << name << ": " << R().calls.front();
    EXPECT_EQ(Values().CurrentState, lobby::State::stRegister);
    EXPECT_TRUE(Test()->isVisible());
    EXPECT_FALSE(Open()->isVisible());
    EXPECT_TRUE(Box()->isVisible());
    EXPECT_EQ(Box()->lMess->text(), "Please fill up the field \"Real Name\" before Registering.");
  }
}

TEST_F(Forms, ANameOfBlanksRegistersWithTheSavedProfile) {
  ToMainWindow();
  WriteFile(InstallDir().substr(0, InstallDir().size() - 1) + "/SERVERS.INI", "[QORServers]\nCurrentServer=10.9.8.7\n");
  Test()->tRealName->setText("   ");
  Test()->tAge->setText("30");
  Values().ServerAcknowledged = true;
  R().calls.clear();
  Test()->bOk->click();
  EXPECT_EQ(R().calls,
            (Calls{"ZEPLeaveSession(0)",
                   "ZEPOpenSession(&handle, 0, \"QORCORVA\", "
                   "\"VERSION=0.90b1;REAL=   ;DESC=-;CITY=-;COUNTRY=-;AGE=30;SEX=0;EMAIL=-;\", \"version.dll\", "
                   "window, 514, \"" + InstallDir() + "SERVERS.INI\")",
                   "ZEPJoinServer(0, \"10.9.8.7\", 2424)"}));
  EXPECT_FALSE(Values().ServerAcknowledged);
  // Waiting for the server's answer: the splash says so.
  EXPECT_TRUE(Open()->isVisible());
  EXPECT_TRUE(Open()->LoadingIm->isVisibleTo(Open()));
  EXPECT_FALSE(Test()->isVisible());
  EXPECT_NE(ReadFile(ProfileFile()).find("AGE=30"), std::string::npos);
}

TEST_F(Forms, ARefusedJoinLeavesAndSaysSoWithTheSplashStillUp) {
  ToMainWindow();
  Test()->tRealName->setText("Ann");
  R().results["ZEPJoinServer"] = ZEP_RET_INSERVER;
  Test()->bOk->click();
  EXPECT_EQ(R().CallsOf("ZEPLeaveServer"), (Calls{"ZEPLeaveServer(0)"}));
  EXPECT_EQ(Values().CurrentState, lobby::State::stLeaving);
  EXPECT_EQ(Box()->lMess->text(), "Problem connecting to the Server.  Please try again later");
  EXPECT_TRUE(Open()->isVisible());
  EXPECT_FALSE(Test()->isVisible());
}

TEST_F(Forms, TheAgentsNotificationRunsThePollOnce) {
  ToMainWindow();
  R().calls.clear();
  R().messages.push_back({"SERVER", ZEP_MT_JOINSRVRESPONSE, "ACKJ", "  "});
  ASSERT_TRUE(plat_post_message(Test()->AgentMessageWindow(), lobby::kNotifyMessage, 0, 0));
  ASSERT_TRUE(WaitFor([] { return Values().CurrentState == lobby::State::stLobby; }));
  EXPECT_TRUE(forms().Connect->isVisible());
  EXPECT_TRUE(Values().ServerAcknowledged);
  EXPECT_FALSE(Test()->AgentMessTimer->isEnabled()) << "one tick per notification";
  EXPECT_EQ(R().CallsOf("ZEPGetNextMessage").size(), 2u);
}

TEST_F(Forms, TheEnginesNotificationEndsTheGame) {
  ToMainWindow();
  Values().GameRunning = true;
  R().engineMessage = "MES=onet;LOC=2;REM=3;";
  ASSERT_TRUE(plat_post_message(Test()->HangmanWindow(), lobby::kNotifyMessage, 0, 0));
  ASSERT_TRUE(WaitFor([this] { return Box()->isVisible(); }));
  EXPECT_EQ(Box()->lMess->text(), "One time game has ended. You have won 2 games. Your partner has won 3 games.");
  EXPECT_FALSE(Values().GameRunning);
  EXPECT_FALSE(Test()->HangmanMessTimer->isEnabled());
}

TEST_F(Forms, TheMusicButtonSwitchesTheTune) {
  ToMainWindow();
  R().calls.clear();
  Test()->BitBtn1->click();
  EXPECT_TRUE(Values().MusicPlaying);
  Test()->BitBtn1->click();
  EXPECT_FALSE(Values().MusicPlaying);
  EXPECT_EQ(R().calls, (Calls{"PlaySound(\"" + InstallDir() + "Zudeduzu.wav\", 11)", "StopAllSound()"}));
}

TEST_F(Forms, AboutThenHelp) {
  ToMainWindow();
  std::string aboutText;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(Test()->AboutBox(), nullptr);
    aboutText = Test()->AboutBox()->text().toStdString();
    EXPECT_EQ(Test()->AboutBox()->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(Test()->AboutBox()->parentWidget(), Test());
    EXPECT_EQ(Test()->Help(), nullptr) << "help comes after the About box";
    Test()->AboutBox()->accept();
  });
  Test()->bHelp->click();
  EXPECT_EQ(aboutText.substr(0, aboutText.find('\n')), "     QOR's Corvane Game v0.91b2");
  EXPECT_GT(aboutText.size(), std::string("     QOR's Corvane Game v0.91b2\n").size()) << "one more line";
  ASSERT_NE(Test()->Help(), nullptr);
  EXPECT_TRUE(Test()->Help()->isVisible());
  const QString help = Test()->Help()->browser()->toPlainText();
  EXPECT_TRUE(help.contains("Registering")) << help.left(200).toStdString();
  EXPECT_TRUE(help.contains("Offering a game"));
}

TEST_F(Forms, TheExitButtonEndsTheProgramThroughTheExitSequence) {
  ToMainWindow();
  R().calls.clear();
  EXPECT_EQ(RunUntilQuit([this] { Test()->bExit->click(); }), 0);
  EXPECT_EQ(forms().Open, nullptr) << "the splash is destroyed";
  EXPECT_EQ(R().calls, (Calls{"ZEPLeaveServer(0)", "StopAllSound()", "ZEPLeaveSession(0)"}));
  EXPECT_FALSE(Values().SessionFlag);
}

TEST_F(Forms, ClosingTheMainWindowIsTheSameAsExit) {
  ToMainWindow();
  R().calls.clear();
  EXPECT_EQ(RunUntilQuit([this] { Test()->close(); }), 0);
  EXPECT_EQ(R().calls, (Calls{"ZEPLeaveServer(0)", "StopAllSound()", "ZEPLeaveSession(0)"}));
}

// ---- the message box ----------------------------------------------------------------

TEST_F(Forms, MessageBoxLayout) {
  lobby::TMessageF* box = Box();
  EXPECT_EQ(box->fMess->geometry(), QRect(8, 8, 265, 153));
  EXPECT_EQ(box->lMess->geometry(), QRect(8, 16, 249, 97));
  EXPECT_EQ(box->lMess->parentWidget(), box->fMess);
  EXPECT_TRUE(box->lMess->wordWrap());
  EXPECT_TRUE(box->lMess->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(box->lMess->font().pixelSize(), 13);
  EXPECT_EQ(box->bOkMess->geometry(), QRect(96, 120, 75, 25));
  EXPECT_EQ(box->bOkMess->text(), "OK");
  core().ShowMessageBox("Frame");
  ASSERT_TRUE(WaitFor([box] { return box->isVisible(); }));
  const QImage image = box->grab().toImage();
  const auto red = [&image](int x, int y) { return image.pixelColor(x, y) == QColor(Qt::red); };
  // The 5-pixel red frame of the shape at -3, 0, 284 x 169.
  for (QPoint p : {QPoint(0, 80), QPoint(1, 80), QPoint(278, 80), QPoint(280, 80), QPoint(140, 0), QPoint(140, 4),
                   QPoint(140, 164), QPoint(140, 167)})
    EXPECT_TRUE(red(p.x(), p.y())) << p.x() << "," << p.y();
  for (QPoint p : {QPoint(3, 80), QPoint(274, 80), QPoint(140, 6), QPoint(140, 162)})
    EXPECT_FALSE(red(p.x(), p.y())) << p.x() << "," << p.y();
  const QColor group = image.pixelColor(30, 100);  // inside the group, no text there
  EXPECT_TRUE(group.red() < 16 && group.green() < 16 && group.blue() > 110) << "the navy group";
}

TEST_F(Forms, ASecondTextReplacesTheFirstAndOneOkCloses) {
  ToMainWindow();
  core().ShowMessageBox("first");
  core().ShowMessageBox("second");
  EXPECT_EQ(Box()->lMess->text(), "second");
  EXPECT_TRUE(Box()->isVisible());
  EXPECT_TRUE(Box()->fMess->isVisible());
  Box()->bOkMess->click();
  EXPECT_FALSE(Box()->isVisible());
  EXPECT_FALSE(Box()->fMess->isVisibleTo(Box()));
}

TEST_F(Forms, OkStopsAllSoundAndTheMusic) {
  ASSERT_TRUE(Values().MusicPlaying) << "the splash's music";
  core().ShowMessageBox("Remote has declined your offer. Reason : ");
  R().calls.clear();
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(R().calls, (Calls{"StopAllSound()"}));
  EXPECT_FALSE(Values().MusicPlaying);
  EXPECT_FALSE(Box()->isVisible());
}

TEST_F(Forms, TheBoxIsOwnedByTheVisibleDialogAndStaysAcrossStateChanges) {
  ToMainWindow();
  core().SetState(lobby::State::stLobby);
  core().ShowMessageBox("over the lobby");
  EXPECT_EQ(Box()->Owner(), forms().Connect);
  ASSERT_NE(Box()->windowHandle(), nullptr);
  EXPECT_EQ(Box()->windowHandle()->transientParent(), forms().Connect->windowHandle());
  core().SetState(lobby::State::stOffered);
  EXPECT_TRUE(Box()->isVisible()) << "SetState leaves the box alone";
  core().ShowMessageBox("over the offer");
  EXPECT_EQ(Box()->Owner(), forms().AcceptF);
  EXPECT_EQ(Box()->windowHandle()->transientParent(), forms().AcceptF->windowHandle());
  core().SetState(lobby::State::stRegister);
  core().ShowMessageBox("over the main window");
  EXPECT_EQ(Box()->Owner(), forms().Test) << "no dialog on screen: the main window owns the box";
  EXPECT_EQ(Box()->windowHandle()->transientParent(), forms().Test->windowHandle());
}

TEST_F(Forms, ClosingTheBoxActivatesTheWindowUnderItAgain) {
  ToMainWindow();
  core().ShowMessageBox("look");
  ASSERT_TRUE(WaitFor([this] { return LobbyForm::LastActivated() == Box(); }));
  // The main window re-reads the profile when it is active again.
  WriteFile(ProfileFile(), "[Vossa]\nRealName=Changed meanwhile\n");
  Box()->bOkMess->click();
  ASSERT_TRUE(WaitFor([this] { return LobbyForm::LastActivated() == Test(); }));
  EXPECT_EQ(Test()->tRealName->text(), "Changed meanwhile");
  EXPECT_TRUE(Test()->isActiveWindow());
}

TEST_F(Forms, ClosingTheBoxBeforeItWasActivatedStillActivatesItsOwner) {
  ToMainWindow();
  core().SetState(lobby::State::stLobby);
  ASSERT_TRUE(WaitFor([this] { return LobbyForm::LastActivated() == forms().Connect; }));
  // Shown and closed with no event in between: the box never became active.
  core().ShowMessageBox("quick");
  Box()->bOkMess->click();
  EXPECT_EQ(LobbyForm::LastActivated(), forms().Connect);
  ASSERT_TRUE(WaitFor([this] { return forms().Connect->isActiveWindow(); }));
}

}  // namespace
