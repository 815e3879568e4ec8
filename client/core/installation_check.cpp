#include "installation_check.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "profile_files.hpp"

namespace lobby {

std::optional<std::string> MissingInstallation(const std::string& installDir) {
  for (const char* file : {"Bitmaps\\Cv_first.bmp", "Bitmaps\\Cv_sec.bmp"}) {
    // stat, not open: whatever stands under the name is never waited on.
    struct stat info {};
    if (stat(NativePath(installDir + file).c_str(), &info) == 0 && S_ISREG(info.st_mode)) continue;
    std::string shown = file;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    return "The game is not installed for you: " + NativePath(installDir) + " holds no " + shown +
           ".\nRun lobby-setup to install it (lobby-launch, the desktop menu's entry, does that by "
           "itself), then start the game again.";
  }
  return std::nullopt;
}

}  // namespace lobby
