// line_aligned.hpp - memory that starts a cache line, for the records a
// query's scan reads of every player (internal to vossad).
//
// The aligned forms of operator new go through the C library's memalign,
// which costs a registration several hundred instructions; these place the
// memory in an ordinary allocation one line longer, the byte before it
// saying how far in.
#pragma once

#include <cstddef>

namespace vossad {

inline constexpr std::size_t kCacheLine = 64;

// Throws std::bad_alloc as operator new does.
void* AllocateLineAligned(std::size_t bytes);
// Takes what AllocateLineAligned gave (or null).
void FreeLineAligned(void* memory) noexcept;

}  // namespace vossad
