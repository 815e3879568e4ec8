// end_message.hpp - how a match ends, and the closing message the engine
// hands its host: "MES=<code>;LOC=<games won here>;REM=<games won by the
// partner>;". Internal to the game core; the engine library's C API and the
// console player's output both use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cvgame {

enum class EndCode {
  kOneTime,       // "onet": a game ended and one of the two wanted no further game
  kExit,          // "exit": this player left (Exit, window closed, program stopped)
  kPartnerExit,   // "uexi": the partner left
  kDisconnected,  // "disc": the connection broke, stayed silent, or carried garbage
  kNoConnection,  // "note": no connection to the partner came about
};

// The four-letter code.
const char* EndCodeName(EndCode code);

// Buffer size of the closing message, terminator included; the longest
// message (both counts at their maximum) is 39 characters.
inline constexpr std::size_t kEndMessageSize = 50;

// Writes the closing message into out (size bytes, at least 1), cut to
// size - 1 characters and always terminated. Returns its length.
std::size_t FormatEndMessage(EndCode code, std::uint32_t localWins, std::uint32_t remoteWins,
                             char* out, std::size_t size);

}  // namespace cvgame
