// make_bitmaps - draws the client's two background bitmaps (build tool).
//
//   make_bitmaps OUT_DIR   writes OUT_DIR/Cv_first.bmp and OUT_DIR/Cv_sec.bmp
//
// Cv_first.bmp is the splash picture (640 x 480, shown once); Cv_sec.bmp is a
// tile that the main window and the dialogs repeat over their whole area, so
// it wraps seamlessly and stays dark enough for white labels on top of it.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A board seen from above at an angle: a checkered field whose rows narrow
// towards the horizon.
void DrawBoard(QPainter& p, QRectF area) {
  const int columns = 8, rows = 6;
  const double topWidth = area.width() * 0.55;
  const QPointF centre(area.center().x(), area.top());
  auto corner = [&](double column, double row) {
    const double t = row / rows;
    const double depth = t * t * 0.35 + t * 0.65;  // rows grow towards the viewer
    const double width = topWidth + (area.width() - topWidth) * depth;
    return QPointF(centre.x() - width / 2 + width * column / columns, area.top() + area.height() * depth);
  };
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      QPolygonF cell;
      cell << corner(c, r) << corner(c + 1, r) << corner(c + 1, r + 1) << corner(c, r + 1);
      const bool light = (r + c) % 2 == 0;
      const int fade = 40 + 150 * (r + 1) / rows;
      p.setPen(QPen(QColor(255, 215, 120, fade / 2), 1));
      p.setBrush(light ? QColor(236, 196, 120, fade) : QColor(70, 30, 90, fade));
      p.drawPolygon(cell);
    }
  }
}

// A playing piece: a lit disc with a rim and a highlight.
void DrawPiece(QPainter& p, QPointF at, double radius, QColor colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 90));
  p.drawEllipse(at + QPointF(radius * 0.15, radius * 0.35), radius, radius * 0.55);
  QRadialGradient body(at - QPointF(radius * 0.3, radius * 0.4), radius * 1.4);
  body.setColorAt(0, colour.lighter(170));
  body.setColorAt(0.6, colour);
  body.setColorAt(1, colour.darker(220));
  p.setBrush(body);
  p.drawEllipse(at, radius, radius * 0.62);
  p.setBrush(QColor(255, 255, 255, 70));
  p.drawEllipse(at - QPointF(radius * 0.35, radius * 0.25), radius * 0.3, radius * 0.14);
}

QImage Splash() {
  QImage image(640, 480, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 0, 480);
  sky.setColorAt(0, QColor(12, 10, 48));
  sky.setColorAt(0.55, QColor(58, 22, 86));
  sky.setColorAt(1, QColor(20, 8, 30));
  p.fillRect(image.rect(), sky);

  // A low sun behind the board, and a few rays.
  QRadialGradient glow(QPointF(320, 250), 260);
  glow.setColorAt(0, QColor(255, 170, 80, 150));
  glow.setColorAt(0.4, QColor(220, 80, 90, 60));
  glow.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillRect(image.rect(), glow);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 14; ++i) {
    const double a = kPi + kPi * (i + 0.5) / 14;
    QPainterPath ray;
    ray.moveTo(320, 250);
    ray.lineTo(320 + 700 * std::cos(a - 0.04), 250 + 700 * std::sin(a - 0.04));
    ray.lineTo(320 + 700 * std::cos(a + 0.04), 250 + 700 * std::sin(a + 0.04));
    ray.closeSubpath();
    p.setBrush(QColor(255, 200, 120, 14));
    p.drawPath(ray);
  }
  // Stars from a fixed pseudo-random sequence, so that every build draws the
  // same sky.
  unsigned seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xffff;
  };
  for (int i = 0; i < 90; ++i) {
    const double x = next() % 640;
    const double y = next() % 220;
    const int a = 60 + next() % 150;
    p.setBrush(QColor(255, 250, 230, a));
    const double r = (i % 7 == 0) ? 1.6 : 0.9;
    p.drawEllipse(QPointF(x, y), r, r);
  }

  DrawBoard(p, QRectF(40, 250, 560, 140));
  DrawPiece(p, QPointF(250, 300), 22, QColor(190, 30, 40));
  DrawPiece(p, QPointF(395, 330), 26, QColor(30, 90, 190));
  DrawPiece(p, QPointF(330, 280), 17, QColor(190, 30, 40));

  // The title, with a shadow and a gold face.
  QFont title(QStringLiteral("Serif"));
  title.setPixelSize(54);
  title.setBold(true);
  p.setFont(title);
  const QRect titleBox(0, 70, 640, 70);
  p.setPen(QColor(0, 0, 0, 160));
  p.drawText(titleBox.translated(3, 3), Qt::AlignCenter, QStringLiteral("QOR's Corvane"));
  QLinearGradient gold(0, 80, 0, 135);
  gold.setColorAt(0, QColor(255, 236, 160));
  gold.setColorAt(1, QColor(214, 150, 40));
  p.setPen(QPen(QBrush(gold), 1));
  p.drawText(titleBox, Qt::AlignCenter, QStringLiteral("QOR's Corvane"));
  QFont subtitle(QStringLiteral("Sans Serif"));
  subtitle.setPixelSize(20);
  subtitle.setLetterSpacing(QFont::AbsoluteSpacing, 6);
  p.setFont(subtitle);
  p.setPen(QColor(240, 220, 255, 220));
  p.drawText(QRect(0, 140, 640, 30), Qt::AlignCenter, QStringLiteral("A GAME FOR TWO"));
  return image;
}

// A seamless tile: interlocking diamonds in deep blue with a fine gold
// lattice, everything periodic in the tile's size.
QImage Tile() {
  const int n = 96;
  QImage image(n, n, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient base(0, 0, n, n);
  base.setColorAt(0, QColor(18, 34, 72));
  base.setColorAt(0.5, QColor(26, 48, 96));
  base.setColorAt(1, QColor(18, 34, 72));
  p.fillRect(image.rect(), base);
  const double h = n / 2.0;
  // Diamonds centred on the corners and the middle, drawn with copies
  // shifted by the tile size so that edges continue on the other side.
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (const QPointF c : {QPointF(0, 0), QPointF(h, h)}) {
        const QPointF at = c + QPointF(dx * n, dy * n);
        QPolygonF diamond;
        diamond << at + QPointF(0, -h * 0.8) << at + QPointF(h * 0.8, 0) << at + QPointF(0, h * 0.8)
                << at + QPointF(-h * 0.8, 0);
        QRadialGradient fill(at, h * 0.8);
        fill.setColorAt(0, QColor(44, 78, 140));
        fill.setColorAt(1, QColor(24, 44, 90));
        p.setBrush(fill);
        p.setPen(QPen(QColor(200, 170, 90, 110), 1.2));
        p.drawPolygon(diamond);
        p.setBrush(QColor(220, 190, 110, 120));
        p.setPen(Qt::NoPen);
        p.drawEllipse(at, 2.2, 2.2);
      }
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bitmaps OUT_DIR\n");
    return 2;
  }
  // Fonts need a GUI application, not a screen.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) return 1;
  if (!Splash().save(out.filePath("Cv_first.bmp"), "BMP")) return 1;
  if (!Tile().save(out.filePath("Cv_sec.bmp"), "BMP")) return 1;
  return 0;
}
