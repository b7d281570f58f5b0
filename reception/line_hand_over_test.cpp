#include "reception/line_hand_over.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// One wake per run of takes, the newest lines dropped past the bound and counted once each.
TEST(LineHandOverTest, WakesOncePerRunKeepsOrderAndCountsWhatDidNotFit) {
  int wakes = 0;
  CLineHandOver handOver(3, [&] { ++wakes; });
  std::vector<std::string> lines{"a", "b"};
  handOver.Hand(lines);
  EXPECT_TRUE(lines.empty());
  lines = {"c", "d", "e"};
  handOver.Hand(lines);
  EXPECT_EQ(wakes, 1) << "a take is due already";
  EXPECT_EQ(handOver.TakeDropped(), 2u);
  EXPECT_EQ(handOver.TakeDropped(), 0u) << "taken once";

  std::vector<std::string> out;
  EXPECT_TRUE(handOver.Take(out, 2));
  EXPECT_FALSE(handOver.Take(out, 2));
  EXPECT_EQ(out, (std::vector<std::string>{"a", "b", "c"}));
  lines = {"f"};
  handOver.Hand(lines);
  EXPECT_EQ(wakes, 2) << "emptied: the next line wakes again";
}

}  // namespace
}  // namespace qv
