#include "server_list.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "filter.hpp"

namespace vossad {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

ServerList ParseServerList(const std::string& text, const std::optional<std::string>& versionOverride) {
  ServerList list;
  std::optional<std::size_t> versionLine;
  std::optional<std::string> fileVersion;
  bool inSection = false;

  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') continue;
    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.find(']');
      inSection = close != std::string_view::npos &&
                  EqualsIgnoreCase(Trim(trimmed.substr(1, close - 1)), "QORServers");
      continue;
    }
    if (!inSection) continue;

    const std::size_t eq = trimmed.find('=');
    const std::string_view key = Trim(trimmed.substr(0, eq));
    if (EqualsIgnoreCase(key, "CurrentServer")) continue;
    if (eq != std::string_view::npos && EqualsIgnoreCase(key, "Version")) {
      if (!fileVersion) {
        fileVersion = std::string(Trim(trimmed.substr(eq + 1)));
        versionLine = list.lines.size();
        list.lines.emplace_back();  // filled in below
      }
      continue;  // a repeated Version line would only confuse the agent
    }
    list.lines.emplace_back(line);
  }

  if (versionOverride) {
    list.version = *versionOverride;
  } else if (fileVersion && !fileVersion->empty()) {
    list.version = *fileVersion;
  } else {
    list.version.assign(1, '1');  // (not = "1": GCC 12 warns falsely on it)
  }
  const std::string versionText = "Version=" + list.version;
  if (versionLine) {
    list.lines[*versionLine] = versionText;
  } else {
    list.lines.push_back(versionText);
  }
  return list;
}

std::optional<ServerList> LoadServerList(const std::string& path,
                                         const std::optional<std::string>& versionOverride,
                                         std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    if (error != nullptr) *error = "cannot read " + path;
    return std::nullopt;
  }
  return ParseServerList(text.str(), versionOverride);
}

ServerList FleetServerList(const std::vector<std::string>& addresses) {
  // FNV-1a over the addresses and their separators.
  std::uint32_t hash = 2166136261u;
  for (const std::string& address : addresses) {
    for (const char ch : address + "\n") {
      hash ^= static_cast<unsigned char>(ch);
      hash *= 16777619u;
    }
  }
  ServerList list;
  // Formatted into a buffer: GCC 12 warns (-Wrestrict, wrongly) on a short
  // literal put in front of a string.
  char version[16];
  std::snprintf(version, sizeof version, "f%u", static_cast<unsigned>(hash));
  list.version = version;
  const std::string count = std::to_string(addresses.size());
  list.lines.push_back("ServerCount=" + count);
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    list.lines.push_back("Server" + number + "=" + addresses[i]);
    list.lines.push_back("Name" + number + "=" + addresses[i]);
  }
  list.lines.push_back("Version=" + list.version);
  return list;
}

}  // namespace vossad
