// ring.hpp - a first-in, first-out queue whose slots are reused (public; the
// loop's queue of posted work and the agent's message queue are rings).
//
// A slot keeps what it last held when its item is taken, so an item type
// that owns memory (a string) keeps that memory for the next item put there:
// once the ring has room for what waits, going through it costs no
// allocation. The ring doubles when full; an empty ring larger than `kept`
// slots gives the rest back (ShrinkIfEmpty), so that a burst does not hold
// its memory for good.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

template <typename T>
class Ring {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  // Every slot in use: the next PushSlot grows the ring.
  bool full() const { return size_ == slotCount_; }

  // The slot after the last item, made part of the ring: assign every field
  // of it (it holds whatever its last item left there).
  T& PushSlot() {
    if (size_ == slotCount_) [[unlikely]]
      Grow();
    // An empty ring starts at its first slot (pop_front): no division.
    return size_ == 0 ? slots_[size_++] : At(size_++);
  }
  // The oldest item; the ring must not be empty. (head_ is always below
  // the slot count: no division.)
  T& front() { return slots_[head_]; }
  // Drops the oldest item, leaving its slot as it is for reuse. A ring
  // that empties starts again at its first slot: a queue that is read as
  // fast as it is filled keeps using the same slot, whose memory is then
  // still in the cache, instead of walking through all of them.
  void pop_front() {
    head_ = --size_ == 0 ? 0 : (head_ + 1) % slotCount_;
  }
  // The i-th oldest item.
  T& At(std::size_t i) { return slots_[(head_ + i) % slotCount_]; }

  void clear() {
    head_ = 0;
    size_ = 0;
  }
  // When empty, keeps at most `kept` slots.
  void ShrinkIfEmpty(std::size_t kept) {
    if (size_ == 0 && slotCount_ > kept) [[unlikely]]
      Shrink(kept);
  }

 private:
  static constexpr std::size_t kFirstSlots = 8;

  // Growing and shrinking happen once per burst; out of line, they keep the
  // code of every push and pop short.
  [[gnu::noinline, gnu::cold]] void Shrink(std::size_t kept) {
    head_ = 0;
    slots_.resize(kept);
    slots_.shrink_to_fit();
    slotCount_ = slots_.size();
  }
  // Twice the slots, the items moved to the front in order.
  [[gnu::noinline, gnu::cold]] void Grow() {
    std::vector<T> grown(slots_.empty() ? kFirstSlots : 2 * slots_.size());
    for (std::size_t i = 0; i < size_; ++i) grown[i] = std::move(At(i));
    slots_ = std::move(grown);
    slotCount_ = slots_.size();
    head_ = 0;
  }

  std::vector<T> slots_;
  // slots_.size(), kept: computing it divides by the size of a slot.
  std::size_t slotCount_ = 0;
  std::size_t head_ = 0;  // the oldest item
  std::size_t size_ = 0;
};

}  // namespace platform
