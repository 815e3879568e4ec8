// The client's state machine and dispatch of agent messages, driven without
// windows: exact agent calls through the recorder, windows through
// RecordingUi.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "support/call_recorder.hpp"
#include "support/recording_ui.hpp"
#include "zep/zep.h"

using lobby::ClientCore;
using lobby::Event;
using lobby::State;
using lobby::Values;
using recorder::R;

namespace {

class StateMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    R().Reset();
    recorder::InstallRecordingSound();
    lobby::ResetValues();
    Values().SessionFlag = true;
    Values().SessionHandle = 7;
    Values().InstallDir = "C:\\Games\\";
  }
  void Enter(State state) {
    core.SetState(state);
    R().calls.clear();
  }
  void Queue(const std::string& sender, int type, const std::string& text, const std::string& more) {
    R().messages.push_back({sender, type, text, more});
  }
  std::vector<std::string> Calls() const { return R().CallsWithout({"ZEPGetNextMessage"}); }

  recorder::RecordingUi ui;
  ClientCore core{ui};
};

TEST_F(StateMachine, OffersArrivingInEachBusyStateAreRefusedWithTheirOwnText) {
  struct Case {
    State state;
    const char* reason;
  } cases[] = {{State::stRegister, "I am not connected to the Vossa!"},
               {State::stOffering, "I am waiting for somebody\"s response!"},
               {State::stOffered, "Someone already has offered me a game"}};
  for (const Case& c : cases) {
    Enter(c.state);
    Values().OfferRecord = "ID=9.9.9.9:2001;REAL=Ann;";
    Values().OfferName = "Ann";
    Queue("1.2.3.4:2001", ZEP_MT_USERMSG, "REAL=Bob;DESC=hi;", "JOIN");
    core.AgentMessTimerTimer();
    // Neither the response status nor the offer on screen changes: its
    // buttons still answer Ann, and the lobby takes offers again later.
    EXPECT_EQ(Calls(), (std::vector<std::string>{std::string(
                           "ZEPAcceptSubGroupJoinRequest(7, \"REAL=Bob;DESC=hi;\", 0, \"") + c.reason + "\")"}))
        << "state " << int(c.state);
    EXPECT_EQ(Values().OfferRecord, "ID=9.9.9.9:2001;REAL=Ann;");
    EXPECT_EQ(Values().OfferName, "Ann");
    EXPECT_EQ(Values().CurrentState, c.state);
  }
}

TEST_F(StateMachine, UnknownStateHidesTheDialogsAndSaysSo) {
  ui.visible = {lobby::Form::Connect, lobby::Form::Test};
  core.SetState(State{7});
  EXPECT_EQ(Values().CurrentState, State{7});
  EXPECT_EQ(R().calls, (std::vector<std::string>{"Hide(TConnect)", "Hide(TTest)",
                                                 "Message(none, \"SetState cannot change to Unknown State : 7\")"}));
  R().calls.clear();
  for (int event = 1; event <= 10; ++event) core.HandleEvent(Event{event});
  EXPECT_TRUE(R().calls.empty());
}

}  // namespace

