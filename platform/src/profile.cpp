// profile.cpp - the private-profile reader and writer over IniDocument, and
// the per-user WIN.INI.
//
// A write reads the whole file, changes one line in memory and replaces the
// file by rename, so a crash or a full disk leaves either the old file or
// the new one, never half of it. Writers in one process are serialised;
// between processes the last rename wins, which is also what the original
// did without its cache being shared.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ini_document.hpp"
#include "native_path.hpp"
#include "platform/platform.h"
#include "user_dirs.hpp"

namespace platform::detail {
namespace {

std::mutex g_write_mutex;

// Profiles hold a few dozen short lines. A file far larger than that (or a
// device that never ends) is no profile: it reads as missing and is never
// rewritten, so neither its bytes nor the memory of parsing them are at risk.
constexpr std::size_t kMaxProfileBytes = std::size_t{1} << 20;

enum class ReadResult { kOk, kMissing, kError };

ReadResult ReadWhole(const std::string &path, std::string &out) {
  // Non-blocking, so that a FIFO put where a profile belongs cannot hold
  // the open; it is then refused as not a regular file.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing
                                                 : ReadResult::kError;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > kMaxProfileBytes) {
    close(fd);
    return ReadResult::kError;
  }
  out.clear();
  char chunk[8192];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    // A file that grows while it is read is held to the same bound.
    if (n < 0 || out.size() + static_cast<std::size_t>(n) > kMaxProfileBytes) {
      close(fd);
      return ReadResult::kError;
    }
    if (n == 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return ReadResult::kOk;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes text to a new file beside path, then renames it over path. A
// symbolic link is followed so that the link itself survives.
bool ReplaceFile(const std::string &path, std::string_view text) {
  std::string target = path;
  struct stat st;
  bool existed = false;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char *real = realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  if (stat(target.c_str(), &st) == 0) existed = true;

  std::size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  // Our own unique name with O_EXCL instead of mkstemp: a new file then gets
  // the usual 0666 & ~umask rather than mkstemp's 0600.
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = dir + "." + base + "." + std::to_string(getpid()) + "." +
          std::to_string(counter.fetch_add(1)) + ".tmp";
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (existed) fchmod(fd, st.st_mode & 07777);  // best effort
  ok = WriteAll(fd, text) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

unsigned CopyOut(std::string_view s, char *buf, unsigned size) {
  if (!buf || size == 0) return 0;
  s = s.substr(0, s.find('\0'));
  std::size_t n = std::min<std::size_t>(s.size(), size - 1);
  std::memcpy(buf, s.data(), n);
  buf[n] = '\0';
  return static_cast<unsigned>(n);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

unsigned GetProfile(const char *section, const char *key, const char *def,
                    char *buf, unsigned size, const std::string &file) {
  if (!buf || size == 0) return 0;
  std::string_view fallback = TrimBlanks(def ? def : "");
  // Listing the section or key names (a NULL section or key on Windows) is
  // not offered: nothing here needs it, so it reads as the default.
  if (!section || !key || file.empty()) return CopyOut(fallback, buf, size);
  std::string text;
  if (ReadWhole(file, text) != ReadResult::kOk)
    return CopyOut(fallback, buf, size);
  IniDocument doc = IniDocument::Parse(text);
  std::optional<std::string_view> value = doc.Find(section, key);
  return CopyOut(value ? *value : fallback, buf, size);
}

int WriteProfile(const char *section, const char *key, const char *value,
                 const std::string &file) {
  if (!section || file.empty()) return 0;
  std::lock_guard<std::mutex> lock(g_write_mutex);
  std::string old;
  ReadResult read = ReadWhole(file, old);
  if (read == ReadResult::kError) return 0;
  IniDocument doc = IniDocument::Parse(old);
  if (!key)
    doc.EraseSection(section);
  else if (!value)
    doc.EraseKey(section, key);
  else if (!doc.Set(section, key, value))
    return 0;
  std::string text = doc.Serialize();
  // Deleting what is not there changes nothing and creates no file.
  if (text == old) return 1;
  return ReplaceFile(file, text) ? 1 : 0;
}

std::string WinIniPath() {
  std::string path = EnvOrEmpty("LOBBY_WIN_INI");
  return path.empty() ? ConfigHome() + "/lobby/WIN.INI" : path;
}

// mkdir -p; the folders are private to the user, as XDG asks.
bool MakeFolders(const std::string &dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t slash = dir.find_last_not_of('/');
  slash = slash == std::string::npos ? std::string::npos : dir.rfind('/', slash);
  if (slash != std::string::npos && slash > 0 &&
      !MakeFolders(dir.substr(0, slash)))
    return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace
}  // namespace platform::detail

using platform::detail::GetProfile;
using platform::detail::ToNativePath;
using platform::detail::WinIniPath;
using platform::detail::WriteProfile;

extern "C" unsigned plat_get_private_profile_string(const char *section,
                                                    const char *key,
                                                    const char *def, char *buf,
                                                    unsigned size,
                                                    const char *file) {
  try {
    return GetProfile(section, key, def, buf, size,
                      file ? ToNativePath(file) : std::string());
  } catch (...) {
    if (buf && size > 0) buf[0] = '\0';
    return 0;
  }
}

extern "C" int plat_write_private_profile_string(const char *section,
                                                 const char *key,
                                                 const char *value,
                                                 const char *file) {
  try {
    return file ? WriteProfile(section, key, value, ToNativePath(file)) : 0;
  } catch (...) {
    return 0;
  }
}

extern "C" unsigned plat_get_profile_string(const char *section,
                                            const char *key, const char *def,
                                            char *buf, unsigned size) {
  try {
    return GetProfile(section, key, def, buf, size, WinIniPath());
  } catch (...) {
    if (buf && size > 0) buf[0] = '\0';
    return 0;
  }
}

extern "C" int plat_write_profile_string(const char *section, const char *key,
                                         const char *value) {
  try {
    std::string path = WinIniPath();
    std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !platform::detail::MakeFolders(path.substr(0, slash)))
      return 0;
    return WriteProfile(section, key, value, path);
  } catch (...) {
    return 0;
  }
}

extern "C" unsigned plat_win_ini_path(char *buf, unsigned size) {
  try {
    std::string path = WinIniPath();
    if (!buf || size == 0) return 0;
    if (path.size() >= size) {
      buf[0] = '\0';
      return 0;
    }
    std::memcpy(buf, path.c_str(), path.size() + 1);
    return static_cast<unsigned>(path.size());
  } catch (...) {
    if (buf && size > 0) buf[0] = '\0';
    return 0;
  }
}
