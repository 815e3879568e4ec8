// record_pool.hpp - memory for the records the lobby server makes and frees
// one of per connection or per player (internal to vossad).
//
// Slots of one size are carved from blocks of kSlotsPerBlock, and a freed
// slot goes on its thread's free list for the next record of that size.
// With thousands of records alive, the C library's allocator takes a few
// hundred instructions to make and free each one; a slot takes a handful.
// Blocks start a cache line and are kept for the process's life (the peak
// number of records stays allocated, as the C library's heap mostly keeps
// it too); a slot size that is a multiple of the line starts every record
// on a line of its own. A slot freed on another thread than it was taken on
// simply goes on that thread's list. An address sanitizer build takes every
// record from the ordinary allocator, so that it still sees each use after
// free.
#pragma once

#include <cstddef>
#include <new>

#include "line_aligned.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define VOSSAD_RECORD_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOSSAD_RECORD_POOL_OFF 1
#endif
#endif

namespace vossad {

namespace detail {
// A block of `bytes` starting a cache line, never freed.
char* NewRecordBlock(std::size_t bytes);
}  // namespace detail

// Memory of varying size that starts a cache line, for records made per
// player whose size is known only at run time (a description): slots of
// whole lines, from the thread's list for that many lines; more than
// kMaxPooledLines lines go to AllocateLineAligned. Give must be told the
// size Take was asked for. Throws std::bad_alloc as operator new does.
inline constexpr std::size_t kMaxPooledLines = 16;
void* TakeLines(std::size_t bytes);
void GiveLines(void* memory, std::size_t bytes) noexcept;

// Slots for records of `Bytes` bytes, `Align` aligned (at most a cache line).
template <std::size_t Bytes, std::size_t Align>
class RecordPool {
 public:
  static_assert(Align <= kCacheLine && kCacheLine % Align == 0);
  static constexpr std::size_t kSlotBytes = (Bytes + Align - 1) / Align * Align;
  static constexpr std::size_t kSlotsPerBlock = 64;

  // Throws std::bad_alloc as operator new does.
  static void* Take() {
#ifdef VOSSAD_RECORD_POOL_OFF
    return ::operator new(kSlotBytes, std::align_val_t{Align});
#else
    if (FreeSlot* slot = t_free) {
      t_free = slot->next;
      return slot;
    }
    if (t_next == t_end) {
      t_next = detail::NewRecordBlock(kSlotBytes * kSlotsPerBlock);
      t_end = t_next + kSlotBytes * kSlotsPerBlock;
    }
    void* slot = t_next;
    t_next += kSlotBytes;
    return slot;
#endif
  }

  // Takes what Take gave (or null).
  static void Give(void* memory) noexcept {
    if (memory == nullptr) return;
#ifdef VOSSAD_RECORD_POOL_OFF
    ::operator delete(memory, std::align_val_t{Align});
#else
    auto* slot = static_cast<FreeSlot*>(memory);
    slot->next = t_free;
    t_free = slot;
#endif
  }

 private:
  struct FreeSlot {
    FreeSlot* next;
  };
  static_assert(kSlotBytes >= sizeof(FreeSlot));
  static thread_local inline FreeSlot* t_free = nullptr;
  static thread_local inline char* t_next = nullptr;
  static thread_local inline char* t_end = nullptr;
};

}  // namespace vossad