namespace {

using lobby::Form;

std::vector<std::string> Strings(std::initializer_list<const char*> items) { return {items.begin(), items.end()}; }

// ---- SetState ------------------------------------------------------------

TEST_F(StateMachine, EachKnownStateShowsItsWindowAfterHidingTheDialogs) {
  // With all four dialogs on screen: the one the state shows stays and is
  // shown again (never hidden and shown at once).
  struct Case {
    State state;
    std::vector<std::string> calls;
  } cases[] = {
      {State::stRegister, Strings({"Hide(TAcceptF)", "Hide(TConnect)", "Hide(TSuggestF)", "ShowAgain(TTest)",
                                   "Hide(TOpen)"})},
      {State::stLobby, Strings({"Hide(TAcceptF)", "Hide(TTest)", "Hide(TSuggestF)", "ShowAgain(TConnect)",
                                "Hide(TOpen)"})},
      {State::stOffering, Strings({"Hide(TAcceptF)", "Hide(TConnect)", "Hide(TTest)", "ShowAgain(TSuggestF)",
                                   "Hide(TOpen)"})},
      {State::stOffered, Strings({"Hide(TConnect)", "Hide(TTest)", "Hide(TSuggestF)", "ShowAgain(TAcceptF)",
                                  "Hide(TOpen)"})},
      {State::stLeaving, Strings({"Hide(TAcceptF)", "Hide(TConnect)", "Hide(TTest)", "Hide(TSuggestF)",
                                  "RefreshTimer(off)", "QueryTimer(off)", "ZEPLeaveServer(7)"})},
      {State::stPlaying, Strings({"Hide(TAcceptF)", "Hide(TConnect)", "Hide(TTest)", "Hide(TSuggestF)",
                                  "RefreshTimer(off)", "QueryTimer(off)", "ZEPLeaveServer(7)"})},
  };
  for (const Case& c : cases) {
    R().calls.clear();
    // The server dialog, the message box and the splash are left alone.
    ui.visible = {Form::Accept, Form::Connect, Form::Test, Form::Suggest, Form::Server, Form::Message};
    core.SetState(c.state);
    EXPECT_EQ(R().calls, c.calls) << "state " << int(c.state);
    EXPECT_EQ(Values().CurrentState, c.state);
    EXPECT_TRUE(ui.visible.count(Form::Server) && ui.visible.count(Form::Message));
  }

  // Not on screen before: hidden ones are left alone, and the form is shown.
  const std::pair<State, const char*> shows[] = {{State::stRegister, "TTest"}, {State::stLobby, "TConnect"},
                                               {State::stOffering, "TSuggestF"}, {State::stOffered, "TAcceptF"}};
  for (const auto& [state, form] : shows) {
    R().calls.clear();
    ui.visible = {Form::Open};
    core.SetState(state);
    EXPECT_EQ(R().calls, (std::vector<std::string>{std::string("Show(") + form + ")", "Hide(TOpen)"}))
        << "state " << int(state);
  }
}

TEST_F(StateMachine, RegisterAndLobbyLeaveTheSubgroupOnceOthersKeepIt) {
  for (State state : {State::stRegister, State::stLobby}) {
    Values().InSubGroup = true;
    R().calls.clear();
    core.SetState(state);
    EXPECT_EQ(R().CallsOf("ZEPLeaveSubGroup"), Strings({"ZEPLeaveSubGroup(7)"})) << int(state);
    EXPECT_FALSE(Values().InSubGroup);
    R().calls.clear();
    core.SetState(state);
    EXPECT_TRUE(R().CallsOf("ZEPLeaveSubGroup").empty()) << "left already";
  }
  for (State state : {State::stOffering, State::stOffered, State::stLeaving, State::stPlaying}) {
    Values().InSubGroup = true;
    R().calls.clear();
    core.SetState(state);
    EXPECT_TRUE(R().CallsOf("ZEPLeaveSubGroup").empty()) << int(state);
    EXPECT_TRUE(Values().InSubGroup);
  }
}

TEST_F(StateMachine, LeavingWithoutAUsableSessionCallsNoAgent) {
  Values().SessionFlag = false;
  core.SetState(State::stLeaving);
  EXPECT_TRUE(R().CallsOf("ZEPLeaveServer").empty());
  EXPECT_EQ(R().CallsOf("QueryTimer"), Strings({"QueryTimer(off)"}));
}

// ---- HandleEvent -----------------------------------------------------------

// Every listed pair of state and event, with what it does beyond SetState's
// own calls (seen as the state it ends in).
TEST_F(StateMachine, EveryRowOfTheEventTable) {
  struct Row {
    State state;
    Event event;
    State endState;
    std::vector<std::string> agentCalls;  // agent, engine and message calls only
  } rows[] = {
      {State::stRegister, Event::evLeave, State::stLeaving, Strings({"ZEPLeaveServer(7)"})},
      {State::stRegister, Event::evGo, State::stLobby, {}},
      {State::stLobby, Event::evLeave, State::stLeaving, Strings({"ZEPLeaveServer(7)"})},
      {State::stLobby, Event::evGo, State::stOffering, {}},
      {State::stLobby, Event::evJoinRequest, State::stOffered, {}},
      {State::stLobby, Event::evServerLost, State::stRegister,
       Strings({"Message(none, \"The connection to the server has been closed.  Try again later\")"})},
      {State::stOffering, Event::evDeclined, State::stLobby,
       Strings({"Message(TConnect, \"Remote has declined your offer. Reason : too busy\")"})},
      {State::stOffering, Event::evCancelOffer, State::stLobby, {}},
      {State::stOffering, Event::evServerLost, State::stOffering, {}},
      {State::stOffered, Event::evAccept, State::stPlaying, Strings({"ZEPLeaveServer(7)"})},
      {State::stOffered, Event::evRefuse, State::stLobby, {}},
      {State::stOffered, Event::evWithdrawn, State::stLobby,
       Strings({"ZEPSetResponseStatus(7, 1, 0, null)",
                "Message(TConnect, \"Remote partner has cancelled his offer to play a game.\")"})},
      {State::stOffered, Event::evServerLost, State::stOffered, {}},
  };
  for (const Row& row : rows) {
    Values().InSubGroup = false;
    Enter(row.state);
    core.HandleEvent(row.event, {"", 0, "", "too busy"});
    EXPECT_EQ(Values().CurrentState, row.endState) << int(row.state) << "/" << int(row.event);
    EXPECT_EQ(R().CallsWithout({"Show", "Hide", "QueryTimer", "RefreshTimer"}), row.agentCalls)
        << int(row.state) << "/" << int(row.event);
  }
}

TEST_F(StateMachine, ServerLostInTheLobbyStopsTheFirstQueryBeforeGoingBack) {
  Enter(State::stLobby);
  core.HandleEvent(Event::evServerLost);
  ASSERT_GE(R().calls.size(), 2u);
  EXPECT_EQ(R().calls[0], "QueryTimer(off)");
  EXPECT_EQ(R().calls[1], "Hide(TConnect)");
}

TEST_F(StateMachine, PairsNotInTheTableDoNothing) {
  const std::pair<State, std::vector<int>> unlisted[] = {
      {State::stRegister, {4, 5, 6, 7, 8, 9, 10}}, {State::stLobby, {4, 5, 6, 7, 8, 9}},
      {State::stOffering, {1, 2, 6, 7, 9}},        {State::stOffered, {1, 2, 4, 5, 8}},
      {State::stLeaving, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {State::stPlaying, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {State{}, {1, 2, 3, 10}},
  };
  for (const auto& [state, events] : unlisted) {
    for (int event : events) {
      Enter(state);
      core.HandleEvent(Event{event});
      EXPECT_TRUE(R().calls.empty()) << int(state) << "/" << event << ": " << R().calls.front();
      EXPECT_EQ(Values().CurrentState, state);
    }
  }
}

TEST_F(StateMachine, AcceptedOfferStartsTheGameWithTheAddressLessItsPort) {
  Enter(State::stOffering);
  ui.remoteName = "Bob";
  core.HandleEvent(Event::evAccepted, {"10.1.2.3:2001", 0, "", ""});
  EXPECT_EQ(R().CallsWithout({"Show", "Hide", "QueryTimer", "RefreshTimer"}),
            Strings({"CVRunGame(\"10.1.2.3\", \"C:\\Games\\DATA\", \"C:\\Games\\Zudeduzu.wav\", "
                     "\"QOR's Corvane Game v091.b2 - Connected to Bob\", 0, window, 514)",
                     "ZEPLeaveServer(7)"}));
  EXPECT_TRUE(Values().InSubGroup);
  EXPECT_TRUE(Values().GameRunning);
  EXPECT_EQ(Values().CurrentState, State::stPlaying);
  // A game already running is not started twice.
  Enter(State::stOffering);
  core.HandleEvent(Event::evAccepted);
  EXPECT_TRUE(R().CallsOf("CVRunGame").empty());
}

// ---- the poll and the dispatch ---------------------------------------------

TEST_F(StateMachine, ABurstIsDrainedInOneTickInTheAgentsOrder) {
  Enter(State::stLobby);
  Queue("SERVER", ZEP_MT_USERDESC, "ID=1.1.1.1:2001;REAL=A;", "d");
  Queue("SERVER", ZEP_MT_USERDESC, "ID=2.2.2.2:2001;REAL=B;", "d");
  Queue("SERVER", ZEP_MT_QUERYRESPONSE, "QROK", "  ");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().calls, Strings({"ZEPGetNextMessage(7)", "List(\"ID=1.1.1.1:2001;REAL=A;\")", "EnableConnect()",
                                "ZEPGetNextMessage(7)", "List(\"ID=2.2.2.2:2001;REAL=B;\")", "EnableConnect()",
                                "ZEPGetNextMessage(7)", "QueryEnded()", "ZEPGetNextMessage(7)"}));
  // The last poll found nothing.
  EXPECT_FALSE(core.PollAgentMessage());
}

TEST_F(StateMachine, AMessageWithAnEmptyTextIsSkippedAndTheRestIsHandled) {
  // A member's empty user message must not leave the rest of the queue
  // unread: the agent would never notify again.
  Enter(State::stLobby);
  Queue("1.2.3.4:2001", ZEP_MT_USERMSG, "", "PLRS");
  Queue("SERVER", ZEP_MT_QUERYRESPONSE, "QROK", "");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().calls,
            Strings({"ZEPGetNextMessage(7)", "ZEPGetNextMessage(7)", "QueryEnded()", "ZEPGetNextMessage(7)"}));
  EXPECT_TRUE(R().messages.empty());
}

TEST_F(StateMachine, AnErrorFromTheAgentEndsTheTick) {
  Enter(State::stLobby);
  R().results["ZEPGetNextMessage"] = ZEP_RET_INVALIDSESSION;
  Queue("SERVER", ZEP_MT_QUERYRESPONSE, "QROK", "");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().calls, Strings({"ZEPGetNextMessage(7)"}));
}

