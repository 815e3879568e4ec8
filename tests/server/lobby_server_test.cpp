// The vossad program, started as a child process on a free loopback port and
// spoken to by scripted clients in raw frames, the way agents do.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../support/lobby_client.hpp"
#include "../support/vossad_process.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testsupport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using IdList = std::vector<std::string>;

class LobbyServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(server.port(), 0) << "vossad did not start"; }
  Vossad server;
};

TEST_F(LobbyServerTest, QueryListsARegisteredPlayerWithIdOwnAndDescriptionThenQrok) {
  auto ann = Registered(server, 2001, Description("Ann"));
  auto bob = Registered(server, 2002, Description("Bob"));
  EXPECT_EQ(bob->Query(" "), (IdList{User(2001, Description("Ann")), "QROK"}));
  EXPECT_EQ(ann->Query(""), (IdList{User(2002, Description("Bob")), "QROK"}));
}

TEST_F(LobbyServerTest, AnswersAreFramesWithoutCloseMarker) {
  Client stranger(server.port());
  stranger.Send(Client::QueryLine(" "));
  char bytes[13] = {};
  ASSERT_EQ(recv(stranger.fd(), bytes, sizeof bytes, MSG_WAITALL), 13);
  EXPECT_EQ(std::string(bytes, 13), kSignature + "\x04QRFL");
}

TEST_F(LobbyServerTest, FilterSelectsByCaseInsensitiveSubstringAndExactSex) {
  auto oslo = Registered(server, 2001, Description("Ann", "Oslo", "31", "1"));
  auto bergen = Registered(server, 2002, Description("Per", "Bergen", "40", "0"));
  auto asker = Registered(server, 2003, Description("Eve"));
  EXPECT_EQ(Ids(asker->Query("CITY=osl;")), IdList{"127.0.0.1:2001"});
  EXPECT_EQ(asker->Query("CITY=Paris;"), IdList{"QROK"});
  EXPECT_EQ(Ids(asker->Query("SEX=0;")), IdList{"127.0.0.1:2002"});
  EXPECT_EQ(Ids(asker->Query("AGE=3;")), IdList{});
  EXPECT_EQ(Ids(asker->Query("COUNTRY=norway;AGE=40;")), IdList{"127.0.0.1:2002"});
}

TEST_F(LobbyServerTest, OnlyPlayersOfTheSameApplicationAreListed) {
  auto other = Registered(server, 2001, Description("Ann"), "Chess");
  auto same = Registered(server, 2002, Description("Bob"));
  auto asker = Registered(server, 2003, Description("Eve"));
  EXPECT_EQ(Ids(asker->Query(" ")), IdList{"127.0.0.1:2002"});
  EXPECT_EQ(Ids(asker->Query(" ", 100, "Chess")), IdList{"127.0.0.1:2001"});
}

TEST_F(LobbyServerTest, MaxLimitsTheCountInRegistrationOrder) {
  std::vector<std::unique_ptr<Client>> players;
  for (int port = 2001; port <= 2005; ++port) players.push_back(Registered(server, port, Description("P")));
  auto asker = Registered(server, 2100, Description("Eve"));
  EXPECT_EQ(asker->Query(" ", 3), (IdList{User(2001, Description("P")), User(2002, Description("P")),
                                          User(2003, Description("P")), "QROK"}));
}

TEST_F(LobbyServerTest, UnreadableQueriesAndUnregisteredAskersGetQrfl) {
  Client stranger(server.port());
  EXPECT_EQ(stranger.Query(" "), IdList{"QRFL"});
  auto asker = Registered(server, 2001, Description("Eve"));
  EXPECT_EQ(asker->Query(" ", 0), IdList{"QRFL"});
  EXPECT_EQ(asker->Query(" ", -4), IdList{"QRFL"});
  asker->Send("QUER APP=Corva;MAX=x1;" + kSep + " ");
  EXPECT_EQ(asker->Answer(), IdList{"QRFL"});
  asker->Send("QUER APP=Corva;MAX=10; ");  // no separator
  EXPECT_EQ(asker->Answer(), IdList{"QRFL"});
  asker->Send("QUER MAX=10;" + kSep + " ");
  EXPECT_EQ(asker->Answer(), IdList{"QRFL"});
}

