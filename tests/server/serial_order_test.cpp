// The ordered slots behind both registries: numbers that arrive out of
// order, slots taken and filled again, and cursors across a compaction.
#include <gtest/gtest.h>

#include <vector>

#include "serial_order.hpp"

namespace vossad {
namespace {

std::vector<int> ScanAll(const SerialOrder<int>& order, std::uint64_t from) {
  std::vector<int> seen;
  int* batch[4];
  for (;;) {
    const std::size_t found = order.Scan(from, std::span<int*>(batch), [](int& v) { return &v; });
    for (std::size_t i = 0; i < found; ++i) seen.push_back(*batch[i]);
    if (found < 4) return seen;
    from = static_cast<std::uint64_t>(*batch[3]) + 1;  // the values are their numbers
  }
}

TEST(SerialOrder, KeepsNumberOrderWhateverOrderTheyCameIn) {
  SerialOrder<int> order;
  for (const int n : {10, 20, 50, 30, 5, 40}) ASSERT_NE(order.Insert(n, std::make_unique<int>(n)), nullptr);
  EXPECT_EQ(ScanAll(order, 0), (std::vector<int>{5, 10, 20, 30, 40, 50}));
  EXPECT_EQ(order.Insert(30, std::make_unique<int>(-1)), nullptr) << "a number is held once";

  EXPECT_EQ(*order.Take(20), 20);
  EXPECT_EQ(order.Take(20), nullptr);
  EXPECT_EQ(order.Find(20), nullptr);
  EXPECT_EQ(ScanAll(order, 11), (std::vector<int>{30, 40, 50}));
  ASSERT_NE(order.Insert(20, std::make_unique<int>(20)), nullptr) << "an emptied slot is filled again";
  EXPECT_EQ(ScanAll(order, 11), (std::vector<int>{20, 30, 40, 50}));
  EXPECT_EQ(order.size(), 6u);

  // An item moved to a lower number, as a provisional one given its own.
  order.Insert(35, order.Take(40));
  EXPECT_EQ(ScanAll(order, 0), (std::vector<int>{5, 10, 20, 30, 40, 50}));
  EXPECT_NE(order.Find(35), nullptr);
  EXPECT_EQ(order.Find(40), nullptr);
}

TEST(SerialOrder, ACursorSurvivesTheCompactionOfManyRemovals) {
  SerialOrder<int> order;
  for (int n = 1; n <= 400; ++n) order.Insert(n, std::make_unique<int>(n));
  for (int n = 1; n <= 400; ++n) {
    if (n % 10 != 0) order.Take(n);
  }
  EXPECT_EQ(order.size(), 40u);
  EXPECT_EQ(ScanAll(order, 195), (std::vector<int>{200, 210, 220, 230, 240, 250, 260, 270, 280, 290, 300, 310,
                                                   320, 330, 340, 350, 360, 370, 380, 390, 400}));
  EXPECT_EQ(order.From(385).size(), 2u);
}

}  // namespace
}  // namespace vossad
