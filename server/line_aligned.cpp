#include "line_aligned.hpp"

#include <cstdint>
#include <new>

namespace vossad {

void* AllocateLineAligned(std::size_t bytes) {
  auto* raw = static_cast<unsigned char*>(::operator new(bytes + kCacheLine));
  // The first line start past raw's first byte: 1 to kCacheLine bytes in.
  const std::size_t offset = kCacheLine - reinterpret_cast<std::uintptr_t>(raw) % kCacheLine;
  unsigned char* at = raw + offset;
  at[-1] = static_cast<unsigned char>(offset);
  return at;
}

void FreeLineAligned(void* memory) noexcept {
  if (memory == nullptr) return;
  auto* at = static_cast<unsigned char*>(memory);
  ::operator delete(at - at[-1]);
}

}  // namespace vossad
