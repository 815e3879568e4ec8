// short_bytes.hpp - copying and comparing the short texts of every message
// (ids, a blank more-info) without a call to memcpy or memcmp. Internal to
// the zep library.
//
// Up to 16 bytes are moved or compared as two pieces of 8, 4 or 1 bytes
// that may overlap; nothing outside the n bytes is read or written. Longer
// texts go to memcpy and memcmp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zep {

namespace short_bytes_detail {

template <typename Piece>
inline Piece Load(const char* p) {
  Piece v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The first and the last sizeof(Piece) of n bytes, n >= sizeof(Piece).
template <typename Piece>
inline void CopyEnds(char* out, const char* in, std::size_t n) {
  const Piece first = Load<Piece>(in);
  const Piece last = Load<Piece>(in + n - sizeof(Piece));
  std::memcpy(out, &first, sizeof first);
  std::memcpy(out + n - sizeof(Piece), &last, sizeof last);
}

template <typename Piece>
inline bool SameEnds(const char* a, const char* b, std::size_t n) {
  const std::size_t back = n - sizeof(Piece);
  return ((Load<Piece>(a) ^ Load<Piece>(b)) | (Load<Piece>(a + back) ^ Load<Piece>(b + back))) == 0;
}

}  // namespace short_bytes_detail

inline void CopyBytes(char* out, const char* in, std::size_t n) {
  using namespace short_bytes_detail;
  if (n > 16) {
    std::memcpy(out, in, n);
  } else if (n >= 8) {
    CopyEnds<std::uint64_t>(out, in, n);
  } else if (n >= 4) {
    CopyEnds<std::uint32_t>(out, in, n);
  } else if (n != 0) {
    // 1 to 3 bytes: the first, the middle and the last.
    out[0] = in[0];
    out[n / 2] = in[n / 2];
    out[n - 1] = in[n - 1];
  }
}

inline bool SameBytes(const char* a, const char* b, std::size_t n) {
  using namespace short_bytes_detail;
  if (n > 16) return std::memcmp(a, b, n) == 0;
  if (n >= 8) return SameEnds<std::uint64_t>(a, b, n);
  if (n >= 4) return SameEnds<std::uint32_t>(a, b, n);
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// a == b.
inline bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameBytes(a.data(), b.data(), a.size());
}

}  // namespace zep
