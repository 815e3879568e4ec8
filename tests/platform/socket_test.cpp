// Asynchronous sockets over real loopback connections.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/async_socket.hpp"
#include "platform/listener.hpp"

namespace {

using platform::AsyncSocket;

// Pumps the loop until done() holds or about ten seconds passed (a bound for
// a broken build, not a timing assertion).
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i) plat_pump(5);
  return done();
}

class Peer : public AsyncSocket {
 public:
  std::string received;
  int receives = 0;
  int closes = 0;
  bool readOnReceive = true;
  std::function<void(Peer&)> onReceiveHook;

 protected:
  void OnReceive(int) override {
    ++receives;
    if (onReceiveHook) {
      auto hook = onReceiveHook;  // the hook may delete this object, itself included
      hook(*this);
      return;
    }
    if (!readOnReceive) return;
    char buf[4096];
    for (;;) {
      auto n = Receive(buf, sizeof buf);
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
    }
  }
  void OnClose(int) override { ++closes; }
};

class Listener : public AsyncSocket {
 public:
  std::vector<std::unique_ptr<Peer>> accepted;
  int acceptNotifications = 0;

 protected:
  void OnAccept(int) override {
    ++acceptNotifications;
    auto p = std::make_unique<Peer>();
    if (Accept(*p)) accepted.push_back(std::move(p));
  }
};

unsigned ListeningPort(AsyncSocket& s) {
  std::string addr;
  unsigned port = 0;
  EXPECT_TRUE(s.GetSockName(addr, port));
  return port;
}

// A port on which nothing listens: bound once, then released.
unsigned FreePort() {
  AsyncSocket s;
  EXPECT_TRUE(s.Create(0));
  unsigned port = ListeningPort(s);
  s.Close();
  return port;
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_set_io_timeout_ms(5000);
    ASSERT_TRUE(listener.Create(0));
    ASSERT_TRUE(listener.Listen(5));
    port = ListeningPort(listener);
  }
  void TearDown() override { plat_set_io_timeout_ms(5000); }

  // A client connected to the listener and the server side of it.
  std::pair<std::unique_ptr<Peer>, Peer*> ConnectedPair() {
    auto client = std::make_unique<Peer>();
    EXPECT_TRUE(client->Create(0));
    EXPECT_TRUE(client->Connect("127.0.0.1", port));
    size_t before = listener.accepted.size();
    EXPECT_TRUE(PumpUntil([&] { return listener.accepted.size() > before; }));
    return {std::move(client), listener.accepted.back().get()};
  }

  Listener listener;
  unsigned port = 0;
};

TEST_F(SocketTest, ConnectToAClosedPortFailsAtOnce) {
  Peer client;
  ASSERT_TRUE(client.Create(0));
  EXPECT_FALSE(client.Connect("127.0.0.1", FreePort()));
}

TEST_F(SocketTest, ConnectToAListenerIsAcceptedThroughANotification) {
  auto [client, server] = ConnectedPair();
  EXPECT_EQ(listener.acceptNotifications, 1);
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(server->IsOpen());
}

TEST_F(SocketTest, ConnectResolvesHostNames) {
  Peer client;
  ASSERT_TRUE(client.Create(0));
  EXPECT_TRUE(client.Connect("localhost", port));
  EXPECT_TRUE(PumpUntil([&] { return listener.accepted.size() == 1; }));
}

TEST_F(SocketTest, ANameThatCannotBeResolvedFailsTheConnectWithinTheBound) {
  // Whether the name server answers at once, late or never, the connect
  // must give up by the bound.
  plat_set_io_timeout_ms(300);
  Peer client;
  ASSERT_TRUE(client.Create(0));
  EXPECT_FALSE(client.Connect("no-such-host.invalid", port));
}

