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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// True when needle occurs in haystack, ASCII case ignored; needle must
// already be lower case.
bool ContainsLowered(std::string_view haystack, std::string_view loweredNeedle);

// A player's description, split once at registration so that a query does
// no parsing per player.
class Description {
 public:
  Description() = default;
  explicit Description(std::string text);

  const std::string& text() const { return text_; }
  std::size_t pairCount() const { return pairs_.size(); }
  // The value of the first pair with this key (case ignored), or nothing.
  std::optional<std::string_view> Find(std::string_view key) const;

 private:
  std::string text_;
  std::vector<PairSpan> pairs_;
};

class Filter {
 public:
  static Filter Parse(std::string_view text);

  bool MatchesEveryone() const { return conditions_.empty(); }
  bool Matches(const Description& description) const;

 private:
  struct Condition {
    std::string key;    // as written
    std::string value;  // lower case
    bool exact = false;
  };
  std::vector<Condition> conditions_;
};

}  // namespace vossad
