// The C API's session table, its argument checks, the message queue and its
// notification, and the status getters.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "api_fixture.hpp"
#include "session_client.hpp"
#include "zep/agent.hpp"

namespace {

using namespace testsupport;

TEST_F(ApiTest, ANewSessionStandsNowhereAndPassesRequestsOn) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);
  EXPECT_EQ(c.handle, 0);
  EXPECT_EQ(c.ServerStatus(), ZEP_SS_NOSRV);
  EXPECT_EQ(c.SubGroupStatus(), ZEP_SG_NOSG);
  int response = -1;
  EXPECT_EQ(ZEPGetResponseStatus(c.handle, &response), ZEP_RET_OK);
  EXPECT_EQ(response, 1);
  EXPECT_TRUE(c.Drain().empty());
}

TEST_F(ApiTest, BadHandlesAreRefusedByEveryFunction) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);  // slot 0 is taken, slot 1 is empty
  char id[100], text[500], more[500];
  int value = 0;
  for (int h : {-1, 100, 1}) {
    SCOPED_TRACE(h);
    EXPECT_EQ(ZEPLeaveSession(h), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPGetSessionServerStatus(h, &value), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPGetSessionSubGroupStatus(h, &value), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPGetNextMessage(h, id, &value, text, more), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPSetResponseStatus(h, 0, 1, "GAME"), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPGetResponseStatus(h, &value), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPJoinServer(h, "127.0.0.1", 2424), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPLeaveServer(h), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPQueryUsers(h, " ", 10, nullptr, nullptr), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPAbortQuery(h), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPJoinSubGroup(h, "ID=127.0.0.1:2001;"), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPAbortSubGroupJoinRequest(h), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(h, "ID=1.2.3.4:5;", 1, ""), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPLeaveSubGroup(h), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPSendMsgToUser(h, "1.2.3.4:5", "hi"), ZEP_RET_INVALIDSESSION);
    EXPECT_EQ(ZEPGetPlayerSubGroupStatus(h, "1.2.3.4:5", &value), ZEP_RET_INVALIDSESSION);
  }
}

TEST_F(ApiTest, LeavingASessionTwiceFailsTheSecondTime) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);
  EXPECT_EQ(ZEPLeaveSession(c.handle), ZEP_RET_OK);
  EXPECT_EQ(ZEPLeaveSession(c.handle), ZEP_RET_INVALIDSESSION);
  c.handle = -1;
}

TEST_F(ApiTest, OpeningChecksItsStringsAndWindow) {
  SessionClient c;
  EXPECT_EQ(ZEPOpenSession(&c.handle, 0, nullptr, "d", "v", c.window(), 514, list.c_str()),
            ZEP_RET_INVALIDSTRING);
  // The failed session holds its slot until it is left.
  EXPECT_EQ(c.handle, 0);
  int status;
  EXPECT_EQ(ZEPGetSessionServerStatus(c.handle, &status), ZEP_RET_AGENTPROBLEM)
      << "a session whose opening failed part-way can do nothing";
  EXPECT_EQ(ZEPLeaveSession(c.handle), ZEP_RET_OK);

  plat_hwnd gone = plat_window_create([](plat_hwnd, unsigned, uintptr_t, intptr_t, void*) {}, nullptr);
  plat_window_destroy(gone);
  EXPECT_EQ(ZEPOpenSession(&c.handle, 0, "A", "d", "v", gone, 514, list.c_str()), ZEP_RET_INVALIDCALLBACK);
  EXPECT_EQ(ZEPLeaveSession(c.handle), ZEP_RET_OK);
  c.handle = -1;
  EXPECT_EQ(ZEPOpenSession(nullptr, 0, "A", "d", "v", c.window(), 514, list.c_str()), ZEP_RET_INVALIDPOINTER);
}

TEST_F(ApiTest, GetNextMessageChecksItsArgumentsBeforeLookingAtTheQueue) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);
  char id[100] = "unchanged", text[500] = "unchanged", more[500] = "unchanged";
  int type = 77;
  EXPECT_EQ(ZEPGetNextMessage(c.handle, id, &type, nullptr, more), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(ZEPGetNextMessage(c.handle, nullptr, &type, text, more), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(ZEPGetNextMessage(c.handle, id, nullptr, text, more), ZEP_RET_INVALIDPOINTER);
  EXPECT_EQ(ZEPGetNextMessage(c.handle, id, &type, text, more), ZEP_RET_NOMSG);
  EXPECT_STREQ(id, "unchanged");
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(type, 77);

  // With a message waiting, a bad buffer still removes nothing.
  ASSERT_EQ(ZEPJoinServer(c.handle, "127.0.0.1", 1), ZEP_RET_CONNECTFAILED);
  EXPECT_EQ(ZEPGetNextMessage(c.handle, id, &type, text, nullptr), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(c.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_JOINSRVRESPONSE, "FAIL", "  "}}));
}

TEST_F(ApiTest, StatusGettersRefuseNullPointers) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);
  EXPECT_EQ(ZEPGetSessionServerStatus(c.handle, nullptr), ZEP_RET_INVALIDPOINTER);
  EXPECT_EQ(ZEPGetSessionSubGroupStatus(c.handle, nullptr), ZEP_RET_INVALIDPOINTER);
  EXPECT_EQ(ZEPGetResponseStatus(c.handle, nullptr), ZEP_RET_INVALIDPOINTER);
}

TEST_F(ApiTest, TheResponseStatusAndItsReasonAreKept) {
  SessionClient c;
  ASSERT_EQ(c.Open(list), ZEP_RET_OK);
  int status = -1;
  EXPECT_EQ(ZEPSetResponseStatus(c.handle, 0, 0, nullptr), ZEP_RET_OK);
  ZEPGetResponseStatus(c.handle, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ZEPSetResponseStatus(c.handle, 42, 1, "BUSY"), ZEP_RET_OK);
  ZEPGetResponseStatus(c.handle, &status);
  EXPECT_EQ(status, 42);
}

}  // namespace
