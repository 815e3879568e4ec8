// The inline copy and compare of short texts: exactly the n bytes, at every
// length on either side of the 4-, 8- and 16-byte pieces.
#include <gtest/gtest.h>

#include <string>

#include "short_bytes.hpp"

namespace {

TEST(ShortBytes, CopiesAndComparesExactlyTheirBytesAtEveryLength) {
  for (std::size_t n = 0; n <= 40; ++n) {
    std::string in(n, ' ');
    for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<char>('a' + i);
    // Guard bytes on both sides of the copy must stay as they are.
    std::string out(n + 2, '#');
    zep::CopyBytes(out.data() + 1, in.data(), n);
    EXPECT_EQ(out, "#" + in + "#") << n;

    std::string same = in;
    EXPECT_TRUE(zep::SameBytes(in.data(), same.data(), n)) << n;
    EXPECT_TRUE(zep::SameText(in, same));
    EXPECT_FALSE(zep::SameText(in, in + "x"));
    for (std::size_t i = 0; i < n; ++i) {
      std::string other = in;
      other[i] = 'Z';
      EXPECT_FALSE(zep::SameBytes(in.data(), other.data(), n)) << n << " at " << i;
    }
  }
}

}  // namespace
