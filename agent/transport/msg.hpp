// msg.hpp - the message record CMsg and FrameStream, a buffer seen as one
// side of a connection. Internal to the zep library. The frames themselves
// are the platform's (platform/frame_codec.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/frame_codec.hpp"
#include "runtime_class.hpp"

namespace zep {

// The agent names the platform's buffer and codec as its own: they were
// written for its frames, and every transport source speaks of them.
using platform::AppendFrame;
using platform::ByteBuffer;
using platform::FrameHeaderSize;
using platform::FrameProbe;
using platform::FrameSize;
using platform::FrameStatus;
using platform::kFrameSignature;
using platform::kMaxFrameHeader;
using platform::kMaxFrameText;
using platform::LengthPrefixSize;
using platform::ProbeFrame;
using platform::TakeFrame;
using platform::WriteFrameHeader;

// A ByteBuffer seen as the input or the output side of a connection.
class FrameStream {
 public:
  enum class Direction { kInput, kOutput };

  FrameStream(ByteBuffer& buffer, Direction direction)
      : buffer_(&buffer), direction_(direction) {}
  static FrameStream Input(ByteBuffer& buffer) { return {buffer, Direction::kInput}; }
  static FrameStream Output(ByteBuffer& buffer) { return {buffer, Direction::kOutput}; }

  bool IsLoading() const { return direction_ == Direction::kInput; }
  bool IsStoring() const { return direction_ == Direction::kOutput; }
  Direction direction() const { return direction_; }
  ByteBuffer& buffer() const { return *buffer_; }

  // Outcome of the last SerializeFrame on this stream.
  FrameStatus status() const { return status_; }
  void set_status(FrameStatus status) { status_ = status; }

  // The longest text an input stream takes (connections between agents
  // carry only short lines).
  std::size_t maxText() const { return maxText_; }
  void set_maxText(std::size_t maxText) { maxText_ = maxText < kMaxFrameText ? maxText : kMaxFrameText; }

 private:
  ByteBuffer* buffer_;
  Direction direction_;
  FrameStatus status_ = FrameStatus::kOk;
  std::size_t maxText_ = kMaxFrameText;
};

// One spare line buffer per thread. A line handed on (to the session by the
// transport, to the transport by the session) comes back here once it has
// been used, and the next line is read or built into it: a message going
// through costs no allocation. TakeSpareLine gives an empty string (with the
// capacity of the last line given back, if any); a line much longer than
// the agents' lines is not kept. Inline: a message costs one of each.
namespace detail {
// The thread's spare line once made (msg.cpp), and its making. A plain
// pointer in the initial-exec model (see t_running in the platform's
// loop.cpp) is one load from the thread pointer; constinit spares the
// check for a thread_local's initialisation at every use.
extern constinit __attribute__((tls_model("initial-exec"))) thread_local std::string* t_spareLine;
std::string& MakeSpareLine();
// Room for any line between agents (a user message with two ids); longer
// ones come from the server's answers and are rare.
inline constexpr std::size_t kMaxSpareCapacity = 2048;
inline std::string& SpareLine() {
  std::string* line = t_spareLine;
  return line != nullptr ? *line : MakeSpareLine();
}
}  // namespace detail

// Into `line`, whose own buffer goes (the transport's record takes each
// line's buffer this way, without a string in between).
inline void TakeSpareLineInto(std::string& line) {
  std::string& spare = detail::SpareLine();
  line = std::move(spare);
  spare.clear();  // moved from: made empty, not a new string
  line.clear();
}

inline std::string TakeSpareLine() {
  std::string line;
  TakeSpareLineInto(line);
  return line;
}

inline void ReturnSpareLine(std::string&& line) {
  std::string& spare = detail::SpareLine();
  if (line.capacity() <= spare.capacity() || line.capacity() > detail::kMaxSpareCapacity) return;
  spare = std::move(line);
}

// One message: the unit that is written and read as a frame.
class CMsg : public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CMsg)

 public:
  CMsg() = default;
  explicit CMsg(std::string text, std::int32_t closeFlag = 0)
      : text(std::move(text)), closeFlag(closeFlag) {}

  // Output stream: appends this record as one frame (the marker byte is the
  // low 8 bits of closeFlag, written only when withMarker) and returns true.
  // Input stream: takes one whole frame into text and closeFlag (the marker
  // zero-extended; 0 without marker) and returns true; otherwise returns
  // false, leaves the record as it was, and stream.status() says why.
  virtual bool SerializeFrame(FrameStream& stream, bool withMarker);
  // The input half of it, straight from a buffer: takes one whole frame of
  // at most maxText bytes of text into text and closeFlag, and says how the
  // taking went (the record is left as it was unless kOk).
  FrameStatus TakeFrom(ByteBuffer& in, bool withMarker, std::size_t maxText) {
    std::uint8_t marker = 0;
    const FrameStatus status = TakeFrame(in, withMarker, text, marker, maxText);
    if (status == FrameStatus::kOk) closeFlag = marker;
    return status;
  }

  std::string text;
  std::int32_t closeFlag = 0;
};

}  // namespace zep
