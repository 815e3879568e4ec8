// Several vossad processes on one real redis-server, spoken to by scripted
// agents: one list in one order everywhere, a killed instance's players
// gone, probes and take-overs across instances, the server list of the
// live instances, the store lost and back empty or without its scripts,
// and corrupt entries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../support/redis_process.hpp"
#include "../support/lobby_client.hpp"
#include "../support/vossad_process.hpp"

namespace {

using namespace testsupport;
using IdList = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// A dead instance's heartbeat expires within 6 s and the next sweep, at
// most 2 s later, removes its players; this waits well past that.
bool EventuallyAfterExpiry(const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + 3 * kPatience;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

class Fleet : public ::testing::Test {
 protected:
  Vossad& Instance(const std::string& name, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--store", redis.url(), "--instance", name, "--max-per-address", "1000",
                                     "--ping-timeout", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    instances.push_back(std::make_unique<Vossad>(args));
    EXPECT_NE(instances.back()->port(), 0) << "vossad did not start";
    return *instances.back();
  }
  // The ids an asker registered at `at` is listed, kept alive meanwhile.
  static IdList Listed(Client& asker, int max = 1000) { return Ids(asker.Query(" ", max)); }

  RedisServer redis;
  std::vector<std::unique_ptr<Vossad>> instances;
};

std::string Id(int port) { return "127.0.0.1:" + std::to_string(port); }

TEST_F(Fleet, EveryInstanceListsEveryRegistrationInOneOrderWithGameAndMax) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  Vossad& c = Instance("c");
  Vossad* at[] = {&a, &b, &c};
  std::vector<std::unique_ptr<Client>> players;
  IdList registered;
  const auto start = Clock::now();
  for (int i = 0; i < 9; ++i) {
    players.push_back(Registered(*at[i % 3], 3000 + i, Description("P" + std::to_string(i))));
    registered.push_back(Id(3000 + i));
  }
  // Askers of another application, so that they are not listed themselves.
  std::vector<std::unique_ptr<Client>> askers;
  for (Vossad* instance : at) askers.push_back(Registered(*instance, 4000 + askers.size(), "", "Other"));
  std::vector<IdList> seen(3);
  for (std::size_t i = 0; i < askers.size(); ++i) {
    ASSERT_TRUE(Eventually([&] {
      for (auto& p : players) p->KeepAlive();
      seen[i] = Listed(*askers[i]);
      return seen[i].size() == registered.size();
    })) << "instance " << i << " lists " << seen[i].size();
  }
  RecordProperty("listed_everywhere_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[1], seen[2]);
  IdList sorted = seen[0];
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, registered);
  // The same first two everywhere, with the filter applied.
  for (auto& asker : askers) EXPECT_EQ(Ids(asker->Query("REAL=P", 2)), IdList(seen[0].begin(), seen[0].begin() + 2));

  // A game at one instance takes the player off every list.
  players[4]->Send("GAME");
  for (auto& asker : askers) {
    EXPECT_TRUE(Eventually([&] {
      const IdList now = Listed(*asker);
      return std::find(now.begin(), now.end(), Id(3004)) == now.end() && now.size() == 8;
    }));
  }
}

TEST_F(Fleet, AKilledInstanceHasItsPlayersRemovedEverywhereAndNothingElse) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  auto atA = Registered(a, 3001, Description("A"));
  auto atB = Registered(b, 3002, Description("B"));
  auto asker = Registered(a, 4000, "", "Other");
  // Either order: the two registrations race to the store.
  ASSERT_TRUE(Eventually([&] {
    IdList both = Listed(*asker);
    std::sort(both.begin(), both.end());
    return both == IdList{Id(3001), Id(3002)};
  }));
  kill(b.pid(), SIGKILL);
  EXPECT_TRUE(EventuallyAfterExpiry([&] {
    atA->KeepAlive();
    return Listed(*asker) == IdList{Id(3001)};
  }));
  EXPECT_TRUE(atA->KeepAlive()) << "the players of the live instance stay connected";
}

TEST_F(Fleet, CpinReachesTheOwnerOnceAPingIntervalFleetWide) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  Vossad& c = Instance("c");
  auto target = Registered(a, 3001, Description("T"), "Corva", /*answersPings=*/false);
  auto fromB = Registered(b, 3002, Description("B"));
  auto fromC = Registered(c, 3003, Description("C"));
  ASSERT_TRUE(Eventually([&] { return Listed(*fromB).size() == 2 && Listed(*fromC).size() == 2; }));
  fromB->Send("CPIN ID=" + Id(3001) + ";");
  EXPECT_EQ(target->Next(), "PING");
  target->Send("PING");
  fromC->Send("CPIN ID=" + Id(3001) + ";");
  // Within the ping interval: no second probe. The store's events are
  // handled in order, so once a registration made at c after that report
  // is listed at a, a has handled the report.
  EXPECT_EQ(fromC->Query(" ", 1, "sync").back(), "QROK");
  auto marker = Registered(c, 3009, Description("M"));
  auto askA = Registered(a, 4000, "", "Other");
  ASSERT_TRUE(Eventually([&] { return Listed(*askA).size() == 4; }));
  EXPECT_EQ(target->Query(" ", 1, "sync").front(), "QROK") << "no second PING came before the answer";
}

