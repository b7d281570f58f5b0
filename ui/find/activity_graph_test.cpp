#include "ui/find/activity_graph.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

CActivityGraph Graph(int width, const std::vector<int32_t>& times) {
  CActivityGraph graph;
  graph.Build(width, times);
  return graph;
}

TEST(ActivityGraphTest, MessagesOfOneSecondMakeOneFullBarAtTheLeftEdge) {
  const CActivityGraph graph = Graph(300, std::vector<int32_t>(7, 1'700'000'000));
  EXPECT_EQ(graph.SecondsPerColumn(), 1u);
  EXPECT_EQ(graph.Count(0), 7);
  EXPECT_EQ(graph.BarHeight(0, 175), 176);  // H * count / largest + 1
  EXPECT_EQ(graph.BarHeight(1, 175), 1);    // empty columns: the base line
  EXPECT_EQ(graph.ColumnOf(1'700'000'000), 0);

  // A burst over a few seconds keeps one second per column: a few bars at the left edge.
  const CActivityGraph burst = Graph(960, {1'700'000'009, 1'700'000'010, 1'700'000'010, 1'700'000'012});
  EXPECT_EQ(burst.SecondsPerColumn(), 1u);
  EXPECT_EQ(burst.Count(0), 1);
  EXPECT_EQ(burst.Count(1), 2);
  EXPECT_EQ(burst.Count(3), 1);
  EXPECT_EQ(burst.First(3), 3);
  EXPECT_EQ(burst.BarHeight(1, 100), 101);
}

TEST(ActivityGraphTest, ThousandMessagesOverThousandSecondsFillFiveHundredColumnsByTwo) {
  std::vector<int32_t> times;
  for (int32_t i = 0; i < 1000; ++i) times.push_back(1'700'000'000 + i);
  const CActivityGraph graph = Graph(500, times);
  EXPECT_EQ(graph.SecondsPerColumn(), 2u);
  for (int x = 0; x < 500; ++x) {
    ASSERT_EQ(graph.Count(x), 2) << x;
    ASSERT_EQ(graph.First(x), 2 * x);
  }
  EXPECT_EQ(graph.Count(500), 0);
  EXPECT_EQ(graph.ColumnOf(1'700'000'999), 499);
  EXPECT_EQ(graph.ClickPosition(250), 500);
}

TEST(ActivityGraphTest, BarHeightsAndClicksOnEmptyStretches) {
  // W = 10, range 0..99 seconds: s = 10. Column 2 holds three messages, 0, 5 and 9 one each.
  const CActivityGraph graph = Graph(10, {1000, 1020, 1021, 1022, 1050, 1099});
  ASSERT_EQ(graph.SecondsPerColumn(), 10u);
  EXPECT_EQ(graph.BarHeight(2, 100), 101);
  EXPECT_EQ(graph.BarHeight(5, 100), 34);
  EXPECT_EQ(graph.BarHeight(5, 1), 2);  // a column with messages shows at least two pixels
  EXPECT_EQ(graph.BarHeight(3, 100), 1);
  EXPECT_EQ(graph.ClickPosition(2), 1);
  EXPECT_EQ(graph.ClickPosition(1), 1);   // columns 0 and 2 at distance 1: the right one
  EXPECT_EQ(graph.ClickPosition(3), 1);   // nearest is column 2 on the left
  EXPECT_EQ(graph.ClickPosition(7), 5);   // column 9 (right, d=2) before 5 (left, d=2)
  EXPECT_EQ(graph.ClickPosition(4), 4);   // 5 (right, d=1) before 2 (left, d=2)
  const CActivityGraph tie = Graph(10, {1000, 1040, 1099});  // columns 0, 4, 9
  EXPECT_EQ(tie.ClickPosition(2), 1);     // 0 and 4 both at distance 2: the right one
  EXPECT_EQ(tie.ClickPosition(11), 2);    // the extra table entries look left
}

TEST(ActivityGraphTest, DegenerateGraphsNeitherDivideNorIndexOutside) {
  const CActivityGraph narrow = Graph(0, {1, 2, 3});
  EXPECT_EQ(narrow.Columns(), 0);
  EXPECT_FALSE(narrow.HasMessages());
  EXPECT_FALSE(narrow.ColumnOf(2));
  EXPECT_EQ(narrow.ClickPosition(0), 0);
  EXPECT_EQ(CActivityGraph().ClickPosition(5), 0);  // never painted

  const CActivityGraph empty = Graph(100, {});
  EXPECT_FALSE(empty.HasMessages());
  EXPECT_EQ(empty.BarHeight(0, 50), 0);
  EXPECT_EQ(empty.ClickPosition(40), 0);

  // One pixel spanning every 32-bit second: s must not wrap to 0.
  const CActivityGraph wide = Graph(1, {0, -1});
  EXPECT_EQ(wide.Count(0), 2);
  EXPECT_EQ(wide.ClickPosition(0), 0);
}

}  // namespace
}  // namespace qv
