#include "record_pool.hpp"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace vossad::detail {

char* NewRecordBlock(std::size_t bytes) {
  // Held from a pointer that is never destroyed: records may be freed
  // during exit, after the statics of this file are gone.
  static std::mutex* const mutex = new std::mutex;
  static std::vector<char*>* const blocks = new std::vector<char*>;
  auto* block = static_cast<char*>(::operator new(bytes, std::align_val_t{kCacheLine}));
  std::lock_guard<std::mutex> lock(*mutex);
  blocks->push_back(block);
  return block;
}

}  // namespace vossad::detail

namespace vossad {
namespace {

// Blocks of lines are carved into slots of one size each.
constexpr std::size_t kLinesBlockBytes = 16 * 1024;

struct FreeLines {
  FreeLines* next;
};
// Per slot size in lines (index 0 unused); zero-initialised and trivially
// destructible, so usable for as long as the thread runs.
struct LineLists {
  FreeLines* free[kMaxPooledLines + 1];
  char* next[kMaxPooledLines + 1];
  char* end[kMaxPooledLines + 1];
};
thread_local LineLists t_lines;

std::size_t LinesFor(std::size_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine; }

// Whether blocks of this many lines come from the thread's lists.
bool Pooled(std::size_t lines) {
#ifdef VOSSAD_RECORD_POOL_OFF
  (void)lines;
  return false;
#else
  return lines > 0 && lines <= kMaxPooledLines;
#endif
}

}  // namespace

void* TakeLines(std::size_t bytes) {
  const std::size_t lines = LinesFor(bytes);
  const bool pooled = Pooled(lines);
  if (!pooled) return AllocateLineAligned(bytes);
  LineLists& lists = t_lines;
  if (FreeLines* slot = lists.free[lines]) {
    lists.free[lines] = slot->next;
    return slot;
  }
  const std::size_t slotBytes = lines * kCacheLine;
  if (static_cast<std::size_t>(lists.end[lines] - lists.next[lines]) < slotBytes) {
    lists.next[lines] = detail::NewRecordBlock(kLinesBlockBytes);
    // What is left after the last whole slot stays unused.
    lists.end[lines] = lists.next[lines] + kLinesBlockBytes / slotBytes * slotBytes;
  }
  void* slot = lists.next[lines];
  lists.next[lines] += slotBytes;
  return slot;
}

void GiveLines(void* memory, std::size_t bytes) noexcept {
  if (memory == nullptr) return;
  const std::size_t lines = LinesFor(bytes);
  const bool pooled = Pooled(lines);
  if (!pooled) return FreeLineAligned(memory);
  auto* slot = static_cast<FreeLines*>(memory);
  LineLists& lists = t_lines;
  slot->next = lists.free[lines];
  lists.free[lines] = slot;
}

}  // namespace vossad
