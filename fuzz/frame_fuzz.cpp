// libFuzzer harness: arbitrary bytes arriving on a connection, in arbitrary
// pieces, through the frame decoder of both connection kinds (with and
// without the close marker, the 16-bit-character form included) and under
// both bounds (agent lines, server connection). Every frame taken is within
// its bound, and writing its text again gives a frame that decodes to it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "msg.hpp"
#include "peer_limits.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = fuzzinput::Bytes(data, size);
  if (bytes.empty()) return 0;
  // The first byte chooses the connection kind, the bound and the cut.
  const auto mode = static_cast<std::uint8_t>(bytes[0]);
  const bool withMarker = mode & 1;
  const std::size_t maxText = mode & 2 ? zep::kMaxAgentFrameText : zep::kMaxFrameText;
  const std::size_t piece = 1 + (mode >> 2);
  zep::ByteBuffer in;
  std::string text;
  std::uint8_t marker = 0;
  for (std::size_t fed = 1; fed < bytes.size();) {
    const std::size_t n = bytes.size() - fed < piece ? bytes.size() - fed : piece;
    in.Append(bytes.data() + fed, n);
    fed += n;
    zep::FrameStatus status;
    while ((status = zep::TakeFrame(in, withMarker, text, marker, maxText)) == zep::FrameStatus::kOk) {
      if (text.size() > maxText) __builtin_trap();
      zep::ByteBuffer again;
      if (!zep::AppendFrame(again, text, withMarker, marker)) __builtin_trap();
      std::string back;
      std::uint8_t backMarker = 1;
      if (zep::TakeFrame(again, withMarker, back, backMarker) != zep::FrameStatus::kOk || back != text ||
          (withMarker && backMarker != marker) || again.ReadableBytes() != 0)
        __builtin_trap();
    }
    if (status == zep::FrameStatus::kBadSignature || status == zep::FrameStatus::kTooLong) return 0;
  }
  return 0;
}
