// serial_order.hpp - players (or entries holding them) kept in order of
// their registration numbers, for the registries' queries (internal to
// vossad).
//
// A vector of slots sorted by number, so a query's scan walks memory in
// order instead of chasing tree nodes. Numbers mostly arrive in increasing
// order (appended); one that does not is inserted where it belongs. Taking
// an item out leaves an empty slot behind (O(log n) to find it); slots are
// compacted once more than half are empty, which keeps the numbers, so a
// query's cursor stays valid.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vossad {

template <class T>
class SerialOrder {
 public:
  std::size_t size() const { return slots_.size() - emptySlots_; }

  // The item under `serial`, or null.
  T* Find(std::uint64_t serial) const {
    const std::size_t i = LowerBound(serial);
    return i < slots_.size() && slots_[i].serial == serial ? slots_[i].item.get() : nullptr;
  }

  // Places the item under `serial` and returns it; null (the item
  // dropped) when that number is taken already.
  T* Insert(std::uint64_t serial, std::unique_ptr<T> item) {
    if (slots_.empty() || slots_.back().serial < serial) {
      slots_.push_back(Slot{serial, std::move(item)});
      return slots_.back().item.get();
    }
    const std::size_t i = LowerBound(serial);
    if (i < slots_.size() && slots_[i].item == nullptr) {
      // An empty slot where the number belongs takes it (the order holds:
      // the slot before is lower, this one was at least as high). An item
      // moved to a lower number usually lands in the slot it just left.
      slots_[i].serial = serial;
      slots_[i].item = std::move(item);
      --emptySlots_;
      return slots_[i].item.get();
    }
    if (i < slots_.size() && slots_[i].serial == serial) return nullptr;
    return slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(i), Slot{serial, std::move(item)})
        ->item.get();
  }

  // Takes the item under `serial` out (null when there is none, or when
  // `only` is given and the item is another).
  std::unique_ptr<T> Take(std::uint64_t serial, const T* only = nullptr) {
    const std::size_t i = LowerBound(serial);
    if (i >= slots_.size() || slots_[i].serial != serial || slots_[i].item == nullptr) return nullptr;
    if (only != nullptr && slots_[i].item.get() != only) return nullptr;
    std::unique_ptr<T> item = std::move(slots_[i].item);
    ++emptySlots_;
    if (emptySlots_ > 64 && emptySlots_ * 2 > slots_.size()) Compact();
    return item;
  }

  // Fills `out` with project(item) for the items numbered `from` or higher,
  // in order; returns how many.
  template <class Out, class Project>
  std::size_t Scan(std::uint64_t from, std::span<Out> out, Project project) const {
    std::size_t filled = 0;
    for (std::size_t i = LowerBound(from); i < slots_.size() && filled < out.size(); ++i) {
      if (T* item = slots_[i].item.get()) out[filled++] = project(*item);
    }
    return filled;
  }

  // The items numbered `from` or higher, in order. Each pointer stays
  // valid until that item is taken out.
  std::vector<T*> From(std::uint64_t from = 0) const {
    std::vector<T*> items;
    for (std::size_t i = LowerBound(from); i < slots_.size(); ++i) {
      if (T* item = slots_[i].item.get()) items.push_back(item);
    }
    return items;
  }

 private:
  struct Slot {
    std::uint64_t serial;
    std::unique_ptr<T> item;  // empty once taken out
  };

  std::size_t LowerBound(std::uint64_t serial) const {
    const auto it = std::lower_bound(slots_.begin(), slots_.end(), serial,
                                     [](const Slot& slot, std::uint64_t s) { return slot.serial < s; });
    return static_cast<std::size_t>(it - slots_.begin());
  }

  void Compact() {
    std::erase_if(slots_, [](const Slot& slot) { return slot.item == nullptr; });
    emptySlots_ = 0;
    if (slots_.capacity() > 2 * slots_.size() + 64) slots_.shrink_to_fit();
  }

  std::vector<Slot> slots_;
  std::size_t emptySlots_ = 0;
};

}  // namespace vossad
