// libFuzzer harness: arbitrary bytes arriving on a connection, in arbitrary
// pieces, through the frame decoder of both connection kinds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_buffer.hpp"
#include "msg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the connection kind and how the bytes are cut.
  const bool withMarker = data[0] & 1;
  const std::size_t piece = 1 + (data[0] >> 1);
  ++data;
  --size;
  zep::ByteBuffer in;
  std::string text;
  std::uint8_t marker = 0;
  for (std::size_t fed = 0; fed < size;) {
    const std::size_t n = size - fed < piece ? size - fed : piece;
    in.Append(data + fed, n);
    fed += n;
    zep::FrameStatus status;
    while ((status = zep::TakeFrame(in, withMarker, text, marker)) == zep::FrameStatus::kOk) {
      if (text.size() > zep::kMaxFrameText) __builtin_trap();
    }
    if (status == zep::FrameStatus::kBadSignature || status == zep::FrameStatus::kTooLong) return 0;
  }
  return 0;
}
