// board.hpp - the Connect Four board and its rules: seven columns of six
// cells, discs dropped from the top, four in a row wins, a full board is a
// draw. Internal to the game core (engine/core), which the engine library and
// the console player share; no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cvgame {

inline constexpr int kColumns = 7;
inline constexpr int kRows = 6;
inline constexpr int kConnect = 4;

enum class Disc : std::uint8_t { kNone, kOne, kTwo };

constexpr Disc Opponent(Disc d) {
  return d == Disc::kOne ? Disc::kTwo : d == Disc::kTwo ? Disc::kOne : Disc::kNone;
}

// Row 0 is the bottom row.
struct Cell {
  int column = 0;
  int row = 0;
  bool operator==(const Cell&) const = default;
};

class Board {
 public:
  // kNone outside the board.
  Disc At(int column, int row) const;
  // Discs in the column; 0 for a column outside the board.
  int Height(int column) const;
  bool CanDrop(int column) const;
  // The cell the disc lands in; nothing (and no change) when the column is
  // full or outside the board, or the disc is kNone.
  std::optional<Cell> Drop(int column, Disc disc);
  bool Full() const { return moves_ == kColumns * kRows; }
  int moves() const { return moves_; }
  std::optional<Cell> lastMove() const { return last_; }

  // Every cell of each run of four or more through `cell` in that cell's
  // disc (a move can complete two lines at once); empty when none.
  std::vector<Cell> WinningCells(Cell cell) const;
  // Whether dropping `disc` into `column` would complete four; the board is
  // left as it is.
  bool WouldWin(int column, Disc disc) const;

 private:
  int RunLength(Cell from, int dc, int dr, Disc disc) const;

  std::array<std::array<Disc, kRows>, kColumns> cells_{};
  std::array<int, kColumns> heights_{};
  int moves_ = 0;
  std::optional<Cell> last_;
};

}  // namespace cvgame
