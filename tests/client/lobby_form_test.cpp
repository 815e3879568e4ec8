// A form's background: its bitmap repeated from the top-left corner, a
// bitmap's width and height at a time, whatever the bitmap's size.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "core/lobby_form.hpp"
#include "platform/temp_files.hpp"

namespace {

using lobby::LobbyForm;
using test_support::ScopedEnv;
using test_support::TempDir;

QImage Tile(int width, int height) {
  QImage tile(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) tile.setPixel(x, y, qRgb(40 * x + 10, 60 * y + 20, 7 * (x + y)));
  return tile;
}

TEST(FormBackground, TheBitmapIsRepeatedFromTheTopLeftCorner) {
  TempDir dir;
  ScopedEnv drives("LOBBY_DRIVES", dir.path().c_str());
  test_support::WriteFile(dir / "c/x", "");
  // Tiny, odd-sized and larger than the form: each covers it the same way.
  for (const QSize size : {QSize(1, 1), QSize(3, 2), QSize(37, 23), QSize(700, 500)}) {
    const QImage tile = Tile(size.width(), size.height());
    const std::string name = "tile" + std::to_string(size.width()) + ".bmp";
    ASSERT_TRUE(tile.save(QString::fromStdString(dir / ("c/" + name)), "BMP"));
    LobbyForm form("tiled", 100, 80);
    form.LoadBackground("C:\\" + name);
    ASSERT_TRUE(form.hasBackground());
    const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(100, 80));
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(5, 3), QPoint(38, 24), QPoint(99, 79), QPoint(50, 41)})
      EXPECT_EQ(shown.pixel(p), tile.pixel(p.x() % size.width(), p.y() % size.height()))
          << size.width() << "x" << size.height() << " at " << p.x() << "," << p.y();
  }
}

}  // namespace
