#pragma once
// The arithmetic of the activity graph: messages counted per pixel column by time received, the
// bar heights, where the selected message falls, and which message a click picks. The panel
// widget paints from it; nothing here needs a window.
//
// Positions are positions in the shown list. Times are read as unsigned seconds.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv {

class CActivityGraph {
 public:
  // Recounts the columns for a panel `width` pixels wide over the shown messages' times
  // received, by position. Two passes over the times. A width of 0 (or less) has no columns and
  // counts nothing.
  void Build(int width, std::span<const int32_t> timesReceived);

  bool HasMessages() const { return largest_ > 0; }
  uint32_t SecondsPerColumn() const { return static_cast<uint32_t>(secondsPerColumn_); }
  uint32_t FirstTime() const { return tmin_; }
  int Columns() const { return width_; }
  int Count(int column) const { return InTable(column) ? counts_[static_cast<size_t>(column)] : 0; }
  int64_t First(int column) const { return InTable(column) ? first_[static_cast<size_t>(column)] : -1; }

  // Height in pixels of the bar of a column in a panel `height` pixels high: at least 1 (the
  // base line of an empty column), at least 2 for a column holding any message.
  int BarHeight(int column, int height) const;
  // The column of a time received (for the selection mark), or nothing without columns.
  std::optional<int> ColumnOf(int32_t timeReceived) const;
  // The position a click at column x selects: the first message of that column, else of the
  // nearest column holding one (the right side first at equal distance), else 0.
  int64_t ClickPosition(int x) const;

 private:
  bool InTable(int column) const { return column >= 0 && static_cast<size_t>(column) < counts_.size(); }

  int width_ = 0;
  uint32_t tmin_ = 0;
  // 64 bits: one column spanning every 32-bit second would wrap to 0 in 32.
  uint64_t secondsPerColumn_ = 0;
  int largest_ = 0;
  std::vector<int> counts_;     // width + 2 entries
  std::vector<int64_t> first_;  // width + 2 entries, -1 for an empty column
};

}  // namespace qv
