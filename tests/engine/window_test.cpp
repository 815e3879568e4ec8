// The engine library as the lobby client uses it: CVRunGame opens the game
// window on the client's thread and loop, a person plays it with the mouse
// and the keys (simulated, offscreen) against a partner engine, and the end
// of the match arrives as a posted 514 and a CVGetMsg text.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <random>

#include "../support/raw_peer.hpp"
#include "auto_player.hpp"
#include "board_view.hpp"
#include "engine_api.hpp"
#include "game_window.hpp"
#include "opponent.hpp"
#include "qt_host.hpp"
#include "session_support.hpp"

namespace {

using namespace cvgame;
using namespace testsupport;

constexpr const char* kTitle = "QOR's Corvane Game v091.b2 - Connected to Robo";

GameWindow* FindGameWindow(const QString& title = kTitle) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* game = qobject_cast<GameWindow*>(w);
    if (game && game->isVisible() && game->windowTitle() == title) return game;
  }
  return nullptr;
}

class EngineWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    QtHost();
    NotifySink drain;
    drain.Fetch();  // nothing left over from an earlier test
  }
  void TearDown() override {
    // A game a failed test left running ends here, not in the next test.
    if (cvengine::RunningGame()) FindGameWindow()->close();
    ProcessUntil([] { return cvengine::RunningGame() == nullptr; });
    cvengine::SetSessionOptionsForTests(std::nullopt);
  }

  int Run(const char* partner) {
    return CVRunGame(partner, "C:\\Lobby\\DATA", "C:\\Lobby\\Zudeduzu.wav", kTitle, 0, sink.window,
                     NotifySink::kMessage);
  }

  NotifySink sink;
};

// Plays `column` the way game `game` of the match asks for: the mouse, the
// number keys, or the arrow keys and Enter.
void Choose(BoardView* board, int column, unsigned game) {
  if (game % 3 == 1) {
    QTest::mouseMove(board, board->ColumnCentre(column));
    EXPECT_EQ(board->focusColumn(), column) << "the column under the mouse is highlighted";
    QTest::mouseClick(board, Qt::LeftButton, Qt::NoModifier, board->ColumnCentre(column));
  } else if (game % 3 == 2) {
    QTest::keyClick(board, static_cast<Qt::Key>(Qt::Key_1 + column));
  } else {
    while (board->focusColumn() < column) QTest::keyClick(board, Qt::Key_Right);
    while (board->focusColumn() > column) QTest::keyClick(board, Qt::Key_Left);
    QTest::keyClick(board, Qt::Key_Return);
  }
}