TEST_F(Fleet, AJoinForAnIdHeldAtAnotherInstanceWaitsOnThatHoldersProbe) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  auto asker = Registered(b, 4000, "", "Other");
  // A holder that answers keeps its id; the newcomer is refused.
  auto alive = Registered(a, 3001, Description("Old"));
  ASSERT_TRUE(Eventually([&] { return Listed(*asker) == IdList{Id(3001)}; }));
  Client newcomer(b.port());
  newcomer.Join(3001, Description("New"));
  EXPECT_TRUE(Eventually([&] {
    alive->KeepAlive();
    return newcomer.Query(" ", 1, "sync").back() == "QRFL";  // refused: not registered
  }));
  EXPECT_NE(asker->Query("REAL=Old").front().find(Id(3001)), std::string::npos);

  // A holder that does not answer within the ping timeout loses it.
  auto silent = Registered(a, 3002, Description("Gone"), "Corva", /*answersPings=*/false);
  ASSERT_TRUE(Eventually([&] { return Listed(*asker).size() == 2; }));
  auto taker = std::make_unique<Client>(b.port());
  taker->Join(3002, Description("Taker"));
  EXPECT_TRUE(Eventually([&] {
    taker->KeepAlive();
    return asker->Query("REAL=Taker").size() == 2;
  }));
  EXPECT_TRUE(silent->ClosedByServer());
}

TEST_F(Fleet, TheServerListFollowsTheLiveInstancesThatAdvertise) {
  Vossad& a = Instance("a", {"--advertise", "10.0.0.1"});
  Vossad& b = Instance("b", {"--advertise", "10.0.0.2"});
  Instance("quiet");  // advertises nothing
  const auto list = [&](Vossad& at) {
    Client agent(at.port());
    agent.Send("CINI VER=0;");
    std::vector<std::string> lines;
    while (auto line = agent.Next()) {
      if (*line == "CINI END") break;
      // "CINI <line>\r\n"
      const std::string text = *line;
      if (text != "CINI START" && text.size() >= 7) lines.emplace_back(text.begin() + 5, text.end() - 2);
    }
    return lines;
  };
  std::vector<std::string> both;
  ASSERT_TRUE(Eventually([&] {
    both = list(a);
    return both.size() == 6;
  }));
  EXPECT_EQ(both[0], "ServerCount=2");
  EXPECT_EQ(both[1], "Server1=10.0.0.1");
  EXPECT_EQ(both[3], "Server2=10.0.0.2");
  EXPECT_EQ(list(b), both);
  kill(b.pid(), SIGKILL);
  std::vector<std::string> one;
  EXPECT_TRUE(EventuallyAfterExpiry([&] {
    one = list(a);
    return one.size() == 4;
  }));
  EXPECT_EQ(one[1], "Server1=10.0.0.1");
  EXPECT_NE(one.back(), both.back()) << "the version changed with the set";
}

TEST_F(Fleet, StoreLostKeepsOwnPlayersAndTheListIsRebuiltWhenItComesBackEmpty) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  auto atA = Registered(a, 3001, Description("A"));
  auto atB = Registered(b, 3002, Description("B"));
  auto askA = Registered(a, 4001, "", "Other");
  auto askB = Registered(b, 4002, "", "Other");
  ASSERT_TRUE(Eventually([&] { return Listed(*askA).size() == 2 && Listed(*askB).size() == 2; }));

  redis.Stop();
  // Still answering, and still listing (at least) its own players, new ones too.
  auto lateA = Registered(a, 3003, Description("Late"));
  const IdList during = Listed(*askA);
  EXPECT_NE(std::find(during.begin(), during.end(), Id(3001)), during.end());
  EXPECT_NE(std::find(during.begin(), during.end(), Id(3003)), during.end());
  atB.reset();  // leaves while the store is away: no ghost may stay

  ASSERT_TRUE(redis.Start());  // empty
  for (auto* asker : {askA.get(), askB.get()}) {
    IdList now;
    EXPECT_TRUE(EventuallyAfterExpiry([&] {
      atA->KeepAlive();
      lateA->KeepAlive();
      now = Listed(*asker);
      std::sort(now.begin(), now.end());
      return now == IdList{Id(3001), Id(3003)};
    })) << now.size();
  }
}

