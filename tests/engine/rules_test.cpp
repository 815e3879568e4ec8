// The game's rules without any network: the board, a match of several games
// with its turns, score and "another game?" agreement, and the computer
// opponent's choices.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "board.hpp"
#include "match.hpp"
#include "opponent.hpp"

namespace {

using namespace cvgame;

// Columns written 1-7, as a player says them.
void DropAll(Board& b, const std::string& columns, Disc first = Disc::kOne) {
  Disc d = first;
  for (char c : columns) {
    ASSERT_TRUE(b.Drop(c - '1', d)) << "column " << c;
    d = Opponent(d);
  }
}

// Fills a column from the bottom: X is kOne, O is kTwo.
void Stack(Board& b, int column, const std::string& discs) {
  for (char c : discs) ASSERT_TRUE(b.Drop(column, c == 'X' ? Disc::kOne : Disc::kTwo));
}

// A whole game that fills the board without four in a row anywhere.
constexpr const char* kDrawnGame = "141724165222235463442116413773377573556656";

bool Contains(const std::vector<Cell>& cells, Cell c) {
  return std::find(cells.begin(), cells.end(), c) != cells.end();
}

TEST(Board, DiscsStackFromTheBottomAndAFullColumnTakesNoMore) {
  Board b;
  for (int row = 0; row < kRows; ++row) {
    auto cell = b.Drop(3, row % 2 ? Disc::kTwo : Disc::kOne);
    ASSERT_TRUE(cell);
    EXPECT_EQ(*cell, (Cell{3, row}));
  }
  EXPECT_FALSE(b.CanDrop(3));
  EXPECT_FALSE(b.Drop(3, Disc::kOne));
  EXPECT_EQ(b.moves(), kRows);
  EXPECT_FALSE(b.Drop(-1, Disc::kOne));
  EXPECT_FALSE(b.Drop(kColumns, Disc::kOne));
  EXPECT_FALSE(b.Drop(0, Disc::kNone));
  EXPECT_EQ(b.moves(), kRows) << "refused drops change nothing";
  EXPECT_EQ(b.lastMove(), (Cell{3, kRows - 1}));
}

TEST(Board, FourInARowWinsInEveryDirectionAndThreeDoNot) {
  {
    Board b;  // kOne along the bottom, kTwo's three above
    DropAll(b, "1122334");
    EXPECT_EQ(b.WinningCells(*b.lastMove()).size(), 4u);
    EXPECT_TRUE(b.WinningCells(Cell{1, 1}).empty()) << "three of kTwo";
  }
  {
    Board b;  // kOne up column 5
    DropAll(b, "5657525");
    auto cells = b.WinningCells(*b.lastMove());
    ASSERT_EQ(cells.size(), 4u);
    for (int r = 0; r < 4; ++r) EXPECT_TRUE(Contains(cells, Cell{4, r}));
  }
  {
    Board b;  // rising diagonal (0,0)-(3,3)
    Stack(b, 0, "X");
    Stack(b, 1, "OX");
    Stack(b, 2, "OOX");
    Stack(b, 3, "OOO");
    EXPECT_TRUE(b.WinningCells(Cell{2, 2}).empty());
    auto cell = b.Drop(3, Disc::kOne);
    auto cells = b.WinningCells(*cell);
    ASSERT_EQ(cells.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Contains(cells, Cell{i, i}));
  }
  {
    Board b;  // falling diagonal (3,3)-(6,0), completed in its middle
    Stack(b, 6, "X");
    Stack(b, 5, "O");
    Stack(b, 4, "OOX");
    Stack(b, 3, "OOOX");
    auto cell = b.Drop(5, Disc::kOne);
    ASSERT_EQ(*cell, (Cell{5, 1}));
    auto cells = b.WinningCells(*cell);
    ASSERT_EQ(cells.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Contains(cells, Cell{6 - i, i}));
  }
}

TEST(Board, LongerRunsAndCrossingLinesReportEveryCellOfThem) {
  Board run;  // bottom row 1-3 and 5-7, then 4 joins them into seven
  for (int col : {0, 1, 2, 4, 5, 6}) run.Drop(col, Disc::kOne);
  EXPECT_TRUE(run.WouldWin(3, Disc::kOne));
  EXPECT_FALSE(run.WouldWin(3, Disc::kTwo));
  EXPECT_EQ(run.moves(), 6) << "WouldWin leaves the board alone";
  run.Drop(3, Disc::kOne);
  EXPECT_EQ(run.WinningCells(Cell{3, 0}).size(), 7u);

  // Column 4 holds three of kOne; columns 1-3 three of kTwo under one kOne
  // each. kOne's next disc in column 4 lands on row 3 and completes the
  // column and row 3 at once.
  Board cross;
  for (int r = 0; r < 3; ++r) cross.Drop(3, Disc::kOne);
  for (int col : {0, 1, 2}) {
    for (int r = 0; r < 3; ++r) cross.Drop(col, Disc::kTwo);
    cross.Drop(col, Disc::kOne);
  }
  auto cell = cross.Drop(3, Disc::kOne);
  ASSERT_TRUE(cell);
  ASSERT_EQ(*cell, (Cell{3, 3}));
  auto cells = cross.WinningCells(*cell);
  EXPECT_EQ(cells.size(), 7u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Contains(cells, Cell{3, i}));
    EXPECT_TRUE(Contains(cells, Cell{i, 3}));
  }
}

