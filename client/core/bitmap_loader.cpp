#include "bitmap_loader.hpp"

#include <map>
#include <system_error>

namespace lobby {

namespace {

QImage Decode(const QString& path) { return QImage(path); }

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
