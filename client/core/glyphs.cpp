#include "glyphs.hpp"

#include <QPainter>

namespace lobby {

namespace {
QPixmap Blank(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}
}  // namespace

QPixmap DrawGlyph(Glyph, QSize size, GlyphState) { return Blank(size); }
QPixmap DrawQueryPicture(QSize size) { return Blank(size); }
QPixmap DrawMalePicture(QSize size) { return Blank(size); }
QPixmap DrawFemalePicture(QSize size) { return Blank(size); }

}  // namespace lobby
