#include "board_view.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

const QColor kFrame(31, 79, 184);
const QColor kHole(232, 238, 248);
const QColor kMine(214, 45, 45);
const QColor kTheirs(242, 193, 46);
const QColor kWinning(40, 200, 90);

QColor DiscColour(cvgame::Disc disc) {
  return disc == cvgame::DiscOf(cvgame::Side::kLocal) ? kMine : kTheirs;
}

}  // namespace

BoardView::BoardView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void BoardView::SetMatch(const cvgame::Match* match) {
  match_ = match;
  update();
}

void BoardView::SetInteractive(bool interactive) {
  interactive_ = interactive;
  setCursor(interactive ? Qt::PointingHandCursor : Qt::ArrowCursor);
  update();
}

QSize BoardView::sizeHint() const { return {7 * 64, 7 * 64}; }
QSize BoardView::minimumSizeHint() const { return {7 * 32, 7 * 32}; }

BoardView::Geometry BoardView::Layout() const {
  const double cell = std::min(width() / double(cvgame::kColumns), height() / double(cvgame::kRows + 1));
  const double left = (width() - cell * cvgame::kColumns) / 2;
  const double top = (height() - cell * (cvgame::kRows + 1)) / 2 + cell;
  return {cell, left, top};
}

QRectF BoardView::HoleRect(const Geometry& g, int column, int row) const {
  const double margin = g.cell * 0.1;
  return QRectF(g.left + column * g.cell + margin,
                g.top + (cvgame::kRows - 1 - row) * g.cell + margin, g.cell - 2 * margin,
                g.cell - 2 * margin);
}

int BoardView::ColumnAt(double x) const {
  const Geometry g = Layout();
  if (g.cell <= 0 || x < g.left) return -1;
  const int column = static_cast<int>((x - g.left) / g.cell);
  return column < cvgame::kColumns ? column : -1;
}

QPoint BoardView::ColumnCentre(int column) const {
  const Geometry g = Layout();
  return QRectF(HoleRect(g, column, cvgame::kRows - 1)).center().toPoint();
}

void BoardView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Geometry g = Layout();
  if (g.cell <= 0) return;
  const bool showFocus = interactive_ && match_ && match_->board().CanDrop(focusColumn_);

  // The disc about to drop, above the chosen column.
  if (showFocus) {
    QColor preview = kMine;
    preview.setAlpha(hovering_ ? 200 : 150);
    p.setPen(Qt::NoPen);
    p.setBrush(preview);
    p.drawEllipse(HoleRect(g, focusColumn_, cvgame::kRows).translated(0, -g.cell * 0.05));
  }

  QPainterPath frame;
  frame.addRoundedRect(QRectF(g.left, g.top, g.cell * cvgame::kColumns, g.cell * cvgame::kRows),
                       g.cell * 0.15, g.cell * 0.15);
  p.fillPath(frame, kFrame);
  if (showFocus) {
    p.fillRect(QRectF(g.left + focusColumn_ * g.cell, g.top, g.cell, g.cell * cvgame::kRows),
               QColor(255, 255, 255, 45));
  }

  const std::vector<cvgame::Cell> noCells;
  const auto& winning = match_ ? match_->winningCells() : noCells;
  const std::optional<cvgame::Cell> last = match_ ? match_->board().lastMove() : std::nullopt;
  for (int c = 0; c < cvgame::kColumns; ++c) {
    for (int r = 0; r < cvgame::kRows; ++r) {
      const QRectF hole = HoleRect(g, c, r);
      const cvgame::Disc disc = match_ ? match_->board().At(c, r) : cvgame::Disc::kNone;
      if (disc == cvgame::Disc::kNone) {
        p.setPen(QPen(kFrame.darker(130), 1));
        p.setBrush(kHole);
        p.drawEllipse(hole);
        continue;
      }
      const QColor colour = DiscColour(disc);
      p.setPen(QPen(colour.darker(140), g.cell * 0.04));
      p.setBrush(colour);
      p.drawEllipse(hole);
      const cvgame::Cell cell{c, r};
      if (std::find(winning.begin(), winning.end(), cell) != winning.end()) {
        p.setPen(QPen(kWinning, g.cell * 0.09));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(hole.adjusted(-g.cell * 0.03, -g.cell * 0.03, g.cell * 0.03, g.cell * 0.03));
      }
      if (last && *last == cell) {
        // A small ring marks the disc that fell last.
        p.setPen(QPen(Qt::white, std::max(1.5, g.cell * 0.05)));
        p.setBrush(Qt::NoBrush);
        const double r0 = hole.width() * 0.18;
        p.drawEllipse(hole.center(), r0, r0);
      }
    }
  }
}

void BoardView::mouseMoveEvent(QMouseEvent* event) {
  const int column = ColumnAt(event->position().x());
  hovering_ = column >= 0;
  if (column >= 0 && column != focusColumn_) focusColumn_ = column;
  update();
}

void BoardView::leaveEvent(QEvent*) {
  hovering_ = false;
  update();
}

void BoardView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int column = ColumnAt(event->position().x());
  if (column >= 0) {
    focusColumn_ = column;
    Choose(column);
  }
}

void BoardView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key >= Qt::Key_1 && key < Qt::Key_1 + cvgame::kColumns) {
    focusColumn_ = key - Qt::Key_1;
    Choose(focusColumn_);
    return;
  }
  switch (key) {
    case Qt::Key_Left:
      focusColumn_ = std::max(0, focusColumn_ - 1);
      update();
      return;
    case Qt::Key_Right:
      focusColumn_ = std::min(cvgame::kColumns - 1, focusColumn_ + 1);
      update();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
    case Qt::Key_Down:
      Choose(focusColumn_);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void BoardView::Choose(int column) {
  update();
  if (interactive_) emit columnChosen(column);
}