TEST_F(LobbyServerTest, JoinWithoutValidPortRegistersNobody) {
  Client bad(server.port());
  bad.Send("JOIN ID=20x1;APP=Corva;OWN=1.1.1.1;" + kSep + Description("Bad"));
  bad.Send("JOIN ID=70000;APP=Corva;OWN=1.1.1.1;" + kSep + Description("Bad"));
  EXPECT_EQ(bad.Query(" "), IdList{"QRFL"});
}

TEST_F(LobbyServerTest, SecondJoinReplacesTheRegistration) {
  auto ann = Registered(server, 2001, Description("Ann"));
  ann->Join(2005, Description("Ann2"));
  auto asker = Registered(server, 2003, Description("Eve"));
  EXPECT_EQ(asker->Query(" "), (IdList{User(2005, Description("Ann2")), "QROK"}));
}

TEST_F(LobbyServerTest, GameLeavAndLostConnectionsTakePlayersOffTheList) {
  auto playing = Registered(server, 2001, Description("A"));
  auto leaving = Registered(server, 2002, Description("B"));
  auto vanishing = Registered(server, 2003, Description("C"));
  auto staying = Registered(server, 2004, Description("D"));
  auto asker = Registered(server, 2010, Description("Eve"));
  playing->Send("GAME");
  leaving->Send("LEAV");
  vanishing->Close();
  EXPECT_TRUE(leaving->ClosedByServer());
  EXPECT_TRUE(Eventually([&] { return Ids(asker->Query(" ")) == IdList{"127.0.0.1:2004"}; }));
  EXPECT_EQ(playing->Query(" ", 1, "sync"), IdList{"QROK"}) << "a player in a game stays connected";
}

TEST(LobbyServerQueries, LongAnswerArrivesWholeAndAbortCutsItShortWithQrfl) {
  Vossad server({"--max-per-address", "1000"});  // every player is on loopback
  std::vector<std::unique_ptr<Client>> players;
  for (int i = 0; i < 150; ++i) players.push_back(Registered(server, 3000 + i, Description("P")));
  auto asker = Registered(server, 2001, Description("Eve"));
  const std::vector<std::string> whole = asker->Query(" ", 1000);
  ASSERT_EQ(whole.size(), 151u);
  EXPECT_EQ(Ids(whole).front(), "127.0.0.1:3000");
  EXPECT_EQ(Ids(whole).back(), "127.0.0.1:3149");
  EXPECT_EQ(whole.back(), "QROK");

  asker->SendRaw(Frame(Client::QueryLine(" ", 1000)) + Frame("ABORT"));
  const std::vector<std::string> cut = asker->Answer();
  EXPECT_LT(cut.size(), 151u);
  EXPECT_EQ(cut.back(), "QRFL");
  asker->Send("ABORT");  // nothing running: no answer
  EXPECT_EQ(asker->Query(" ", 1, "sync"), IdList{"QROK"});
}

TEST_F(LobbyServerTest, PingFromAnAgentIsNotAnswered) {
  auto agent = Registered(server, 2001, Description("A"));
  agent->Send("PING");
  EXPECT_EQ(agent->Query(" ", 1, "sync"), IdList{"QROK"});
}

