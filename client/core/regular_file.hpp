// regular_file.hpp - the client's own files opened without ever waiting on
// them (internal).
//
// The installation directory is the player's: a pipe or a device may stand
// under one of its names, and opening a pipe for reading waits for a writer.
// Every file is therefore opened without blocking and taken only when it is
// a regular file within a size bound; anything else reads as missing.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

namespace lobby {

class RegularFile {
 public:
  // Opens a regular file (native path) of at most maxBytes; else nothing is
  // open.
  explicit RegularFile(const std::string& nativePath,
                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  off_t size() const { return size_; }
  // Hands the descriptor to a new owner; nothing is open after.
  int release();

 private:
  int fd_ = -1;
  off_t size_ = 0;
};

// The whole of such a file; nothing for a missing, unreadable, special or
// larger file (also one that grows past the bound while it is read).
std::optional<std::string> ReadRegularFile(const std::string& nativePath, std::size_t maxBytes);

}  // namespace lobby
