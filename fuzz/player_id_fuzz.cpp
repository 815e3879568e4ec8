// libFuzzer harness: player ids as other agents and the server write them,
// through both readings (the session's, which does not cut at ';', and
// ParsePlayerId's, which does) and the player-text form. A reading either
// fails and leaves its outputs alone, or gives a port that fits TCP and an
// address without ':' that reads back the same once written again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "player_id.hpp"

namespace {

void CheckRoundTrip(const std::string& address, unsigned port) {
  if (port > 65535 || address.find(':') != std::string::npos) __builtin_trap();
  std::string again;
  unsigned againPort = 0;
  if (!zep::ReadAddressAndPort(zep::FormatPlayerId(address, port), again, againPort) || again != address ||
      againPort != port)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string address = "untouched";
  unsigned port = 77777;

  if (zep::ReadAddressAndPort(text, address, port)) {
    if (address != std::string_view(text).substr(0, text.find(':'))) __builtin_trap();
    CheckRoundTrip(address, port);
  } else if (address != "untouched" || port != 77777) {
    __builtin_trap();
  }

  address = "untouched";
  port = 77777;
  // The C-string reading stops at the first NUL, as a caller's text would.
  if (zep::ParsePlayerId(text.c_str(), address, port)) {
    if (address.find(';') != std::string::npos) __builtin_trap();
    CheckRoundTrip(address, port);
  } else if (address != "untouched" || port != 77777) {
    __builtin_trap();
  }

  address.clear();
  if (zep::ParsePlayerText(text, address, port)) CheckRoundTrip(address, port);
  return 0;
}
