#include "id_index.hpp"

#include <chrono>
#include <cstring>
#include <random>

namespace vossad {
namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= kMultiplier;
  h ^= h >> 29;
  return h;
}

std::uint64_t Word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

std::uint64_t HashId(std::string_view id, std::uint64_t seed) {
  // A player's id ("address:port") is 9 to 21 bytes: whole words, the
  // last one overlapping the one before it, and the length mixed in.
  std::uint64_t h = seed ^ (id.size() * kMultiplier);
  const char* p = id.data();
  std::size_t n = id.size();
  if (n >= 8) {
    for (; n > 8; p += 8, n -= 8) h = (h ^ Word(p)) * kMultiplier;
    h = (h ^ Word(p + n - 8)) * kMultiplier;
  } else {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * kMultiplier;
  }
  return Mix(h);
}

std::uint64_t NewIdSeed() {
  try {
    std::random_device device;
    return std::uint64_t{device()} << 32 ^ device();
  } catch (...) {
    // No entropy source: the clock still differs from one start to the next.
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * kMultiplier;
  }
}

}  // namespace vossad
