#include "bitmap_loader.hpp"

#include <QFile>
#include <QImageReader>
#include <map>
#include <system_error>

#include "regular_file.hpp"

namespace lobby {

namespace {

// A background is a few hundred kilobytes; a file far larger, or a pipe or
// device under the name, is no picture (and a pipe would hold the decoding,
// and the window's first paint, for good).
constexpr std::size_t kMaxBitmapBytes = std::size_t{64} << 20;

QImage Decode(const QString& path) {
  RegularFile regular(QFile::encodeName(path).toStdString(), kMaxBitmapBytes);
  QFile file;
  if (!regular.ok() || !file.open(regular.fd(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return QImage();
  regular.release();  // the file closes it
  QImageReader reader(&file);
  return reader.read();
}

std::shared_future<QImage> Start(const QString& path) {
  try {
    return std::async(std::launch::async, Decode, path).share();
  } catch (const std::system_error&) {
    // No thread to be had: decoded when taken, on the GUI thread.
    return std::async(std::launch::deferred, Decode, path).share();
  }
}

}  // namespace

PendingBitmap::PendingBitmap(const QString& path) {
  // The pictures stay for the life of the program, as the windows do.
  static std::map<QString, std::shared_future<QImage>> decodings;
  auto it = decodings.find(path);
  if (it == decodings.end()) it = decodings.emplace(path, Start(path)).first;
  image_ = it->second;
}

QImage PendingBitmap::Take() {
  if (!image_.valid()) return QImage();
  QImage image = image_.get();
  image_ = {};
  return image;
}

}  // namespace lobby
