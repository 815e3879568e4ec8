// The frame codec: reading and writing the frames described in
// frame_codec.hpp.
#include "platform/frame_codec.hpp"

#include <algorithm>
#include <cstring>

#include "platform/hot_path.hpp"

namespace platform {
namespace {

constexpr std::uint8_t kEscape = 0xFF;
constexpr std::uint32_t kLength32 = 0xFFFF;
constexpr std::uint32_t kWideText = 0xFFFE;

inline std::uint8_t ByteAt(const char* p, std::size_t i) {
  return static_cast<std::uint8_t>(p[i]);
}
inline std::uint32_t Le16(const char* p) {
  return std::uint32_t{ByteAt(p, 0)} | std::uint32_t{ByteAt(p, 1)} << 8;
}
inline std::uint32_t Le32(const char* p) {
  return Le16(p) | Le16(p + 2) << 16;
}
inline char* PutLe16(char* w, std::uint32_t v) {
  w[0] = static_cast<char>(v & 0xFF);
  w[1] = static_cast<char>((v >> 8) & 0xFF);
  return w + 2;
}

// Reads the length prefix at p (n bytes available). Returns its size, or 0
// when it is not complete yet. Only the outer prefix may announce the
// 16-bit-character form; inside it, FF FE FF is an ordinary 16-bit length.
std::size_t ReadLength(const char* p, std::size_t n, bool outer,
                       std::uint32_t& length, bool& wide) {
  if (n < 1) return 0;
  if (ByteAt(p, 0) != kEscape) {
    length = ByteAt(p, 0);
    return 1;
  }
  if (n < 3) return 0;
  const std::uint32_t short_length = Le16(p + 1);
  if (short_length == kLength32) {
    if (n < 7) return 0;
    length = Le32(p + 3);
    return 7;
  }
  if (short_length == kWideText && outer) {
    wide = true;
    const std::size_t inner = ReadLength(p + 3, n - 3, false, length, wide);
    return inner == 0 ? 0 : 3 + inner;
  }
  length = short_length;
  return 3;
}

void ConvertWideText(const char* units, std::size_t count, std::string& text) {
  text.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t unit = Le16(units + 2 * i);
    text[i] = unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
}

}  // namespace

PLAT_HOT_PATH FrameProbe ProbeFrame(std::string_view bytes, bool withMarker, std::size_t maxText) {
  FrameProbe probe;
  const char* p = bytes.data();
  const std::size_t n = bytes.size();

  // Compare whatever part of the signature has arrived, so that a stream
  // that is not ours is refused at its first wrong byte.
  const std::size_t have = std::min(n, kFrameSignature.size());
  if (have == 0) return probe;
  // The fixed-size compare is one 8-byte load on the usual path.
  const bool signatureSoFar =
      have == kFrameSignature.size()
          ? std::memcmp(p, kFrameSignature.data(), kFrameSignature.size()) == 0
          : std::memcmp(p, kFrameSignature.data(), have) == 0;
  if (!signatureSoFar) [[unlikely]] {
    std::size_t i = 0;
    while (ByteAt(p, i) == kFrameSignature[i]) ++i;
    probe.status = FrameStatus::kBadSignature;
    probe.badBytes = i + 1;
    return probe;
  }
  std::size_t pos = kFrameSignature.size();
  if (n < pos) return probe;
  if (withMarker) {
    if (n == pos) return probe;
    probe.marker = ByteAt(p, pos++);
  }

  std::uint32_t length = 0;
  bool wide = false;
  std::size_t prefix;
  if (n > pos && ByteAt(p, pos) != kEscape) [[likely]] {
    // The one-byte prefix of every short line, without the call.
    length = ByteAt(p, pos);
    prefix = 1;
  } else {
    prefix = ReadLength(p + pos, n - pos, true, length, wide);
    if (prefix == 0) return probe;
  }

  probe.headerSize = pos + prefix;
  probe.textBytes = wide ? std::size_t{length} * 2 : std::size_t{length};
  probe.wide = wide;
  if (probe.textBytes > std::min(maxText, kMaxFrameText)) {
    probe.status = FrameStatus::kTooLong;
  } else if (n - probe.headerSize >= probe.textBytes) {
    probe.status = FrameStatus::kOk;
  }
  return probe;
}

PLAT_HOT_PATH std::size_t WriteFrameHeader(char (&out)[kMaxFrameHeader], std::size_t textSize, bool withMarker,
                             std::uint8_t marker) {
  char* w = out;
  std::memcpy(w, kFrameSignature.data(), kFrameSignature.size());
  w += kFrameSignature.size();
  if (withMarker) *w++ = static_cast<char>(marker);
  if (textSize <= 254) {
    *w++ = static_cast<char>(textSize);
  } else if (textSize <= 65533) {
    *w++ = static_cast<char>(kEscape);
    w = PutLe16(w, static_cast<std::uint32_t>(textSize));
  } else {
    *w++ = static_cast<char>(kEscape);
    w = PutLe16(w, kLength32);
    w = PutLe16(w, static_cast<std::uint32_t>(textSize & 0xFFFF));
    w = PutLe16(w, static_cast<std::uint32_t>(textSize >> 16));
  }
  return static_cast<std::size_t>(w - out);
}

bool AppendFrame(ByteBuffer& out, std::string_view text, bool withMarker,
                 std::uint8_t marker) {
  const std::size_t n = text.size();
  if (n > 0xFFFFFFFFu) return false;
  char header[kMaxFrameHeader];
  const std::size_t headerSize = WriteFrameHeader(header, n, withMarker, marker);
  out.EnsureWritable(headerSize + n);
  char* w = out.BeginWrite();
  std::memcpy(w, header, headerSize);
  if (n != 0) std::memcpy(w + headerSize, text.data(), n);
  out.HasWritten(headerSize + n);
  return true;
}

PLAT_HOT_PATH FrameStatus TakeFrame(ByteBuffer& in, bool withMarker, std::string& text,
                      std::uint8_t& marker, std::size_t maxText) {
  const FrameProbe probe = ProbeFrame(in.Readable(), withMarker, maxText);
  if (probe.status == FrameStatus::kOk) [[likely]] {
    const char* body = in.Peek() + probe.headerSize;
    // Assign before consuming: if it throws, the frame is still there.
    if (probe.wide) [[unlikely]] {
      ConvertWideText(body, probe.textBytes / 2, text);
    } else {
      text.assign(body, probe.textBytes);
    }
    marker = probe.marker;
    in.Retrieve(probe.FrameSize());
  } else if (probe.status == FrameStatus::kBadSignature) {
    in.Retrieve(probe.badBytes);
  }
  // kNeedMore and kTooLong leave the buffer as it is.
  return probe.status;
}

}  // namespace platform
