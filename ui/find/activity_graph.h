#pragma once
// The arithmetic of the activity graph: messages counted per time column by time received, the
// time axis with its ticks and labels, the count scale, where the selected message falls, which
// message a click picks, and the text of a column's tooltip. The panel widget only paints what
// this class says; nothing here needs a window.
//
// Columns: the graph spans at least kMinimumSpan seconds (ending with the newest message), so
// that a burst within a few seconds draws as a bar, not as a sliver at the edge. A column covers
// a "round" number of seconds (1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h,
// days), the smallest that keeps every column at least kMinimumColumnWidth pixels wide, and
// starts at a multiple of it. Pixel x of the plot belongs to column x * columns / width.
//
// Positions are positions in the shown list. Times are read as unsigned seconds; labels and
// tooltips are in UTC or in local time, as the caller says (the setting "timeutc").

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qv {

class CActivityGraph {
 public:
  static constexpr uint32_t kMinimumSpan = 60;
  static constexpr int kMinimumColumnWidth = 3;

  // Recounts the columns for a plot `width` pixels wide over the shown messages' times
  // received, by position. Two passes over the times. A width of 0 (or less) has no columns and
  // counts nothing.
  void Build(int width, std::span<const int32_t> timesReceived);

  bool HasMessages() const { return largest_ > 0; }
  int Width() const { return width_; }
  int Columns() const { return static_cast<int>(counts_.size()); }
  uint64_t SecondsPerColumn() const { return secondsPerColumn_; }
  // The start of column 0, and the end of the last column (exclusive).
  uint32_t FirstTime() const { return firstTime_; }
  uint64_t EndTime() const { return firstTime_ + secondsPerColumn_ * counts_.size(); }
  int Count(int column) const { return InTable(column) ? counts_[static_cast<size_t>(column)] : 0; }
  int64_t First(int column) const { return InTable(column) ? first_[static_cast<size_t>(column)] : -1; }

  // The plot pixel where a column starts (Columns() gives the width), and the column under a
  // plot pixel (nothing outside the plot).
  int ColumnLeft(int column) const;
  std::optional<int> ColumnAt(int x) const;
  // The column of a time received, and its plot pixel; nothing without columns or outside them.
  std::optional<int> ColumnOf(int32_t timeReceived) const;
  std::optional<int> XOf(int32_t timeReceived) const;

  // The count at the top of the scale: a multiple of the scale step, at least the largest count.
  int ScaleTop(int height, int minimumGap) const;
  // The counts that get a scale line and label (0 first) on a plot `height` pixels high, at
  // least `minimumGap` pixels apart, in steps of 1, 2 or 5 times a power of ten.
  std::vector<int> ScaleTicks(int height, int minimumGap) const;
  // Height in pixels of the bar of a column against the scale: at least 1 (the base line of an
  // empty column), at least 2 for a column holding any message.
  int BarHeight(int column, int height, int minimumGap) const;

  struct TimeTick {
    int x;          // plot pixel
    uint32_t time;  // seconds since 1970
    bool operator==(const TimeTick&) const = default;
  };
  // Round times (multiples of the step in the shown zone) at least `minimumGap` pixels apart.
  std::vector<TimeTick> TimeTicks(int minimumGap, bool utc) const;
  // Seconds between two ticks of TimeTicks.
  uint32_t TickStep(int minimumGap) const;
  // The label of a tick: "%H:%M:%S" for steps under a minute, "%H:%M" under a day (the date
  // "%b %d" at midnight), else the date.
  static std::string TickLabel(uint32_t time, uint32_t step, bool utc);
  // "Dec 08 12:34:10 - 12:34:20 UTC: 17 messages" for a column; "" for none.
  std::string ColumnTip(int column, bool utc) const;

  // The position a click at plot pixel x selects: the first message of its column, else of the
  // nearest column holding one (the right side first at equal distance), else 0.
  int64_t ClickPosition(int x) const;

 private:
  bool InTable(int column) const { return column >= 0 && static_cast<size_t>(column) < counts_.size(); }
  int ScaleStep(int height, int minimumGap) const;
  int PixelOf(uint64_t offset) const;  // the plot pixel of seconds after FirstTime

  int width_ = 0;
  uint32_t firstTime_ = 0;
  uint64_t secondsPerColumn_ = 0;  // 64 bits: one column may span every 32-bit second
  int largest_ = 0;
  std::vector<int> counts_;
  std::vector<int64_t> first_;  // -1 for an empty column
};

}  // namespace qv
