#include "wav_length.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lobby {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The file, read at given offsets (plain reads: a stream would set up the
// C++ locale for the first sound at start-up).
class WavFile {
 public:
  explicit WavFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st {};
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
  }
  ~WavFile() {
    if (fd_ >= 0) close(fd_);
  }
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // A regular file's size; -1 for anything else.
  off_t size() const { return size_; }
  bool Read(off_t at, unsigned char* out, std::size_t bytes) const {
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t n = pread(fd_, out + done, bytes - done, at + static_cast<off_t>(done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  off_t size_ = -1;
};

}  // namespace

std::optional<std::chrono::milliseconds> WavLength(const std::string& nativePath) {
  const WavFile in(nativePath);
  const off_t fileSize = in.size();
  if (fileSize < 0) return std::nullopt;
  unsigned char riff[12];
  if (!in.Read(0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    return std::nullopt;

  std::uint32_t byteRate = 0;
  off_t at = 12;
  // Chunks follow one another, each padded to an even length; a file made
  // by hand may put anything between the format and the data.
  while (at + 8 <= fileSize) {
    unsigned char header[8];
    if (!in.Read(at, header, sizeof header)) return std::nullopt;
    const std::uint32_t size = Le32(header + 4);
    const off_t body = at + 8;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (size < 16) return std::nullopt;
      unsigned char fmt[16];
      if (!in.Read(body, fmt, sizeof fmt)) return std::nullopt;
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
