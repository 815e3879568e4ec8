// recent_entries.hpp - the last two entries found in a map keyed by player
// id. Internal to the zep library.
//
// A subgroup's tables are looked up by id for every user message: an owner
// relaying between two members looks each of them up in turn, a member
// looks up the one it talks to. Remembering two entries lets both find
// their entry without searching the map. The map's nodes never move, so a
// remembered entry stays valid until it is erased: the table that owns the
// map calls Forget before every erasure and Clear when it empties the map.
#pragma once

#include <array>
#include <cstring>
#include <string_view>

#include "short_bytes.hpp"

namespace zep {

template <typename Map>
class RecentEntries {
 public:
  using Entry = const typename Map::value_type;

  // The remembered entry under `key`, or null.
  Entry* Find(std::string_view key) const {
    for (Entry* entry : entries_) {
      if (entry != nullptr && SameKey(entry->first, key)) return entry;
    }
    return nullptr;
  }
  // Takes the place of the entry remembered longer ago.
  void Remember(Entry* entry) {
    entries_[next_] = entry;
    next_ ^= 1;
  }
  void Forget(Entry* entry) {
    for (Entry*& slot : entries_) {
      if (slot == entry) slot = nullptr;
    }
  }
  void Clear() { entries_ = {}; }

 private:
  // Ids of one host differ in their port, at the end: the last character
  // tells most of them apart without a call to memcmp. An id of up to 16
  // characters is compared inline.
  static bool SameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || (a.back() == b.back() && SameBytes(a.data(), b.data(), a.size())));
  }

  std::array<Entry*, 2> entries_{};
  unsigned next_ = 0;
};

}  // namespace zep
