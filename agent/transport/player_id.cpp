#include "player_id.hpp"

#include <cstring>
#include <string_view>

namespace zep {

namespace {
constexpr unsigned kMaxPort = 65535;
}

bool ReadAddressAndPort(std::string_view text, std::string& address, unsigned& port) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;

  // A ":" with no digits after it, or a number no TCP port can have, is no
  // player id either: rather than invent a port (or write a wrapped-around
  // one), the text is refused and the outputs are left as they were, just as
  // for a text without ":". The texts come from other agents, so digits are
  // counted against the bound as they are read.
  std::size_t i = colon + 1;
  unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > kMaxPort) return false;
  }
  if (i == colon + 1) return false;

  address.assign(text.substr(0, colon));
  port = value;
  return true;
}

bool ParsePlayerId(const char* text, std::string& address, unsigned& port) {
  if (text == nullptr) return false;
  std::string_view rest(text, ::strnlen(text, kMaxPlayerIdText));
  return ReadAddressAndPort(rest.substr(0, rest.find(';')), address, port);
}

bool ParsePlayerText(const std::string& text, std::string& address, unsigned& port) {
  constexpr std::size_t kPrefix = 3;  // "ID="
  if (text.size() < kPrefix) return false;
  return ParsePlayerId(text.c_str() + kPrefix, address, port);
}

std::string FormatPlayerId(const std::string& address, unsigned port) {
  std::string id;
  id.reserve(address.size() + 6);
  id.append(address).push_back(':');
  id.append(std::to_string(port));
  return id;
}

}  // namespace zep
