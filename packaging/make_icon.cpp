// make_icon - draws the client's application icon (a PNG of the given size)
// at build time: four discs of a two-player game in a rounded blue frame.
//
//   make_icon OUTPUT.png [SIZE]
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.png [SIZE]\n");
    return 2;
  }
  const int size = argc > 2 ? std::atoi(argv[2]) : 256;
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "make_icon: size must be 16..1024\n");
    return 2;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;

  // The board: a rounded square in deep blue with a lighter rim.
  QRectF board(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
  QLinearGradient boardFill(board.topLeft(), board.bottomRight());
  boardFill.setColorAt(0, QColor(40, 90, 200));
  boardFill.setColorAt(1, QColor(12, 36, 110));
  p.setPen(QPen(QColor(150, 190, 255), s * 0.025));
  p.setBrush(boardFill);
  p.drawRoundedRect(board, s * 0.16, s * 0.16);

  // Two by two holes: red and yellow discs, one hole still empty.
  const QColor colours[4] = {QColor(230, 50, 50), QColor(250, 205, 40), QColor(250, 205, 40), QColor()};
  const double cell = board.width() / 2;
  for (int i = 0; i < 4; ++i) {
    const QPointF centre(board.left() + cell * (i % 2 + 0.5), board.top() + cell * (i / 2 + 0.5));
    const double r = cell * 0.36;
    if (!colours[i].isValid()) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(5, 15, 50));
      p.drawEllipse(centre, r, r);
      continue;
    }
    QRadialGradient disc(centre - QPointF(r * 0.35, r * 0.35), r * 1.3);
    disc.setColorAt(0, colours[i].lighter(150));
    disc.setColorAt(1, colours[i].darker(130));
    p.setPen(QPen(colours[i].darker(170), s * 0.012));
    p.setBrush(disc);
    p.drawEllipse(centre, r, r);
  }
  p.end();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
