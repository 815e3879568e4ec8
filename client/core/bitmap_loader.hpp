// bitmap_loader.hpp - background bitmaps decoded off the GUI thread
// (internal).
//
// Every window loads its background when it is made, at start-up, but
// needs it only when it is first painted: the file is decoded on a thread
// of its own meanwhile, and the window takes the picture when it paints.
// A file is decoded once however many windows load it; they share the
// picture. A missing or unreadable file gives an empty picture, and so does
// anything but a regular file of at most 64 MiB.
#pragma once

#include <QImage>
#include <QString>
#include <future>

namespace lobby {

class PendingBitmap {
 public:
  PendingBitmap() = default;
  // Starts decoding the file, or joins the decoding of it already started.
  // GUI thread only.
  explicit PendingBitmap(const QString& path);

  bool pending() const { return image_.valid(); }
  // Waits for the decoding, if it has not ended, and hands the picture
  // over; after that nothing is pending.
  QImage Take();

 private:
  std::shared_future<QImage> image_;
};

}  // namespace lobby
