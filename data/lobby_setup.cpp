// lobby-setup - makes a per-user installation directory for the lobby
// client and records it in WIN.INI, where the client looks for it.
//
//   lobby-setup [--dir DIR] [--data DIR] [--force] [--if-missing]
//
// The client takes no argument and reads no variable of its own: it finds
// its data files through WIN.INI, section QORGames, key CorvanePath. This
// program copies the installed data files there (those already present are
// kept, so that a player's server choice and profile survive) and writes the
// key. It reaches WIN.INI and the drive folders through the platform layer,
// so it follows the same rules as the client ($LOBBY_WIN_INI, $LOBBY_DRIVES,
// the XDG folders).
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/command_line.hpp"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: lobby-setup [OPTION]...\n"
    "Copies the lobby client's data files into a per-user installation\n"
    "directory and records it in WIN.INI ([QORGames] CorvanePath).\n"
    "\n"
    "  -d, --dir DIR    the installation directory, Windows-style (C:\\Corvane) or\n"
    "                   an absolute path; at most 79 characters (default\n"
    "                   C:\\Corvane, the folder Corvane of the per-user drive C:)\n"
    "      --data DIR   where the installed data files are (default: share/lobby\n"
    "                   beside the folder of this program)\n"
    "  -f, --force      replace the data files already there; the player's\n"
    "                   SERVERS.INI and VOSSA.INI are never replaced\n"
    "      --if-missing do nothing when WIN.INI already names an installation\n"
    "                   directory that holds the client's bitmaps\n"
    "  -h, --help       show this text and exit\n"
    "  -V, --version    show the version and exit\n";

// The client reads the key into an 80-character buffer.
constexpr std::size_t kMaxInstallDir = 79;

std::string NativePath(const std::string& path) {
  std::vector<char> buffer(path.size() + 4096);
  const unsigned n = plat_native_path(path.c_str(), buffer.data(), static_cast<unsigned>(buffer.size()));
  return n == 0 ? std::string() : std::string(buffer.data(), n);
}

fs::path DefaultDataDir() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path().parent_path() / "share" / "lobby";
}

bool IsPlayersFile(const fs::path& relative) {
  const std::string name = relative.filename().string();
  return strcasecmp(name.c_str(), "SERVERS.INI") == 0 || strcasecmp(name.c_str(), "VOSSA.INI") == 0;
}

// Copies every file and folder of from into to; returns the number copied,
// or -1 on an error (reported).
int CopyTree(const fs::path& from, const fs::path& to, bool force) {
  int copied = 0;
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) {
    std::fprintf(stderr, "lobby-setup: cannot create %s: %s\n", to.c_str(), ec.message().c_str());
    return -1;
  }
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path relative = fs::relative(it->path(), from);
    const fs::path target = to / relative;
    if (it->is_directory()) {
      fs::create_directories(target, ec);
      if (ec) break;
      continue;
    }
    const bool present = fs::exists(target);
    if (present && (!force || IsPlayersFile(relative))) continue;
    fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
    if (ec) break;
    ++copied;
  }
  if (ec) {
    std::fprintf(stderr, "lobby-setup: copying %s: %s\n", from.c_str(), ec.message().c_str());
    return -1;
  }
  return copied;
}

// Whether WIN.INI names an installation directory that is in place.
bool InstallationPresent() {
  char recorded[kMaxInstallDir + 1] = {};
  plat_get_profile_string("QORGames", "CorvanePath", "", recorded, sizeof recorded);
  if (recorded[0] == '\0') return false;
  const std::string bitmaps = NativePath(std::string(recorded) + "\\Bitmaps\\Cv_first.bmp");
  std::error_code ec;
  return !bitmaps.empty() && fs::exists(bitmaps, ec);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "C:\\Corvane";
  fs::path data;
  bool force = false;
  bool ifMissing = false;
  enum { kDir = 256, kData, kForce, kIfMissing };
  static constexpr platform::CommandOption kOptions[] = {
      {"dir", 'd', true, kDir}, {"data", 0, true, kData}, {"force", 'f', false, kForce},
      {"if-missing", 0, false, kIfMissing}};
  std::string error;
  const platform::CommandLineResult result = platform::ParseCommandLine(
      argc, argv, kOptions,
      [&](int id, const std::string& value, std::string*) {
        switch (id) {
          case kDir: dir = value; break;
          case kData: data = value; break;
          case kForce: force = true; break;
          case kIfMissing: ifMissing = true; break;
        }
        return true;
      },
      &error);
  if (const int status = platform::FinishCommandLine("lobby-setup", result, kUsage, error); status >= 0)
    return status;
  if (ifMissing && InstallationPresent()) return 0;
  if (data.empty()) data = DefaultDataDir();
  if (dir.empty()) {
    std::fprintf(stderr, "lobby-setup: --dir needs a directory\n");
    return 2;
  }
  if (!fs::exists(data / "Bitmaps")) {
    std::fprintf(stderr, "lobby-setup: no data files in %s (use --data)\n", data.c_str());
    return 1;
  }
  // The client appends the backslash itself.
  while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  if (dir.size() > kMaxInstallDir) {
    std::fprintf(stderr, "lobby-setup: %s is longer than the %zu characters the client reads\n", dir.c_str(),
                 kMaxInstallDir);
    return 1;
  }
  const bool drive = dir.size() >= 2 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':';
  if (!drive && dir.front() != '/') {
    // The client would look for it relative to wherever it was started.
    std::fprintf(stderr, "lobby-setup: %s is neither an absolute path nor on a drive (C:\\...)\n", dir.c_str());
    return 1;
  }
  const std::string native = NativePath(dir);
  if (native.empty()) {
    std::fprintf(stderr, "lobby-setup: cannot place %s\n", dir.c_str());
    return 1;
  }
  const int copied = CopyTree(data, native, force);
  if (copied < 0) return 1;
  if (!plat_write_profile_string("QORGames", "CorvanePath", dir.c_str())) {
    std::fprintf(stderr, "lobby-setup: cannot write WIN.INI\n");
    return 1;
  }
  char winIni[4096];
  plat_win_ini_path(winIni, sizeof winIni);
  std::printf("Installation directory %s (%s): %d file(s) copied.\n", dir.c_str(), native.c_str(), copied);
  std::printf("Recorded in %s: [QORGames] CorvanePath=%s\n", winIni, dir.c_str());
  return 0;
}
