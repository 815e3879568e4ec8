// filter.hpp - user descriptions split into pairs, and the query filter that
// selects players by them. Internal to the lobby server; pure (no I/O).
//
// A description is a run of "KEY=value;" pairs ("VERSION=1;REAL=Ann Lee;
// CITY=Oslo;SEX=1;..."); a query filter is written the same way. Clients put
// typed text into both without escaping, so a value may itself hold ";" or
// "=". Both are therefore split with the same rule, which keeps a value that
// a player typed with a ";" matchable by a filter holding the same text:
//
//   - the text is cut at every ";" into pieces (a last piece without ";"
//     counts too);
//   - a piece whose text before its first "=" is, after leading blanks, a
//     non-empty run of letters, digits and "_" starts a new pair with that
//     key; the value is everything after that "=";
//   - a piece that is empty or all blanks is skipped;
//   - any other piece (no "=", or no such key) continues the value of the
//     pair before it, the ";" included; before the first pair it is ignored.
//
// Matching rule of a filter against a player's description:
//   - a filter with no pairs (empty, one blank, only blanks) matches everyone;
//   - otherwise every pair of the filter must match, each on its own:
//       * an empty filter value sets no condition;
//       * keys compare without regard to case, and the first pair of the
//         description with that key is the one looked at;
//       * a key that the description lacks fails the match;
//       * SEX and AGE must be equal to the filter value (ASCII case
//         ignored): "SEX=1" must not match "SEX=10", "AGE=3" not "AGE=31";
//       * every other key matches when the filter value occurs anywhere in
//         the player's value, ASCII case ignored ("CITY=osl" matches
//         "CITY=Oslo").
// Repeated keys in a filter must all match.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line_aligned.hpp"
#include "record_pool.hpp"

namespace vossad {

// Where one pair lies in its text. 16-bit offsets keep a description's index
// small; descriptions are bounded well below 64 KiB by the server.
struct PairSpan {
  std::uint16_t keyPos = 0;
  std::uint16_t keyLen = 0;
  std::uint16_t valuePos = 0;
  std::uint16_t valueLen = 0;
};

inline constexpr std::size_t kMaxPairText = 0xFFFF;

// Splits text (at most kMaxPairText bytes; the rest is ignored) into pairs.
std::vector<PairSpan> SplitPairs(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// a == b, compared inline and reading nothing past either: the library's
// memcmp reads a whole vector past a short string, for a query's scan the
// player record's next cache line, every player.
bool SameBytes(std::string_view a, std::string_view b);
// True when needle occurs in haystack, ASCII case ignored; needle must
// already be lower case.
bool ContainsLowered(std::string_view haystack, std::string_view loweredNeedle);

// A player's description, split once at registration so that a query does
// no parsing per player. The text and its pairs are kept in one block, and
// each pair carries its key's length and first bytes, lower-cased (a key
// tag): a query's scan rejects the other keys of a description without
// reading its text, and for a short key finds it the same way.
class Description {
 public:
  // A key's length and its first kTagBytes bytes, ASCII lower case.
  using KeyTag = std::uint64_t;
  static constexpr std::size_t kTagBytes = 4;
  static KeyTag TagOf(std::string_view key);

  Description() = default;
  explicit Description(std::string_view text);
  Description(const Description& other);
  Description& operator=(const Description& other);
  Description(Description&&) noexcept = default;
  Description& operator=(Description&&) noexcept = default;

  std::string_view text() const;
  // Asks the processor for the first line of the block, which a look-up
  // reads first.
  void Prefetch() const { __builtin_prefetch(block_.get()); }
  std::size_t pairCount() const { return block_ ? block_->count : 0; }
  // The value of the first pair with this key (case ignored), or nothing.
  std::optional<std::string_view> Find(std::string_view key) const { return Find(TagOf(key), key); }
  // The same for a key whose tag is known already. Inline: a query's scan
  // asks it of every player.
  std::optional<std::string_view> Find(KeyTag tag, std::string_view key) const {
    if (!block_) return std::nullopt;
    const Pair* pair = block_->pairs();
    const Pair* const end = pair + block_->count;
    const auto keyLen = static_cast<std::uint16_t>(tag);
    const auto keyHead = static_cast<std::uint32_t>(tag >> 16);
    for (; pair != end; ++pair) {
      if (pair->keyLen != keyLen || pair->keyHead != keyHead) continue;
      // The tag holds the whole of a short key; a longer one is compared
      // on from where the tag ends.
      if (key.size() > kTagBytes && !RestOfKeyEquals(*pair, key)) continue;
      return std::string_view(block_->text() + pair->valuePos, pair->valueLen);
    }
    return std::nullopt;
  }

 private:
  struct Pair {
    std::uint32_t keyHead;  // the tag without the length
    std::uint16_t keyLen;
    std::uint16_t keyPos;
    std::uint16_t valuePos;
    std::uint16_t valueLen;
  };
  // Followed in the same allocation by `count` pairs and then the text.
  struct Block {
    std::uint32_t count;
    std::uint32_t textSize;
    const Pair* pairs() const { return reinterpret_cast<const Pair*>(this + 1); }
    Pair* pairs() { return reinterpret_cast<Pair*>(this + 1); }
    const char* text() const { return reinterpret_cast<const char*>(pairs() + count); }
    std::size_t bytes() const { return sizeof(Block) + count * sizeof(Pair) + textSize; }
  };
  // A block starts a cache line, so that the pairs a lookup reads first
  // share the line of the header.
  struct Free {
    void operator()(Block* block) const { GiveLines(block, block->bytes()); }
  };
  static std::unique_ptr<Block, Free> Allocate(std::size_t count, std::size_t textSize);
  static std::unique_ptr<Block, Free> Copy(const Block* block);
  bool RestOfKeyEquals(const Pair& pair, std::string_view key) const;

  std::unique_ptr<Block, Free> block_;
};

class Filter {
 public:
  static Filter Parse(std::string_view text);

  bool MatchesEveryone() const { return conditions_.empty(); }
  bool Matches(const Description& description) const {
    for (const Condition& condition : conditions_) {
      const std::optional<std::string_view> value = description.Find(condition.tag, condition.key);
      // Too short a value holds neither the same text nor a longer one.
      if (!value || value->size() < condition.value.size()) return false;
      const bool ok = condition.exact ? EqualsIgnoreCase(*value, condition.value)
                                      : ContainsLowered(*value, condition.value);
      if (!ok) return false;
    }
    return true;
  }

 private:
  struct Condition {
    Description::KeyTag tag = 0;
    std::string key;    // as written
    std::string value;  // lower case
    bool exact = false;
  };
  std::vector<Condition> conditions_;
};

}  // namespace vossad
