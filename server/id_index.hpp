// id_index.hpp - records found by their id text, for the player registry
// (internal to vossad).
//
// An open-addressing table of pointers: a registration adds no node of its
// own (a node-based map allocates one per player), and a look-up hashes
// the id once with a seeded word-at-a-time hash. Linear probing; a removal
// shifts the entries after it back, so no tombstones build up. The table
// doubles when half full. The records themselves are owned elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vossad {

// Hashes of ids, seeded per table so that ids cannot be chosen to collide.
std::uint64_t HashId(std::string_view id, std::uint64_t seed);
std::uint64_t NewIdSeed();

// IdOf(const T&) gives the record's id, which must not change while the
// record is in the table.
template <class T, std::string_view (*IdOf)(const T&)>
class IdIndex {
 public:
  IdIndex() : seed_(NewIdSeed()) {}
  IdIndex(const IdIndex&) = delete;
  IdIndex& operator=(const IdIndex&) = delete;

  std::size_t size() const { return count_; }

  // The id's hash in this table, for a look-up and an insertion of one id.
  std::uint64_t Hash(std::string_view id) const { return HashId(id, seed_); }

  T* Find(std::string_view id) const { return count_ == 0 ? nullptr : Find(id, Hash(id)); }
  T* Find(std::string_view id, std::uint64_t hash) const {
    if (count_ == 0) return nullptr;
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Bucket& bucket = buckets_[i];
      if (bucket.record == nullptr) return nullptr;
      if (bucket.hash == hash && IdOf(*bucket.record) == id) return bucket.record;
    }
  }

  // The record's id must not be in the table yet.
  void Insert(T* record) { Insert(record, Hash(IdOf(*record))); }
  // `hash` is Hash() of the record's id.
  void Insert(T* record, std::uint64_t hash) {
    if ((count_ + 1) * 2 > buckets_.size()) Grow();
    Place(Bucket{hash, record});
    ++count_;
  }

  // Takes the record with this id out; false when there was none.
  bool Erase(std::string_view id) {
    if (count_ == 0) return false;
    const std::uint64_t hash = HashId(id, seed_);
    std::size_t i = hash & mask_;
    for (;; i = (i + 1) & mask_) {
      const Bucket& bucket = buckets_[i];
      if (bucket.record == nullptr) return false;
      if (bucket.hash == hash && IdOf(*bucket.record) == id) break;
    }
    // Moves back each following entry that may sit no earlier than the
    // hole: its home is not cyclically within (hole, j].
    std::size_t hole = i;
    for (std::size_t j = (i + 1) & mask_; buckets_[j].record != nullptr; j = (j + 1) & mask_) {
      const std::size_t home = buckets_[j].hash & mask_;
      if (((j - home) & mask_) >= ((j - hole) & mask_)) {
        buckets_[hole] = buckets_[j];
        hole = j;
      }
    }
    buckets_[hole] = Bucket{};
    --count_;
    return true;
  }

 private:
  struct Bucket {
    std::uint64_t hash = 0;
    T* record = nullptr;  // null: empty
  };

  void Place(const Bucket& entry) {
    std::size_t i = entry.hash & mask_;
    while (buckets_[i].record != nullptr) i = (i + 1) & mask_;
    buckets_[i] = entry;
  }

  void Grow() {
    std::vector<Bucket> old = std::move(buckets_);
    buckets_.assign(old.empty() ? 16 : old.size() * 2, Bucket{});
    mask_ = buckets_.size() - 1;
    for (const Bucket& bucket : old) {
      if (bucket.record != nullptr) Place(bucket);
    }
  }

  std::uint64_t seed_;
  std::vector<Bucket> buckets_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace vossad
