#include "ui/find/activity_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

constexpr int32_t kT = 1'700'000'000;  // Nov 14 2023 22:13:20 UTC, a multiple of 10 seconds
constexpr int kGap = 20;               // the smallest gap between scale lines in these tests

CActivityGraph Graph(int width, const std::vector<int32_t>& times) {
  CActivityGraph graph;
  graph.Build(width, times);
  return graph;
}

std::vector<int32_t> Spread(int count, int32_t start, int32_t seconds) {
  std::vector<int32_t> times;
  for (int i = 0; i < count; ++i) times.push_back(start + static_cast<int32_t>(int64_t{i} * seconds / count));
  return times;
}

// Columns cover a round number of seconds starting at a multiple of it, at least three pixels
// each, over at least the last 60 seconds; every message is counted once.
TEST(ActivityGraphTest, ColumnsAreRoundSpansAtLeastThreePixelsWideOverAtLeastAMinute) {
  struct Case {
    const char* name;
    int width;
    std::vector<int32_t> times;
    uint64_t secondsPerColumn;
    int columns;
    uint32_t firstTime;
    int busiestColumn;
    int busiestCount;
  };
  const Case cases[] = {
      // A burst within one second: one second per column over the last minute, the burst the
      // last of 60 columns, 10 pixels wide at 600.
      {"burst", 600, std::vector<int32_t>(7, kT), 1, 60, kT - 59, 59, 7},
      // 1000 over 1000 seconds at 500 pixels: at most 166 columns, so 10 s each.
      {"even", 500, Spread(1000, kT, 1000), 10, 100, kT, 37, 10},
      // 25,000 over 40 minutes at 1000 pixels: 10 s columns.
      {"session", 1000, Spread(25000, kT, 2400), 10, 240, kT, 0, 105},
      // An unaligned range: 124 s at 90 pixels (30 columns at most) takes 5 s from T + 5.
      {"unaligned", 90, {kT + 7, kT + 130, kT + 131}, 5, 26, kT + 5, 25, 2},
      // Two pixels: one column, as wide as the round steps need.
      {"narrow", 2, {kT}, 120, 1, kT / 120 * 120, 0, 1},
      // The whole 32-bit range in one pixel: the column must not wrap to 0 seconds.
      {"whole range", 1, {0, -1}, 8073216000ull /* 365 days doubled 8 times */, 1, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CActivityGraph graph = Graph(c.width, c.times);
    EXPECT_EQ(graph.SecondsPerColumn(), c.secondsPerColumn);
    EXPECT_EQ(graph.Columns(), c.columns);
    EXPECT_EQ(graph.FirstTime(), c.firstTime);
    EXPECT_EQ(graph.Count(c.busiestColumn), c.busiestCount);
    int total = 0;
    for (int column = 0; column < graph.Columns(); ++column) total += graph.Count(column);
    EXPECT_EQ(total, static_cast<int>(c.times.size()));
    EXPECT_GE(graph.EndTime() - graph.FirstTime(), CActivityGraph::kMinimumSpan);
    // Every pixel of the plot belongs to the column that starts at or left of it.
    for (int x = 0; x < c.width; ++x) {
      const std::optional<int> column = graph.ColumnAt(x);
      ASSERT_TRUE(column) << x;
      ASSERT_LE(graph.ColumnLeft(*column), x);
      ASSERT_GT(graph.ColumnLeft(*column + 1), x);
    }
  }
}

TEST(ActivityGraphTest, ScaleGoesInRoundStepsToAtLeastTheBusiestColumn) {
  struct Case {
    int busiest;
    int height;
    std::vector<int> ticks;
  };
  const Case cases[] = {
      {7, 150, {0, 1, 2, 3, 4, 5, 6, 7}},   // room for a line every count
      {59, 150, {0, 10, 20, 30, 40, 50, 60}},
      {250, 80, {0, 100, 200, 300}},        // at most four lines 20 pixels apart
      {1, 10, {0, 1}},                      // too low for two lines: still the top one
      {12, 50, {0, 10, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.busiest);
    const CActivityGraph graph = Graph(300, std::vector<int32_t>(static_cast<std::size_t>(c.busiest), kT));
    EXPECT_EQ(graph.ScaleTicks(c.height, kGap), c.ticks);
    EXPECT_EQ(graph.ScaleTop(c.height, kGap), c.ticks.back());
    const int burst = graph.Columns() - 1;
    EXPECT_EQ(graph.BarHeight(burst, c.height, kGap), std::max(2, c.height * c.busiest / c.ticks.back()));
    EXPECT_EQ(graph.BarHeight(0, c.height, kGap), 1);  // empty: the base line
  }
  // A single message beside a busy column still shows two pixels.
  std::vector<int32_t> times(59, kT);
  times.push_back(kT - 30);
  EXPECT_EQ(Graph(300, times).BarHeight(29, 20, kGap), 2);
  EXPECT_EQ(Graph(300, {}).BarHeight(0, 20, kGap), 0);
}

TEST(ActivityGraphTest, TimeAxisTicksFallOnRoundTimesWithLabelsAndTips) {
  // The burst graph: 60 one-second columns of 10 pixels; ticks at least 60 pixels apart are
  // every 10 s, on the multiples of 10.
  const CActivityGraph burst = Graph(600, std::vector<int32_t>(7, kT));
  EXPECT_EQ(burst.TickStep(60), 10u);
  const std::vector<CActivityGraph::TimeTick> ticks = burst.TimeTicks(60, true);
  ASSERT_EQ(ticks.size(), 6u);
  EXPECT_EQ(ticks.front(), (CActivityGraph::TimeTick{90, static_cast<uint32_t>(kT - 50)}));
  EXPECT_EQ(ticks.back(), (CActivityGraph::TimeTick{590, static_cast<uint32_t>(kT)}));
  EXPECT_EQ(burst.XOf(kT), 590);
  EXPECT_EQ(burst.ColumnOf(kT), 59);
  EXPECT_FALSE(burst.ColumnOf(kT + 1));
  EXPECT_FALSE(burst.ColumnOf(kT - 60));

  struct Label {
    uint32_t time;
    uint32_t step;
    const char* text;
  };
  const Label labels[] = {{kT, 10, "22:13:20"},
                          {kT - 20, 300, "22:13"},
                          {kT - 80000, 3600, "Nov 14"},  // midnight shows the date
                          {kT, 86400, "Nov 14"}};
  for (const Label& label : labels) EXPECT_EQ(CActivityGraph::TickLabel(label.time, label.step, true), label.text);

  EXPECT_EQ(burst.ColumnTip(59, true), "Nov 14 22:13:20 - 22:13:21 UTC: 7 messages");
  EXPECT_EQ(burst.ColumnTip(0, true), "Nov 14 22:12:21 - 22:12:22 UTC: 0 messages");
  EXPECT_EQ(burst.ColumnTip(60, true), "");
  // Columns of a day cross midnight: both ends carry their date.
  const CActivityGraph days = Graph(90, {kT - 86400 * 20, kT});
  ASSERT_EQ(days.SecondsPerColumn(), 86400u);
  EXPECT_EQ(days.ColumnTip(20, true), "Nov 14 00:00:00 - Nov 15 00:00:00 UTC: 1 message");
  EXPECT_EQ(days.TickStep(4), 86400u);
}

TEST(ActivityGraphTest, ClicksPickTheNearestColumnHoldingAMessageRightFirst) {
  // 10 columns of 10 s, 3 pixels each: columns 0, 2 (three messages), 5 and 9 hold messages.
  const CActivityGraph graph = Graph(30, {1000, 1020, 1021, 1022, 1050, 1099});
  ASSERT_EQ(graph.SecondsPerColumn(), 10u);
  ASSERT_EQ(graph.Columns(), 10);
  const struct {
    int x;
    int64_t position;
  } clicks[] = {
      {6, 1},   // column 2 itself
      {3, 1},   // columns 0 and 2 at distance 1: the right one
      {9, 1},   // nearest is column 2 on the left
      {21, 5},  // column 9 (right, d=2) before 5 (left, d=2)
      {12, 4},  // 5 (right, d=1) before 2 (left, d=2)
      {-4, 0},  // left of the plot: the first column
      {45, 5},  // right of the plot: the last column
  };
  for (const auto& click : clicks) EXPECT_EQ(graph.ClickPosition(click.x), click.position) << click.x;
  EXPECT_EQ(CActivityGraph().ClickPosition(5), 0);  // never painted
  EXPECT_EQ(Graph(0, {1, 2, 3}).ClickPosition(0), 0);
  EXPECT_EQ(Graph(0, {1, 2, 3}).Columns(), 0);
  EXPECT_FALSE(Graph(100, {}).HasMessages());
  EXPECT_FALSE(Graph(0, {5}).XOf(5));
}

}  // namespace
}  // namespace qv
