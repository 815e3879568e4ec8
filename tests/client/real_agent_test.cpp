// The client's windows with the real agent library against the real lobby
// server over loopback: registration reaches the query dialog, the loss of
// the server brings the main window back.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/client_forms.hpp"
#include "support/vossad_process.hpp"
#include "zep/zep.h"

using clienttest::WaitFor;
using lobby::Values;
using test_support::WriteFile;

namespace {

class RealAgent : public clienttest::ClientForms {
 protected:
  void SetUp() override {
    ClientForms::SetUp();
    // Agents always join port 2424, so the server gets a loopback address of
    // its own.
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 20 && !server_; ++attempt) {
      address_ = "127.0.0." + std::to_string(2 + random() % 249);
      auto server = std::make_unique<testsupport::Vossad>(
          std::vector<std::string>{"--bind", address_, "--port", "2424", "--quiet"});
      if (server->port() == 2424) server_ = std::move(server);
    }
    ASSERT_TRUE(server_) << "no loopback address with a free port 2424";
    WriteFile(install_ + "/SERVERS.INI", "[QORServers]\nCurrentServer=" + address_ + "\n");
  }
  void TearDown() override {
    if (Values().SessionFlag) ZEPLeaveSession(Values().SessionHandle);
    ClientForms::TearDown();
  }
  void Register(const char* name) {
    Test()->tRealName->setText(name);
    Test()->bOk->click();
  }
  bool InLobby() { return Values().CurrentState == lobby::State::stLobby && forms().Connect->isVisible(); }

  std::string address_;
  std::unique_ptr<testsupport::Vossad> server_;
};

TEST_F(RealAgent, RegistrationReachesTheQueryDialogOnTheServersAcknowledgement) {
  ToMainWindow();
  Register("Real Tester");
  ASSERT_TRUE(WaitFor([this] { return InLobby(); }, 15000));
  EXPECT_TRUE(Values().ServerAcknowledged);
  EXPECT_FALSE(Open()->isVisible());
  int status = 0;
  EXPECT_EQ(ZEPGetSessionServerStatus(Values().SessionHandle, &status), ZEP_RET_OK);
  EXPECT_EQ(status, ZEP_SS_INSRV);

  // Registering again leaves that session and comes back with a new one.
  core().SetState(lobby::State::stRegister);
  ASSERT_TRUE(WaitFor([this] { return Test()->isActiveWindow(); }));
  Register("Real Tester");
  EXPECT_EQ(Values().CurrentState, lobby::State::stRegister) << "waits for the answer";
  ASSERT_TRUE(WaitFor([this] { return InLobby(); }, 15000));
  EXPECT_EQ(ZEPGetSessionServerStatus(Values().SessionHandle, &status), ZEP_RET_OK);
  EXPECT_EQ(status, ZEP_SS_INSRV);
}

TEST_F(RealAgent, TheLossOfTheServerBringsBackTheMainWindow) {
  ToMainWindow();
  Register("Real Tester");
  ASSERT_TRUE(WaitFor([this] { return InLobby(); }, 15000));
  server_->Stop();
  ASSERT_TRUE(WaitFor([this] { return Box()->isVisible(); }, 15000));
  EXPECT_EQ(Box()->lMess->text(), "The connection to the server has been closed.  Try again later");
  EXPECT_EQ(Values().CurrentState, lobby::State::stRegister);
  EXPECT_TRUE(Test()->isVisible());
}

TEST_F(RealAgent, AServerThatRefusesTheConnectionIsReportedAtOnce) {
  server_->Stop();
  ToMainWindow();
  Register("Real Tester");
  // The agent refuses the join itself; the splash stays on screen.
  EXPECT_TRUE(Box()->isVisible());
  EXPECT_EQ(Box()->lMess->text(), "Problem connecting to the Server.  Please try again later");
  EXPECT_EQ(Values().CurrentState, lobby::State::stLeaving);
  EXPECT_TRUE(Open()->isVisible());
  EXPECT_FALSE(Test()->isVisible());
}

}  // namespace
