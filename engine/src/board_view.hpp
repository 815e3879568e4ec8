// board_view.hpp - the game board drawn in code (internal to the engine
// library): the frame with its holes, both players' discs, the column under
// the mouse or chosen with the keys, the last move and the winning four.
// The view only shows a match and reports the column the player chose; it
// never changes the match itself.
#pragma once

#include <QWidget>

#include "match.hpp"

class BoardView : public QWidget {
  Q_OBJECT

 public:
  explicit BoardView(QWidget* parent = nullptr);

  // The match to draw; kept by pointer and read on every paint.
  void SetMatch(const cvgame::Match* match);
  const cvgame::Match* match() const { return match_; }
  // Whether the player may choose a column now (their turn in a game).
  void SetInteractive(bool interactive);
  bool interactive() const { return interactive_; }
  // The column the mouse or the arrow keys point at (0-6).
  int focusColumn() const { return focusColumn_; }
  // Where to click to choose a column (the middle of its top hole).
  QPoint ColumnCentre(int column) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void columnChosen(int column);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Geometry {
    double cell;
    double left;
    double top;  // top of the frame; the row above it shows the disc to drop
  };
  Geometry Layout() const;
  int ColumnAt(double x) const;
  QRectF HoleRect(const Geometry& g, int column, int row) const;
  void Choose(int column);

  const cvgame::Match* match_ = nullptr;
  bool interactive_ = false;
  bool hovering_ = false;
  int focusColumn_ = cvgame::kColumns / 2;
};
