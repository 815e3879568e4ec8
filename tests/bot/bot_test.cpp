// The console player as a program against the real lobby server: it
// registers with its profile and is listed, accepts an offer made through
// the agent library and plays the whole match, refuses when told to, offers
// games itself, registers again after a game and after a lost server,
// stops cleanly on a signal, and plays another one registered at another
// server of a fleet.
#include <gtest/gtest.h>

#include <algorithm>

#include "../engine/session_support.hpp"
#include "../session/session_client.hpp"
#include "../support/redis_process.hpp"
#include "../support/vossad_process.hpp"
#include "auto_player.hpp"
#include "bot_process.hpp"

namespace {

using namespace testsupport;

class BotTest : public ::testing::Test {
 protected:
  void StartServer(std::vector<std::string> options = {}) {
    server = std::make_unique<Vossad>(options);
    ASSERT_NE(server->port(), 0);
  }

  std::vector<std::string> BotArgs(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--port", std::to_string(server->port()), "--servers-ini",
                                     dir.File("BOT.INI"), "--game-port", std::to_string(gamePort),
                                     "--think-ms", "0", "--seed", "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  void Register(SessionClient& c, const char* description, const std::string& list) {
    ASSERT_EQ(c.Open(list, description), ZEP_RET_OK);
    ASSERT_EQ(ZEPJoinServer(c.handle, "127.0.0.1", server->port()), ZEP_RET_OK);
    auto got = c.WaitFor(ZEP_MT_JOINSRVRESPONSE);
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(got.back().text, "ACKJ");
  }

  // The USER texts a query finds that carry REAL=<name>.
  std::vector<std::string> Find(SessionClient& c, const std::string& name) {
    PumpAWhile(30);  // the server sees what happened before
    EXPECT_EQ(ZEPQueryUsers(c.handle, " ", 100, nullptr, nullptr), ZEP_RET_OK);
    std::vector<std::string> found;
    for (auto& m : c.WaitFor(ZEP_MT_QUERYRESPONSE))
      if (m.type == ZEP_MT_USERDESC && m.text.find("REAL=" + name + ";") != std::string::npos)
        found.push_back(m.text);
    return found;
  }

