// Background bitmaps decoded aside: each file once, shared by the windows
// that load it, and the same picture as a plain read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QColor>
#include <QImage>

#include "core/bitmap_loader.hpp"
#include "platform/temp_files.hpp"

using lobby::PendingBitmap;
using test_support::TempDir;

namespace {

QString Saved(const TempDir& dir, const char* name, QColor colour) {
  QImage image(48, 32, QImage::Format_RGB32);
  image.fill(colour);
  image.setPixelColor(47, 31, Qt::white);
  const QString path = QString::fromStdString(dir / name);
  EXPECT_TRUE(image.save(path, "BMP"));
  return path;
}

TEST(PendingBitmap, OneDecodingSharedByEveryWindowThatLoadsTheFile) {
  TempDir dir;
  const QString tile = Saved(dir, "tile.bmp", QColor(20, 40, 160));
  PendingBitmap first(tile), second(tile);
  ASSERT_TRUE(first.pending());
  const QImage a = first.Take();
  const QImage b = second.Take();
  EXPECT_EQ(a, QImage(tile));
  EXPECT_EQ(a.size(), QSize(48, 32));
  EXPECT_EQ(a.pixelColor(47, 31), QColor(Qt::white));
  // Shared, not decoded twice.
  EXPECT_EQ(a.cacheKey(), b.cacheKey());
  EXPECT_FALSE(first.pending());
  EXPECT_TRUE(first.Take().isNull());

  const QString other = Saved(dir, "other.bmp", QColor(160, 40, 20));
  EXPECT_NE(PendingBitmap(other).Take().cacheKey(), a.cacheKey());
}

TEST(PendingBitmap, AMissingOrBrokenFileIsAnEmptyPicture) {
  TempDir dir;
  EXPECT_TRUE(PendingBitmap(QString::fromStdString(dir / "missing.bmp")).Take().isNull());
  test_support::WriteFile(dir / "broken.bmp", "BM but not a bitmap");
  EXPECT_TRUE(PendingBitmap(QString::fromStdString(dir / "broken.bmp")).Take().isNull());
  // A pipe would never give its bytes: no decoding waits on it.
  const std::string pipe = dir / "pipe.bmp";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_TRUE(PendingBitmap(QString::fromStdString(pipe)).Take().isNull());
  EXPECT_FALSE(PendingBitmap().pending());
  EXPECT_TRUE(PendingBitmap().Take().isNull());
}

}  // namespace
