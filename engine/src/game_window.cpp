#include "game_window.hpp"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "board_view.hpp"

GameWindow::GameWindow(const QString& title) {
  setWindowTitle(title);
  // The lobby client keeps running when its game window goes away.
  setAttribute(Qt::WA_QuitOnClose, false);

  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setAlignment(Qt::AlignCenter);
  QFont statusFont = status_->font();
  statusFont.setPointSizeF(statusFont.pointSizeF() * 1.25);
  statusFont.setBold(true);
  status_->setFont(statusFont);

  board_ = new BoardView(this);
  board_->setObjectName("board");

  score_ = new QLabel(this);
  score_->setObjectName("score");
  playAgain_ = new QPushButton(tr("&Play again"), this);
  playAgain_->setObjectName("playAgain");
  playAgain_->setEnabled(false);
  exit_ = new QPushButton(tr("E&xit"), this);
  exit_->setObjectName("exit");
  // Keys belong to the board; the buttons are for the mouse and Alt keys.
  playAgain_->setFocusPolicy(Qt::NoFocus);
  exit_->setFocusPolicy(Qt::NoFocus);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(score_, 1);
  bottom->addWidget(playAgain_);
  bottom->addWidget(exit_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(board_, 1);
  layout->addLayout(bottom);

  connect(board_, &BoardView::columnChosen, this, &GameWindow::columnChosen);
  connect(playAgain_, &QPushButton::clicked, this, &GameWindow::playAgainRequested);
  connect(exit_, &QPushButton::clicked, this, &GameWindow::exitRequested);
  setFocusProxy(board_);
  SetScore(0, 0);
  resize(520, 600);
}

void GameWindow::SetStatus(const QString& text) { status_->setText(text); }

void GameWindow::SetScore(unsigned mine, unsigned theirs) {
  score_->setText(tr("You %1 \u2013 %2 Partner").arg(mine).arg(theirs));
}

void GameWindow::SetPlayAgainEnabled(bool enabled) { playAgain_->setEnabled(enabled); }

void GameWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (!finished_) emit exitRequested();
}