TEST_F(StateMachine, NoPollWithoutAUsableSession) {
  Values().SessionFlag = false;
  Queue("SERVER", ZEP_MT_LOSTSERVER, "SRLS", "");
  core.AgentMessTimerTimer();
  EXPECT_TRUE(R().calls.empty());
}

TEST_F(StateMachine, NoDeliveryShowsOneMessagePerFailureNamed) {
  const std::string offer = "Message(TConnect, \"Couldn't offer a game to Remote 9.9.9.9:2002.  There was a "
                            "communications problem.\")";
  const std::string send = "Message(TConnect, \"Couldn't send message to Remote 9.9.9.9:2002.  There was a "
                           "communications problem.\")";
  struct Case {
    const char* moreInfo;
    std::vector<std::string> messages;
  } cases[] = {{"JOINFAIL", {offer}}, {"MSGFAIL", {send}}, {"JOINFAIL MSGFAIL", {offer, send}}, {"joinfail", {}}};
  for (const Case& c : cases) {
    Enter(State::stOffering);
    Queue("9.9.9.9:2002", ZEP_MT_NODELIVERY, "  ", c.moreInfo);
    core.AgentMessTimerTimer();
    EXPECT_EQ(R().CallsOf("Message"), c.messages) << c.moreInfo;
    EXPECT_EQ(Values().CurrentState, c.messages.empty() ? State::stOffering : State::stLobby);
  }
}

