#include "listed_address.hpp"

#include <arpa/inet.h>

#include <cstdint>

namespace vossad {
namespace {
constexpr std::string_view kLoopbackPrefix = "127.";
constexpr std::string_view kLoopbackAddress = "127.0.0.1";
}  // namespace

std::string LoopbackStandIn(in_addr reachedOn) {
  const std::uint32_t host = ntohl(reachedOn.s_addr);
  // Not known (a descriptor that is no TCP socket), or loopback itself.
  if (host == INADDR_ANY || (host >> 24) == 127) return {};
  char text[INET_ADDRSTRLEN] = "";
  if (inet_ntop(AF_INET, &reachedOn, text, sizeof text) == nullptr) return {};
  return text;
}

void AppendListedId(std::string& line, const std::string& id, const std::string& standIn) {
  const std::size_t colon = id.find(':');
  if (standIn.empty() || id.compare(0, kLoopbackPrefix.size(), kLoopbackPrefix) != 0 || colon == std::string::npos) {
    line += id;
    return;
  }
  line += standIn;
  line.append(id, colon);
}

std::string RegisteredIdOf(std::string_view listed, const std::string& standIn) {
  if (standIn.empty() || listed.size() <= standIn.size() || listed.substr(0, standIn.size()) != standIn ||
      listed[standIn.size()] != ':')
    return {};
  return std::string(kLoopbackAddress) + std::string(listed.substr(standIn.size()));
}

}  // namespace vossad
