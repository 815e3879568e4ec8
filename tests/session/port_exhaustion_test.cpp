// Sessions that take every listening port or every slot of the table: run
// alone (ctest RUN_SERIAL), as a session opened by another test meanwhile
// would find no port.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "api_fixture.hpp"
#include "session_client.hpp"
#include "zep/agent.hpp"

namespace {

using namespace testsupport;

TEST_F(ApiTest, AHundredSessionsFillTheTableAndTheNextOpenLeavesTheHandleAlone) {
  std::vector<std::unique_ptr<SessionClient>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<SessionClient>());
    clients.back()->Open(list);  // may fail for want of a port; the slot is taken anyway
    ASSERT_EQ(clients.back()->handle, i);
  }
  SessionClient extra;
  extra.handle = 4711;
  EXPECT_EQ(extra.Open(list), ZEP_RET_TOOMANYSESSIONS);
  EXPECT_EQ(extra.handle, 4711);
  extra.handle = -1;

  // The lowest empty slot is taken next.
  ASSERT_EQ(ZEPLeaveSession(5), ZEP_RET_OK);
  clients[5]->handle = -1;
  SessionClient again;
  again.Open(list);
  EXPECT_EQ(again.handle, 5);
}

TEST_F(ApiTest, OpeningFailsWhenNoListeningPortIsFree) {
  // Hold every port of the listener's range that is free now; the others
  // are busy already.
  std::vector<std::unique_ptr<CAgent>> holders;
  for (unsigned p = 2001; p <= 2100; ++p) {
    auto holder = std::make_unique<CAgent>();
    if (holder->AAListnerCreate(p) == p) holders.push_back(std::move(holder));
  }
  SessionClient c;
  EXPECT_EQ(c.Open(list), ZEP_RET_AGENTPROBLEM);
  EXPECT_EQ(ZEPLeaveSession(c.handle), ZEP_RET_OK) << "the half-open session can still be left";
  c.handle = -1;
}

}  // namespace