TEST_F(LobbyServerTest, OversizedOrBadFramesCloseOnlyTheirConnection) {
  auto ann = Registered(server, 2001, Description("Ann"));
  auto asker = Registered(server, 2002, Description("Eve"));
  Client huge(server.port());
  huge.SendRaw(kSignature + "\xFF\xFF\xFF\xFF\xFF\xFF\xFF");  // announces 4 GiB
  Client garbage(server.port());
  garbage.SendRaw("GET / HTTP/1.0\r\n\r\n");
  Client half(server.port());
  half.SendRaw(Frame("JOIN ID=2009;APP=Corva;OWN=1.1.1.1;").substr(0, 20));  // then silence
  EXPECT_TRUE(huge.ClosedByServer());
  EXPECT_TRUE(garbage.ClosedByServer());
  EXPECT_EQ(Ids(asker->Query(" ")), IdList{"127.0.0.1:2001"});
  auto late = Registered(server, 2003, Description("Late"));
  EXPECT_EQ(Ids(late->Query(" ")), (IdList{"127.0.0.1:2001", "127.0.0.1:2002"}));
}

TEST(LobbyServerLimits, ConnectionOverMaxPlayersIsRefusedWithBusy) {
  Vossad server({"--max-players", "2"});
  auto ann = Registered(server, 2001, Description("Ann"));
  auto asker = Registered(server, 2002, Description("Eve"));
  Client third(server.port());
  third.Join(2003, Description("Late"));
  EXPECT_EQ(third.Next(), "BUSY server full");
  EXPECT_TRUE(third.ClosedByServer());
  EXPECT_EQ(Ids(asker->Query(" ")), IdList{"127.0.0.1:2001"});
}

