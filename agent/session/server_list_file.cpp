#include "server_list_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace zep {
namespace {

std::string NativePath(const std::string& path) {
  std::string out(4096, '\0');
  unsigned n = plat_native_path(path.c_str(), out.data(), static_cast<unsigned>(out.size()));
  if (n == 0) return path;
  out.resize(n);
  return out;
}

bool WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string BackupPath(const std::string& path) {
  // The extension is what follows the last '.' of the last path component.
  const std::size_t slash = path.find_last_of("\\/:");
  const std::size_t dot = path.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? path.substr(0, dot) : path) + ".$$$";
}

bool RewriteServerList(const std::string& path, const std::string& currentServer,
                       const std::vector<std::string>& collectedLines) {
  std::string content = "[QORServers]\nCurrentServer=" + currentServer + "\n";
  for (const std::string& line : collectedLines) {
    // Each line is "CINI " + the file's line + two characters of the
    // server's choice; a line too short for that contributes nothing.
    if (line.size() > 7) content.append(line, 5, line.size() - 7);
    content += '\n';
  }

  const std::string target = NativePath(path);
  const std::string backup = NativePath(BackupPath(path));
  std::string temp = target + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool written = WriteAll(fd, content) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written) {
    unlink(temp.c_str());
    return false;
  }
  fchmodat(AT_FDCWD, temp.c_str(), 0644, 0);
  std::remove(backup.c_str());
  if (std::rename(target.c_str(), backup.c_str()) != 0 && errno != ENOENT) {
    unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    // Put the old list back rather than leave none.
    std::rename(backup.c_str(), target.c_str());
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace zep
