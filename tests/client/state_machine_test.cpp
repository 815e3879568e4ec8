// The client's state machine and dispatch of agent messages, driven without
// windows: exact agent calls through the recorder, windows through
// RecordingUi.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "support/call_recorder.hpp"
#include "support/recording_ui.hpp"
#include "zep/zep.h"

using lobby::ClientCore;
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
  void Enter(int state) {
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
    int state;
    const char* reason;
  } cases[] = {{lobby::stRegister, "I am not connected to the Vossa!"},
               {lobby::stOffering, "I am waiting for somebody\"s response!"},
               {lobby::stOffered, "Someone already has offered me a game"}};
  for (const Case& c : cases) {
    Enter(c.state);
    Queue("1.2.3.4:2001", ZEP_MT_USERMSG, "REAL=Bob;DESC=hi;", "JOIN");
    core.AgentMessTimerTimer();
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "ZEPSetResponseStatus(7, 0, 0, \"I am answering somebody's request\")",
                           std::string("ZEPAcceptSubGroupJoinRequest(7, \"REAL=Bob;DESC=hi;\", 0, \"") + c.reason +
                               "\")"}))
        << "state " << c.state;
    EXPECT_EQ(Values().CurrentState, c.state);
  }
}

TEST_F(StateMachine, UnknownStateHidesTheDialogsAndSaysSo) {
  ui.visible = {lobby::Form::Connect, lobby::Form::Test};
  core.SetState(7);
  EXPECT_EQ(Values().CurrentState, 7);
  EXPECT_EQ(R().calls, (std::vector<std::string>{"Hide(TConnect)", "Hide(TTest)",
                                                 "Message(none, \"SetState cannot change to Unknown State : 7\")"}));
  R().calls.clear();
  for (int event = 1; event <= 10; ++event) core.HandleEvent(event);
  EXPECT_TRUE(R().calls.empty());
}

}  // namespace
