#include "profile_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace lobby {

std::string NativePath(const std::string& windowsPath) {
  std::vector<char> buffer(windowsPath.size() + 4096);
  const unsigned length =
      plat_native_path(windowsPath.c_str(), buffer.data(), static_cast<unsigned>(buffer.size()));
  if (length == 0) return windowsPath;
  return std::string(buffer.data(), length);
}

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& file) {
  char buffer[kIniBufferSize] = {};
  // The default of one blank reads as empty: the reader strips it.
  plat_get_private_profile_string(section.c_str(), key.c_str(), " ", buffer, kIniBufferSize,
                                  NativePath(file).c_str());
  return buffer;
}

bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file) {
  return plat_write_private_profile_string(section.c_str(), key.c_str(), value.c_str(),
                                           NativePath(file).c_str()) != 0;
}

std::optional<std::string> ReadRegularFile(const std::string& nativePath, std::size_t maxBytes) {
  // Not blocking: a pipe or device under the name is refused after the open.
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> text;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) <= maxBytes) {
    text.emplace();
    char chunk[16384];
    for (;;) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      // A file that grows while it is read is held to the same bound.
      if (n < 0 || text->size() + static_cast<std::size_t>(n) > maxBytes) {
        text.reset();
        break;
      }
      if (n == 0) break;
      text->append(chunk, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return text;
}

std::optional<std::string> ReadSmallFile(const std::string& windowsPath) {
  return ReadRegularFile(NativePath(windowsPath), kMaxIniFileBytes);
}

std::string ReadInstallDir() {
  char buffer[kIniBufferSize] = {};
  plat_get_profile_string("QORGames", "CorvanePath", "C:", buffer, kIniBufferSize);
  return std::string(buffer) + "\\";
}

}  // namespace lobby