TEST_F(EngineWindow, AWholeMatchAgainstTheComputerPlayerPlayedWithMouseAndKeys) {
  std::optional<EndCode> partnerEnd;
  AutoPlayer partner(FastOptions(), {std::chrono::milliseconds(0), 3, 21},
                     {nullptr, [&](EndCode c) { partnerEnd = c; }});
  ASSERT_TRUE(partner.Start("l"));
  cvengine::SetSessionOptionsForTests(FastOptions(partner.session().listenPort()));
  ASSERT_EQ(Run("127.0.0.1"), 0);

  GameWindow* window = FindGameWindow();
  ASSERT_NE(window, nullptr) << "the window opens with the title as given";
  auto* board = window->findChild<BoardView*>("board");
  auto* status = window->findChild<QLabel*>("status");
  auto* score = window->findChild<QLabel*>("score");
  auto* again = window->findChild<QPushButton*>("playAgain");
  ASSERT_TRUE(board && status && score && again);
  const Match& m = *board->match();
  std::mt19937 rng(4);

  for (unsigned game = 1; game <= 3; ++game) {
    ASSERT_TRUE(ProcessUntil([&] { return m.gameNumber() == game && m.phase() == Phase::kPlaying; }));
    EXPECT_EQ(m.starter(), game % 2 ? Side::kLocal : Side::kRemote) << "who begins alternates";
    EXPECT_FALSE(again->isEnabled());
    for (;;) {
      ASSERT_TRUE(ProcessUntil([&] { return board->interactive() || m.phase() != Phase::kPlaying; }));
      if (m.phase() != Phase::kPlaying) break;
      EXPECT_TRUE(status->text().startsWith("Your turn")) << status->text().toStdString();
      const int moves = m.board().moves();
      Choose(board, ChooseMove(m.board(), DiscOf(Side::kLocal), rng), game);
      ASSERT_EQ(m.board().moves(), moves + 1) << "the choice was played at once";
      if (m.phase() == Phase::kPlaying) {
        EXPECT_FALSE(board->interactive());
        EXPECT_TRUE(status->text().startsWith("Your partner's turn")) << status->text().toStdString();
      }
    }
    EXPECT_EQ(score->text(),
              QString("You %1 \u2013 %2 Partner").arg(m.localWins()).arg(m.remoteWins()));
    const QString result = status->text();
    EXPECT_TRUE(result.contains("won") || result.contains("draw")) << result.toStdString();
    if (game < 3) {
      ASSERT_TRUE(ProcessUntil([&] { return again->isEnabled(); }));
      QTest::mouseClick(again, Qt::LeftButton);
      EXPECT_FALSE(again->isEnabled()) << "asked once";
    }
  }

  // The partner has had its three games and declines a fourth.
  ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
  EXPECT_EQ(sink.posts, 1);
  ASSERT_TRUE(partnerEnd);
  EXPECT_EQ(*partnerEnd, EndCode::kOneTime);
  const Match& theirs = partner.session().match();
  EXPECT_EQ(theirs.localWins() + theirs.remoteWins() + theirs.draws(), 3u);
  EXPECT_EQ(sink.Fetch(), "MES=onet;LOC=" + std::to_string(theirs.remoteWins()) +
                              ";REM=" + std::to_string(theirs.localWins()) + ";");
  EXPECT_EQ(sink.Fetch(), "") << "a message is handed out once";
  EXPECT_TRUE(ProcessUntil([] { return FindGameWindow() == nullptr; })) << "the window closes";
  EXPECT_EQ(cvengine::RunningGame(), nullptr);
}

TEST_F(EngineWindow, ExitOrClosingTheWindowIsExitHereAndPartnerExitThere) {
  for (bool byButton : {true, false}) {
    Recorder partnerSeen;
    GameSession partner(FastOptions(), partnerSeen);
    ASSERT_TRUE(partner.Start("l"));
    cvengine::SetSessionOptionsForTests(FastOptions(partner.listenPort()));
    ASSERT_EQ(Run("127.0.0.1"), 0);
    GameWindow* window = FindGameWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(ProcessUntil([&] { return partnerSeen.Saw("started"); }));
    // The engine begins; one move so that there is something on the board.
    auto* board = window->findChild<BoardView*>("board");
    ASSERT_TRUE(ProcessUntil([&] { return board->interactive(); }));
    QTest::keyClick(board, Qt::Key_4);
    ASSERT_TRUE(ProcessUntil([&] { return partnerSeen.Saw("partner 4"); }));
    if (byButton)
      QTest::mouseClick(window->findChild<QPushButton*>("exit"), Qt::LeftButton);
    else
      window->close();
    ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0 && partnerSeen.ended; }));
    EXPECT_EQ(sink.Fetch(), "MES=exit;LOC=0;REM=0;");
    EXPECT_EQ(partnerSeen.ended, EndCode::kPartnerExit);
    EXPECT_TRUE(ProcessUntil([] { return FindGameWindow() == nullptr; }));
    sink.posts = 0;
  }
}

