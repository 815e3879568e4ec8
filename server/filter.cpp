#include "filter.hpp"

#include <algorithm>

namespace vossad {
namespace {

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool ContainsLowered(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  if (needle.size() > haystack.size()) return false;
  const char first = needle[0];
  const std::size_t last = haystack.size() - needle.size();
  for (std::size_t i = 0; i <= last; ++i) {
    if (Lower(haystack[i]) != first) continue;
    std::size_t k = 1;
    while (k < needle.size() && Lower(haystack[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return true;
  }
  return false;
}

namespace {

// Walks the "key=value;" pieces of text: onPair(span) for each piece that
// starts a pair, onContinued(end) for one that continues the previous
// value (its ";" was part of the value).
template <typename OnPair, typename OnContinued>
void ScanPairs(std::string_view text, OnPair onPair, OnContinued onContinued) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);

    std::size_t keyStart = 0;
    while (keyStart < piece.size() && piece[keyStart] == ' ') ++keyStart;
    const std::size_t eq = piece.find('=');
    bool startsPair = eq != std::string_view::npos && eq > keyStart;
    for (std::size_t i = keyStart; startsPair && i < eq; ++i) startsPair = IsKeyChar(piece[i]);

    const bool blank = keyStart == piece.size();
    if (blank) {
      // Nothing to match on: "" between ";;" or the filter " ".
    } else if (startsPair) {
      PairSpan span;
      span.keyPos = static_cast<std::uint16_t>(pos + keyStart);
      span.keyLen = static_cast<std::uint16_t>(eq - keyStart);
      span.valuePos = static_cast<std::uint16_t>(pos + eq + 1);
      span.valueLen = static_cast<std::uint16_t>(piece.size() - eq - 1);
      onPair(span);
    } else {
      onContinued(end);
    }
    pos = end + 1;
  }
}

}  // namespace

std::vector<PairSpan> SplitPairs(std::string_view text) {
  text = text.substr(0, std::min(text.size(), kMaxPairText));
  // Counted first, so that the vector is allocated once at its size (every
  // registration splits its description).
  std::size_t count = 0;
  ScanPairs(text, [&count](const PairSpan&) { ++count; }, [](std::size_t) {});
  std::vector<PairSpan> pairs;
  pairs.reserve(count);
  ScanPairs(
      text, [&pairs](const PairSpan& span) { pairs.push_back(span); },
      [&pairs](std::size_t end) {
        if (pairs.empty()) return;
        PairSpan& previous = pairs.back();
        previous.valueLen = static_cast<std::uint16_t>(end - previous.valuePos);
      });
  return pairs;
}

Description::Description(std::string text) : text_(std::move(text)), pairs_(SplitPairs(text_)) {}

std::optional<std::string_view> Description::Find(std::string_view key) const {
  const std::string_view text(text_);
  for (const PairSpan& pair : pairs_) {
    if (EqualsIgnoreCase(text.substr(pair.keyPos, pair.keyLen), key)) {
      return text.substr(pair.valuePos, pair.valueLen);
    }
  }
  return std::nullopt;
}

Filter Filter::Parse(std::string_view text) {
  Filter filter;
  for (const PairSpan& pair : SplitPairs(text)) {
    if (pair.valueLen == 0) continue;  // an empty value asks for nothing
    Condition condition;
    condition.key.assign(text.substr(pair.keyPos, pair.keyLen));
    condition.value.assign(text.substr(pair.valuePos, pair.valueLen));
    std::transform(condition.value.begin(), condition.value.end(), condition.value.begin(), Lower);
    // Sex is a one-digit code and age a number: a substring would let "1"
    // find "10" and "3" find "31".
    condition.exact = EqualsIgnoreCase(condition.key, "SEX") || EqualsIgnoreCase(condition.key, "AGE");
    filter.conditions_.push_back(std::move(condition));
  }
  return filter;
}

bool Filter::Matches(const Description& description) const {
  for (const Condition& condition : conditions_) {
    const std::optional<std::string_view> value = description.Find(condition.key);
    if (!value) return false;
    const bool ok = condition.exact ? EqualsIgnoreCase(*value, condition.value)
                                    : ContainsLowered(*value, condition.value);
    if (!ok) return false;
  }
  return true;
}

}  // namespace vossad