TEST_F(StateMachine, ServerAnswersToTheRegistration) {
  struct Case {
    const char* text;
    State endState;
    const char* message;
    bool leavesServer;
  } cases[] = {
      {"BUSY", State::stRegister, "Server is full.  Please try another server or try again later.", true},
      {"FAIL", State::stRegister, "Lost connection to server.  Server is probably down.", true},
      {"ACKJ", State::stLobby, nullptr, false},
      // The agent's own answer to a busy server while connecting: unknown.
      {"NAKJ", State::stRegister, "Unknown message with ZEP_MT_JOINSRVRESPONSE : NAKJ", false},
  };
  for (const Case& c : cases) {
    Enter(State::stRegister);
    Values().ServerAcknowledged = false;
    Queue("SERVER", ZEP_MT_JOINSRVRESPONSE, c.text, "  ");
    core.AgentMessTimerTimer();
    EXPECT_EQ(Values().CurrentState, c.endState) << c.text;
    EXPECT_EQ(R().CallsOf("Message"),
              c.message ? Strings({("Message(none, \"" + std::string(c.message) + "\")").c_str()})
                        : std::vector<std::string>{})
        << c.text;
    EXPECT_EQ(R().CallsOf("ZEPLeaveServer").size(), c.leavesServer ? 1u : 0u) << c.text;
    EXPECT_EQ(Values().ServerAcknowledged, std::string(c.text) == "ACKJ");
  }
  // BUSY is looked for first: a text with both is a full server.
  Enter(State::stRegister);
  Queue("SERVER", ZEP_MT_JOINSRVRESPONSE, "ACKJ BUSY", "");
  core.AgentMessTimerTimer();
  EXPECT_EQ(Values().CurrentState, State::stRegister);
  EXPECT_FALSE(Values().ServerAcknowledged);
}

