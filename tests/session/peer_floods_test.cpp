// Floods a session may meet from other programs: JOIN connections without
// end, a server sending more users than anyone asked for, and requesters
// that cannot be reached when the client refuses them all. The session stays
// bounded, keeps telling its client what matters, and is not held up.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/frames.hpp"
#include "../support/listening_ports.hpp"
#include "../support/tcp_states.hpp"
#include "session_client.hpp"

namespace {

using namespace testsupport;

// Mirrors what the agent keeps waiting (player_table.hpp, message_queue.hpp).
constexpr std::size_t kPendingCap = 64;
constexpr std::size_t kQueueCap = 1024;

std::string JoinLine(unsigned port, const std::string& name) {
  return "JOIN ID=127.0.0.1:" + std::to_string(port) + ";APP=QORCORVA;\x18REAL=" + name + ";";
}

unsigned DeadPort() {
  RawPeer dead;
  const unsigned port = dead.Listen();
  dead.Close();
  return port;
}

class PeerFloodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_set_io_timeout_ms(5000);
    const std::set<unsigned> before = OwnListeningPorts();
    ASSERT_EQ(client.Open(dir.File("SERVERS.INI")), ZEP_RET_OK);
    for (unsigned p : OwnListeningPorts())
      if (!before.count(p)) port = p;
    ASSERT_NE(port, 0u);
  }
  void TearDown() override { plat_set_io_timeout_ms(5000); }

  // A requester's JOIN connection: the line, then whatever the session
  // answers before it closes the connection.
  std::string Request(const std::string& line) {
    RawPeer joiner;
    EXPECT_TRUE(joiner.Connect(port));
    EXPECT_TRUE(joiner.Send(EncodeFrame(line, true)));
    EXPECT_TRUE(joiner.WaitForClose());
    const auto texts = DecodeFrames(joiner.received(), true);
    return texts.empty() ? std::string() : texts.front();
  }

  // Registers with a scripted server and forgets the registration lines.
  void JoinServer(RawPeer& server) {
    const unsigned serverPort = server.Listen();
    ASSERT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(serverPort)), ZEP_RET_OK);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(PumpUntil([&] {
      server.Poll();
      return DecodeFrames(server.received(), false).size() >= 2;
    }));
    server.received().clear();
    client.Drain();
  }

  TempDir dir;
  SessionClient client;
  unsigned port = 0;
};

TEST_F(PeerFloodsTest, JoinsOverThePendingCapAreRefusedAtOnceWithTheRefusalReason) {
  for (std::size_t i = 0; i < kPendingCap; ++i)
    EXPECT_EQ(Request(JoinLine(30000 + i, "p" + std::to_string(i))), "") << "passed to the client";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Request(JoinLine(31000 + i, "late")), "NAKJ GAME");
  const std::vector<Message> queued = client.Drain();
  EXPECT_EQ(queued.size(), kPendingCap);
  for (const Message& m : queued) EXPECT_EQ(m.moreInfo, "JOIN");

  // An answered request makes room for the next one.
  const std::string first = JoinLine(30000, "p0").substr(5);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(client.handle, first.c_str(), 0, "BUSY"), ZEP_RET_PLAYERLEAVE);
  EXPECT_EQ(Request(JoinLine(32000, "next")), "");
  EXPECT_EQ(client.Drain().size(), 1u);
}

TEST_F(PeerFloodsTest, AServerSendingUsersWithoutEndFillsTheQueueOnlyToItsCapAndTheQueryStillEnds) {
  RawPeer server;
  JoinServer(server);
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 100, nullptr, nullptr), ZEP_RET_OK);
  std::string flood;
  for (std::size_t i = 0; i < kQueueCap + 500; ++i)
    flood += EncodeFrame("USER ID=10.0.0.1:" + std::to_string(i) + ";", false);
  ASSERT_TRUE(server.Send(flood + EncodeFrame("QROK", false)));
  ASSERT_TRUE(PumpUntil([&] { return client.ServerStatus() == ZEP_SS_INSRV && client.notifications > 0; }));
  PumpAWhile();
  // With the queue full of what the server sent, a JOIN cannot be told to
  // the client and is refused rather than kept.
  EXPECT_EQ(Request(JoinLine(30000, "a")), "NAKJ GAME");

  const std::vector<Message> queued = client.Drain();
  ASSERT_EQ(queued.size(), kQueueCap + 1);
  EXPECT_EQ(std::count_if(queued.begin(), queued.end(), [](const Message& m) { return m.type == ZEP_MT_USERDESC; }),
            static_cast<long>(kQueueCap));
  EXPECT_EQ(queued.back(), (Message{"SERVER", ZEP_MT_QUERYRESPONSE, "QROK", "  "}))
      << "the end of the client's query is told even over the cap";
  EXPECT_EQ(Request(JoinLine(30001, "b")), "") << "a read queue takes requests again";
}

TEST_F(PeerFloodsTest, RefusingAllPendingConnectsToEveryRequesterAtOnce) {
  // Requesters that never answer: their listener's accept queue is full.
  const int full = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(full, 0), 0);
  ASSERT_EQ(getsockname(full, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const unsigned hanging = ntohs(a.sin_port);
  const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  for (const char* name : {"a", "b", "c"}) ASSERT_EQ(Request(JoinLine(hanging, name)), "");
  plat_set_io_timeout_ms(1000);
  const int before = ConnectsUnderWayTo(hanging);
  std::atomic<bool> done{false};
  std::atomic<int> most{0};
  std::thread watcher([&] {
    while (!done) {
      most = std::max(most.load(), ConnectsUnderWayTo(hanging) - before);
      usleep(2000);
    }
  });
  EXPECT_EQ(ZEPSetResponseStatus(client.handle, 0, 1, "GAME"), ZEP_RET_OK);
  done = true;
  watcher.join();
  close(filler);
  close(full);
  EXPECT_EQ(most.load(), 3) << "the three connects were under way together, so the call waited one bound";
}

TEST_F(PeerFloodsTest, EachUnreachableRequesterIsReportedToTheServerOnce) {
  RawPeer server;
  JoinServer(server);
  const unsigned gone = DeadPort(), alsoGone = DeadPort();
  for (const char* name : {"a", "b", "c", "d"}) ASSERT_EQ(Request(JoinLine(gone, name)), "");
  ASSERT_EQ(Request(JoinLine(alsoGone, "e")), "");
  EXPECT_EQ(client.Drain().size(), 5u);
  EXPECT_EQ(ZEPSetResponseStatus(client.handle, 0, 1, "GAME"), ZEP_RET_OK);
  const std::string text = "ID=127.0.0.1:" + std::to_string(gone) + ";OWN=1.1.1.1;";
  EXPECT_EQ(ZEPJoinSubGroup(client.handle, text.c_str()), ZEP_RET_OK);
  PumpAWhile();
  server.Poll();
  EXPECT_EQ(DecodeFrames(server.received(), false),
            (std::vector<std::string>{"CPIN ID=127.0.0.1:" + std::to_string(gone) + ";",
                                      "CPIN ID=127.0.0.1:" + std::to_string(alsoGone) + ";"}));
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"127.0.0.1:" + std::to_string(gone), ZEP_MT_NODELIVERY, "  ",
                                                    "JOINFAIL"}}));
}

}  // namespace
