// byte_buffer.hpp - growable byte buffer for one direction of a connection
// (public: the agent, the lobby server and the stream channel use it).
//
// Layout (one contiguous block):
//
//   +-------------+------------------+------------------+
//   | prependable |     readable     |     writable     |
//   +-------------+------------------+------------------+
//   0        readIndex          writeIndex          capacity
//
// A socket reads straight into the writable region (EnsureWritable,
// BeginWrite, HasWritten); the frame decoder looks at the readable region
// (Peek) and consumes a whole frame at once (Retrieve). When the writable
// region is too small, unread bytes are first moved back to the front, and
// the block only grows when that is not enough, so a connection that keeps
// up with its peer never reallocates.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class ByteBuffer {
 public:
  // Room kept in front of the readable bytes so that a small header can be
  // put before data that is already in the buffer without moving it.
  static constexpr std::size_t kCheapPrepend = 8;
  static constexpr std::size_t kInitialSize = 4096;

  explicit ByteBuffer(std::size_t initialSize = kInitialSize);
  ByteBuffer(ByteBuffer&&) noexcept;
  ByteBuffer& operator=(ByteBuffer&&) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  std::size_t ReadableBytes() const { return writeIndex_ - readIndex_; }
  std::size_t WritableBytes() const { return capacity_ - writeIndex_; }
  std::size_t PrependableBytes() const { return readIndex_; }
  std::size_t Capacity() const { return capacity_; }

  // The first unread byte; valid until the next non-const call.
  const char* Peek() const { return data_.get() + readIndex_; }
  std::string_view Readable() const { return {Peek(), ReadableBytes()}; }

  // Consumes n unread bytes (all of them when n is larger).
  void Retrieve(std::size_t n) {
    if (n < ReadableBytes()) {
      readIndex_ += n;
    } else {
      RetrieveAll();
    }
  }
  void RetrieveAll() {
    // Back to the front: the next socket read gets the whole block.
    readIndex_ = capacity_ < kCheapPrepend ? capacity_ : kCheapPrepend;
    writeIndex_ = readIndex_;
  }
  std::string RetrieveAsString(std::size_t n);

  void Append(const void* data, std::size_t n);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  // Puts n bytes in front of the readable ones; n <= PrependableBytes().
  void Prepend(const void* data, std::size_t n);

  // Makes room for at least n more bytes after the readable ones.
  void EnsureWritable(std::size_t n) {
    if (WritableBytes() < n) MakeSpace(n);
  }
  char* BeginWrite() { return data_.get() + writeIndex_; }
  // Marks n bytes written at BeginWrite() as readable; n <= WritableBytes().
  void HasWritten(std::size_t n) {
    assert(n <= WritableBytes());
    writeIndex_ += n < WritableBytes() ? n : WritableBytes();
  }

  // Gives back memory held after a burst of large frames, keeping the
  // unread bytes and `reserve` bytes of writable room.
  void Shrink(std::size_t reserve = 0);

 private:
  void MakeSpace(std::size_t n);
  void Reallocate(std::size_t newCapacity);

  // Not a std::vector: growing would zero-fill memory that a socket read is
  // about to overwrite anyway.
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t readIndex_ = kCheapPrepend;
  std::size_t writeIndex_ = kCheapPrepend;
};

}  // namespace platform
