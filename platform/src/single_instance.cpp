// single_instance.cpp - the named semaphore a program uses on start to find
// out whether it already runs (the window search that goes with it is in
// top_window.cpp, a library of its own).
//
// The semaphore is a lock file held with flock: the kernel drops the lock
// when the holder's process ends, however it ends, so a crashed instance
// never makes the next start believe another one is running. The file itself
// is left behind on purpose; removing it would race with a starting
// instance that has just opened it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "user_dirs.hpp"

namespace platform::detail {
namespace {

// Windows names may hold any character but '\'; escaping everything outside
// a safe set keeps distinct names distinct ("a/b" is not "a_b").
std::string FileNameFor(const char *name) {
  std::string out;
  for (const char *p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string LockPath(const char *name) {
  std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime + "/lobby-" + FileNameFor(name) + ".lock";
  return "/tmp/lobby-" + std::to_string(getuid()) + "-" + FileNameFor(name) +
         ".lock";
}

}  // namespace
}  // namespace platform::detail

extern "C" int plat_semaphore_create(const char *name, int *existed) {
  if (existed) *existed = 0;
  try {
    // An unnamed semaphore can never have existed before; hand out a
    // harmless descriptor so that the caller's close has something to close.
    if (!name || !*name) return open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::string path = platform::detail::LockPath(name);
    // O_NOFOLLOW: in /tmp another user could plant a link to one of our
    // files.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                  0600);
    if (fd < 0) return -1;
    int rc;
    do {
      rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      if (errno != EWOULDBLOCK) {
        close(fd);
        return -1;
      }
      if (existed) *existed = 1;
    }
    return fd;
  } catch (...) {
    return -1;
  }
}

extern "C" void plat_semaphore_close(int handle) {
  if (handle >= 0) close(handle);
}