TEST_F(SocketTest, LocalAndPeerNamesAreDottedAddressesAndPorts) {
  auto [client, server] = ConnectedPair();
  std::string clientLocal, clientPeer, serverLocal, serverPeer;
  unsigned clientLocalPort = 0, clientPeerPort = 0, serverLocalPort = 0, serverPeerPort = 0;
  ASSERT_TRUE(client->GetSockName(clientLocal, clientLocalPort));
  ASSERT_TRUE(client->GetPeerName(clientPeer, clientPeerPort));
  ASSERT_TRUE(server->GetSockName(serverLocal, serverLocalPort));
  ASSERT_TRUE(server->GetPeerName(serverPeer, serverPeerPort));
  EXPECT_EQ(clientPeer, "127.0.0.1");
  EXPECT_EQ(clientPeerPort, port);
  EXPECT_EQ(serverLocalPort, port);
  EXPECT_EQ(serverPeer, clientLocal);
  EXPECT_EQ(serverPeerPort, clientLocalPort);
  AsyncSocket unopened;
  EXPECT_FALSE(unopened.GetPeerName(clientPeer, clientPeerPort));
}

TEST_F(SocketTest, BytesSentOneAtATimeAndBytesSentTogetherAllArriveInOrder) {
  auto [client, server] = ConnectedPair();
  std::string text = "one byte at a time";
  for (char c : text) ASSERT_TRUE(client->SendAll(&c, 1));
  std::string big(200000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(client->SendAll(big.data(), big.size()));
  const std::string expected = text + big;
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() >= expected.size(); }));
  EXPECT_EQ(server->received, expected);
}

TEST_F(SocketTest, AHeadAndABodySentTogetherArriveAsOneStreamEvenWhenTheSendIsCutShort) {
  auto [client, server] = ConnectedPair();
  // The body is larger than the socket buffers, so the kernel takes it in
  // parts and the send must go on from the middle of a piece.
  std::string head = "HEAD:";
  std::string body(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('A' + i % 23);
  // Sent from another thread while this one serves the reading side.
  bool sent = false;
  std::thread sender([&] { sent = client->SendAll(head.data(), head.size(), body.data(), body.size()); });
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() >= head.size() + body.size(); }));
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_TRUE(server->received == head + body);
  ASSERT_TRUE(client->SendAll("", 0, "tail", 4)) << "an empty head is skipped";
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() == head.size() + body.size() + 4; }));
}

TEST_F(SocketTest, ThePeersCloseIsNotifiedOnceAfterItsLastData) {
  auto [client, server] = ConnectedPair();
  ASSERT_TRUE(client->SendAll("bye", 3));
  client.reset();  // closes
  EXPECT_TRUE(PumpUntil([&] { return server->closes > 0; }));
  EXPECT_EQ(server->received, "bye");
  for (int i = 0; i < 5; ++i) plat_pump(5);
  EXPECT_EQ(server->closes, 1);
}

TEST_F(SocketTest, ALocalCloseRaisesNoNotification) {
  auto [client, server] = ConnectedPair();
  ASSERT_TRUE(client->SendAll("x", 1));
  client->Close();
  EXPECT_TRUE(PumpUntil([&] { return server->closes > 0; }));
  EXPECT_EQ(client->closes, 0);
  EXPECT_EQ(client->receives, 0);
}

TEST_F(SocketTest, ASocketMayBeDestroyedInsideItsOwnReceiveNotification) {
  auto [client, server] = ConnectedPair();
  bool destroyed = false;
  server->onReceiveHook = [&](Peer& self) {
    for (auto& p : listener.accepted)
      if (p.get() == &self) p.reset();
    destroyed = true;
  };
  ASSERT_TRUE(client->SendAll("x", 1));
  client.reset();  // the end of stream comes with the data
  EXPECT_TRUE(PumpUntil([&] { return destroyed; }));
  for (int i = 0; i < 5; ++i) plat_pump(5);  // nothing may touch the dead object
}

