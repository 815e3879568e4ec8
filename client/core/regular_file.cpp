#include "regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace lobby {

RegularFile::RegularFile(const std::string& nativePath, std::size_t maxBytes) {
  // Not blocking: a pipe or device under the name is refused after the open.
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    close(fd);
    return;
  }
  fd_ = fd;
  size_ = st.st_size;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) close(fd_);
}

int RegularFile::release() { return std::exchange(fd_, -1); }

std::optional<std::string> ReadRegularFile(const std::string& nativePath, std::size_t maxBytes) {
  const RegularFile file(nativePath, maxBytes);
  if (!file.ok()) return std::nullopt;
  std::string text;
  char chunk[16384];
  for (;;) {
    const ssize_t n = read(file.fd(), chunk, sizeof chunk);
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
    if (n == 0) return text;
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace lobby
