// The client's button faces and pictures, all drawn here in one style: a
// rounded, glossy face in the colour of what the button does (green goes
// ahead, red backs out, blue asks or looks, violet is the music), a white
// pictogram and a short word, so that a newcomer can read every button.
#include "glyphs.hpp"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace lobby {

namespace {

enum class Pictogram { Check, Cross, Door, Question, Globe, Reload, Pawn, CheckRing, NoEntry, NotePlay, Mute, Lens };

struct Face {
  Pictogram pictogram;
  const char* word;
  QColor colour;
};

const QColor kGo(38, 158, 74);
const QColor kBack(200, 48, 56);
const QColor kAsk(44, 108, 210);
const QColor kMusic(128, 72, 200);
const QColor kLit(236, 168, 32);  // a toggle that stays down

Face FaceOf(Glyph glyph) {
  switch (glyph) {
    case Glyph::Ok: return {Pictogram::Check, "OK", kGo};
    case Glyph::Cancel: return {Pictogram::Cross, "Cancel", kBack};
    case Glyph::Exit: return {Pictogram::Door, "Exit", kBack};
    case Glyph::Help: return {Pictogram::Question, "Help", kAsk};
    case Glyph::Server: return {Pictogram::Globe, "Server", kAsk};
    case Glyph::Refresh: return {Pictogram::Reload, "Refresh", kAsk};
    case Glyph::Offer: return {Pictogram::Pawn, "Play!", kGo};
    case Glyph::Accept: return {Pictogram::CheckRing, "Accept", kGo};
    case Glyph::Refuse: return {Pictogram::NoEntry, "Refuse", kBack};
    case Glyph::MusicOn: return {Pictogram::NotePlay, "Music", kMusic};
    case Glyph::MusicOff: return {Pictogram::Mute, "Mute", kMusic};
    case Glyph::Search: return {Pictogram::Lens, "Search", kAsk};
  }
  return {Pictogram::Check, "", kAsk};
}

QColor Grey(const QColor& colour) {
  const int g = qGray(colour.rgb());
  return QColor(g, g, g);
}

// ---------------------------------------------------------------- face

void DrawBody(QPainter& p, const QRectF& area, QColor base, GlyphState state) {
  if (state == GlyphState::Disabled) base = Grey(base).darker(115);
  if (state == GlyphState::StaysDown) base = kLit;
  const bool pressed = state == GlyphState::Down || state == GlyphState::StaysDown;
  const qreal radius = std::min(area.height(), area.width()) * 0.28;
  const QRectF body = area.adjusted(1, 1, -1, -1);

  // A soft drop shadow under a raised face; none under a pressed one.
  if (!pressed) {
    QPainterPath shadow;
    shadow.addRoundedRect(body.translated(0, 1.5), radius, radius);
    p.fillPath(shadow, QColor(0, 0, 0, 90));
  }

  QPainterPath outline;
  outline.addRoundedRect(body, radius, radius);
  QLinearGradient fill(body.topLeft(), body.bottomLeft());
  if (pressed) {
    fill.setColorAt(0, base.darker(150));
    fill.setColorAt(0.5, base.darker(115));
    fill.setColorAt(1, base.lighter(105));
  } else {
    fill.setColorAt(0, base.lighter(145));
    fill.setColorAt(0.48, base);
    fill.setColorAt(0.52, base.darker(112));
    fill.setColorAt(1, base.darker(135));
  }
  p.fillPath(outline, fill);

  // The gloss: a pale sheet over the upper half.
  const QRectF sheetArea(body.left() + 2, body.top() + 1.5, body.width() - 4, body.height() * 0.46);
  QPainterPath sheet;
  sheet.addRoundedRect(sheetArea, radius * 0.8, radius * 0.8);
  QLinearGradient gloss(sheetArea.topLeft(), sheetArea.bottomLeft());
  const int top = state == GlyphState::Disabled ? 70 : (pressed ? 45 : 150);
  gloss.setColorAt(0, QColor(255, 255, 255, top));
  gloss.setColorAt(1, QColor(255, 255, 255, 10));
  p.fillPath(sheet, gloss);

  if (pressed) {
    // Pressed in: the upper edge in shadow.
    QLinearGradient inner(body.topLeft(), body.topLeft() + QPointF(0, 6));
    inner.setColorAt(0, QColor(0, 0, 0, 110));
    inner.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(outline, inner);
  }

  p.setPen(QPen(QColor(10, 18, 48, 230), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(outline);
  p.setPen(QPen(QColor(255, 255, 255, pressed ? 30 : 90), 1));
  p.drawRoundedRect(body.adjusted(1.2, 1.2, -1.2, -1.2), radius - 1, radius - 1);

  if (state == GlyphState::StaysDown) {
    // A lamp that is on.
    const qreal d = std::max<qreal>(5, area.height() * 0.11);
    const QPointF centre(body.right() - radius * 0.55 - d / 2, body.top() + radius * 0.55 + d / 2);
    QRadialGradient glow(centre, d * 1.6);
    glow.setColorAt(0, QColor(255, 255, 200, 255));
    glow.setColorAt(0.35, QColor(255, 220, 60, 230));
    glow.setColorAt(1, QColor(255, 200, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(centre, d * 1.6, d * 1.6);
  }
}

// ---------------------------------------------------------------- pictograms

QPen Stroke(qreal width, const QColor& colour) {
  QPen pen(colour, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// Draws one pictogram into the square r, in colour c.
void DrawPictogram(QPainter& p, Pictogram pictogram, const QRectF& r, const QColor& c) {
  const qreal s = r.width();
  const qreal w = std::max<qreal>(2.0, s * 0.13);
  auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * s, r.top() + y * s); };
  p.setBrush(Qt::NoBrush);
  switch (pictogram) {
    case Pictogram::Check: {
      p.setPen(Stroke(w * 1.25, c));
      const QPointF pts[] = {at(0.12, 0.55), at(0.40, 0.82), at(0.90, 0.20)};
      p.drawPolyline(pts, 3);
      break;
    }
    case Pictogram::Cross:
      p.setPen(Stroke(w * 1.2, c));
      p.drawLine(at(0.18, 0.18), at(0.82, 0.82));
      p.drawLine(at(0.82, 0.18), at(0.18, 0.82));
      break;
    case Pictogram::Door: {
      // An open door frame and an arrow leaving through it.
      p.setPen(Stroke(w * 0.8, c));
      const QPointF frame[] = {at(0.52, 0.30), at(0.52, 0.08), at(0.08, 0.08), at(0.08, 0.92), at(0.52, 0.92),
                               at(0.52, 0.70)};
      p.drawPolyline(frame, 6);
      QPainterPath leaf;
      leaf.moveTo(at(0.08, 0.08));
      leaf.lineTo(at(0.34, 0.18));
      leaf.lineTo(at(0.34, 1.0));
      leaf.lineTo(at(0.08, 0.92));
      leaf.closeSubpath();
      p.fillPath(leaf, c);
      p.setPen(Stroke(w, c));
      p.drawLine(at(0.44, 0.50), at(0.86, 0.50));
      const QPointF head[] = {at(0.70, 0.32), at(0.92, 0.50), at(0.70, 0.68)};
      p.drawPolyline(head, 3);
      break;
    }
    case Pictogram::Question: {
      p.setPen(Stroke(w * 0.7, c));
      p.drawEllipse(r.adjusted(s * 0.05, s * 0.05, -s * 0.05, -s * 0.05));
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setBold(true);
      font.setPixelSize(std::max(6, static_cast<int>(s * 0.66)));
      p.setFont(font);
      p.setPen(c);
      p.drawText(r.translated(0, s * 0.02), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case Pictogram::Globe: {
      const QRectF ball = r.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06);
      p.setPen(Stroke(w * 0.6, c));
      p.drawEllipse(ball);
      p.drawEllipse(ball.adjusted(ball.width() * 0.28, 0, -ball.width() * 0.28, 0));
      p.drawLine(QPointF(ball.center().x(), ball.top()), QPointF(ball.center().x(), ball.bottom()));
      p.drawLine(QPointF(ball.left(), ball.center().y()), QPointF(ball.right(), ball.center().y()));
      const qreal y1 = ball.top() + ball.height() * 0.24, y2 = ball.bottom() - ball.height() * 0.24;
      const qreal inset = ball.width() * 0.08;
      p.drawLine(QPointF(ball.left() + inset, y1), QPointF(ball.right() - inset, y1));
      p.drawLine(QPointF(ball.left() + inset, y2), QPointF(ball.right() - inset, y2));
      break;
    }
    case Pictogram::Reload: {
      const QRectF ring = r.adjusted(s * 0.14, s * 0.14, -s * 0.14, -s * 0.14);
      p.setPen(Stroke(w, c));
      p.drawArc(ring, 60 * 16, 290 * 16);
      // Arrowhead at the arc's open end, pointing along it.
      const qreal a = 60.0 * M_PI / 180.0;
      const QPointF tip(ring.center().x() + ring.width() / 2 * std::cos(a),
                        ring.center().y() - ring.height() / 2 * std::sin(a));
      QPainterPath head;
      head.moveTo(tip + QPointF(s * 0.20, -s * 0.02));
      head.lineTo(tip + QPointF(-s * 0.10, -s * 0.20));
      head.lineTo(tip + QPointF(-s * 0.04, s * 0.16));
      head.closeSubpath();
      p.setPen(Stroke(w * 0.4, c));
      p.setBrush(c);
      p.drawPath(head);
      break;
    }
    case Pictogram::Pawn: {
      QPainterPath pawn;
      pawn.addEllipse(QRectF(at(0.34, 0.04), at(0.66, 0.36)));
      pawn.moveTo(at(0.40, 0.36));
      pawn.lineTo(at(0.60, 0.36));
      pawn.cubicTo(at(0.62, 0.55), at(0.70, 0.70), at(0.78, 0.80));
      pawn.lineTo(at(0.86, 0.80));
      pawn.lineTo(at(0.86, 0.96));
      pawn.lineTo(at(0.14, 0.96));
      pawn.lineTo(at(0.14, 0.80));
      pawn.lineTo(at(0.22, 0.80));
      pawn.cubicTo(at(0.30, 0.70), at(0.38, 0.55), at(0.40, 0.36));
      pawn.closeSubpath();
      pawn.setFillRule(Qt::WindingFill);
      p.fillPath(pawn, c);
      // A collar line that reads well at small sizes.
      p.setPen(Stroke(std::max<qreal>(1.0, s * 0.05), QColor(0, 0, 0, 70)));
      p.drawLine(at(0.34, 0.42), at(0.66, 0.42));
      break;
    }
    case Pictogram::CheckRing: {
      p.setPen(Stroke(w * 0.7, c));
      p.drawEllipse(r.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04));
      p.setPen(Stroke(w, c));
      const QPointF pts[] = {at(0.26, 0.52), at(0.44, 0.70), at(0.76, 0.32)};
      p.drawPolyline(pts, 3);
      break;
    }
    case Pictogram::NoEntry: {
      const QRectF ring = r.adjusted(s * 0.08, s * 0.08, -s * 0.08, -s * 0.08);
      p.setPen(Stroke(w * 1.05, c));
      p.drawEllipse(ring);
      const qreal k = ring.width() / 2 * 0.7071;
      p.drawLine(ring.center() + QPointF(-k, -k), ring.center() + QPointF(k, k));
      break;
    }
    case Pictogram::NotePlay: {
      // Two beamed notes, and a small play sign.
      p.setPen(Stroke(w * 0.55, c));
      p.setBrush(c);
      p.drawEllipse(QRectF(at(0.04, 0.66), at(0.30, 0.86)));
      p.drawEllipse(QRectF(at(0.40, 0.58), at(0.66, 0.78)));
      p.drawLine(at(0.28, 0.74), at(0.28, 0.14));
      p.drawLine(at(0.64, 0.66), at(0.64, 0.06));
      QPainterPath beam;
      beam.moveTo(at(0.28, 0.14));
      beam.lineTo(at(0.64, 0.06));
      beam.lineTo(at(0.64, 0.18));
      beam.lineTo(at(0.28, 0.26));
      beam.closeSubpath();
      p.fillPath(beam, c);
      QPainterPath play;
      play.moveTo(at(0.72, 0.60));
      play.lineTo(at(1.0, 0.78));
      play.lineTo(at(0.72, 0.96));
      play.closeSubpath();
      p.fillPath(play, c);
      break;
    }
    case Pictogram::Mute: {
      // A loudspeaker struck through: press to be quiet.
      QPainterPath speaker;
      speaker.moveTo(at(0.04, 0.36));
      speaker.lineTo(at(0.22, 0.36));
      speaker.lineTo(at(0.46, 0.12));
      speaker.lineTo(at(0.46, 0.88));
      speaker.lineTo(at(0.22, 0.64));
      speaker.lineTo(at(0.04, 0.64));
      speaker.closeSubpath();
      p.fillPath(speaker, c);
      p.setPen(Stroke(w * 0.8, c));
      p.drawLine(at(0.60, 0.34), at(0.92, 0.66));
      p.drawLine(at(0.92, 0.34), at(0.60, 0.66));
      break;
    }
    case Pictogram::Lens: {
      const QRectF glass(at(0.06, 0.06), at(0.66, 0.66));
      QRadialGradient shine(glass.center() - QPointF(glass.width() * 0.15, glass.height() * 0.15),
                            glass.width() * 0.6);
      shine.setColorAt(0, QColor(255, 255, 255, 120));
      shine.setColorAt(1, QColor(255, 255, 255, 20));
      p.setPen(Qt::NoPen);
      p.setBrush(shine);
      p.drawEllipse(glass);
      p.setBrush(Qt::NoBrush);
      p.setPen(Stroke(w * 0.9, c));
      p.drawEllipse(glass);
      p.setPen(Stroke(w * 1.5, c));
      p.drawLine(at(0.62, 0.62), at(0.92, 0.92));
      break;
    }
  }
}

// ---------------------------------------------------------------- the word

QFont WordFont(qreal pixelSize) {
  QFont font(QStringLiteral("DejaVu Sans Condensed"));
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  font.setPixelSize(std::max(7, static_cast<int>(pixelSize)));
  return font;
}

// The largest bold face up to wanted that fits the word into width.
QFont FittingFont(const QString& word, qreal wanted, qreal width) {
  for (qreal size = wanted; size > 7; size -= 0.5) {
    QFont font = WordFont(size);
    if (QFontMetricsF(font).horizontalAdvance(word) <= width) return font;
  }
  return WordFont(7);
}

void DrawWord(QPainter& p, const QString& word, const QRectF& box, const QFont& font, const QColor& colour,
              Qt::Alignment align) {
  p.setFont(font);
  p.setPen(QColor(0, 0, 0, 120));
  p.drawText(box.translated(0.8, 1.0), align, word);
  p.setPen(colour);
  p.drawText(box, align, word);
}

QPixmap Render(Glyph glyph, QSize size, GlyphState state) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  if (size.isEmpty()) return pixmap;
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Face face = FaceOf(glyph);
  const QRectF area(0, 0, size.width(), size.height());
  DrawBody(p, area, face.colour, state);

  const bool pressed = state == GlyphState::Down || state == GlyphState::StaysDown;
  if (pressed) p.translate(1, 1);
  const QColor ink = state == GlyphState::Disabled ? QColor(235, 235, 235, 120) : QColor(255, 255, 255);
  const QString word = QString::fromLatin1(face.word);

  // Pictogram shadow and pictogram; then the word beside it (wide faces)
  // or under it (square ones).
  const qreal h = area.height(), wdt = area.width();
  if (wdt >= h * 1.35) {
    const qreal side = std::round(h * 0.52);
    const qreal margin = std::max<qreal>(5, h * 0.16);
    const QRectF icon(margin, (h - side) / 2, side, side);
    DrawPictogram(p, face.pictogram, icon.translated(0.8, 1.0), QColor(0, 0, 0, 110));
    DrawPictogram(p, face.pictogram, icon, ink);
    const QRectF text(icon.right() + 3, 0, wdt - icon.right() - 3 - margin * 0.5, h);
    DrawWord(p, word, text, FittingFont(word, h * 0.34, text.width()), ink, Qt::AlignCenter);
  } else {
    const qreal side = std::round(std::min(wdt, h) * 0.50);
    const QRectF icon((wdt - side) / 2, h * 0.12, side, side);
    DrawPictogram(p, face.pictogram, icon.translated(0.8, 1.0), QColor(0, 0, 0, 110));
    DrawPictogram(p, face.pictogram, icon, ink);
    const QRectF text(4, icon.bottom() + 1, wdt - 8, h - icon.bottom() - 1 - h * 0.08);
    DrawWord(p, word, text, FittingFont(word, h * 0.19, text.width()), ink, Qt::AlignCenter);
  }
  return pixmap;
}

QString CacheKey(const char* what, int id, QSize size, int state) {
  return QStringLiteral("lobby:%1:%2:%3x%4:%5")
      .arg(QLatin1String(what))
      .arg(id)
      .arg(size.width())
      .arg(size.height())
      .arg(state);
}

// ---------------------------------------------------------------- pictures

// A head-and-shoulders figure standing in the box.
void DrawFigure(QPainter& p, const QRectF& box, const QColor& colour) {
  const qreal w = box.width(), h = box.height();
  QPainterPath figure;
  figure.addEllipse(QRectF(box.left() + w * 0.30, box.top(), w * 0.40, h * 0.42));
  QPainterPath body;
  body.moveTo(box.left(), box.bottom());
  body.cubicTo(box.left(), box.top() + h * 0.52, box.left() + w * 0.2, box.top() + h * 0.47,
               box.center().x(), box.top() + h * 0.47);
  body.cubicTo(box.right() - w * 0.2, box.top() + h * 0.47, box.right(), box.top() + h * 0.52, box.right(),
               box.bottom());
  body.closeSubpath();
  figure.addPath(body);
  figure.setFillRule(Qt::WindingFill);
  p.fillPath(figure, colour);
}

QPixmap RenderQueryPicture(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  if (size.isEmpty()) return pixmap;
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = size.width(), h = size.height();
  const QRectF all(0, 0, w, h);

  QLinearGradient sky(all.topLeft(), all.bottomLeft());
  sky.setColorAt(0, QColor(16, 36, 96));
  sky.setColorAt(1, QColor(4, 10, 40));
  p.fillRect(all, sky);
  // A faint grid, like a room seen from above.
  p.setPen(QPen(QColor(90, 140, 255, 28), 1));
  for (qreal x = 8; x < w; x += 14) p.drawLine(QPointF(x, 0), QPointF(x, h));
  for (qreal y = 8; y < h; y += 14) p.drawLine(QPointF(0, y), QPointF(w, y));

  // Players standing about in the lobby.
  struct Spot {
    qreal x, y, scale;
    int alpha;
  };
  const Spot spots[] = {{0.08, 0.16, 0.20, 90}, {0.62, 0.10, 0.22, 110}, {0.36, 0.28, 0.18, 70},
                        {0.72, 0.46, 0.20, 90}, {0.06, 0.48, 0.22, 100}, {0.38, 0.40, 0.26, 160}};
  for (const Spot& s : spots) {
    const qreal side = w * s.scale * 1.3;
    DrawFigure(p, QRectF(w * s.x, h * s.y, side, side * 1.05), QColor(150, 190, 255, s.alpha));
  }

  // The magnifier over the nearest one.
  const qreal r = w * 0.23;
  const QPointF centre(w * 0.50, h * 0.48);
  QRadialGradient lens(centre - QPointF(r * 0.3, r * 0.3), r * 1.2);
  lens.setColorAt(0, QColor(255, 255, 255, 90));
  lens.setColorAt(1, QColor(160, 210, 255, 25));
  p.setBrush(lens);
  p.setPen(QPen(QColor(240, 200, 90), std::max<qreal>(3, w * 0.035)));
  p.drawEllipse(centre, r, r);
  QPen handle(QColor(240, 200, 90), std::max<qreal>(5, w * 0.06));
  handle.setCapStyle(Qt::RoundCap);
  p.setPen(handle);
  const QPointF from = centre + QPointF(r * 0.72, r * 0.72);
  p.drawLine(from, from + QPointF(r * 0.7, r * 0.7));
  p.setPen(QPen(QColor(255, 255, 255, 160), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(centre - QPointF(r * 0.7, r * 0.7), QSizeF(r * 1.4, r * 1.4)), 100 * 16, 70 * 16);

  // What is going on, in words.
  const QFont font = WordFont(std::max<qreal>(9, h * 0.07));
  DrawWord(p, QStringLiteral("Searching the"), QRectF(0, h * 0.80, w, h * 0.09), font, QColor(255, 255, 255),
           Qt::AlignCenter);
  DrawWord(p, QStringLiteral("lobby\u2026"), QRectF(0, h * 0.89, w, h * 0.09), font, QColor(255, 224, 120),
           Qt::AlignCenter);
  p.setPen(QPen(QColor(120, 160, 255, 120), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
  return pixmap;
}

QPixmap RenderSexPicture(QSize size, bool female) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  if (size.isEmpty()) return pixmap;
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = std::min(size.width(), size.height());
  const QRectF badge(1, 1, s - 2, s - 2);
  const QColor base = female ? QColor(214, 64, 140) : QColor(40, 110, 220);
  QRadialGradient fill(badge.center() - QPointF(s * 0.18, s * 0.2), s * 0.75);
  fill.setColorAt(0, base.lighter(150));
  fill.setColorAt(1, base.darker(130));
  p.setPen(QPen(QColor(10, 18, 48), 1));
  p.setBrush(fill);
  p.drawEllipse(badge);

  QPen pen(Qt::white, std::max<qreal>(2.0, s * 0.09));
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const qreal ring = s * 0.36;
  if (female) {
    // A ring with a cross below.
    const QRectF circle(s * 0.5 - ring / 2, s * 0.16, ring, ring);
    p.drawEllipse(circle);
    const qreal x = s * 0.5;
    p.drawLine(QPointF(x, circle.bottom()), QPointF(x, s * 0.86));
    p.drawLine(QPointF(x - s * 0.13, s * 0.72), QPointF(x + s * 0.13, s * 0.72));
  } else {
    // A ring with an arrow to the upper right.
    const QRectF circle(s * 0.20, s * 0.40, ring, ring);
    p.drawEllipse(circle);
    const qreal k = ring / 2 * 0.7071;
    const QPointF start = circle.center() + QPointF(k, -k);
    const QPointF tip(s * 0.80, s * 0.20);
    p.drawLine(start, tip);
    p.drawLine(tip, tip + QPointF(-s * 0.22, 0));
    p.drawLine(tip, tip + QPointF(0, s * 0.22));
  }
  return pixmap;
}

template <typename Draw>
QPixmap Cached(const QString& key, Draw draw) {
  QPixmap pixmap;
  if (QPixmapCache::find(key, &pixmap)) return pixmap;
  pixmap = draw();
  QPixmapCache::insert(key, pixmap);
  return pixmap;
}

}  // namespace

QPixmap DrawGlyph(Glyph glyph, QSize size, GlyphState state) {
  return Cached(CacheKey("glyph", static_cast<int>(glyph), size, static_cast<int>(state)),
                [&] { return Render(glyph, size, state); });
}

QPixmap DrawQueryPicture(QSize size) {
  return Cached(CacheKey("query", 0, size, 0), [&] { return RenderQueryPicture(size); });
}

QPixmap DrawMalePicture(QSize size) {
  return Cached(CacheKey("sex", 0, size, 0), [&] { return RenderSexPicture(size, false); });
}

QPixmap DrawFemalePicture(QSize size) {
  return Cached(CacheKey("sex", 1, size, 0), [&] { return RenderSexPicture(size, true); });
}

}  // namespace lobby
