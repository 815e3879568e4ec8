#include "wav_length.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "regular_file.hpp"

namespace lobby {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Reads bytes at an offset of the file; false short of them.
bool ReadAt(const RegularFile& file, off_t at, unsigned char* out, std::size_t bytes) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = pread(file.fd(), out + done, bytes - done, at + static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::chrono::milliseconds> WavLength(const std::string& nativePath) {
  // Plain reads: a stream would set up the C++ locale for the first sound at
  // start-up.
  const RegularFile in(nativePath);
  if (!in.ok()) return std::nullopt;
  const off_t fileSize = in.size();
  unsigned char riff[12];
  if (!ReadAt(in, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    return std::nullopt;

  std::uint32_t byteRate = 0;
  off_t at = 12;
  // Chunks follow one another, each padded to an even length; a file made
  // by hand may put anything between the format and the data.
  while (at + 8 <= fileSize) {
    unsigned char header[8];
    if (!ReadAt(in, at, header, sizeof header)) return std::nullopt;
    const std::uint32_t size = Le32(header + 4);
    const off_t body = at + 8;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (size < 16) return std::nullopt;
      unsigned char fmt[16];
      if (!ReadAt(in, body, fmt, sizeof fmt)) return std::nullopt;
      const std::uint16_t channels = Le16(fmt + 2);
      byteRate = Le32(fmt + 8);
      if (channels == 0 || byteRate == 0) return std::nullopt;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (byteRate == 0) return std::nullopt;  // data before its format
      const off_t present = fileSize - body;
      const off_t bytes = std::min<off_t>(size, present);
      return std::chrono::milliseconds(static_cast<long long>(bytes) * 1000 / byteRate);
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

}  // namespace lobby
