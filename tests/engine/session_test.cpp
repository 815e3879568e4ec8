// Game sessions over real loopback connections on the platform loop: whole
// matches between two sessions, how each way of ending is reported on both
// sides, finding the partner within bounds, and partners that misbehave,
// scripted byte by byte.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../support/raw_peer.hpp"
#include "auto_player.hpp"
#include "session_support.hpp"

namespace {

using namespace cvgame;
using namespace testsupport;

// A listening session and a connecting one, handshaken.
struct Pair {
  explicit Pair(SessionOptions o = FastOptions()) : host(o, hostSeen) {
    EXPECT_TRUE(host.Start("l"));
    o.port = host.listenPort();
    guest = std::make_unique<GameSession>(o, guestSeen);
    EXPECT_TRUE(guest->Start("127.0.0.1"));
    EXPECT_TRUE(PumpUntil([&] {
      return host.state() == GameSession::State::kPlaying &&
             guest->state() == GameSession::State::kPlaying;
    }));
  }
  Recorder hostSeen, guestSeen;
  GameSession host;
  std::unique_ptr<GameSession> guest;
};

TEST(GameSession, MovesReachThePartnerAndTheOfferingSideBegins) {
  Pair p;
  EXPECT_EQ(p.guestSeen.log, (std::vector<std::string>{"connected", "started"}));
  EXPECT_EQ(p.guest->match().toMove(), Side::kLocal);
  EXPECT_EQ(p.host.match().toMove(), Side::kRemote);
  EXPECT_FALSE(p.host.Play(0)) << "not the host's turn";
  EXPECT_FALSE(p.host.PlayAgain()) << "a game is on";
  EXPECT_FALSE(p.host.Decline());

  ASSERT_TRUE(p.guest->Play(3));
  ASSERT_TRUE(PumpUntil([&] { return p.hostSeen.Saw("partner 4"); }));
  EXPECT_EQ(p.host.match().board().At(3, 0), DiscOf(Side::kRemote));
  EXPECT_EQ(p.guest->match().board().At(3, 0), DiscOf(Side::kLocal));
  EXPECT_FALSE(p.guest->Play(2)) << "one move per turn";
  ASSERT_TRUE(p.host.Play(3));
  ASSERT_TRUE(PumpUntil([&] { return p.guestSeen.Saw("partner 4"); }));
  EXPECT_EQ(p.guest->match().board().At(3, 1), DiscOf(Side::kRemote));
}

TEST(GameSession, AfterAWinBothMustAskAndTheNextGameIsBegunByTheOther) {
  Pair p;
  // The guest builds column 1, the host answers in column 7.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(p.guest->Play(0));
    ASSERT_TRUE(PumpUntil([&] { return p.host.match().toMove() == Side::kLocal; }));
    ASSERT_TRUE(p.host.Play(6));
    ASSERT_TRUE(PumpUntil([&] { return p.guest->match().toMove() == Side::kLocal; }));
  }
  ASSERT_TRUE(p.guest->Play(0));
  ASSERT_TRUE(PumpUntil([&] { return p.hostSeen.Saw("over"); }));
  EXPECT_TRUE(p.guestSeen.Saw("over"));
  EXPECT_EQ(p.guest->match().localWins(), 1u);
  EXPECT_EQ(p.host.match().remoteWins(), 1u);
  EXPECT_EQ(p.host.match().winningCells().size(), 4u);

  ASSERT_TRUE(p.host.PlayAgain());
  ASSERT_TRUE(PumpUntil([&] { return p.guestSeen.Saw("asked"); }));
  EXPECT_EQ(p.guest->match().phase(), Phase::kBetweenGames) << "one ask starts nothing";
  ASSERT_TRUE(p.guest->PlayAgain());
  ASSERT_TRUE(PumpUntil([&] { return p.host.match().phase() == Phase::kPlaying; }));
  EXPECT_EQ(p.host.match().toMove(), Side::kLocal) << "the host begins game 2";
  EXPECT_EQ(p.guest->match().toMove(), Side::kRemote);
  EXPECT_EQ(p.host.match().gameNumber(), 2u);
  EXPECT_TRUE(p.host.Play(2));
}