class ServerListTest : public ::testing::Test {
 protected:
  ServerListTest() {
    const std::string name = std::string("vossad_list_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    file = std::filesystem::temp_directory_path() / name;
    std::ofstream(file) << "[QORServers]\nCurrentServer=1.2.3.4\nVersion=7\nServerCount=1\nServer1=10.0.0.1\n";
  }
  ~ServerListTest() override { std::filesystem::remove(file); }
  std::filesystem::path file;
};

TEST_F(ServerListTest, AnotherVersionGetsStartEveryLineWithFillerAndEnd) {
  Vossad server({"--servers", file.string()});
  Client agent(server.port());
  agent.Send("CINI VER=0;");
  for (const char* expected : {"CINI START", "CINI Version=7\r\n", "CINI ServerCount=1\r\n",
                               "CINI Server1=10.0.0.1\r\n", "CINI END"}) {
    EXPECT_EQ(agent.Next(), expected);
  }
}

TEST_F(ServerListTest, SameVersionOrNoListGetsNothing) {
  Vossad withList({"--servers", file.string()});
  auto agent = Registered(withList, 2001, Description("A"));
  agent->Send("CINI VER=7;");
  EXPECT_EQ(agent->Query(" ", 1, "sync"), IdList{"QROK"}) << "nothing came before the answer";

  Vossad withoutList;
  auto other = Registered(withoutList, 2001, Description("A"));
  other->Send("CINI VER=0;");
  EXPECT_EQ(other->Query(" ", 1, "sync"), IdList{"QROK"});
}

TEST_F(ServerListTest, ListVersionOptionReplacesTheFilesVersion) {
  Vossad server({"--servers", file.string(), "--list-version", "9"});
  Client agent(server.port());
  agent.Send("CINI VER=9;");
  agent.Send("CINI VER=7;");
  EXPECT_EQ(agent.Next(), "CINI START");
  EXPECT_EQ(agent.Next(), "CINI Version=9\r\n");
}

TEST_F(ServerListTest, ClientThatNeverReadsIsDroppedWhileOthersAreServed) {
  {
    std::ofstream out(file, std::ios::app);
    for (int i = 1; i <= 40; ++i) out << "Location" << i << "=" << std::string(100, 'x') << "\n";
  }
  // A bucket deep enough for every request: it is the output cap that acts.
  Vossad server({"--servers", file.string(), "--line-burst", "100000"});
  Client hog(server.port());
  const int small = 4096;
  setsockopt(hog.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string requests;
  for (int i = 0; i < 4000; ++i) requests += Frame("CINI VER=0;");  // ~4000 x 4 KiB of answers
  hog.SendRaw(requests);
  auto asker = Registered(server, 2001, Description("Eve"));
  EXPECT_TRUE(hog.ClosedByServer());
  EXPECT_EQ(asker->Query(" "), IdList{"QROK"});
}

TEST(LobbyServerProbes, AgentThatNeverAnswersPingIsDroppedWhileOneThatAnswersStays) {
  Vossad server({"--ping-interval", "0.3", "--ping-timeout", "1"});
  auto dead = Registered(server, 2001, Description("Dead"), "Corva", /*answersPings=*/false);
  auto alive = Registered(server, 2002, Description("Alive"));
  EXPECT_TRUE(Eventually([&] {
    alive->KeepAlive();
    return !dead->KeepAlive();
  }));
  EXPECT_TRUE(alive->KeepAlive());
  auto asker = Registered(server, 2003, Description("Eve"));
  EXPECT_EQ(Ids(asker->Query(" ")), IdList{"127.0.0.1:2002"});
}

TEST(LobbyServerProbes, CpinProbesTheNamedPlayerAtOnce) {
  Vossad server({"--ping-timeout", "0.5"});  // the regular probe is 30 s away
  auto silent = Registered(server, 2001, Description("Silent"), "Corva", /*answersPings=*/false);
  auto answering = Registered(server, 2002, Description("Answering"), "Corva", /*answersPings=*/false);
  auto reporter = Registered(server, 2003, Description("Eve"));
  reporter->SendRaw(Frame("CPIN ID=127.0.0.1:2002;") + Frame("CPIN ID=127.0.0.1:2001;") +
                    Frame("CPIN ID=127.0.0.1:2999;"));
  EXPECT_EQ(answering->Next(), "PING");
  answering->Send("PING");
  EXPECT_EQ(silent->Next(), "PING");
  EXPECT_TRUE(silent->ClosedByServer());
  EXPECT_EQ(Ids(reporter->Query(" ")), IdList{"127.0.0.1:2002"});
}

// An IPv4 address of this machine other than loopback, if it has one.
std::optional<std::string> NonLoopbackAddress() {
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return std::nullopt;
  std::optional<std::string> found;
  for (ifaddrs* i = all; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    if ((ntohl(address.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address, text, sizeof text)) found = text;
  }
  freeifaddrs(all);
  return found;
}

TEST(LobbyServerAddresses, APlayerOnTheServersMachineIsListedElsewhereByTheAddressTheAskerReached) {
  const std::optional<std::string> lan = NonLoopbackAddress();
  if (!lan) GTEST_SKIP() << "this machine has no IPv4 address but loopback";
  Vossad server({"--bind", "0.0.0.0"});
  auto host = Registered(server, 2001, Description("Host"), "Corva", /*answersPings=*/false);  // through 127.0.0.1
  Client remote(server.port(), true, lan->c_str(), lan->c_str());
  remote.Join(2002, Description("Remote"));
  EXPECT_EQ(Ids(remote.Query(" ")), IdList{*lan + ":2001"}) << "not its own loopback";
  EXPECT_EQ(Ids(host->Query(" ")), IdList{*lan + ":2002"}) << "loopback askers see ids as registered";
  // Reported unreachable under the listed id, the host is probed.
  remote.Send("CPIN ID=" + *lan + ":2001;");
  EXPECT_EQ(host->Next(), "PING");
}

// ---- clients that are not agents ---------------------------------------------

// The lines of a log file written so far.
std::vector<std::string> LogLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t Containing(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

class HostileClientTest : public ::testing::Test {
 protected:
  HostileClientTest() {
    log = std::filesystem::temp_directory_path() /
          (std::string("vossad_log_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  ~HostileClientTest() override { std::filesystem::remove(log); }
  std::filesystem::path log;
};

TEST_F(HostileClientTest, OneAddressCannotHoldMoreThanItsShareOfConnections) {
  Vossad server({"--max-per-address", "3"});
  std::vector<std::unique_ptr<Client>> mine;
  for (int port = 2001; port <= 2003; ++port) mine.push_back(Registered(server, port, Description("P")));
  Client fourth(server.port());
  EXPECT_EQ(fourth.Next(), "BUSY too many connections from this address");
  // An agent's registration that comes after the refusal is taken (and
  // dropped), not answered with a reset that would fail the agent's next
  // write before it has read why.
  fourth.Join(2004, Description("P"));
  fourth.Send("CINI VER=0;");
  EXPECT_TRUE(fourth.ClosedByServer());
  auto other = Registered(server, 2001, Description("Other"), "Corva", true, "127.0.0.2");
  EXPECT_EQ(Ids(other->Query(" ")), (IdList{"127.0.0.1:2001", "127.0.0.1:2002", "127.0.0.1:2003"}))
      << "another address still gets in";
  mine.pop_back();
  EXPECT_TRUE(Eventually([&] {
    Client again(server.port());
    return again.Query(" ", 1, "sync") == IdList{"QRFL"};
  })) << "a connection that went frees its place";
}

TEST_F(HostileClientTest, AClientSendingMoreLinesThanItsBucketIsDroppedWithOneLogLine) {
  Vossad server({}, log.string());
  auto honest = Registered(server, 2001, Description("Honest"));
  Client flood(server.port());
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += Frame(Client::QueryLine(" "));
  flood.SendRaw(lines);
  EXPECT_TRUE(flood.ClosedByServer()) << "it read every answer, and was dropped all the same";
  EXPECT_EQ(honest->Query(" "), IdList{"QROK"});
  EXPECT_TRUE(Eventually([&] { return Containing(LogLines(log), "token bucket") == 1; }));
}

TEST_F(HostileClientTest, ALogLineRepeatedBeyondItsBurstIsCountedIntoASummary) {
  Vossad server({}, log.string());
  constexpr int kClients = 40, kEach = 5;
  for (int i = 0; i < kClients; ++i) {
    Client stranger(server.port());
    for (int q = 0; q < kEach; ++q) EXPECT_EQ(stranger.Query(" "), IdList{"QRFL"});
  }
  // Every refusal is in the log either as its own line or in a summary's count.
  std::size_t written = 0, summarised = 0;
  ASSERT_TRUE(Eventually([&] {
    written = summarised = 0;
    for (const std::string& line : LogLines(log)) {
      if (line.find("query refused: not registered") == std::string::npos) continue;
      const std::size_t at = line.find(" more lines like this one were not logged: ");
      if (at == std::string::npos) {
        ++written;
      } else {
        summarised += std::stoul(line.substr(line.rfind(' ', at - 1) + 1));
      }
    }
    return written + summarised == kClients * kEach;
  }));
  EXPECT_GT(summarised, 0u);
  EXPECT_LE(written, 50u) << "a burst, then the summary";
}

TEST_F(HostileClientTest, AFrameLongerThanAnyLineClosesItsConnectionBeforeItsText) {
  Vossad server;
  Client huge(server.port());
  huge.SendRaw(kSignature + "\xFF\x88\x13");  // announces 5000 bytes and sends none
  EXPECT_TRUE(huge.ClosedByServer());
  // The longest JOIN an agent has reason to send still registers.
  auto full = std::make_unique<Client>(server.port());
  full->Send("JOIN ID=2001;APP=" + std::string(255, 'a') + ";OWN=" + std::string(255, 'o') + ";" + kSep +
             std::string(1024, 'd'));
  EXPECT_EQ(full->Query(" ", 1, std::string(255, 'a')), IdList{"QROK"}) << "registered: the query is answered";
}

TEST_F(HostileClientTest, AFrameThatNeverFinishesIsDroppedWithinThePingTimeout) {
  Vossad server({"--ping-interval", "60", "--ping-timeout", "0.5"});
  auto patient = Registered(server, 2001, Description("Patient"));
  // Long enough for the probe tick (every 125 ms here) to have looked at
  // the connections: nothing else is due for a minute, so only the frame's
  // own deadline can bring the tick back.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Client trickle(server.port());
  const std::string frame = Frame("JOIN ID=2002;APP=Corva;OWN=1.1.1.1;" + kSep + std::string(3000, 'x'));
  std::size_t sent = 0;
  // A byte every few milliseconds: the frame is always under way, never done.
  EXPECT_TRUE(Eventually([&] {
    if (sent < frame.size() && send(trickle.fd(), frame.data() + sent, 1, MSG_NOSIGNAL) == 1) ++sent;
    return !trickle.KeepAlive();
  }));
  EXPECT_LT(sent, frame.size());
  EXPECT_EQ(patient->Query(" "), IdList{"QROK"}) << "the patient one is still served";
}

TEST_F(HostileClientTest, CpinProbesTheNamedAgentOncePerIntervalAndCountsAgainstTheSender) {
  Vossad server({"--ping-interval", "60"});
  auto target = Registered(server, 2001, Description("Target"), "Corva", /*answersPings=*/false);
  auto reporter = Registered(server, 2002, Description("Reporter"));
  std::string reports;
  for (int i = 0; i < 20; ++i) reports += Frame("CPIN ID=127.0.0.1:2001;");
  reporter->SendRaw(reports);
  EXPECT_EQ(target->Next(), "PING");
  target->Send("PING");
  EXPECT_EQ(reporter->Query(" ", 1, "sync"), IdList{"QROK"}) << "every report was read by now";
  EXPECT_EQ(target->Query(" ", 1, "sync"), IdList{"QROK"}) << "one probe, however many reports";

  Client stranger(server.port());
  std::string flood;
  for (int i = 0; i < 1000; ++i) flood += Frame("CPIN ID=127.0.0.1:2001;");
  stranger.SendRaw(flood);
  EXPECT_TRUE(stranger.ClosedByServer()) << "reports use up the sender's bucket like any line";
}

TEST_F(HostileClientTest, AJoinForALiveClientsIdWaitsForItsProbeAndIsRefusedWhenItAnswers) {
  Vossad server({"--ping-interval", "60", "--ping-timeout", "2"});
  auto holder = Registered(server, 2001, Description("Holder"), "Corva", /*answersPings=*/false);
  Client newcomer(server.port());
  newcomer.Join(2001, Description("Newcomer"));
  EXPECT_EQ(holder->Next(), "PING") << "the holder is asked first";
  holder->Send("PING");
  auto asker = Registered(server, 2002, Description("Eve"));
  EXPECT_EQ(asker->Query(" "), (IdList{User(2001, Description("Holder")), "QROK"}));
  EXPECT_EQ(newcomer.Query(" "), IdList{"QRFL"}) << "the newcomer was not registered";
  EXPECT_EQ(holder->Query(" ", 1, "sync"), IdList{"QROK"});
}

TEST_F(HostileClientTest, AJoinForAnIdWhoseHolderIsSilentTakesItOnceTheHolderIsDropped) {
  Vossad server({"--ping-interval", "60", "--ping-timeout", "0.5"});
  auto holder = Registered(server, 2001, Description("Holder"), "Corva", /*answersPings=*/false);
  Client newcomer(server.port());
  newcomer.Join(2001, Description("Newcomer"));
  EXPECT_TRUE(holder->ClosedByServer());
  auto asker = Registered(server, 2002, Description("Eve"));
  EXPECT_EQ(asker->Query(" "), (IdList{User(2001, Description("Newcomer")), "QROK"}));
  EXPECT_EQ(newcomer.Query(" ", 1, "sync"), IdList{"QROK"});
}

TEST_F(HostileClientTest, AHolderThatLeavesOrMovesToAnotherIdHandsTheWaitingJoinOn) {
  Vossad server({"--ping-interval", "60", "--ping-timeout", "5"});
  auto leaving = Registered(server, 2001, Description("Old"), "Corva", /*answersPings=*/false);
  auto moving = Registered(server, 2002, Description("Old"), "Corva", /*answersPings=*/false);
  Client again(server.port()), other(server.port());
  again.Join(2001, Description("Again"));
  other.Join(2002, Description("Other"));
  EXPECT_EQ(leaving->Next(), "PING");
  EXPECT_EQ(moving->Next(), "PING");
  leaving->Send("LEAV");  // an agent leaving and joining anew
  moving->Join(2003, Description("Moved"));
  auto asker = Registered(server, 2010, Description("Eve"));
  IdList ids;
  EXPECT_TRUE(Eventually([&] {
    ids = Ids(asker->Query(" "));
    std::sort(ids.begin(), ids.end());
    return ids == IdList{"127.0.0.1:2001", "127.0.0.1:2002", "127.0.0.1:2003"};
  })) << ids.size() << " registered";
  EXPECT_EQ(again.Query(" ", 1, "sync"), IdList{"QROK"});
  EXPECT_EQ(other.Query(" ", 1, "sync"), IdList{"QROK"});
}

// As systemd's Type=notify expects: READY=1 with a status line once it
// listens, STOPPING=1 on the way out.
TEST(LobbyServerProcess, TellsTheServiceManagerWhenItIsReadyAndWhenItStops) {
  const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const std::string name = "vossad-notify-" + std::to_string(getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: no file
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), size), 0);
  const auto message = [notify] {
    pollfd p{notify, POLLIN, 0};
    char text[512] = "";
    if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) return std::string();
    const ssize_t n = recv(notify, text, sizeof text - 1, 0);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  };

  setenv("NOTIFY_SOCKET", ("@" + name).c_str(), 1);
  Vossad server;
  unsetenv("NOTIFY_SOCKET");
  ASSERT_NE(server.port(), 0);
  EXPECT_EQ(message(), "READY=1\nSTATUS=0 players, 0 connections");
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(message(), "STOPPING=1");
  close(notify);
}

TEST(LobbyServerProcess, SigtermStopsItCleanly) {
  Vossad server;
  ASSERT_NE(server.port(), 0);
  auto agent = Registered(server, 2001, Description("A"));
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(agent->ClosedByServer());
}

// A descriptor table that grows while the HTTP side's threads share it
// waits for the kernel at every doubling, inside an accept; the server
// sizes it for all its players before starting them.
TEST(LobbyServerProcess, ItsDescriptorTableHoldsEveryPlayerFromTheStart) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  Vossad server({"--max-players", "3000", "--http", "127.0.0.1:0"});
  ASSERT_NE(server.port(), 0);
  std::ifstream status("/proc/" + std::to_string(server.pid()) + "/status");
  std::string line;
  long slots = 0;
  while (std::getline(status, line))
    if (line.rfind("FDSize:", 0) == 0) slots = std::strtol(line.c_str() + 7, nullptr, 10);
  EXPECT_GE(slots, static_cast<long>(std::min<rlim_t>(3000 + 64, limit.rlim_max)));
}

TEST(LobbyServerProcess, HelpNamesEveryOption) {
  const std::string command = std::string(VOSSAD_PATH) + " --help";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string help;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) help += buffer;
  EXPECT_EQ(pclose(pipe), 0);
  for (const char* option : {"--port", "--bind", "--servers", "--list-version", "--max-players",
                             "--max-per-address", "--line-rate", "--line-burst", "--ping-interval",
                             "--ping-timeout", "--quiet", "--help", "--version"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace
