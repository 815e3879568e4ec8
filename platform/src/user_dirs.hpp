// user_dirs.hpp - internal to the platform layer: where the per-user folders
// (drives, WIN.INI, lock files) live, following the XDG base directories.
//
// An environment variable that is set but empty counts as unset, as the XDG
// rules ask; otherwise an exported-but-blank XDG_CONFIG_HOME would put
// WIN.INI into the current directory.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform::detail {

inline std::string EnvOrEmpty(const char *name) {
  const char *v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

inline std::string HomeDir() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  // Services started without HOME still have a password entry.
  struct passwd pw{};
  struct passwd *found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found &&
      found->pw_dir)
    return found->pw_dir;
  return "/tmp";
}

inline std::string DataHome() {
  std::string dir = EnvOrEmpty("XDG_DATA_HOME");
  return dir.empty() ? HomeDir() + "/.local/share" : dir;
}

inline std::string ConfigHome() {
  std::string dir = EnvOrEmpty("XDG_CONFIG_HOME");
  return dir.empty() ? HomeDir() + "/.config" : dir;
}

}  // namespace platform::detail