TEST(GameSession, DecliningAnotherGameEndsBothAsOneTimeWithTheScore) {
  Pair p;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(p.guest->Play(1));
    ASSERT_TRUE(PumpUntil([&] { return p.host.match().toMove() == Side::kLocal; }));
    ASSERT_TRUE(p.host.Play(5));
    ASSERT_TRUE(PumpUntil([&] { return p.guest->match().toMove() == Side::kLocal; }));
  }
  ASSERT_TRUE(p.guest->Play(1));
  ASSERT_TRUE(PumpUntil([&] { return p.hostSeen.Saw("over"); }));
  ASSERT_TRUE(p.host.PlayAgain());
  ASSERT_TRUE(PumpUntil([&] { return p.guestSeen.Saw("asked"); }));
  ASSERT_TRUE(p.guest->Decline());
  EXPECT_EQ(p.guestSeen.ended, EndCode::kOneTime);
  ASSERT_TRUE(PumpUntil([&] { return p.hostSeen.ended.has_value(); }));
  EXPECT_EQ(p.hostSeen.ended, EndCode::kOneTime);
  EXPECT_EQ(p.host.match().remoteWins(), 1u);
}

TEST(GameSession, LeavingIsExitHereAndPartnerExitThere) {
  Pair p;
  ASSERT_TRUE(p.guest->Play(0));
  ASSERT_TRUE(PumpUntil([&] { return p.hostSeen.Saw("partner 1"); }));
  p.host.Exit();
  EXPECT_EQ(p.hostSeen.ended, EndCode::kExit);
  EXPECT_EQ(p.host.state(), GameSession::State::kEnded);
  EXPECT_FALSE(p.host.Play(0));
  ASSERT_TRUE(PumpUntil([&] { return p.guestSeen.ended.has_value(); }));
  EXPECT_EQ(p.guestSeen.ended, EndCode::kPartnerExit);
  p.host.Exit();  // a second Exit is harmless and reports nothing new
  EXPECT_EQ(p.hostSeen.ended, EndCode::kExit);
}

TEST(GameSession, AQuietButLivingPartnerIsKeptAliveByTheKeepAlive) {
  SessionOptions o = FastOptions();
  o.idleTimeout = std::chrono::milliseconds(600);
  o.keepAlive = std::chrono::milliseconds(50);
  Pair p(o);
  // Nobody moves for several idle bounds.
  PumpAWhile(700);
  EXPECT_FALSE(p.hostSeen.ended);
  EXPECT_FALSE(p.guestSeen.ended);
  EXPECT_TRUE(p.guest->Play(3));
}

