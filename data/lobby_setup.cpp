// lobby-setup - makes a per-user installation directory for the lobby
// client and records it in WIN.INI, where the client looks for it.
//
//   lobby-setup [--dir DIR] [--data DIR] [--force]
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

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: lobby-setup [--dir DIR] [--data DIR] [--force] [--if-missing]\n"
    "Copies the lobby client's data files into a per-user installation\n"
    "directory and records it in WIN.INI ([QORGames] CorvanePath).\n"
    "\n"
    "  --dir DIR    the installation directory, Windows-style (C:\\Corvane) or an\n"
    "               absolute path; at most 79 characters (default C:\\Corvane,\n"
    "               which is the folder Corvane of the per-user drive C:)\n"
    "  --data DIR   where the installed data files are (default: share/lobby\n"
    "               beside the folder of this program)\n"
    "  --force      replace the data files already there; the player's\n"
    "               SERVERS.INI and VOSSA.INI are never replaced\n"
    "  --if-missing do nothing when WIN.INI already names an installation\n"
    "               directory that holds the client's bitmaps\n";

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
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--if-missing") {
      ifMissing = true;
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else {
      std::fprintf(stderr, "lobby-setup: unknown argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
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
