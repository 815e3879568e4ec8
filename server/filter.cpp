#include "filter.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>

namespace vossad {
namespace {

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::array<bool, 256> kKeyChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  }
  return table;
}();

bool IsKeyChar(char c) { return kKeyChars[static_cast<unsigned char>(c)]; }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) {
    for (std::size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  const auto word = [](const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  };
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    if (word(a.data() + i) != word(b.data() + i)) return false;
  }
  return word(a.data() + n - 8) == word(b.data() + n - 8);
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
  const std::size_t size = text.size();
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t keyStart = pos;
    while (keyStart < size && text[keyStart] == ' ') ++keyStart;
    // Key characters are never ";": the run stays in this piece. The piece
    // starts a pair when the run is followed by its first "=".
    std::size_t keyEnd = keyStart;
    while (keyEnd < size && IsKeyChar(text[keyEnd])) ++keyEnd;
    const bool startsPair = keyEnd > keyStart && keyEnd < size && text[keyEnd] == '=';
    std::size_t end = text.find(';', startsPair ? keyEnd + 1 : keyEnd);
    if (end == std::string_view::npos) end = size;

    if (keyStart == end) {
      // Nothing to match on: "" between ";;" or the filter " ".
    } else if (startsPair) {
      PairSpan span;
      span.keyPos = static_cast<std::uint16_t>(keyStart);
      span.keyLen = static_cast<std::uint16_t>(keyEnd - keyStart);
      span.valuePos = static_cast<std::uint16_t>(keyEnd + 1);
      span.valueLen = static_cast<std::uint16_t>(end - keyEnd - 1);
      onPair(span);
    } else {
      onContinued(end);
    }
    pos = end + 1;
  }
}

// Calls emit(span) for each pair of text (its first kMaxPairText bytes),
// once its value is complete; returns how many there were.
template <typename Emit>
std::size_t ForEachPair(std::string_view text, Emit emit) {
  text = text.substr(0, std::min(text.size(), kMaxPairText));
  std::size_t count = 0;
  std::optional<PairSpan> pending;
  const auto flush = [&] {
    if (!pending) return;
    emit(*pending);
    ++count;
  };
  ScanPairs(
      text,
      [&](const PairSpan& span) {
        flush();
        pending = span;
      },
      [&pending](std::size_t end) {
        if (pending) pending->valueLen = static_cast<std::uint16_t>(end - pending->valuePos);
      });
  flush();
  return count;
}

}  // namespace

std::vector<PairSpan> SplitPairs(std::string_view text) {
  // Counted first, so that the vector is allocated once at its size.
  std::vector<PairSpan> pairs;
  pairs.reserve(ForEachPair(text, [](const PairSpan&) {}));
  ForEachPair(text, [&pairs](const PairSpan& span) { pairs.push_back(span); });
  return pairs;
}

Description::KeyTag Description::TagOf(std::string_view key) {
  KeyTag tag = static_cast<std::uint16_t>(key.size());
  const std::size_t head = std::min(key.size(), kTagBytes);
  for (std::size_t i = 0; i < head; ++i) {
    tag |= KeyTag{static_cast<unsigned char>(Lower(key[i]))} << (16 + 8 * i);
  }
  return tag;
}

Description::Description(std::string_view text) {
  if (text.empty()) return;
  // Split once into a buffer on the stack, so that text and pairs take
  // one allocation (every registration splits its description); a text
  // with more pairs than the buffer holds is split again, into a vector.
  std::array<PairSpan, 32> local;
  std::vector<PairSpan> many;
  const std::size_t count = ForEachPair(text, [&local, n = std::size_t{0}](const PairSpan& span) mutable {
    if (n < local.size()) local[n] = span;
    ++n;
  });
  std::span<const PairSpan> spans(local.data(), std::min(count, local.size()));
  if (count > local.size()) {
    many = SplitPairs(text);
    spans = many;
  }
  block_ = Allocate(spans.size(), text.size());
  Pair* pair = block_->pairs();
  for (const PairSpan& span : spans) {
    const KeyTag tag = TagOf(text.substr(span.keyPos, span.keyLen));
    new (pair++) Pair{static_cast<std::uint32_t>(tag >> 16), span.keyLen, span.keyPos, span.valuePos, span.valueLen};
  }
  std::memcpy(const_cast<char*>(block_->text()), text.data(), text.size());
}

std::unique_ptr<Description::Block, Description::Free> Description::Allocate(std::size_t count,
                                                                             std::size_t textSize) {
  const std::size_t bytes = sizeof(Block) + count * sizeof(Pair) + textSize;
  return std::unique_ptr<Block, Free>(new (TakeLines(bytes))
                                          Block{static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(textSize)});
}

std::unique_ptr<Description::Block, Description::Free> Description::Copy(const Block* block) {
  if (block == nullptr) return nullptr;
  std::unique_ptr<Block, Free> copy = Allocate(block->count, block->textSize);
  std::memcpy(static_cast<void*>(copy.get()), block, block->bytes());
  return copy;
}

Description::Description(const Description& other) : block_(Copy(other.block_.get())) {}

Description& Description::operator=(const Description& other) {
  if (this != &other) block_ = Copy(other.block_.get());
  return *this;
}

std::string_view Description::text() const {
  return block_ ? std::string_view(block_->text(), block_->textSize) : std::string_view();
}

bool Description::RestOfKeyEquals(const Pair& pair, std::string_view key) const {
  // Equal lengths (in the tag) and keys of at most kMaxPairText bytes.
  return key.size() <= kMaxPairText &&
         EqualsIgnoreCase(std::string_view(block_->text() + pair.keyPos + kTagBytes, key.size() - kTagBytes),
                          key.substr(kTagBytes));
}

Filter Filter::Parse(std::string_view text) {
  Filter filter;
  for (const PairSpan& pair : SplitPairs(text)) {
    if (pair.valueLen == 0) continue;  // an empty value asks for nothing
    Condition condition;
    condition.key.assign(text.substr(pair.keyPos, pair.keyLen));
    condition.tag = Description::TagOf(condition.key);
    condition.value.assign(text.substr(pair.valuePos, pair.valueLen));
    std::transform(condition.value.begin(), condition.value.end(), condition.value.begin(), Lower);
    // Sex is a one-digit code and age a number: a substring would let "1"
    // find "10" and "3" find "31".
    condition.exact = EqualsIgnoreCase(condition.key, "SEX") || EqualsIgnoreCase(condition.key, "AGE");
    filter.conditions_.push_back(std::move(condition));
  }
  return filter;
}

}  // namespace vossad
