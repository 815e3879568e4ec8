#include "board.hpp"

namespace cvgame {
namespace {

constexpr bool Inside(int column, int row) {
  return column >= 0 && column < kColumns && row >= 0 && row < kRows;
}

// The four line directions; each is walked both ways.
constexpr int kDirections[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};

}  // namespace

Disc Board::At(int column, int row) const {
  return Inside(column, row) ? cells_[column][row] : Disc::kNone;
}

int Board::Height(int column) const {
  return column >= 0 && column < kColumns ? heights_[column] : 0;
}

bool Board::CanDrop(int column) const {
  return column >= 0 && column < kColumns && heights_[column] < kRows;
}

std::optional<Cell> Board::Drop(int column, Disc disc) {
  if (disc == Disc::kNone || !CanDrop(column)) return std::nullopt;
  const Cell cell{column, heights_[column]++};
  cells_[column][cell.row] = disc;
  ++moves_;
  last_ = cell;
  return cell;
}

// Discs of `disc` next to `from` (not counting it) walking (dc, dr).
int Board::RunLength(Cell from, int dc, int dr, Disc disc) const {
  int n = 0;
  for (int c = from.column + dc, r = from.row + dr; Inside(c, r) && cells_[c][r] == disc;
       c += dc, r += dr)
    ++n;
  return n;
}

std::vector<Cell> Board::WinningCells(Cell cell) const {
  std::vector<Cell> out;
  const Disc disc = At(cell.column, cell.row);
  if (disc == Disc::kNone) return out;
  for (const auto& d : kDirections) {
    const int back = RunLength(cell, -d[0], -d[1], disc);
    const int ahead = RunLength(cell, d[0], d[1], disc);
    if (back + 1 + ahead < kConnect) continue;
    for (int i = -back; i <= ahead; ++i) {
      const Cell c{cell.column + i * d[0], cell.row + i * d[1]};
      bool known = false;
      for (const Cell& o : out) known = known || o == c;
      if (!known) out.push_back(c);
    }
  }
  return out;
}

bool Board::WouldWin(int column, Disc disc) const {
  if (disc == Disc::kNone || !CanDrop(column)) return false;
  const Cell cell{column, heights_[column]};
  for (const auto& d : kDirections) {
    if (RunLength(cell, -d[0], -d[1], disc) + 1 + RunLength(cell, d[0], d[1], disc) >= kConnect)
      return true;
  }
  return false;
}

}  // namespace cvgame