TEST_F(StateMachine, QueryResultsAreListedAndOnlyAListedOneEnablesTheOffer) {
  Enter(State::stLobby);
  ui.listResult = false;
  Queue("SERVER", ZEP_MT_USERDESC, "ID=1.1.1.1:2001;", "");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().CallsWithout({"ZEPGetNextMessage"}), Strings({"List(\"ID=1.1.1.1:2001;\")"}));
}

TEST_F(StateMachine, JoinResponses) {
  // Accepted: silence, then the game.
  Enter(State::stOffering);
  Queue("5.5.5.5:2001", ZEP_MT_JOINRESPONSE, "AKNJ", "  ");
  core.AgentMessTimerTimer();
  const auto calls = R().CallsWithout({"ZEPGetNextMessage", "Show", "Hide", "QueryTimer", "RefreshTimer"});
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "StopAllSound()");
  EXPECT_EQ(calls[1].rfind("CVRunGame(\"5.5.5.5\"", 0), 0u) << calls[1];
  EXPECT_EQ(Values().CurrentState, State::stPlaying);

  // Declined: the busy tone loops and the reason is shown.
  lobby::ResetValues();
  Values().SessionFlag = true;
  Values().SessionHandle = 7;
  Values().InstallDir = "C:\\Games\\";
  Enter(State::stOffering);
  ui.visible = {Form::Suggest};
  Queue("5.5.5.5:2001", ZEP_MT_JOINRESPONSE, "NAKJ", "Not now");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().CallsWithout({"ZEPGetNextMessage", "Show", "Hide"}),
            Strings({"PlaySound(\"C:\\Games\\BUSY.WAV\", 11)",
                     "Message(TConnect, \"Remote has declined your offer. Reason : Not now\")"}));
  EXPECT_EQ(Values().CurrentState, State::stLobby);
}

TEST_F(StateMachine, AnAcceptanceInAnyOtherStateOnlyStopsTheSound) {
  for (State state : {State::stRegister, State::stLobby, State::stOffered, State::stLeaving}) {
    Enter(state);
    Queue("5.5.5.5:2001", ZEP_MT_JOINRESPONSE, "AKNJ", "");
    core.AgentMessTimerTimer();
    EXPECT_EQ(R().CallsWithout({"ZEPGetNextMessage"}), Strings({"StopAllSound()"})) << int(state);
    EXPECT_EQ(Values().CurrentState, state);
  }
}