TEST_F(SocketTest, AHandlerThatDoesNotReadIsNotCalledAgainUntilItReads) {
  auto [client, server] = ConnectedPair();
  server->readOnReceive = false;
  ASSERT_TRUE(client->SendAll("abc", 3));
  EXPECT_TRUE(PumpUntil([&] { return server->receives > 0; }));
  for (int i = 0; i < 20; ++i) plat_pump(1);
  EXPECT_EQ(server->receives, 1) << "unread bytes must not make the loop spin";
  char buf[8];
  EXPECT_EQ(server->Receive(buf, sizeof buf), 3);
  ASSERT_TRUE(client->SendAll("d", 1));
  EXPECT_TRUE(PumpUntil([&] { return server->receives > 1; }));
}

// One read of at most `room` bytes per notification, as a reader with a
// budget does.
std::function<void(Peer&)> ReadAtMost(std::size_t room) {
  return [room](Peer& self) {
    char buf[4096];
    const auto n = self.Receive(buf, std::min(room, sizeof buf));
    if (n > 0) self.received.append(buf, static_cast<std::size_t>(n));
  };
}

TEST_F(SocketTest, BytesAHandlerLeavesUnreadAreNotifiedAgainWithoutMoreFromThePeer) {
  auto [client, server] = ConnectedPair();
  std::string burst(10000, '\0');
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
  // First it asks for nothing, as a reader whose buffer is full does; then
  // it reads a little each time.
  int asked = 0;
  server->onReceiveHook = [&, chunk = ReadAtMost(100)](Peer& self) {
    if (++asked <= 3) {
      self.Receive(nullptr, 0);
      return;
    }
    chunk(self);
  };
  ASSERT_TRUE(client->SendAll(burst.data(), burst.size()));
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() == burst.size(); }));
  EXPECT_EQ(server->received, burst);

  // The end that came behind unread bytes is notified once they are read.
  server->received.clear();
  server->onReceiveHook = ReadAtMost(7);
  ASSERT_TRUE(client->SendAll(burst.data(), 1000));
  client.reset();
  EXPECT_TRUE(PumpUntil([&] { return server->closes > 0; }));
  EXPECT_EQ(server->received, burst.substr(0, 1000));
  EXPECT_EQ(server->closes, 1);
}

TEST_F(SocketTest, AStreamFarLargerThanTheReceiveRoomArrivesWholeThroughSmallReads) {
  // The reader takes less than arrives, so the room the loop receives into
  // fills up; the peer then waits, and nothing is lost or reordered.
  auto [client, server] = ConnectedPair();
  server->onReceiveHook = ReadAtMost(1000);
  std::string stream(1 << 20, '\0');
  for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(i * 7 + i / 4093);
  std::thread sender([&] { EXPECT_TRUE(client->SendAll(stream.data(), stream.size())); });
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() >= stream.size(); }));
  sender.join();
  EXPECT_TRUE(server->received == stream);
}

TEST_F(SocketTest, AHostWaitingOnTheLoopDescriptorIsWokenForArrivingBytes) {
  // A host loop (the client's) waits on plat_loop_fd and dispatches when it
  // is readable; it must hear of bytes without ever pumping.
  auto [client, server] = ConnectedPair();
  while (plat_dispatch() > 0) {
  }
  ASSERT_TRUE(client->SendAll("ping", 4));
  for (int i = 0; i < 100 && server->received.size() < 4; ++i) {
    pollfd p{plat_loop_fd(), POLLIN, 0};
    if (poll(&p, 1, 100) == 1) plat_dispatch();
  }
  EXPECT_EQ(server->received, "ping");
  client.reset();
  for (int i = 0; i < 100 && server->closes == 0; ++i) {
    pollfd p{plat_loop_fd(), POLLIN, 0};
    if (poll(&p, 1, 100) == 1) plat_dispatch();
  }
  EXPECT_EQ(server->closes, 1);
}

