// game_window.hpp - the game window (internal to the engine library): the
// board, a status line saying whose turn it is or how the game ended, the
// score, and the "Play again" and "Exit" buttons. It shows what it is told
// and reports what the player does; closing it counts as Exit.
//
// Child widgets carry object names ("board", "status", "score",
// "playAgain", "exit") so that tests find them as a person would.
#pragma once

#include <QWidget>

class BoardView;
class QLabel;
class QPushButton;

class GameWindow : public QWidget {
  Q_OBJECT

 public:
  explicit GameWindow(const QString& title);

  BoardView* board() const { return board_; }
  void SetStatus(const QString& text);
  void SetScore(unsigned mine, unsigned theirs);
  void SetPlayAgainEnabled(bool enabled);
  // From now on closing the window is the engine's doing, not the player's.
  void MarkFinished() { finished_ = true; }

 signals:
  void columnChosen(int column);
  void playAgainRequested();
  void exitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  BoardView* board_;
  QLabel* status_;
  QLabel* score_;
  QPushButton* playAgain_;
  QPushButton* exit_;
  bool finished_ = false;
};