TEST_F(StateMachine, AnOfferInTheLobbyIsShownWithQuestionMarksForWhatIsMissing) {
  Enter(State::stLobby);
  Queue("3.3.3.3:2005", ZEP_MT_USERMSG, "VERSION=0.90b1;REAL=;CITY=x;", "JOIN");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().CallsWithout({"ZEPGetNextMessage", "Hide"}),
            Strings({"ZEPSetResponseStatus(7, 0, 0, \"I am answering somebody's request\")", "Show(TAcceptF)"}));
  EXPECT_EQ(Values().OfferRecord, "VERSION=0.90b1;REAL=;CITY=x;");
  EXPECT_EQ(Values().OfferName, "???");
  EXPECT_EQ(Values().OfferDesc, "???");
  EXPECT_EQ(Values().CurrentState, State::stOffered);
}

TEST_F(StateMachine, AnOfferOrAMatchsEndInTheBackgroundCallsThePersonBack) {
  const std::string offer = "ID=3.3.3.3:2005;REAL=Bo;DESC=New here;";
  for (bool background : {false, true}) {
    ui.background = background;
    Enter(State::stLobby);
    Queue("3.3.3.3:2005", ZEP_MT_USERMSG, offer, "JOIN");
    core.AgentMessTimerTimer();
    EXPECT_EQ(R().CallsOf("CallBack"),
              background ? Strings({"CallBack(TAcceptF, \"Bo offers you a game\", \"New here\")"}) : Strings({}));
    // An offer the client refuses by itself asks nothing of the person.
    Queue("4.4.4.4:2005", ZEP_MT_USERMSG, offer, "JOIN");
    core.AgentMessTimerTimer();
    EXPECT_EQ(R().CallsOf("CallBack").size(), background ? 1u : 0u);

    Enter(State::stPlaying);
    R().engineMessage = "MES=uexi;REM=4;";
    core.HangmanMessTimerTimer();
    const char* result = "Your partner has closed the connection. You have won 0 games. Your partner has won 4 games.";
    EXPECT_EQ(R().CallsOf("CallBack"),
              background ? Strings({("CallBack(TMessageF, \"Your match is over\", \"" + std::string(result) + "\")").c_str()})
                         : Strings({}));
  }
}

TEST_F(StateMachine, UserMessagesOtherThanOffersAndWithdrawals) {
  // A withdrawal of another request leaves the offer on screen; the
  // withdrawal of that offer goes back to the lobby, offers welcome again.
  Enter(State::stOffered);
  Values().OfferRecord = "ID=3.3.3.3:2005;REAL=Ann;";
  Queue("3.3.3.4:2005", ZEP_MT_USERMSG, "ID=3.3.3.4:2005;REAL=Bob;", "TERM");
  core.AgentMessTimerTimer();
  EXPECT_EQ(Values().CurrentState, State::stOffered);
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  Queue("3.3.3.3:2005", ZEP_MT_USERMSG, "ID=3.3.3.3:2005;REAL=Ann;", "TERM");
  core.AgentMessTimerTimer();
  EXPECT_EQ(Values().CurrentState, State::stLobby);
  EXPECT_EQ(R().CallsOf("ZEPSetResponseStatus"), Strings({"ZEPSetResponseStatus(7, 1, 0, null)"}));
  // Any other user message is dropped.
  Enter(State::stLobby);
  Queue("3.3.3.3:2005", ZEP_MT_USERMSG, "hello", "CHAT");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().CallsWithout({"ZEPGetNextMessage"}), std::vector<std::string>{});
}

