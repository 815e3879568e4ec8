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

// Mirrors what the agent keeps waiting (player_table.hpp, peer_limits.hpp,
// message_queue.hpp).
constexpr std::size_t kPendingCap = 64;
constexpr std::size_t kPerAddressCap = 4;
constexpr std::size_t kQueueCap = 1024;

std::string JoinLine(unsigned port, const std::string& name, const std::string& address = "127.0.0.1") {
  return "JOIN ID=" + address + ":" + std::to_string(port) + ";APP=QORCORVA;\x18REAL=" + name + ";";
}

// The n-th host of a test's made-up network, all of them on the loopback.
std::string Host(int n) { return "127.0.0." + std::to_string(n); }

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
  std::string Request(const std::string& line, const std::string& from = "127.0.0.1") {
    RawPeer joiner;
    EXPECT_TRUE(joiner.Connect(port, from.c_str()));
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
  // Sixteen hosts, each with its share of places.
  for (std::size_t i = 0; i < kPendingCap; ++i) {
    const std::string host = Host(10 + static_cast<int>(i / kPerAddressCap));
    EXPECT_EQ(Request(JoinLine(30000 + i, "p" + std::to_string(i), host), host), "") << "passed to the client";
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Request(JoinLine(31000 + i, "late", Host(40)), Host(40)), "NAKJ GAME");
  const std::vector<Message> queued = client.Drain();
  EXPECT_EQ(queued.size(), kPendingCap);
  for (const Message& m : queued) EXPECT_EQ(m.moreInfo, "JOIN");

  // An answered request makes room for the next one.
  const std::string first = JoinLine(30000, "p0", Host(10)).substr(5);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(client.handle, first.c_str(), 0, "BUSY"), ZEP_RET_PLAYERLEAVE);
  EXPECT_EQ(Request(JoinLine(32000, "next", Host(40)), Host(40)), "");
  EXPECT_EQ(client.Drain().size(), 1u);
}

TEST_F(PeerFloodsTest, OneHostFloodingTakesOnlyItsShareAndRealRequestersStillGetIn) {
  RawPeer first, second;
  const unsigned firstPort = first.Listen(Host(1).c_str());
  const unsigned secondPort = second.Listen(Host(3).c_str());
  EXPECT_EQ(Request(JoinLine(firstPort, "First", Host(1)), Host(1)), "");
  std::size_t refused = 0;
  for (unsigned i = 0; i < 200; ++i)
    refused += Request(JoinLine(30000 + i, "nobody", Host(2)), Host(2)) == "NAKJ GAME";
  EXPECT_EQ(refused, 200 - kPerAddressCap);
  EXPECT_EQ(Request(JoinLine(secondPort, "Second", Host(3)), Host(3)), "") << "queued, not refused";

  const std::vector<Message> queued = client.Drain();
  ASSERT_EQ(queued.size(), 2 + kPerAddressCap);
  EXPECT_EQ(queued.front().playerId, Host(1) + ":" + std::to_string(firstPort));
  EXPECT_EQ(queued.back(), (Message{Host(3) + ":" + std::to_string(secondPort), ZEP_MT_USERMSG,
                                    JoinLine(secondPort, "Second", Host(3)).substr(5), "JOIN"}));
  // The real requester's answer reaches it as ever.
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(client.handle, queued.back().text.c_str(), 1, "None"), ZEP_RET_OK);
  ASSERT_TRUE(second.Accept());
  ASSERT_TRUE(second.WaitForBytes(EncodeFrame("AKNJ", true).size()));
  EXPECT_EQ(DecodeFrames(second.received(), true), std::vector<std::string>{"AKNJ"});
}

TEST_F(PeerFloodsTest, TheAddressAJoinComesFromAndTheOneItNamesAreEachCapped) {
  // One host naming players everywhere, then many hosts naming players at
  // one address.
  for (std::size_t i = 0; i <= kPerAddressCap; ++i)
    EXPECT_EQ(Request(JoinLine(30000, "a", Host(50 + static_cast<int>(i))), Host(2)),
              i < kPerAddressCap ? "" : "NAKJ GAME") << i;
  for (std::size_t i = 0; i <= kPerAddressCap; ++i)
    EXPECT_EQ(Request(JoinLine(30000 + i, "b", Host(3)), Host(60 + static_cast<int>(i))),
              i < kPerAddressCap ? "" : "NAKJ GAME") << i;
  EXPECT_EQ(client.Drain().size(), 2 * kPerAddressCap);
}

TEST_F(PeerFloodsTest, ARequesterAskingAgainKeepsOnePlaceAndTheClientReadsOneRequest) {
  const std::string older = JoinLine(30000, "Old"), newer = JoinLine(30000, "New");
  EXPECT_EQ(Request(older), "");
  EXPECT_EQ(Request(newer), "");
  // Unread, the request is the newer one, in the older one's place.
  const std::vector<Message> read = client.Drain();
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read.front().text, newer.substr(5));
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(client.handle, older.substr(5).c_str(), 0, ""), ZEP_RET_NOREQUESTACTIVE);

  // Once read, asking again tells the client nothing new; the same id from
  // another address takes no place of its own.
  const std::string again = JoinLine(30000, "Again");
  EXPECT_EQ(Request(again), "");
  EXPECT_EQ(Request(JoinLine(30000, "Other"), Host(2)), "NAKJ GAME");
  EXPECT_TRUE(client.Drain().empty());
  // Withdrawn by the requester's latest text, it is reported by the one the
  // client holds.
  RawPeer withdrawing;
  ASSERT_TRUE(withdrawing.Connect(port));
  const int notified = client.notifications;
  ASSERT_TRUE(withdrawing.Send(EncodeFrame("TERM" + again.substr(4), true)));
  ASSERT_TRUE(PumpUntil([&] { return client.notifications > notified; }));
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"127.0.0.1:30000", ZEP_MT_USERMSG, read.front().text, "TERM"}}));
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(client.handle, read.front().text.c_str(), 0, ""), ZEP_RET_NOREQUESTACTIVE);
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
  // On every address, so that three requesters can share its port.
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(full, 0), 0);
  ASSERT_EQ(getsockname(full, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const unsigned hanging = ntohs(a.sin_port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  for (int host : {1, 2, 3}) ASSERT_EQ(Request(JoinLine(hanging, "a", Host(host))), "");
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
  ASSERT_EQ(Request(JoinLine(gone, "a")), "");
  ASSERT_EQ(Request(JoinLine(alsoGone, "e")), "");
  EXPECT_EQ(client.Drain().size(), 2u);
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
