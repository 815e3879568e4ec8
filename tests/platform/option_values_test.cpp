// The console programs' option values: what a count and a time may be
// written as, and what is refused.
#include <gtest/gtest.h>

#include "platform/option_values.hpp"

namespace {

using platform::ParseCountOption;
using platform::ParseSecondsOption;
using std::chrono::milliseconds;

TEST(CountOption, DecimalDigitsUpToTheMaximum) {
  unsigned long n = 7;
  EXPECT_TRUE(ParseCountOption("0", 10, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ParseCountOption("65535", 65535, &n));
  EXPECT_EQ(n, 65535u);
  EXPECT_TRUE(ParseCountOption("007", 10, &n));
  EXPECT_EQ(n, 7u);
  for (const char* bad : {"", "65536", "-1", "+5", " 5", "5 ", "5x", "0x10", "1e3", "99999999999999999999999"}) {
    n = 42;
    EXPECT_FALSE(ParseCountOption(bad, 65535, &n)) << bad;
    EXPECT_EQ(n, 42u) << bad << " changed the value";
  }
}

TEST(SecondsOption, AboveNothingAndAtMostADayInMilliseconds) {
  milliseconds t{0};
  EXPECT_TRUE(ParseSecondsOption("2.5", &t));
  EXPECT_EQ(t, milliseconds(2500));
  EXPECT_TRUE(ParseSecondsOption("86400", &t));
  EXPECT_EQ(t, milliseconds(86400000));
  // Anything above nothing lasts at least a millisecond.
  EXPECT_TRUE(ParseSecondsOption("0.0001", &t));
  EXPECT_EQ(t, milliseconds(1));
  for (const char* bad : {"", "0", "-1", "86400.5", "nan", "inf", "1e400", " 1", "1 ", "1s", "."}) {
    t = milliseconds(42);
    EXPECT_FALSE(ParseSecondsOption(bad, &t)) << bad;
    EXPECT_EQ(t, milliseconds(42)) << bad << " changed the value";
  }
}

}  // namespace
