#include "wire.hpp"

namespace cvgame::wire {

std::string Encode(const Message& message) {
  switch (message.kind) {
    case Kind::kHello:
      return std::string(kHelloLine) + "\n";
    case Kind::kMove:
      if (message.column < 0 || message.column > 6) return {};
      return std::string("MOVE ") + static_cast<char>('1' + message.column) + "\n";
    case Kind::kAgain:
      return "AGAIN\n";
    case Kind::kDone:
      return "DONE\n";
    case Kind::kQuit:
      return "QUIT\n";
    case Kind::kPing:
      return "PING\n";
  }
  return {};
}

std::optional<Message> Parse(std::string_view line) {
  if (line == kHelloLine) return Message{Kind::kHello};
  if (line == "AGAIN") return Message{Kind::kAgain};
  if (line == "DONE") return Message{Kind::kDone};
  if (line == "QUIT") return Message{Kind::kQuit};
  if (line == "PING") return Message{Kind::kPing};
  if (line.size() == 6 && line.substr(0, 5) == "MOVE " && line[5] >= '1' && line[5] <= '7')
    return Message{Kind::kMove, line[5] - '1'};
  return std::nullopt;
}

void LineSplitter::Feed(std::string_view bytes) {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

LineSplitter::Status LineSplitter::Next(std::string* line) {
  const std::size_t end = buffer_.find('\n', start_);
  if (end == std::string::npos) return pending() > kMaxLine ? Status::kTooLong : Status::kNeedMore;
  if (end - start_ > kMaxLine) return Status::kTooLong;
  line->assign(buffer_, start_, end - start_);
  start_ = end + 1;
  return Status::kLine;
}

}  // namespace cvgame::wire
