// wire.hpp - the game's own protocol between two engines (internal to the
// game core): short text lines, each ended by one '\n', of at most kMaxLine
// bytes before it. The parser accepts exactly the forms below and nothing
// else; whatever it refuses ends the connection (see docs/game.md).
//
//   HELLO CV4 1   first line of each side, sent as soon as connected
//   MOVE <c>      the sender drops a disc into column c, 1 to 7
//   AGAIN         the sender wants another game (only between games)
//   DONE          the sender wants no further game (only between games)
//   QUIT          the sender left the match
//   PING          keep-alive; says only that the sender is still there
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cvgame::wire {

inline constexpr std::size_t kMaxLine = 32;
inline constexpr std::string_view kHelloLine = "HELLO CV4 1";

enum class Kind { kHello, kMove, kAgain, kDone, kQuit, kPing };

struct Message {
  Kind kind = Kind::kPing;
  int column = -1;  // kMove only: 0 to 6 (the wire says 1 to 7)
  bool operator==(const Message&) const = default;
};

// The line for a message, '\n' included. A kMove with a column outside 0-6
// gives an empty string.
std::string Encode(const Message& message);
// A line without its '\n'; nothing for anything but the exact forms above.
std::optional<Message> Parse(std::string_view line);

// Cuts a byte stream into lines without ever holding more than one line and
// the bytes of one read.
class LineSplitter {
 public:
  enum class Status { kLine, kNeedMore, kTooLong };

  void Feed(std::string_view bytes);
  // kLine puts the next line (without '\n') into *line. kTooLong: a line
  // (or the start of one) is longer than kMaxLine; the stream is unusable.
  Status Next(std::string* line);
  // Bytes of an unfinished line still held.
  std::size_t pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;
};

}  // namespace cvgame::wire