TEST_F(SocketTest, BytesAfterUrgentDataArriveWithoutMoreFromThePeer) {
  // A read stops at the urgent byte's mark, which is not in the stream;
  // what follows it must still be offered.
  auto [client, server] = ConnectedPair();
  server->onReceiveHook = ReadAtMost(4096);
  const int fd = client->Descriptor();
  ASSERT_EQ(send(fd, "before", 6, 0), 6);
  ASSERT_EQ(send(fd, "!", 1, MSG_OOB), 1);
  ASSERT_EQ(send(fd, "after", 5, 0), 5);
  EXPECT_TRUE(PumpUntil([&] { return server->received.size() >= 11; }));
  EXPECT_EQ(server->received, "beforeafter");
}

TEST_F(SocketTest, AReadyPeerIsNotLostWhenAnotherPeersHandlerRunsANestedLoop) {
  // Both become readable in one wait; whichever handler runs first pumps
  // the loop inside itself (a modal box does), which makes the rest of the
  // outer batch stale. The other must still be notified, with no more bytes.
  auto [clientA, serverA] = ConnectedPair();
  auto [clientB, serverB] = ConnectedPair();
  int nested = 0;
  const auto readThenPump = [&](Peer& self) {
    ReadAtMost(4096)(self);
    if (nested++ == 0) plat_pump(0);
  };
  serverA->onReceiveHook = readThenPump;
  serverB->onReceiveHook = readThenPump;
  ASSERT_TRUE(clientA->SendAll("a", 1));
  ASSERT_TRUE(clientB->SendAll("b", 1));
  EXPECT_TRUE(PumpUntil([&] { return serverA->received == "a" && serverB->received == "b"; }));
}

TEST_F(SocketTest, ASendToAPeerThatNeverReadsFailsWithinTheBound) {
  auto [client, server] = ConnectedPair();
  server->readOnReceive = false;
  plat_set_io_timeout_ms(200);
  // Far more than the kernel buffers of both ends hold.
  std::string block(1 << 20, 'z');
  bool ok = true;
  for (int i = 0; i < 256 && ok; ++i) ok = client->SendAll(block.data(), block.size());
  EXPECT_FALSE(ok);
}

TEST_F(SocketTest, AConnectThatIsNeverAnsweredFailsWithinTheBound) {
  // A listener with a full accept queue drops further connection attempts,
  // so the connect is never answered: the loopback stand-in for a host that
  // does not reply.
  AsyncSocket full;
  ASSERT_TRUE(full.Create(0));
  ASSERT_TRUE(full.Listen(0));
  unsigned fullPort = ListeningPort(full);
  plat_set_io_timeout_ms(300);
  std::vector<std::unique_ptr<Peer>> queued;
  bool sawFailure = false;
  for (int i = 0; i < 8 && !sawFailure; ++i) {
    auto p = std::make_unique<Peer>();
    ASSERT_TRUE(p->Create(0));
    sawFailure = !p->Connect("127.0.0.1", fullPort);
    queued.push_back(std::move(p));
  }
  EXPECT_TRUE(sawFailure);
}

// A listener whose accept queue is full: further connects to it are never
// answered (the kernel drops their handshakes).
struct FullListener {
  AsyncSocket socket;
  std::vector<std::unique_ptr<Peer>> queued;
  unsigned port = 0;
  FullListener() {
    EXPECT_TRUE(socket.Create(0));
    EXPECT_TRUE(socket.Listen(0));
    port = ListeningPort(socket);
    plat_set_io_timeout_ms(200);
    // Backlog 0 still queues one; fill until a connect is left unanswered.
    for (int i = 0; i < 8; ++i) {
      auto p = std::make_unique<Peer>();
      EXPECT_TRUE(p->Create(0));
      const bool answered = p->Connect("127.0.0.1", port);
      queued.push_back(std::move(p));
      if (!answered) break;
    }
    plat_set_io_timeout_ms(5000);
  }
};

