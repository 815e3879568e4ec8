// frames.hpp - frames as the tests' scripted peers write and read them,
// through the library's own codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_buffer.hpp"
#include "platform/frame_codec.hpp"

namespace testsupport {

inline std::string EncodeFrame(const std::string& text, bool withMarker, int marker = 0) {
  platform::ByteBuffer b;
  platform::AppendFrame(b, text, withMarker, static_cast<std::uint8_t>(marker));
  return std::string(b.Readable());
}

// The texts of every whole frame in `bytes`.
inline std::vector<std::string> DecodeFrames(const std::string& bytes, bool withMarker) {
  platform::ByteBuffer b;
  b.Append(bytes);
  std::vector<std::string> out;
  std::string text;
  std::uint8_t marker;
  while (platform::TakeFrame(b, withMarker, text, marker) == platform::FrameStatus::kOk) out.push_back(text);
  return out;
}

}  // namespace testsupport
