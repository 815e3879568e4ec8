#include "end_message.hpp"

#include <cinttypes>
#include <cstdio>

namespace cvgame {

const char* EndCodeName(EndCode code) {
  switch (code) {
    case EndCode::kOneTime:
      return "onet";
    case EndCode::kExit:
      return "exit";
    case EndCode::kPartnerExit:
      return "uexi";
    case EndCode::kDisconnected:
      return "disc";
    case EndCode::kNoConnection:
      return "note";
  }
  return "disc";
}

std::size_t FormatEndMessage(EndCode code, std::uint32_t localWins, std::uint32_t remoteWins,
                             char* out, std::size_t size) {
  if (out == nullptr || size == 0) return 0;
  const int n = std::snprintf(out, size, "MES=%s;LOC=%" PRIu32 ";REM=%" PRIu32 ";",
                              EndCodeName(code), localWins, remoteWins);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

}  // namespace cvgame