TEST_F(EngineWindow, APartnerThatLeavesIsUexiAndOneThatMisbehavesIsDisc) {
  {
    Recorder partnerSeen;
    GameSession partner(FastOptions(), partnerSeen);
    ASSERT_TRUE(partner.Start("l"));
    cvengine::SetSessionOptionsForTests(FastOptions(partner.listenPort()));
    ASSERT_EQ(Run("127.0.0.1"), 0);
    ASSERT_TRUE(ProcessUntil([&] { return partnerSeen.Saw("started"); }));
    partner.Exit();
    ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
    EXPECT_EQ(sink.Fetch(), "MES=uexi;LOC=0;REM=0;");
  }
  {
    // The accepting side this time: the client passes "l".
    const std::uint16_t port = FreePort();
    cvengine::SetSessionOptionsForTests(FastOptions(port));
    sink.posts = 0;
    ASSERT_EQ(Run("l"), 0);
    ASSERT_NE(FindGameWindow(), nullptr);
    RawPeer partner;
    ASSERT_TRUE(partner.Connect(port)) << "the engine listens from CVRunGame on";
    ASSERT_TRUE(partner.Send("HELLO CV4 1\nMOVE 4\nMOVE 4\n"));  // a move out of turn
    ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
    EXPECT_EQ(sink.Fetch(), "MES=disc;LOC=0;REM=0;");
  }
}

TEST_F(EngineWindow, NoteWhenNobodyAnswersWithinTheBoundAndAtOnceWhenThePortIsTaken) {
  SessionOptions o = FastOptions(FreePort());
  o.connectBound = std::chrono::milliseconds(300);
  cvengine::SetSessionOptionsForTests(o);
  ASSERT_EQ(Run("127.0.0.1:"), 0);
  ASSERT_NE(FindGameWindow(), nullptr) << "the window says it is connecting meanwhile";
  ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
  EXPECT_EQ(sink.Fetch(), "MES=note;LOC=0;REM=0;");
  EXPECT_TRUE(ProcessUntil([] { return FindGameWindow() == nullptr; }));

  // Another game on this host already listens on the game port.
  Recorder otherSeen;
  GameSession other(FastOptions(), otherSeen);
  ASSERT_TRUE(other.Start("l"));
  cvengine::SetSessionOptionsForTests(FastOptions(other.listenPort()));
  sink.posts = 0;
  EXPECT_NE(Run("l"), 0);
  EXPECT_EQ(FindGameWindow(), nullptr) << "no window for a game that cannot be";
  ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
  EXPECT_EQ(sink.Fetch(), "MES=note;LOC=0;REM=0;");
  EXPECT_EQ(other.state(), GameSession::State::kWaiting);

  sink.posts = 0;
  EXPECT_NE(Run("not an address"), 0);
  ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
  EXPECT_EQ(sink.Fetch(), "MES=note;LOC=0;REM=0;");
}

TEST_F(EngineWindow, ASecondGameWhileOneRunsIsRefusedAndLeavesTheFirstAlone) {
  cvengine::SetSessionOptionsForTests(FastOptions(FreePort()));
  ASSERT_EQ(Run("l"), 0);
  EngineGame* first = cvengine::RunningGame();
  ASSERT_NE(first, nullptr);
  EXPECT_NE(Run("l"), 0);
  QTest::qWait(20);
  EXPECT_EQ(sink.posts, 0);
  EXPECT_EQ(cvengine::RunningGame(), first);
  FindGameWindow()->close();
  ASSERT_TRUE(ProcessUntil([&] { return sink.posts > 0; }));
  EXPECT_EQ(sink.Fetch(), "MES=exit;LOC=0;REM=0;");
}

TEST_F(EngineWindow, TheGamePortComesFromTheEnvironmentWhenItHoldsAPort) {
  unsetenv(kGamePortVariable);
  EXPECT_EQ(cvengine::CurrentSessionOptions().port, kDefaultGamePort);
  setenv(kGamePortVariable, "40123", 1);
  EXPECT_EQ(cvengine::CurrentSessionOptions().port, 40123);
  for (const char* bad : {"", "0", "65536", "12ab", "-5"}) {
    setenv(kGamePortVariable, bad, 1);
    EXPECT_EQ(cvengine::CurrentSessionOptions().port, kDefaultGamePort) << bad;
  }
  unsetenv(kGamePortVariable);
}

TEST_F(EngineWindow, CVGetMsgWritesAnEmptyTextWhenNothingWaitsAndRefusesNull) {
  char buffer[CV_MSG_SIZE];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CVGetMsg(buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_NE(CVGetMsg(nullptr), 0);
}

}  // namespace