TEST_F(Fleet, AStoreThatForgetsItsScriptsStillGetsEveryChange) {
  Vossad& a = Instance("a");
  Vossad& b = Instance("b");
  auto atA = Registered(a, 3001, Description("A"));
  auto askB = Registered(b, 4002, "", "Other");
  ASSERT_TRUE(Eventually([&] { return Listed(*askB) == IdList{Id(3001)}; }));
  redis.Cli({"SCRIPT", "FLUSH"});
  auto lateA = Registered(a, 3003, Description("Late"));
  atA.reset();
  EXPECT_TRUE(Eventually([&] {
    lateA->KeepAlive();
    return Listed(*askB) == IdList{Id(3003)};
  }));
}

TEST_F(Fleet, CorruptEntriesInTheStoreAreSkipped) {
  Vossad& a = Instance("a");
  auto atA = Registered(a, 3001, Description("A"));
  auto asker = Registered(a, 4000, "", "Other");
  // Garbage in the snapshot and in the stream, and an oversized entry.
  redis.Cli({"HSET", "vossad:players", "1.2.3.4:5", "garbage"});
  redis.Cli({"HSET", "vossad:players", "not an id", "1\nx\n0\n1:a1:b1:c"});
  redis.Cli({"HSET", "vossad:players", "1.2.3.4:6", "7\nx\n0\n1:a1:b2000:" + std::string(2000, 'd')});
  redis.Cli({"XADD", "vossad:events", "*", "t", "reg", "id", "1.2.3.4:7"});
  redis.Cli({"XADD", "vossad:events", "*", "e", "x", "t", "reg"});
  Vossad& b = Instance("b");  // starts from the corrupt snapshot
  auto atB = Registered(b, 3002, Description("B"));
  for (auto* c : {asker.get()}) {
    EXPECT_TRUE(Eventually([&] {
      atA->KeepAlive();
      atB->KeepAlive();
      return Listed(*c) == IdList{Id(3001), Id(3002)};
    }));
  }
  auto askB = Registered(b, 4001, "", "Other");
  EXPECT_TRUE(Eventually([&] { return Listed(*askB) == IdList{Id(3001), Id(3002)}; }));

  // The stream replaced by a key of another type: reads and writes fail
  // while it lasts; each instance goes on serving its own players, and
  // once the key is gone again the registration made meanwhile reaches
  // the other instance.
  redis.Cli({"DEL", "vossad:events"});
  redis.Cli({"SET", "vossad:events", "not a stream"});
  auto during = Registered(b, 3003, Description("During"));
  EXPECT_NE(Listed(*askB), IdList{}) << "b still answers";
  redis.Cli({"DEL", "vossad:events"});
  EXPECT_TRUE(EventuallyAfterExpiry([&] {
    for (Client* c : {atA.get(), atB.get(), during.get()}) c->KeepAlive();
    IdList now = Listed(*asker);
    std::sort(now.begin(), now.end());
    return now == IdList{Id(3001), Id(3002), Id(3003)};
  }));
}

}  // namespace

namespace {

TEST(FleetOptions, ThePasswordComesFromAFileOrTheEnvironmentAndBadSettingsStopTheServer) {
  RedisServer redis({"--requirepass", "s3cret"});
  const std::string file = ::testing::TempDir() + "/store-password";
  std::ofstream(file) << "s3cret\n";
  Vossad fromFile({"--store", redis.url(), "--store-password-file", file, "--instance", "f"});
  setenv("VOSSAD_STORE_PASSWORD", "s3cret", 1);
  Vossad fromEnv({"--store", redis.url(), "--instance", "e"});
  unsetenv("VOSSAD_STORE_PASSWORD");
  ASSERT_NE(fromFile.port(), 0);
  ASSERT_NE(fromEnv.port(), 0);
  auto player = Registered(fromFile, 3001, Description("A"));
  auto asker = Registered(fromEnv, 4000, "", "Other");
  EXPECT_TRUE(Eventually([&] { return Ids(asker->Query(" ")) == std::vector<std::string>{Id(3001)}; }));

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--instance", "alone"}, {"--advertise", "10.0.0.1"},
        {"--store", "redis://name.example:6379"}, {"--store", redis.url(), "--instance", "bad name"},
        {"--store", redis.url(), "--store-password-file", "/nonexistent/file"},
        {"--store", redis.url(), "--advertise", "a;b"}}) {
    Vossad refused(bad);
    EXPECT_EQ(refused.port(), 0);
    EXPECT_EQ(refused.Stop(), 2) << bad.back();
  }
}

}  // namespace
