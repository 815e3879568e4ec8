#include "profile_files.hpp"

#include <charconv>
#include <vector>

#include "platform/platform.h"
#include "regular_file.hpp"

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

std::optional<std::string> ReadSmallFile(const std::string& windowsPath) {
  return ReadRegularFile(NativePath(windowsPath), kMaxIniFileBytes);
}

std::string ReadInstallDir() {
  char buffer[kIniBufferSize] = {};
  plat_get_profile_string("QORGames", "CorvanePath", "C:", buffer, kIniBufferSize);
  return std::string(buffer) + "\\";
}

ServerAddress ParseServerAddress(const std::string& currentServer) {
  ServerAddress address{currentServer, kServerPort};
  const std::size_t colon = currentServer.rfind(':');
  if (colon == std::string::npos || colon == 0) return address;
  const char* first = currentServer.data() + colon + 1;
  const char* last = currentServer.data() + currentServer.size();
  int port = 0;
  const auto [end, error] = std::from_chars(first, last, port);
  // Digits only: from_chars would take a sign, and "2424x" is no port.
  if (first == last || *first < '0' || *first > '9' || error != std::errc() || end != last || port < 1 ||
      port > 65535)
    return address;
  return {currentServer.substr(0, colon), port};
}

}  // namespace lobby
