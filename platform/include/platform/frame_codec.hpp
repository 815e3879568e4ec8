// frame_codec.hpp - the frame codec of the agents and the lobby server
// (public; compiled, with ByteBuffer, into each library and program that
// uses it, so that a call per frame never leaves the caller's own binary).
//
// Every message between two agents, or between an agent and the lobby
// server, travels as one frame (little-endian throughout):
//
//   signature  8 bytes  6D 52 26 32 73 37 71 56 ("mR&2s7qV")
//   marker     1 byte   close flag, low 8 bits; agent-agent frames only
//   length     1, 3 or 7 bytes:   n <= 254        -> n
//                                 n <= 65533      -> FF, n as 16 bits
//                                 otherwise       -> FF FF FF, n as 32 bits
//   text       n bytes, no terminator
//
// Readers also accept a length of FF FE FF followed by a second, complete
// length (same forms, except that there FF FE FF is simply 65534) counting
// 16-bit little-endian code units, then the units. Such a text is turned
// into 8-bit characters as ISO-8859-1 (Latin-1): units 0x00-0xFF become the
// byte of the same value and every other unit becomes '?'. Latin-1 is the
// one 8-bit code page whose mapping is the identity on its range, so it
// needs no tables and never changes a text that only ever held 8-bit
// characters; nothing this system sends uses the form.
//
// Decoding never waits: bytes received on a connection are appended to its
// ByteBuffer, and each decode takes one whole frame from the front or
// reports why it cannot:
//   kNeedMore      the frame is not complete yet; nothing was consumed;
//   kBadSignature  a signature byte is wrong; the bytes up to and including
//                  it were consumed (known as soon as that byte is there);
//   kTooLong       the announced text is over the reader's bound (at most
//                  kMaxFrameText bytes; 16-bit form: units x 2); known as
//                  soon as the length is there,
//                  before any text is waited for or allocated. The owner
//                  closes the connection; nothing more is consumed.
// A bad signature or an oversized length leaves the stream unusable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/byte_buffer.hpp"

namespace platform {

inline constexpr std::array<std::uint8_t, 8> kFrameSignature = {
    0x6D, 0x52, 0x26, 0x32, 0x73, 0x37, 0x71, 0x56};
// A 32-bit length from the network must never decide how much we allocate.
inline constexpr std::size_t kMaxFrameText = std::size_t{1} << 20;
// Signature, marker and the longest length prefix.
inline constexpr std::size_t kMaxFrameHeader = 8 + 1 + 7;

enum class FrameStatus { kOk, kNeedMore, kBadSignature, kTooLong };

// Bytes of the length prefix the writer uses for a text of n bytes.
constexpr std::size_t LengthPrefixSize(std::size_t n) {
  return n <= 254 ? 1 : n <= 65533 ? 3 : 7;
}
// Bytes before the text in a frame that this library writes.
constexpr std::size_t FrameHeaderSize(std::size_t textSize, bool withMarker) {
  return kFrameSignature.size() + (withMarker ? 1 : 0) + LengthPrefixSize(textSize);
}
constexpr std::size_t FrameSize(std::size_t textSize, bool withMarker) {
  return FrameHeaderSize(textSize, withMarker) + textSize;
}

// What the front of a receive buffer holds (see ProbeFrame).
struct FrameProbe {
  FrameStatus status = FrameStatus::kNeedMore;
  // kBadSignature: bytes to discard, the wrong one included.
  std::size_t badBytes = 0;
  // Known once the length prefix is complete (kOk, kTooLong, and kNeedMore
  // while the text is still arriving); 0 before that.
  std::size_t headerSize = 0;
  std::size_t textBytes = 0;  // on the wire: units x 2 in the 16-bit form
  bool wide = false;          // the 16-bit-character form
  std::uint8_t marker = 0;
  std::size_t FrameSize() const { return headerSize + textBytes; }
};

// Examines the front of `bytes` without consuming anything; a text over
// maxText bytes on the wire is kTooLong.
FrameProbe ProbeFrame(std::string_view bytes, bool withMarker,
                      std::size_t maxText = kMaxFrameText);

// Writes the bytes that go before a text of textSize bytes (signature,
// marker when withMarker, length prefix) to `out`; returns how many.
std::size_t WriteFrameHeader(char (&out)[kMaxFrameHeader], std::size_t textSize, bool withMarker,
                             std::uint8_t marker = 0);

// Appends one frame. A text longer than 0xFFFFFFFF bytes cannot be framed and
// is not written (returns false); a text over kMaxFrameText is written, but
// receivers of this library will refuse it. `text` must not point into `out`:
// making room may move the buffer's bytes.
bool AppendFrame(ByteBuffer& out, std::string_view text, bool withMarker,
                 std::uint8_t marker = 0);

// Takes one whole frame from the front of `in`. On kOk, text and marker hold
// the frame's and the frame is consumed; otherwise they are untouched and
// `in` is consumed as described at the top of this file.
FrameStatus TakeFrame(ByteBuffer& in, bool withMarker, std::string& text,
                      std::uint8_t& marker, std::size_t maxText = kMaxFrameText);

}  // namespace platform
