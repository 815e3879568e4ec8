// paths.cpp - Windows-style paths on a Linux file system.
//
// The client builds every file name by pasting a folder from WIN.INI in front
// of a name written in its source ("C:\" + "Bitmaps\Cv_first.bmp"), and
// Windows does not care about case. So a drive letter becomes a per-user
// folder, and each component that does not exist as spelt is looked up
// without regard to case in its parent folder. A component that matches
// nothing keeps the caller's spelling, so that a file about to be created
// gets the name the program asked for.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "native_path.hpp"
#include "platform/platform.h"
#include "user_dirs.hpp"

namespace platform::detail {
namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string DriveFolder(char letter) {
  const std::string lower(1, AsciiLower(letter));
  std::string drives = EnvOrEmpty("LOBBY_DRIVES");
  if (!drives.empty()) return drives + "/" + lower;
  return DataHome() + "/lobby/drive_" + lower;
}

// The entry of dir whose name equals name without regard to case; with
// several, the first in byte order, so that the answer does not depend on
// the directory's internal order. (An exact spelling never gets here: the
// caller found it already.)
std::string FindNoCase(const std::string &dir, const std::string &name) {
  std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
  if (!d) return {};
  std::vector<std::string> matches;
  while (const dirent *e = readdir(d.get()))
    if (EqualNoCase(e->d_name, name)) matches.emplace_back(e->d_name);
  if (matches.empty()) return {};
  return *std::min_element(matches.begin(), matches.end());
}

std::string ResolveCase(const std::string &path) {
  const bool absolute = !path.empty() && path.front() == '/';
  const bool trailing = path.size() > 1 && path.back() == '/';
  std::string out = absolute ? "/" : "";
  // Once a component is missing, nothing below it can exist.
  bool probing = true;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string comp = path.substr(pos, slash - pos);
    pos = slash + 1;
    if (comp.empty()) continue;  // folds repeated separators

    const std::string parent = out.empty() ? "." : out;
    const std::string prefix =
        (out.empty() || out.back() == '/') ? out : out + "/";
    if (probing) {
      struct stat st;
      if (lstat((prefix + comp).c_str(), &st) != 0) {
        std::string found = FindNoCase(parent, comp);
        if (found.empty())
          probing = false;
        else
          comp = std::move(found);
      }
    }
    out = prefix + comp;
  }
  if (trailing && !out.empty() && out.back() != '/') out += '/';
  return out;
}

}  // namespace

std::string ToNativePath(std::string_view path) {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  // "C:" alone or "C:/..." is a drive; "C:name" (relative to a drive's
  // current folder) has no meaning here and stays a plain relative name.
  if (p.size() >= 2 && IsAsciiLetter(p[0]) && p[1] == ':' &&
      (p.size() == 2 || p[2] == '/'))
    p = DriveFolder(p[0]) + p.substr(2);
  return ResolveCase(p);
}

}  // namespace platform::detail

extern "C" unsigned plat_native_path(const char *path, char *buf,
                                     unsigned size) {
  try {
    std::string native =
        path ? platform::detail::ToNativePath(path) : std::string();
    if (!buf || size == 0) return 0;
    if (native.size() >= size) {
      buf[0] = '\0';
      return 0;
    }
    std::memcpy(buf, native.c_str(), native.size() + 1);
    return static_cast<unsigned>(native.size());
  } catch (...) {
    if (buf && size > 0) buf[0] = '\0';
    return 0;
  }
}
