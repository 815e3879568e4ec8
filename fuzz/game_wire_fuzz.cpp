// libFuzzer harness: bytes from a partner's engine, cut into lines and read
// as the game's protocol. The first byte sets how many bytes each read
// brings (1 to 16), so that lines are split across reads anywhere. Nothing
// may crash, and:
//  - every line handed on is at most kMaxLine bytes, and the lines with
//    their '\n' are exactly the bytes taken so far, in order;
//  - an unfinished line waiting for more is never longer than kMaxLine;
//  - a line the parser accepts is exactly what encoding its message gives
//    (the parser takes no form but the ones the engine writes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "wire.hpp"

using cvgame::wire::LineSplitter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes = fuzzinput::Bytes(data + 1, size - 1);
  const std::size_t step = data[0] % 16 + 1;
  LineSplitter splitter;
  std::string taken;
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    splitter.Feed(std::string_view(bytes).substr(at, step));
    std::string line;
    LineSplitter::Status status;
    while ((status = splitter.Next(&line)) == LineSplitter::Status::kLine) {
      if (line.size() > cvgame::wire::kMaxLine) __builtin_trap();
      taken += line;
      taken += '\n';
      if (const auto message = cvgame::wire::Parse(line)) {
        if (cvgame::wire::Encode(*message) != line + "\n") __builtin_trap();
      }
    }
    if (status == LineSplitter::Status::kTooLong) return 0;  // the stream is given up
    if (splitter.pending() > cvgame::wire::kMaxLine) __builtin_trap();
    if (bytes.compare(0, taken.size(), taken) != 0) __builtin_trap();
  }
  return 0;
}