TEST(Match, PlayersMoveInTurnAndAMoveOutOfTurnChangesNothing) {
  Match m(Side::kLocal);
  EXPECT_EQ(m.toMove(), Side::kLocal);
  EXPECT_FALSE(m.Play(Side::kRemote, 0));
  ASSERT_TRUE(m.Play(Side::kLocal, 0));
  EXPECT_EQ(m.board().At(0, 0), DiscOf(Side::kLocal));
  EXPECT_EQ(m.toMove(), Side::kRemote);
  EXPECT_FALSE(m.Play(Side::kLocal, 1));
  EXPECT_EQ(m.board().moves(), 1);
  EXPECT_FALSE(m.AskAgain(Side::kLocal)) << "no new game while one runs";
}

TEST(Match, AWinScoresAndTheNextGameNeedsBothAndIsBegunByTheOther) {
  Match m(Side::kRemote);
  // Remote builds column 1, local plays column 2 in between.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m.Play(Side::kRemote, 0));
    ASSERT_TRUE(m.Play(Side::kLocal, 1));
  }
  ASSERT_TRUE(m.Play(Side::kRemote, 0));
  EXPECT_EQ(m.phase(), Phase::kBetweenGames);
  EXPECT_EQ(m.lastResult(), Result::kRemoteWon);
  EXPECT_EQ(m.winningCells().size(), 4u);
  EXPECT_EQ(m.remoteWins(), 1u);
  EXPECT_EQ(m.localWins(), 0u);
  EXPECT_FALSE(m.Play(Side::kLocal, 3)) << "no moves after the end";

  EXPECT_TRUE(m.AskAgain(Side::kRemote));
  EXPECT_FALSE(m.AskAgain(Side::kRemote)) << "asking twice is refused";
  EXPECT_EQ(m.phase(), Phase::kBetweenGames);
  EXPECT_TRUE(m.AskAgain(Side::kLocal));
  EXPECT_EQ(m.phase(), Phase::kPlaying);
  EXPECT_EQ(m.gameNumber(), 2u);
  EXPECT_EQ(m.starter(), Side::kLocal);
  EXPECT_EQ(m.toMove(), Side::kLocal);
  EXPECT_EQ(m.board().moves(), 0);
  EXPECT_FALSE(m.lastResult());
  EXPECT_TRUE(m.winningCells().empty());
  EXPECT_EQ(m.remoteWins(), 1u) << "the score carries over";
}

TEST(Match, AFullBoardWithoutFourIsADrawThatCountsForNeither) {
  Match m(Side::kLocal);
  Side who = Side::kLocal;
  for (const char* c = kDrawnGame; *c; ++c) {
    ASSERT_EQ(m.phase(), Phase::kPlaying) << "ended early at move " << (c - kDrawnGame);
    ASSERT_TRUE(m.Play(who, *c - '1'));
    who = Other(who);
  }
  EXPECT_TRUE(m.board().Full());
  EXPECT_EQ(m.phase(), Phase::kBetweenGames);
  EXPECT_EQ(m.lastResult(), Result::kDraw);
  EXPECT_EQ(m.draws(), 1u);
  EXPECT_EQ(m.localWins() + m.remoteWins(), 0u);
}

TEST(Opponent, TakesAWinRatherThanBlocking) {
  // kOne holds 1-3 and kTwo 5-7 of the bottom row; column 4 wins for either.
  Board b;
  for (int col : {0, 1, 2}) b.Drop(col, Disc::kOne);
  for (int col : {4, 5, 6}) b.Drop(col, Disc::kTwo);
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ChooseMove(b, Disc::kOne, rng), 3);
  // A vertical win is taken just the same, far from the middle.
  Board v;
  for (int r = 0; r < 3; ++r) v.Drop(0, Disc::kTwo);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ChooseMove(v, Disc::kTwo, rng), 0);
}

TEST(Opponent, BlocksThePartnersWinInOneMove) {
  Board b;
  for (int r = 0; r < 3; ++r) b.Drop(5, Disc::kTwo);  // kTwo threatens column 6
  b.Drop(0, Disc::kOne);
  b.Drop(1, Disc::kOne);
  std::mt19937 rng(3);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ChooseMove(b, Disc::kOne, rng), 5);
}

TEST(Opponent, NeverFillsTheCellUnderThePartnersWinningCell) {
  // Row 0: kOne, kTwo, kOne; row 1: kTwo on columns 1-3. A disc in column 4
  // (the middle, otherwise the favourite) would let kTwo complete row 1.
  Board b;
  b.Drop(0, Disc::kOne);
  b.Drop(1, Disc::kTwo);
  b.Drop(2, Disc::kOne);
  for (int col : {0, 1, 2}) b.Drop(col, Disc::kTwo);
  ASSERT_FALSE(b.WouldWin(3, Disc::kTwo));
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const int column = ChooseMove(b, Disc::kOne, rng);
    EXPECT_NE(column, 3) << "seed " << seed;
    EXPECT_TRUE(b.CanDrop(column));
  }
}

TEST(Opponent, PlaysOnlyLegalColumnsAndItsGamesAlwaysEnd) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    std::mt19937 rng(seed);
    Match m(seed % 2 ? Side::kLocal : Side::kRemote);
    int moves = 0;
    while (m.phase() == Phase::kPlaying) {
      const Side who = m.toMove();
      const int column = ChooseMove(m.board(), DiscOf(who), rng);
      ASSERT_TRUE(m.board().CanDrop(column)) << "seed " << seed;
      ASSERT_TRUE(m.Play(who, column));
      ASSERT_LE(++moves, kColumns * kRows);
    }
    EXPECT_TRUE(m.lastResult());
  }
  Board full;
  DropAll(full, kDrawnGame);
  std::mt19937 rng(1);
  EXPECT_EQ(ChooseMove(full, Disc::kOne, rng), -1);
}

}  // namespace
