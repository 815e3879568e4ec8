// What other agents can make an agent hold, and for how long: connections
// over the cap, frames longer than agents send, frames that never finish,
// lines the agent is slow to take, a burst of connects, and reports of
// agents that cannot be reached. Small limits stand in for the real ones.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "../support/frames.hpp"
#include "../support/raw_peer.hpp"
#include "../support/recording_agent.hpp"
#include "agent2agent.hpp"
#include "peer_limits.hpp"

namespace {

using namespace std::chrono_literals;
using testsupport::EncodeFrame;
using testsupport::PumpAWhile;
using testsupport::PumpUntil;
using testsupport::RawPeer;
using testsupport::RecordingAgent;

const std::string kSignature = "mR&2s7qV";

// A loopback port with nothing listening on it.
unsigned DeadPort() {
  RawPeer dead;
  const unsigned port = dead.Listen();
  dead.Close();
  return port;
}

class PeerLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_set_io_timeout_ms(5000);
    port = owner.agent.AAListnerCreate(0);
    ASSERT_NE(port, 0u);
    manager = owner.agent.PeerManager();
    ASSERT_NE(manager, nullptr);
  }

  void Limit(const std::function<void(zep::PeerLimits&)>& change) {
    zep::PeerLimits limits = manager->limits();
    change(limits);
    manager->SetLimits(limits);
  }

  std::unique_ptr<RawPeer> ConnectRaw() {
    auto peer = std::make_unique<RawPeer>();
    EXPECT_TRUE(peer->Connect(port));
    const std::size_t before = owner.Of(TE_PEER_ACCEPTED).size();
    EXPECT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_ACCEPTED).size() > before; }));
    return peer;
  }
  std::uint32_t LastAcceptedId() { return owner.Of(TE_PEER_ACCEPTED).back().id; }

  std::vector<std::uint32_t> ClosedIds() {
    std::vector<std::uint32_t> ids;
    for (const auto& e : owner.Of(TE_PEER_CLOSED)) ids.push_back(e.id);
    return ids;
  }

  RecordingAgent owner;
  zep::CAgent2Agent* manager = nullptr;
  unsigned port = 0;
};

TEST_F(PeerLimitsTest, AConnectionOverTheCapIsClosedAtOnceWhileTheOthersStay) {
  Limit([](zep::PeerLimits& l) { l.maxConnections = 3; });
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < 3; ++i) peers.push_back(ConnectRaw());
  RawPeer over;
  ASSERT_TRUE(over.Connect(port));
  EXPECT_TRUE(over.WaitForClose());
  EXPECT_EQ(owner.Of(TE_PEER_ACCEPTED).size(), 3u) << "the one over the cap was never taken";
  for (auto& p : peers) ASSERT_TRUE(p->Send(EncodeFrame("still here", true)));
  EXPECT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 3; }));

  peers.front()->Close();
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  auto later = ConnectRaw();
  EXPECT_EQ(owner.Of(TE_PEER_ACCEPTED).size(), 4u) << "a place that came free is taken again";
}

TEST_F(PeerLimitsTest, AFrameLongerThanAgentsSendClosesItsConnectionBeforeItsTextArrives) {
  auto hostile = ConnectRaw();
  const std::uint32_t hostileId = LastAcceptedId();
  auto good = ConnectRaw();
  const std::string tooLong = EncodeFrame(std::string(zep::kMaxAgentFrameText + 1, 'x'), true);
  ASSERT_TRUE(hostile->Send(tooLong.substr(0, tooLong.size() - zep::kMaxAgentFrameText)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  EXPECT_EQ(ClosedIds(), std::vector<std::uint32_t>{hostileId});

  const std::string longest(zep::kMaxAgentFrameText, 'y');
  ASSERT_TRUE(good->Send(EncodeFrame(longest, true)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, longest);
}

TEST_F(PeerLimitsTest, AConnectionThatDoesNotFinishItsFrameInTimeIsClosed) {
  Limit([](zep::PeerLimits& l) { l.frameDeadline = 1000ms; });
  auto silent = ConnectRaw();  // never says its first line
  const std::uint32_t silentId = LastAcceptedId();
  auto talker = ConnectRaw();  // says one whole line, then rests
  const std::uint32_t talkerId = LastAcceptedId();
  ASSERT_TRUE(talker->Send(EncodeFrame("AKNJ", true)));
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 1; }));
  auto half = ConnectRaw();  // a line, then part of another, then silence
  const std::uint32_t halfId = LastAcceptedId();
  const std::string frame = EncodeFrame("never finished", true);
  ASSERT_TRUE(half->Send(EncodeFrame("PLRS x", true) + frame.substr(0, frame.size() - 3)));

  ASSERT_TRUE(PumpUntil([&] { return ClosedIds().size() >= 2; }));
  EXPECT_EQ(ClosedIds(), (std::vector<std::uint32_t>{silentId, halfId}));
  EXPECT_TRUE(silent->WaitForClose());
  EXPECT_TRUE(half->WaitForClose());
  // A connection that finished its lines may rest as long as it likes.
  ASSERT_TRUE(talker->Send(EncodeFrame("OWNS y hello", true)));
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 3; }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE).back(), (testsupport::Event{TE_PEER_MESSAGE, talkerId, "OWNS y hello"}));
}

