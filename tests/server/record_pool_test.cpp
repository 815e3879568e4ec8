// The record pool behind the server's connections and players.
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "record_pool.hpp"

namespace {

using vossad::kCacheLine;

// Across several blocks every slot is distinct, whole and, for line-sized
// records, at a line's start; a slot given back is taken again.
TEST(RecordPool, SlotsAreDistinctAlignedAndReused) {
  using Pool = vossad::RecordPool<100, kCacheLine>;
  std::vector<void*> taken;
  std::set<std::uintptr_t> starts;
  for (std::size_t i = 0; i < 3 * Pool::kSlotsPerBlock; ++i) {
    void* slot = Pool::Take();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(slot) % kCacheLine, 0u);
    std::memset(slot, 0xAB, 100);
    taken.push_back(slot);
    starts.insert(reinterpret_cast<std::uintptr_t>(slot));
  }
  EXPECT_EQ(starts.size(), taken.size());
  std::uintptr_t previous = 0;
  for (const std::uintptr_t start : starts) {
    if (previous != 0) {
      EXPECT_GE(start - previous, 100u);
    }
    previous = start;
  }
  void* last = taken.back();
  taken.pop_back();
  Pool::Give(last);
  void* again = Pool::Take();
#ifndef VOSSAD_RECORD_POOL_OFF
  EXPECT_EQ(again, last);
#endif
  taken.push_back(again);
  for (void* slot : taken) Pool::Give(slot);
}

// Memory sized at run time: line-aligned and whole for sizes pooled and
// not, and a pooled slot given back is taken again for the same lines.
TEST(RecordPool, LinesOfAnySizeStartALineAndAreReused) {
  for (const std::size_t bytes : {std::size_t{1}, std::size_t{64}, std::size_t{65},
                                  vossad::kMaxPooledLines * kCacheLine, vossad::kMaxPooledLines * kCacheLine + 1}) {
    void* memory = vossad::TakeLines(bytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % kCacheLine, 0u) << bytes;
    std::memset(memory, 0xAB, bytes);
    vossad::GiveLines(memory, bytes);
  }
#ifndef VOSSAD_RECORD_POOL_OFF
  void* first = vossad::TakeLines(200);
  vossad::GiveLines(first, 200);
  void* again = vossad::TakeLines(250);  // four lines as well
  EXPECT_EQ(again, first);
  vossad::GiveLines(again, 250);
#endif
}

}  // namespace
