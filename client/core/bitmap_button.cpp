#include "bitmap_button.hpp"

#include <QPainter>

namespace lobby {

BitmapButton::BitmapButton(Glyph glyph, const QString& accessibleName, QWidget* parent)
    : QPushButton(parent), glyph_(glyph) {
  setAccessibleName(accessibleName);
  setToolTip(accessibleName);
}

void BitmapButton::setGlyph(Glyph glyph) {
  glyph_ = glyph;
  update();
}

void BitmapButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter painter(this);
  painter.drawPixmap(rect(), DrawGlyph(glyph_, size(), isEnabled() ? GlyphState::Up : GlyphState::Disabled));
}

SpeedButton::SpeedButton(Glyph glyph, const QString& accessibleName, QWidget* parent)
    : QPushButton(parent), glyph_(glyph) {
  setAccessibleName(accessibleName);
  setToolTip(accessibleName);
  setFlat(true);
}

void SpeedButton::setGlyph(Glyph glyph) {
  glyph_ = glyph;
  update();
}

void SpeedButton::setDown(bool down) {
  stayingDown_ = down;
  update();
}

void SpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  GlyphState state = GlyphState::Up;
  if (!isEnabled())
    state = GlyphState::Disabled;
  else if (stayingDown_)
    state = GlyphState::StaysDown;
  else if (QPushButton::isDown())
    state = GlyphState::Down;
  painter.drawPixmap(rect(), DrawGlyph(glyph_, size(), state));
}

}  // namespace lobby
