#include "wav_length.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace lobby {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

std::optional<std::chrono::milliseconds> WavLength(const std::string& nativePath) {
  std::ifstream in(nativePath, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const std::streamoff fileSize = in.tellg();
  in.seekg(0);
  unsigned char riff[12];
  if (!in.read(reinterpret_cast<char*>(riff), sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return std::nullopt;

  std::uint32_t byteRate = 0;
  std::streamoff at = 12;
  // Chunks follow one another, each padded to an even length; a file made
  // by hand may put anything between the format and the data.
  while (at + 8 <= fileSize) {
    unsigned char header[8];
    in.seekg(at);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    const std::uint32_t size = Le32(header + 4);
    const std::streamoff body = at + 8;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (size < 16) return std::nullopt;
      unsigned char fmt[16];
      if (!in.read(reinterpret_cast<char*>(fmt), sizeof fmt)) return std::nullopt;
      const std::uint16_t channels = Le16(fmt + 2);
      byteRate = Le32(fmt + 8);
      if (channels == 0 || byteRate == 0) return std::nullopt;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (byteRate == 0) return std::nullopt;  // data before its format
      const std::streamoff present = fileSize - body;
      const std::streamoff bytes = std::min<std::streamoff>(size, present);
      return std::chrono::milliseconds(static_cast<long long>(bytes) * 1000 / byteRate);
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

}  // namespace lobby
