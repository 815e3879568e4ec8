// bitmap_button.hpp - the client's picture buttons (internal).
//
// BitmapButton: a push button that shows a glyph (glyphs.hpp) filling its
// face. SpeedButton: a flat button with four glyphs (up, disabled, down,
// stays down) that can stay down.
#pragma once

#include <QPushButton>

#include "glyphs.hpp"

namespace lobby {

class BitmapButton : public QPushButton {
  Q_OBJECT
 public:
  BitmapButton(Glyph glyph, const QString& accessibleName, QWidget* parent);
  void setGlyph(Glyph glyph);
  Glyph glyph() const { return glyph_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Glyph glyph_;
};

class SpeedButton : public QPushButton {
  Q_OBJECT
 public:
  SpeedButton(Glyph glyph, const QString& accessibleName, QWidget* parent);
  void setGlyph(Glyph glyph);
  Glyph glyph() const { return glyph_; }
  // Whether the button stays down (a toggle); set by its owner.
  void setDown(bool down);
  bool isStayingDown() const { return stayingDown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Glyph glyph_;
  bool stayingDown_ = false;
};

}  // namespace lobby