  TempDir dir;
  std::unique_ptr<Vossad> server;
  std::uint16_t gamePort = FreePort();
};

TEST_F(BotTest, RegistersWithItsProfileIsListedAndLeavesOnSigterm) {
  StartServer();
  BotProcess bot(BotArgs({"--name", "Robo", "--desc", "Plays fair", "--city", "Oslo", "--country",
                          "Norway", "--age", "3", "--sex", "female", "--email", "robo@example.org"}));
  ASSERT_TRUE(bot.WaitForLine("registered"));
  SessionClient ann;
  Register(ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  auto found = Find(ann, "Robo");
  ASSERT_EQ(found.size(), 1u);
  const std::string& text = found[0];
  EXPECT_EQ(text.substr(text.find(";OWN=")),
            ";OWN=1.1.1.1;VERSION=0.90b1;REAL=Robo;DESC=Plays fair;CITY=Oslo;COUNTRY=Norway;"
            "AGE=3;SEX=1;EMAIL=robo@example.org;");

  EXPECT_EQ(bot.Stop(SIGTERM), 0);
  EXPECT_EQ(bot.lines().back(), "stopped");
  EXPECT_TRUE(Find(ann, "Robo").empty()) << "it left the server";
}

TEST_F(BotTest, AcceptsAnOfferPlaysTheWholeMatchAndRegistersAgain) {
  StartServer();
  BotProcess bot(BotArgs({"--name", "Robo", "--games", "2"}));
  ASSERT_TRUE(bot.WaitForLine("registered"));
  SessionClient ann, watcher;
  Register(ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  Register(watcher, "VERSION=0.90b1;REAL=Watcher;", dir.File("W.INI"));
  auto found = Find(ann, "Robo");
  ASSERT_EQ(found.size(), 1u);

  ASSERT_EQ(ZEPJoinSubGroup(ann.handle, found[0].c_str()), ZEP_RET_OK);
  auto answer = ann.WaitFor(ZEP_MT_JOINRESPONSE);
  ASSERT_FALSE(answer.empty());
  ASSERT_EQ(answer.back().text, "AKNJ");
  ASSERT_TRUE(bot.WaitForLine("accepted a game offered by Ann"));
  EXPECT_TRUE(Find(watcher, "Robo").empty()) << "not listed while it plays";

  // Ann's engine connects to the partner's address, as the client does.
  const std::string owner = answer.back().playerId;
  std::optional<cvgame::EndCode> end;
  cvgame::AutoPlayer annGame(FastOptions(gamePort), {std::chrono::milliseconds(0), 0, 3},
                             {nullptr, [&](cvgame::EndCode c) { end = c; }});
  ASSERT_TRUE(annGame.Start(owner.substr(0, owner.find(':'))));
  ASSERT_TRUE(PumpUntil([&] { return end.has_value(); }));
  EXPECT_EQ(*end, cvgame::EndCode::kOneTime) << "the bot had its two games and declined";
  const cvgame::Match& m = annGame.session().match();
  EXPECT_EQ(m.gameNumber(), 2u);

  std::string result;
  ASSERT_TRUE(bot.WaitForLine("match with Ann over", &result));
  EXPECT_EQ(result, "match with Ann over: onet, won " + std::to_string(m.remoteWins()) + " lost " +
                        std::to_string(m.localWins()) + " drawn " + std::to_string(m.draws()));
  ASSERT_TRUE(bot.WaitForLine("registered"));
  EXPECT_EQ(Find(watcher, "Robo").size(), 1u) << "listed again after the game";
  ZEPLeaveSubGroup(ann.handle);
  EXPECT_EQ(bot.Stop(SIGINT), 0);
}

TEST_F(BotTest, RefusesOffersWithTheReasonItWasGiven) {
  StartServer();
  BotProcess bot(BotArgs({"--name", "Robo", "--refuse", "Not today, thanks"}));
  ASSERT_TRUE(bot.WaitForLine("registered"));
  SessionClient ann;
  Register(ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  auto found = Find(ann, "Robo");
  ASSERT_EQ(found.size(), 1u);
  ASSERT_EQ(ZEPJoinSubGroup(ann.handle, found[0].c_str()), ZEP_RET_OK);
  auto answer = ann.WaitFor(ZEP_MT_JOINRESPONSE);
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(answer.back().text, "NAKJ");
  EXPECT_EQ(answer.back().moreInfo, "Not today, thanks");
  EXPECT_TRUE(bot.WaitForLine("refused a game offered by Ann"));
  EXPECT_EQ(Find(ann, "Robo").size(), 1u) << "still registered";
}

TEST_F(BotTest, OffersAGameToAPlayerItFindsAndPlaysIt) {
  StartServer();
  SessionClient ann;
  Register(ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  BotProcess bot(BotArgs({"--name", "Robo", "--offer", "--offer-interval", "0.2", "--games", "1"}));
  auto offer = ann.WaitFor(ZEP_MT_USERMSG);
  ASSERT_FALSE(offer.empty());
  ASSERT_EQ(offer.back().moreInfo, "JOIN");
  ASSERT_NE(offer.back().text.find("REAL=Robo;"), std::string::npos);
  ASSERT_TRUE(bot.WaitForLine("offering a game to Ann"));

  // Ann accepts as the client does: her engine listens first.
  std::optional<cvgame::EndCode> end;
  cvgame::AutoPlayer annGame(FastOptions(gamePort), {std::chrono::milliseconds(0), 0, 8},
                             {nullptr, [&](cvgame::EndCode c) { end = c; }});
  ASSERT_TRUE(annGame.Start("l"));
  ASSERT_EQ(ZEPAcceptSubGroupJoinRequest(ann.handle, offer.back().text.c_str(), 1, "None"),
            ZEP_RET_OK);
  ASSERT_TRUE(bot.WaitForLine("Ann accepted; connecting to 127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return end.has_value(); }));
  EXPECT_EQ(*end, cvgame::EndCode::kOneTime);
  EXPECT_EQ(annGame.session().match().gameNumber(), 1u);
  EXPECT_TRUE(bot.WaitForLine("match with Ann over: onet"));
  EXPECT_EQ(bot.Stop(), 0);
}

TEST_F(BotTest, RegistersAgainWithAGrowingDelayUntilTheServerIsBack) {
  const std::uint16_t port = FreePort();
  std::vector<std::string> args = {"--port", std::to_string(port), "--servers-ini",
                                   dir.File("BOT.INI"), "--name", "Robo"};
  BotProcess bot(args);
  ASSERT_TRUE(bot.WaitForLine("registration failed (FAIL)"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 1 s"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 2 s"));
  StartServer({"--port", std::to_string(port)});
  ASSERT_EQ(server->port(), port);
  ASSERT_TRUE(bot.WaitForLine("registered"));

  // Lost once registered: the delay starts over.
  server->Stop();
  ASSERT_TRUE(bot.WaitForLine("lost the server"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 1 s"));
  StartServer({"--port", std::to_string(port)});
  ASSERT_TRUE(bot.WaitForLine("registered"));
  SessionClient ann;
  Register(ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  EXPECT_EQ(Find(ann, "Robo").size(), 1u);
  EXPECT_EQ(bot.Stop(), 0);
}

TEST_F(BotTest, ARefusedRegistrationIsSaidAndWaitsLongerEachTime) {
  StartServer({"--max-players", "1"});
  auto ann = std::make_unique<SessionClient>();
  Register(*ann, "VERSION=0.90b1;REAL=Ann;", dir.File("ANN.INI"));
  BotProcess bot(BotArgs({"--name", "Robo"}));
  ASSERT_TRUE(bot.WaitForLine("registration refused by the server (server full)"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 1 s"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 2 s"));
  ASSERT_TRUE(bot.WaitForLine("registering again in 4 s"));
  ann.reset();  // the place is free again
  ASSERT_TRUE(bot.WaitForLine("registered"));
  EXPECT_EQ(bot.Stop(), 0);
}

}  // namespace

namespace {

// Two console players on two instances of a fleet: the one that offers
// finds the other through the shared list, and they play a whole match
// peer to peer, as on one server.
TEST_F(BotTest, TwoConsolePlayersOnTwoServersOfAFleetPlayAMatch) {
  RedisServer redis;
  Vossad one({"--store", redis.url(), "--instance", "one"});
  Vossad two({"--store", redis.url(), "--instance", "two"});
  ASSERT_NE(one.port(), 0);
  ASSERT_NE(two.port(), 0);
  const auto args = [&](const Vossad& at, const char* ini, std::vector<std::string> extra) {
    std::vector<std::string> a = {"--port", std::to_string(at.port()), "--servers-ini", dir.File(ini),
                                  "--game-port", std::to_string(gamePort), "--think-ms", "0", "--games", "1"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  BotProcess bea(args(two, "BEA.INI", {"--name", "Bea", "--seed", "3"}));
  ASSERT_TRUE(bea.WaitForLine("registered"));
  BotProcess olaf(args(one, "OLAF.INI", {"--name", "Olaf", "--seed", "4", "--offer", "--offer-interval", "0.2"}));
  EXPECT_TRUE(olaf.WaitForLine("offering a game to Bea"));
  EXPECT_TRUE(bea.WaitForLine("accepted a game offered by Olaf"));
  EXPECT_TRUE(bea.WaitForLine("match with Olaf over"));
  EXPECT_TRUE(olaf.WaitForLine("match with Bea over"));
}

}  // namespace
