// Sessions registering with the real lobby server over loopback: what one
// player sees of the others, keep-alive probes, leaving, and the server list
// the server hands out.
#include <gtest/gtest.h>


#include "../support/vossad_process.hpp"
#include "session_client.hpp"

namespace {

using namespace testsupport;

class RealServerTest : public ::testing::Test {
 protected:
  void Register(SessionClient& c, const char* description, const std::string& list) {
    ASSERT_EQ(c.Open(list, description), ZEP_RET_OK);
    ASSERT_EQ(ZEPJoinServer(c.handle, "127.0.0.1", server->port()), ZEP_RET_OK);
    auto got = c.WaitFor(ZEP_MT_JOINSRVRESPONSE);
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(got.back().text, "ACKJ");
  }

  // The texts of the USER answers to one query, once it ended with `end`.
  std::vector<std::string> Query(SessionClient& c, const char* filter, int max = 100,
                                 const char* end = "QROK") {
    EXPECT_EQ(ZEPQueryUsers(c.handle, filter, max, nullptr, nullptr), ZEP_RET_OK);
    std::vector<std::string> users;
    for (auto& m : c.WaitFor(ZEP_MT_QUERYRESPONSE)) {
      if (m.type == ZEP_MT_USERDESC) users.push_back(m.text);
      if (m.type == ZEP_MT_QUERYRESPONSE) {
        EXPECT_EQ(m.text, end);
      }
    }
    return users;
  }

  // Lets the server see what has happened (its lines travel through the loop).
  void Settle() { PumpAWhile(30); }

  void Start(std::vector<std::string> options = {}) {
    server = std::make_unique<Vossad>(options);
    ASSERT_NE(server->port(), 0);
  }

  TempDir dir;
  std::string listA = dir.File("A.INI"), listB = dir.File("B.INI");
  std::unique_ptr<Vossad> server;
};

TEST_F(RealServerTest, APlayerSeesTheOtherRegisteredPlayerButNotItself) {
  Start();
  SessionClient a, b;
  Register(a, "VERSION=1;REAL=Ann;CITY=Oslo;", listA);
  Register(b, "VERSION=1;REAL=Bo;CITY=Bergen;", listB);
  Settle();
  auto users = Query(a, " ");
  ASSERT_EQ(users.size(), 1u);
  // "ID=127.0.0.1:<Bo's listening port>;OWN=1.1.1.1;<Bo's description>"
  const std::string prefix = "ID=127.0.0.1:";
  const std::size_t semicolon = users[0].find(';');
  ASSERT_EQ(users[0].rfind(prefix, 0), 0u) << users[0];
  ASSERT_NE(semicolon, std::string::npos);
  EXPECT_EQ(users[0].substr(semicolon), ";OWN=1.1.1.1;VERSION=1;REAL=Bo;CITY=Bergen;");
  const std::string portText = users[0].substr(prefix.size(), semicolon - prefix.size());
  ASSERT_FALSE(portText.empty());
  ASSERT_EQ(portText.find_first_not_of("0123456789"), std::string::npos) << portText;
  int port = std::stoi(portText);
  EXPECT_GE(port, 2001);
  EXPECT_LE(port, 2100);
  EXPECT_EQ(Query(a, "CITY=berg;").size(), 1u) << "matching ignores case";
  EXPECT_TRUE(Query(a, "CITY=Oslo;").empty());
}

TEST_F(RealServerTest, APlayerWhoLeavesIsNoLongerListed) {
  Start();
  SessionClient a, b;
  Register(a, "REAL=Ann;", listA);
  Register(b, "REAL=Bo;", listB);
  Settle();
  ASSERT_EQ(Query(a, " ").size(), 1u);
  ASSERT_EQ(ZEPLeaveServer(b.handle), ZEP_RET_OK);
  Settle();
  EXPECT_TRUE(Query(a, " ").empty());
}

TEST_F(RealServerTest, AgentsAnswerTheServersProbesAndStayRegistered) {
  Start({"--ping-interval", "0.1", "--ping-timeout", "0.3"});
  SessionClient a, b;
  Register(a, "REAL=Ann;", listA);
  Register(b, "REAL=Bo;", listB);
  // Several probe rounds go by while both agents are served by the loop.
  PumpAWhile(400);
  EXPECT_EQ(Query(a, " ").size(), 1u);
  EXPECT_EQ(a.ServerStatus(), ZEP_SS_INSRV);
  EXPECT_TRUE(a.Drain().empty()) << "probes never reach the client";
}

TEST_F(RealServerTest, TheServerListSentAfterRegistrationReplacesTheLocalOne) {
  const std::string serverList = dir.File("SERVER-SIDE.INI");
  WriteFile(serverList, "[QORServers]\nVersion=7\nServer1=lobby.example\n");
  Start({"--servers", serverList});
  WriteFile(listA, "[QORServers]\nCurrentServer=old\nVersion=3\n");
  SessionClient a;
  Register(a, "REAL=Ann;", listA);
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(listA).find("Version=7") != std::string::npos; }));
  // The server joined stays the current one, on its port.
  EXPECT_EQ(ReadFile(listA), "[QORServers]\nCurrentServer=127.0.0.1:" + std::to_string(server->port()) +
                                 "\nVersion=7\nServer1=lobby.example\n");
  EXPECT_EQ(ReadFile(dir.File("A.$$$")), "[QORServers]\nCurrentServer=old\nVersion=3\n");

  // Registering again with the list now up to date brings nothing new.
  ASSERT_EQ(ZEPLeaveServer(a.handle), ZEP_RET_OK);
  a.Drain();
  std::remove(dir.File("A.$$$").c_str());
  ASSERT_EQ(ZEPJoinServer(a.handle, "127.0.0.1", server->port()), ZEP_RET_OK);
  Settle();
  EXPECT_FALSE(std::filesystem::exists(dir.File("A.$$$")));
}

TEST_F(RealServerTest, AServerThatGoesAwayIsReportedAsLost) {
  Start();
  SessionClient a;
  Register(a, "REAL=Ann;", listA);
  server->Stop();
  auto got = a.WaitFor(ZEP_MT_LOSTSERVER);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), (Message{"SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  "}));
  EXPECT_EQ(a.ServerStatus(), ZEP_SS_NOSRV);
}

}  // namespace
