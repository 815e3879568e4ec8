#include "bitmap_button.hpp"

#include <QPainter>
#include <QPainterPath>

namespace lobby {

namespace {

// The glyph is the whole face; around it only what the keyboard and the
// mouse need to see: a light ring for the focus and a brighter face under
// the pointer.
void PaintFace(QPushButton& button, const QPixmap& glyph, bool highlight) {
  QPainter painter(&button);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.drawPixmap(0, 0, glyph);
  const QRectF area = QRectF(button.rect()).adjusted(1, 1, -1, -1);
  const qreal radius = std::min(area.width(), area.height()) * 0.28;
  if (highlight) {
    QPainterPath face;
    face.addRoundedRect(area, radius, radius);
    painter.fillPath(face, QColor(255, 255, 255, 34));
  }
  if (button.hasFocus()) {
    QPen pen(QColor(255, 236, 140), 1.4, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2, radius - 2);
  }
}

void Prepare(QPushButton& button, const QString& accessibleName) {
  button.setAccessibleName(accessibleName);
  button.setToolTip(accessibleName);
  button.setAttribute(Qt::WA_Hover);
  button.setCursor(Qt::PointingHandCursor);
  button.setAutoFillBackground(false);
}

}  // namespace

BitmapButton::BitmapButton(Glyph glyph, const QString& accessibleName, QWidget* parent)
    : QPushButton(parent), glyph_(glyph) {
  Prepare(*this, accessibleName);
}

void BitmapButton::setGlyph(Glyph glyph) {
  if (glyph_ == glyph) return;
  glyph_ = glyph;
  update();
}

void BitmapButton::paintEvent(QPaintEvent*) {
  GlyphState state = GlyphState::Up;
  if (!isEnabled())
    state = GlyphState::Disabled;
  else if (isDown())
    state = GlyphState::Down;
  PaintFace(*this, DrawGlyph(glyph_, size(), state), isEnabled() && !isDown() && underMouse());
}

SpeedButton::SpeedButton(Glyph glyph, const QString& accessibleName, QWidget* parent)
    : QPushButton(parent), glyph_(glyph) {
  Prepare(*this, accessibleName);
  setFlat(true);
  // A speed button never takes the focus from the field being typed in.
  setFocusPolicy(Qt::NoFocus);
}

void SpeedButton::setGlyph(Glyph glyph) {
  if (glyph_ == glyph) return;
  glyph_ = glyph;
  update();
}

void SpeedButton::setDown(bool down) {
  stayingDown_ = down;
  update();
}

void SpeedButton::paintEvent(QPaintEvent*) {
  GlyphState state = GlyphState::Up;
  if (!isEnabled())
    state = GlyphState::Disabled;
  else if (QPushButton::isDown())
    state = GlyphState::Down;
  else if (stayingDown_)
    state = GlyphState::StaysDown;
  PaintFace(*this, DrawGlyph(glyph_, size(), state), isEnabled() && !QPushButton::isDown() && underMouse());
}

}  // namespace lobby