TEST(GameSession, TwoComputerPlayersFinishAMatchWithMatchingCounts) {
  std::vector<std::string> hostSaid, guestSaid;
  std::optional<EndCode> hostEnd, guestEnd;
  AutoPlayer host(FastOptions(), {std::chrono::milliseconds(0), 0, 11},
                  {[&](const std::string& s) { hostSaid.push_back(s); },
                   [&](EndCode c) { hostEnd = c; }});
  ASSERT_TRUE(host.Start("l"));
  AutoPlayer guest(FastOptions(host.session().listenPort()), {std::chrono::milliseconds(0), 3, 12},
                   {[&](const std::string& s) { guestSaid.push_back(s); },
                    [&](EndCode c) { guestEnd = c; }});
  ASSERT_TRUE(guest.Start("127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return hostEnd && guestEnd; }));
  EXPECT_EQ(*hostEnd, EndCode::kOneTime);
  EXPECT_EQ(*guestEnd, EndCode::kOneTime);
  const Match& h = host.session().match();
  const Match& g = guest.session().match();
  EXPECT_EQ(h.gameNumber(), 3u);
  EXPECT_EQ(h.localWins(), g.remoteWins());
  EXPECT_EQ(h.remoteWins(), g.localWins());
  EXPECT_EQ(h.localWins() + h.remoteWins() + h.draws(), 3u);
  // Who begins alternates, the offering side first.
  auto said = [&](const std::string& line) {
    return std::find(guestSaid.begin(), guestSaid.end(), line) != guestSaid.end();
  };
  EXPECT_TRUE(said("game 1 starts, I begin"));
  EXPECT_TRUE(said("game 2 starts, partner begins"));
  EXPECT_TRUE(said("game 3 starts, I begin"));
  EXPECT_TRUE(said("no further game"));
}

TEST(GameSession, TheOfferingSideKeepsTryingUntilThePartnerListens) {
  const std::uint16_t port = FreePort();
  Recorder guestSeen, hostSeen;
  GameSession guest(FastOptions(port), guestSeen);
  ASSERT_TRUE(guest.Start("127.0.0.1:"));  // the client may leave a ':' behind
  PumpAWhile(50);
  EXPECT_EQ(guest.state(), GameSession::State::kWaiting);
  GameSession host(FastOptions(port), hostSeen);
  ASSERT_TRUE(host.Start("l"));
  ASSERT_TRUE(PumpUntil([&] { return guestSeen.Saw("started") && hostSeen.Saw("started"); }));
}

TEST(GameSession, NobodyListeningEndsAsNoConnectionOnceTheBoundPasses) {
  SessionOptions o = FastOptions(FreePort());
  o.connectBound = std::chrono::milliseconds(300);
  Recorder seen;
  GameSession s(o, seen);
  ASSERT_TRUE(s.Start("127.0.0.1"));
  EXPECT_FALSE(seen.ended) << "never reported from inside Start";
  ASSERT_TRUE(PumpUntil([&] { return seen.ended.has_value(); }));
  EXPECT_EQ(seen.ended, EndCode::kNoConnection);
  EXPECT_TRUE(seen.log.empty());
}

TEST(GameSession, NobodyConnectingEndsTheListenerAsNoConnection) {
  SessionOptions o = FastOptions();
  o.listenBound = std::chrono::milliseconds(200);
  Recorder seen;
  GameSession s(o, seen);
  ASSERT_TRUE(s.Start("l"));
  ASSERT_TRUE(PumpUntil([&] { return seen.ended.has_value(); }));
  EXPECT_EQ(seen.ended, EndCode::kNoConnection);
}

TEST(GameSession, ATakenPortOrABadAddressFailsAtOnce) {
  Recorder firstSeen, secondSeen;
  GameSession first(FastOptions(), firstSeen);
  ASSERT_TRUE(first.Start("l"));
  GameSession second(FastOptions(first.listenPort()), secondSeen);
  EXPECT_FALSE(second.Start("l"));
  EXPECT_EQ(second.state(), GameSession::State::kEnded);
  EXPECT_EQ(second.endCode(), EndCode::kNoConnection);
  EXPECT_FALSE(secondSeen.ended) << "the caller hears it from Start";
  EXPECT_FALSE(second.Start("l")) << "a session starts once";

  for (const char* bad : {"", "lobby.example", "300.1.1.1", "1.2.3", ":2001", "1.2.3.4.5"}) {
    Recorder seen;
    GameSession s(FastOptions(), seen);
    EXPECT_FALSE(s.Start(bad)) << bad;
  }
  EXPECT_EQ(first.state(), GameSession::State::kWaiting) << "the first one is unaffected";
}

TEST(GameSession, ASecondCallerIsTurnedAwayWhileTheMatchGoesOn) {
  Pair p;
  RawPeer intruder;
  ASSERT_TRUE(intruder.Connect(p.host.listenPort()));
  EXPECT_TRUE(intruder.WaitForClose());
  EXPECT_TRUE(intruder.received().empty());
  EXPECT_TRUE(p.guest->Play(0));
  EXPECT_TRUE(PumpUntil([&] { return p.hostSeen.Saw("partner 1"); }));
  EXPECT_FALSE(p.hostSeen.ended);
}

// ---- a scripted partner ---------------------------------------------------------

struct Scripted {
  explicit Scripted(SessionOptions o = FastOptions()) : session(o, seen) {
    EXPECT_TRUE(session.Start("l"));
    EXPECT_TRUE(peer.Connect(session.listenPort()));
    EXPECT_TRUE(peer.WaitForBytes(12));
    EXPECT_EQ(peer.received().substr(0, 12), "HELLO CV4 1\n");
  }
  bool Ends() { return PumpUntil([&] { return seen.ended.has_value(); }); }
  Recorder seen;
  GameSession session;
  RawPeer peer;
};

TEST(GameSessionAgainstAScript, LinesThatBreakTheProtocolEndTheMatchAsDisconnected) {
  using namespace std::string_literals;
  const std::string scripts[] = {
      "GET / HTTP/1.0\n",                 // not the game at all
      "HELLO CV4 2\n",                    // another version
      "MOVE 1\nHELLO CV4 1\n",            // a move before the greeting
      "HELLO CV4 1\nMOVE 9\n",            // no such column
      "HELLO CV4 1\nMOVE 1\nMOVE 2\n",    // out of turn
      "HELLO CV4 1\nAGAIN\n",             // another game while one is on
      "HELLO CV4 1\nDONE\n",              // declining while a game is on
      "HELLO CV4 1\nHELLO CV4 1\n",       // greeting twice
      "HELLO CV4 1\nPING\r\n",            // line ends differ
      "HELLO CV4 1\n\n",                  // an empty line
      "HELLO CV4 1\nMOVE 1\0\n"s,         // a NUL inside
  };
  for (const std::string& script : scripts) {
    Scripted s;
    ASSERT_TRUE(s.peer.Send(script));
    ASSERT_TRUE(s.Ends()) << script;
    EXPECT_EQ(s.seen.ended, EndCode::kDisconnected) << script;
    EXPECT_TRUE(s.peer.WaitForClose()) << script;
  }
}

TEST(GameSessionAgainstAScript, AnOverlongLineEndsTheMatchWithoutWaitingForItsEnd) {
  SessionOptions o = FastOptions();
  o.idleTimeout = std::chrono::minutes(5);  // only the length rule can end it here
  Scripted s(o);
  ASSERT_TRUE(s.peer.Send("HELLO CV4 1\n" + std::string(wire::kMaxLine + 1, 'M')));
  ASSERT_TRUE(s.Ends());
  EXPECT_EQ(s.seen.ended, EndCode::kDisconnected);
}

TEST(GameSessionAgainstAScript, SilenceEndsTheMatchAsDisconnectedEvenMidLine) {
  SessionOptions o = FastOptions();
  o.idleTimeout = std::chrono::milliseconds(200);
  for (const char* script : {"", "HELLO CV4 1\n", "HELLO CV4 1\nMOV"}) {
    Scripted s(o);
    ASSERT_TRUE(s.peer.Send(script));
    ASSERT_TRUE(s.Ends()) << '"' << script << '"';
    EXPECT_EQ(s.seen.ended, EndCode::kDisconnected);
    EXPECT_FALSE(s.seen.Saw("partner 1"));
  }
}

TEST(GameSessionAgainstAScript, AConnectionThatEndsWithoutQuitIsDisconnectedWithQuitPartnerExit) {
  {
    Scripted s;
    ASSERT_TRUE(s.peer.Send("HELLO CV4 1\nMOVE 4\n"));
    ASSERT_TRUE(PumpUntil([&] { return s.seen.Saw("partner 4"); }));
    s.peer.Close();
    ASSERT_TRUE(s.Ends());
    EXPECT_EQ(s.seen.ended, EndCode::kDisconnected);
    EXPECT_EQ(s.session.match().board().At(3, 0), DiscOf(Side::kRemote));
  }
  {
    Scripted s;
    // QUIT and the end of the stream arrive together; the line counts.
    ASSERT_TRUE(s.peer.Send("HELLO CV4 1\nQUIT\n"));
    s.peer.Close();
    ASSERT_TRUE(s.Ends());
    EXPECT_EQ(s.seen.ended, EndCode::kPartnerExit);
  }
}

TEST(GameSessionAgainstAScript, ExitSaysQuitAndThenEndsTheStream) {
  Scripted s;
  ASSERT_TRUE(s.peer.Send("HELLO CV4 1\n"));
  ASSERT_TRUE(PumpUntil([&] { return s.seen.Saw("started"); }));
  s.session.Exit();
  EXPECT_TRUE(s.peer.WaitForClose());
  EXPECT_NE(s.peer.received().find("QUIT\n"), std::string::npos) << s.peer.received();
  EXPECT_EQ(s.seen.ended, EndCode::kExit);
}

TEST(GameSessionAgainstAScript, TheConnectingSideGreetsAListenerFirstAndPlaysFirst) {
  RawPeer host;
  const unsigned port = host.Listen();
  ASSERT_NE(port, 0u);
  Recorder seen;
  GameSession guest(FastOptions(static_cast<std::uint16_t>(port)), seen);
  ASSERT_TRUE(guest.Start("127.0.0.1"));
  ASSERT_TRUE(host.Accept());
  ASSERT_TRUE(host.WaitForBytes(12));
  EXPECT_EQ(host.received().substr(0, 12), "HELLO CV4 1\n");
  EXPECT_FALSE(seen.Saw("started")) << "not before the partner's greeting";
  ASSERT_TRUE(host.Send("HELLO CV4 1\n"));
  ASSERT_TRUE(PumpUntil([&] { return seen.Saw("started"); }));
  ASSERT_TRUE(guest.Play(6));
  EXPECT_TRUE(PumpUntil([&] {
    host.Poll();
    return host.received().find("MOVE 7\n") != std::string::npos;
  })) << host.received();
}

}  // namespace