TEST_F(PeerLimitsTest, LinesTheAgentIsSlowToTakeAreNotReadAheadWithoutBound) {
  auto flood = ConnectRaw();
  fcntl(flood->fd(), F_SETFL, O_NONBLOCK);
  // The callback takes one line per notification and asks to stop.
  owner.onEvent = [](const testsupport::Event& e) { return e.code == TE_PEER_MESSAGE ? 0 : 1; };
  const std::string line = EncodeFrame(std::string(100, 'm'), true);
  std::string pending;
  for (int i = 0; i < 4000; ++i) pending += line;
  const std::size_t total = 4000;
  std::size_t mostHeld = 0;
  for (int round = 0; round < 2000 && !pending.empty(); ++round) {
    const ssize_t n = send(flood->fd(), pending.data(), pending.size(), MSG_NOSIGNAL);
    if (n > 0) pending.erase(0, static_cast<std::size_t>(n));
    plat_pump(1);
    mostHeld = std::max(mostHeld, manager->InputCapacity());
  }
  ASSERT_TRUE(pending.empty());
  for (int i = 0; i < 50; ++i) {
    plat_pump(1);
    mostHeld = std::max(mostHeld, manager->InputCapacity());
  }
  EXPECT_LE(mostHeld, 2 * zep::kMaxAgentInputBytes) << "held while lines were waiting";
  // Nothing was lost: once the agent takes lines again, every one arrives.
  owner.onEvent = nullptr;
  ASSERT_TRUE(flood->Send(line));
  EXPECT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == total + 1; }));
}

TEST_F(PeerLimitsTest, ABurstOfConnectsIsAnsweredWhileTheAgentIsBusyElsewhere) {
  // The loop is not pumped: the kernel alone completes the handshakes, as
  // far as the listener's backlog lets it.
  constexpr int kBurst = 64;
  std::vector<int> fds;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kBurst; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fds.push_back(fd);
  }
  // A bound for a broken build: a connect the backlog had no room for is
  // never answered while nobody accepts.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  int connected = 0;
  std::vector<bool> done(fds.size(), false);
  while (connected < kBurst && std::chrono::steady_clock::now() < deadline) {
    for (std::size_t i = 0; i < fds.size(); ++i) {
      pollfd p{fds[i], POLLOUT, 0};
      if (done[i] || poll(&p, 1, 0) != 1) continue;
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fds[i], SOL_SOCKET, SO_ERROR, &err, &len);
      done[i] = true;
      if (err == 0) ++connected;
    }
    usleep(1000);
  }
  for (int fd : fds) close(fd);
  EXPECT_EQ(connected, kBurst);
  PumpAWhile();
}

TEST_F(PeerLimitsTest, AnUnreachableAgentIsReportedToTheServerOncePerInterval) {
  RawPeer server;
  const unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  const unsigned a = DeadPort(), b = DeadPort();
  std::uint32_t id = 0;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", a), 0);
  EXPECT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", b), 0);
  owner.agent.AASendToEach({{"127.0.0.1", a}, {"127.0.0.1", b}, {"127.0.0.1", a}}, "NAKJ LEAV");
  const std::string cpinA = "CPIN ID=127.0.0.1:" + std::to_string(a) + ";";
  const std::string cpinB = "CPIN ID=127.0.0.1:" + std::to_string(b) + ";";
  PumpAWhile();
  server.Poll();
  EXPECT_EQ(testsupport::DecodeFrames(server.received(), false), (std::vector<std::string>{cpinA, cpinB}));

  Limit([](zep::PeerLimits& l) { l.unreachableReportInterval = 0ms; });
  EXPECT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", a), 0);
  ASSERT_TRUE(server.WaitForBytes(server.received().size() + EncodeFrame(cpinA, false).size()));
  EXPECT_EQ(testsupport::DecodeFrames(server.received(), false), (std::vector<std::string>{cpinA, cpinB, cpinA}))
      << "once the interval has passed, the id is reported again";
}

}  // namespace