TEST_F(SocketTest, ConnectsStartedTogetherAreFinishedTogether) {
  FullListener full;
  const unsigned closedPort = FreePort();
  plat_set_io_timeout_ms(300);
  std::vector<std::unique_ptr<Peer>> peers;
  std::vector<AsyncSocket*> started;
  for (unsigned target : {port, full.port, closedPort, full.port}) {
    auto p = std::make_unique<Peer>();
    ASSERT_TRUE(p->Create(0));
    ASSERT_TRUE(p->StartConnect("127.0.0.1", target));
    started.push_back(p.get());
    peers.push_back(std::move(p));
  }
  AsyncSocket::FinishConnects(started);
  EXPECT_TRUE(peers[0]->IsOpen()) << "the listening one is connected";
  EXPECT_FALSE(peers[1]->IsOpen()) << "one never answered: closed when the bound ran out";
  EXPECT_FALSE(peers[2]->IsOpen()) << "refused";
  EXPECT_FALSE(peers[3]->IsOpen());
  ASSERT_TRUE(PumpUntil([&] { return !listener.accepted.empty(); }));
  ASSERT_TRUE(peers[0]->SendAll("hi", 2));
  ASSERT_TRUE(PumpUntil([&] { return listener.accepted[0]->received == "hi"; }));
}

TEST_F(SocketTest, StartConnectTakesOnlyDottedAddresses) {
  AsyncSocket s;
  ASSERT_TRUE(s.Create(0));
  EXPECT_FALSE(s.StartConnect("localhost", port)) << "no name is looked up";
  EXPECT_TRUE(s.StartConnect("127.0.0.1", port));
  EXPECT_FALSE(s.StartConnect("127.0.0.1", port)) << "one connect at a time";
}

TEST_F(SocketTest, OutOfDescriptorsAWaitingConnectionIsClosedAndTheListenerGoesQuiet) {
  // The client's descriptor is made before they run out.
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(client, 0);
  int highest = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(highest + 8);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);

  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  for (int i = 0; i < 20; ++i) plat_pump(5);
  const int notifications = listener.acceptNotifications;
  for (int i = 0; i < 20; ++i) plat_pump(0);
  const int later = listener.acceptNotifications - notifications;
  pollfd p{client, POLLIN, 0};
  char byte = 0;
  const bool closedByListener = poll(&p, 1, 2000) == 1 && recv(client, &byte, 1, 0) <= 0;

  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  close(client);
  ASSERT_TRUE(connected) << "the kernel completes the handshake itself";
  EXPECT_TRUE(closedByListener) << "taken with the reserve descriptor and closed at once";
  EXPECT_EQ(later, 0) << "nothing is left waiting, so the listener is quiet";
  EXPECT_TRUE(listener.accepted.empty());
}

// The lobby server sets TCP_NODELAY once on its listener and relies on every
// accepted connection having it.
TEST(ListenerTest, AcceptedConnectionsHaveTheListenersAddressAndNoDelay) {
  platform::Listener listener;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int accepted = -1;
  ASSERT_TRUE(listener.Listen(a, 4, [&](int fd, const sockaddr_in&) { accepted = fd; }));
  EXPECT_EQ(listener.address().s_addr, htonl(INADDR_LOOPBACK));
  const int one = 1;
  ASSERT_EQ(setsockopt(listener.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one), 0);

  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  a.sin_port = htons(listener.port());
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_TRUE(PumpUntil([&] { return accepted >= 0; }));
  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  ASSERT_EQ(getsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
  EXPECT_NE(noDelay, 0);
  close(accepted);
  close(client);
}

TEST_F(SocketTest, CreateFailsOnAPortThatIsAlreadyListening) {
  AsyncSocket second;
  EXPECT_FALSE(second.Create(port) && second.Listen(5));
}

TEST_F(SocketTest, OperationsOnAnUnopenedSocketFail) {
  AsyncSocket s;
  char buf[4];
  EXPECT_FALSE(s.Connect("127.0.0.1", port));
  EXPECT_FALSE(s.Listen(5));
  EXPECT_FALSE(s.SendAll("x", 1));
  EXPECT_EQ(s.Receive(buf, sizeof buf), AsyncSocket::kError);
  Peer into;
  EXPECT_FALSE(s.Accept(into));
  EXPECT_FALSE(s.Create(70000));
}

}  // namespace
