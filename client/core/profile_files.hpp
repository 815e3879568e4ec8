// profile_files.hpp - the client's reading and writing of INI files and its
// installation directory (internal).
//
// Files are named Windows-style, relative to InstallDir ("C:\\Games\\" +
// "VOSSA.INI"); the platform layer translates them to native paths.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace lobby {

// Values are read into 80-character buffers: at most 79 characters are used.
inline constexpr unsigned kIniBufferSize = 80;

// One value of an INI file; a missing file, section or key reads as empty,
// and a longer value is cut to 79 characters.
std::string ReadIniString(const std::string& section, const std::string& key, const std::string& file);
// Writes one key, creating the file and section when needed; replaces only
// that key's line. Returns whether the write worked (the client's callers do
// not look).
bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file);

// The whole of an INI file named Windows-style, if it is a regular file of
// at most kMaxIniFileBytes (the bound of the INI reader): ReadRegularFile.
inline constexpr std::size_t kMaxIniFileBytes = std::size_t{1} << 20;
std::optional<std::string> ReadSmallFile(const std::string& windowsPath);

// InstallDir from WIN.INI, section "QORGames", key "CorvanePath" (default
// "C:", at most 79 characters), with a backslash appended.
std::string ReadInstallDir();

// The native path of a Windows-style one (what a file is opened with).
std::string NativePath(const std::string& windowsPath);

// The server address joined when SERVERS.INI names none.
inline constexpr const char* kDefaultServerAddress = "127.0.0.1";
// The lobby server's port, joined when the address names none.
inline constexpr int kServerPort = 2424;

// Where a CurrentServer value points: "host" is that host on kServerPort,
// "host:port" that port (1 to 65535, decimal). Any other text after the
// last ':' is left in the host, which then fails to resolve like any other
// bad name.
struct ServerAddress {
  std::string host;
  int port = kServerPort;
};
ServerAddress ParseServerAddress(const std::string& currentServer);

}  // namespace lobby
