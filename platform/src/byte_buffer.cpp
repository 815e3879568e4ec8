#include "platform/byte_buffer.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace platform {

ByteBuffer::ByteBuffer(std::size_t initialSize)
    : data_(std::make_unique_for_overwrite<char[]>(kCheapPrepend + initialSize)),
      capacity_(kCheapPrepend + initialSize) {}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::move(other.data_)),
      capacity_(std::exchange(other.capacity_, 0)),
      readIndex_(std::exchange(other.readIndex_, 0)),
      writeIndex_(std::exchange(other.writeIndex_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    capacity_ = std::exchange(other.capacity_, 0);
    readIndex_ = std::exchange(other.readIndex_, 0);
    writeIndex_ = std::exchange(other.writeIndex_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() = default;

std::string ByteBuffer::RetrieveAsString(std::size_t n) {
  n = std::min(n, ReadableBytes());
  std::string out(Peek(), n);
  Retrieve(n);
  return out;
}

void ByteBuffer::Append(const void* data, std::size_t n) {
  if (n == 0) return;
  EnsureWritable(n);
  std::memcpy(BeginWrite(), data, n);
  writeIndex_ += n;
}

void ByteBuffer::Prepend(const void* data, std::size_t n) {
  assert(n <= PrependableBytes());
  if (n == 0) return;
  readIndex_ -= n;
  std::memcpy(data_.get() + readIndex_, data, n);
}

void ByteBuffer::MakeSpace(std::size_t n) {
  const std::size_t readable = ReadableBytes();
  if (WritableBytes() + PrependableBytes() >= n + kCheapPrepend) {
    // Enough room once the consumed bytes in front are reused.
    std::memmove(data_.get() + kCheapPrepend, Peek(), readable);
    readIndex_ = kCheapPrepend;
    writeIndex_ = kCheapPrepend + readable;
    return;
  }
  // Doubling keeps a large frame that arrives in many small reads from
  // costing one reallocation per read.
  const std::size_t needed = kCheapPrepend + readable + n;
  Reallocate(std::max(needed, capacity_ * 2));
}

void ByteBuffer::Reallocate(std::size_t newCapacity) {
  const std::size_t readable = ReadableBytes();
  auto fresh = std::make_unique_for_overwrite<char[]>(newCapacity);
  if (readable != 0) std::memcpy(fresh.get() + kCheapPrepend, Peek(), readable);
  data_ = std::move(fresh);
  capacity_ = newCapacity;
  readIndex_ = kCheapPrepend;
  writeIndex_ = kCheapPrepend + readable;
}

void ByteBuffer::Shrink(std::size_t reserve) {
  const std::size_t wanted = kCheapPrepend + ReadableBytes() + reserve;
  if (wanted < capacity_) Reallocate(wanted);
}

}  // namespace platform