TEST_F(StateMachine, SubgroupNewsIsIgnoredAndUnknownTypesAreShown) {
  Enter(State::stLobby);
  Queue("SERVER", ZEP_MT_REMPLAYER, "ID=1.1.1.1:2001", "");
  Queue("SERVER", ZEP_MT_LOSTOWNER, "ID=1.1.1.1:2001", "");
  Queue("1.1.1.1:2001", ZEP_MT_ADDPLAYER, "ID=1.1.1.1:2001", "desc");
  Queue("1.1.1.1:2001", ZEP_MT_OWNER, "ID=1.1.1.2:2001", "desc");
  Queue("1.1.1.1:2001", ZEP_MT_LOSTOWNED, "ID=1.1.1.3:2001", "");
  core.AgentMessTimerTimer();
  EXPECT_EQ(R().CallsOf("Message"), Strings({"Message(TConnect, \"Unknown Message : ID=1.1.1.1:2001\")",
                                             "Message(TConnect, \"Unknown Message : ID=1.1.1.2:2001\")",
                                             "Message(TConnect, \"Unknown Message : ID=1.1.1.3:2001\")"}));
  EXPECT_EQ(Values().CurrentState, State::stLobby);
}

TEST_F(StateMachine, ALostServerGoesBackToTheMainWindowOnlyFromTheLobby) {
  Enter(State::stLobby);
  Queue("SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  ");
  core.AgentMessTimerTimer();
  EXPECT_EQ(Values().CurrentState, State::stRegister);
  // Waiting for an answer, the outgoing offer stays on screen.
  Enter(State::stOffering);
  ui.visible = {Form::Suggest};
  Queue("SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  ");
  core.AgentMessTimerTimer();
  EXPECT_EQ(Values().CurrentState, State::stOffering);
  EXPECT_TRUE(ui.visible.count(Form::Suggest));
}

TEST_F(StateMachine, MessageBoxIsOwnedByTheLastVisibleInItsOrder) {
  struct Case {
    std::set<Form> visible;
    const char* owner;
  } cases[] = {
      {{}, "none"},
      {{Form::Test, Form::Open}, "none"},
      {{Form::Accept}, "TAcceptF"},
      {{Form::Accept, Form::Connect}, "TConnect"},
      {{Form::Connect, Form::Server}, "TServerF"},
      {{Form::Accept, Form::Connect, Form::Server, Form::Suggest}, "TSuggestF"},
  };
  for (const Case& c : cases) {
    R().calls.clear();
    ui.visible = c.visible;
    core.ShowMessageBox("x");
    EXPECT_EQ(R().calls, Strings({("Message(" + std::string(c.owner) + ", \"x\")").c_str()}));
  }
}

// ---- the end of a game -------------------------------------------------------

TEST_F(StateMachine, TheEnginesClosingMessageByItsCode) {
  struct Case {
    const char* message;
    const char* shown;
    bool leaves;
    bool stillRunning;
  } cases[] = {
      {"MES=disc;LOC=2;REM=1;",
       "The connection has been closed. You have won 2 games. Your partner has won 1 games.", true, false},
      {"MES=note;", "Couldn't connect to remote game", true, false},
      {"MES=exit;LOC=3;", "You pressed exit and left the game. You have won 3 games. Your partner has won 0 games.",
       true, false},
      {"MES=uexi;REM=4;",
       "Your partner has closed the connection. You have won 0 games. Your partner has won 4 games.", false, false},
      {"MES=onet;LOC=1;REM=1;", "One time game has ended. You have won 1 games. Your partner has won 1 games.",
       true, false},
      {"MES=what;LOC=1;", "Unknown message from DLL : MES=what;LOC=1;", false, true},
  };
  for (const Case& c : cases) {
    Enter(State::stPlaying);
    Values().GameRunning = true;
    R().engineMessage = c.message;
    core.HangmanMessTimerTimer();
    EXPECT_EQ(R().CallsOf("Message"), Strings({("Message(none, \"" + std::string(c.shown) + "\")").c_str()}));
    EXPECT_EQ(R().CallsOf("ZEPLeaveSubGroup").size(), c.leaves ? 1u : 0u) << c.message;
    EXPECT_EQ(Values().GameRunning, c.stillRunning) << c.message;
    EXPECT_EQ(Values().CurrentState, State::stRegister);
  }
}

}  // namespace
