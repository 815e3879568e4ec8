// Opening the agent session, joining the server and the exit sequences, with
// exact agent calls through the recorder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "platform/temp_files.hpp"
#include "support/call_recorder.hpp"
#include "support/recording_ui.hpp"
#include "zep/zep.h"

using lobby::Values;
using recorder::R;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

class AgentBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    R().Reset();
    recorder::InstallRecordingSound();
    lobby::ResetValues();
    Values().SessionFlag = true;
    Values().InstallDir = dir_.path() + "\\";
  }
  std::string ServerList() const { return dir_.path() + "\\SERVERS.INI"; }
  std::string OpenCall(const std::string& record) const {
    return "ZEPOpenSession(&handle, 0, \"QORCORVA\", \"" + record + "\", \"version.dll\", window, 514, \"" +
           ServerList() + "\")";
  }

  TempDir dir_;
  recorder::RecordingUi ui;
  lobby::ClientCore core{ui};
  const lobby::Profile bob{"Bob", "-", "Oslo", "-", "42", "1", "-"};
  const std::string bobRecord = "VERSION=0.90b1;REAL=Bob;DESC=-;CITY=Oslo;COUNTRY=-;AGE=42;SEX=1;EMAIL=-;";
};

TEST_F(AgentBinding, OpensWithExactlyItsArgumentsThenJoinsTheCurrentServer) {
  WriteFile(dir_ / "servers.ini", "[qorservers]\ncurrentserver = 10.0.0.9 \n");
  R().nextHandle = 3;
  EXPECT_TRUE(core.OpenAgentSession(42, bob));
  EXPECT_EQ(R().calls, (std::vector<std::string>{"ZEPLeaveSession(0)", OpenCall(bobRecord),
                                                 "ZEPJoinServer(3, \"10.0.0.9\", 2424)"}));
  EXPECT_EQ(Values().SessionHandle, 3);
}

TEST_F(AgentBinding, WithoutACurrentServerTheLocalOneIsJoined) {
  for (const char* file : {"", "[QORServers]\nCurrentServer=\n", "[Other]\nCurrentServer=1.2.3.4\n"}) {
    R().calls.clear();
    if (*file) WriteFile(dir_ / "SERVERS.INI", file);
    EXPECT_TRUE(core.OpenAgentSession(42, bob));
    EXPECT_EQ(R().CallsOf("ZEPJoinServer"), (std::vector<std::string>{"ZEPJoinServer(0, \"127.0.0.1\", 2424)"}))
        << file;
  }
}

TEST_F(AgentBinding, APortAfterTheCurrentServerIsJoinedThere) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1:27100", "\"127.0.0.1\", 27100"},
      {"lobby.example:1", "\"lobby.example\", 1"},
      {"lobby.example:65535", "\"lobby.example\", 65535"},
      // Not a port: the whole text is the host, on the usual port.
      {"lobby.example:65536", "\"lobby.example:65536\", 2424"},
      {"lobby.example:0", "\"lobby.example:0\", 2424"},
      {"lobby.example:+80", "\"lobby.example:+80\", 2424"},
      {"lobby.example:", "\"lobby.example:\", 2424"},
      {"lobby.example:80x", "\"lobby.example:80x\", 2424"},
  };
  for (const auto& [current, joined] : cases) {
    R().calls.clear();
    WriteFile(dir_ / "SERVERS.INI", std::string("[QORServers]\nCurrentServer=") + current + "\n");
    core.OpenAgentSession(42, bob);
    EXPECT_EQ(R().CallsOf("ZEPJoinServer"), (std::vector<std::string>{std::string("ZEPJoinServer(0, ") + joined + ")"}))
        << current;
  }
}

TEST_F(AgentBinding, RegisteringTwiceLeavesTheFirstSessionFirst) {
  R().nextHandle = 4;
  core.OpenAgentSession(42, bob);
  R().nextHandle = 5;
  R().calls.clear();
  core.OpenAgentSession(42, bob);
  EXPECT_EQ(R().calls, (std::vector<std::string>{"ZEPLeaveSession(4)", OpenCall(bobRecord),
                                                 "ZEPJoinServer(5, \"127.0.0.1\", 2424)"}));
  EXPECT_EQ(Values().SessionHandle, 5);
}

TEST_F(AgentBinding, NothingHappensWithoutAUsableSession) {
  Values().SessionFlag = false;
  EXPECT_FALSE(core.OpenAgentSession(42, bob));
  EXPECT_TRUE(R().calls.empty());
}

TEST_F(AgentBinding, AFailedOpenIsFatalWithTheCodesTexts) {
  R().results["ZEPOpenSession"] = ZEP_RET_AGENTPROBLEM;
  EXPECT_FALSE(core.OpenAgentSession(42, bob));
  EXPECT_TRUE(ui.fatal);
  EXPECT_EQ(R().CallsOf("Fatal"),
            (std::vector<std::string>{
                "Fatal(\"Problem Loading the Agent ZEP.DLL ! There is probably something wrong with your TCP/IP "
                "settings (Internet connection).  Write down the following error code and send it to "
                "support@lobby.invalid. Error Code : 10027 - ZEP_RET_AGENTPROBLEM Agent cannot satisfy user "
                "request due to connection problems.\")"}));
  EXPECT_TRUE(R().CallsOf("ZEPJoinServer").empty());
}

TEST_F(AgentBinding, ARefusedJoinReturnsFalse) {
  R().results["ZEPJoinServer"] = ZEP_RET_INSERVER;
  EXPECT_FALSE(core.OpenAgentSession(42, bob));
  EXPECT_FALSE(ui.fatal);
}

TEST_F(AgentBinding, ExitFromTheLobbyLeavesServerAndSessionThenQuits) {
  Values().SessionHandle = 6;
  core.SetState(lobby::State::stLobby);
  R().calls.clear();
  core.ExitSequence();
  EXPECT_EQ(R().CallsWithout({"Show", "Hide", "QueryTimer", "RefreshTimer"}),
            (std::vector<std::string>{"DestroySplash()", "ZEPLeaveServer(6)", "StopAllSound()",
                                      "ZEPLeaveSession(6)", "Quit()"}));
  EXPECT_FALSE(Values().SessionFlag);
  EXPECT_FALSE(Values().MusicPlaying);
}

TEST_F(AgentBinding, ExitWhileAnOfferIsPendingStillLeavesTheSession) {
  Values().SessionHandle = 6;
  core.SetState(lobby::State::stOffered);
  R().calls.clear();
  core.ExitFromLobby();
  EXPECT_EQ(R().CallsWithout({"Show", "Hide"}),
            (std::vector<std::string>{"StopAllSound()", "ZEPLeaveSession(6)", "Quit()"}));
  // Once left, a second exit calls no agent.
  R().calls.clear();
  core.ExitFromLobby();
  EXPECT_TRUE(R().CallsOf("ZEPLeaveSession").empty());
}

}  // namespace
