#pragma once
// The arithmetic of the activity graph: messages counted per pixel column by time received, the
// bar heights, where the selected message falls, and which message a click picks. The panel
// widget paints from it; nothing here needs a window.
//
// Positions are positions in the shown list. Times are read as unsigned seconds.

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

class CActivityGraph {
 public:
  // Recounts the columns for a panel `width` pixels wide over `count` shown messages, where
  // timeOf(i) is the time received of position i. Two passes over the messages. A width of 0
  // (or less) has no columns and counts nothing.
  template <typename TimeOf>
  void Build(int width, int64_t count, const TimeOf& timeOf);

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

template <typename TimeOf>
void CActivityGraph::Build(int width, int64_t count, const TimeOf& timeOf) {
  width_ = width > 0 ? width : 0;
  largest_ = 0;
  counts_.clear();
  first_.clear();
  secondsPerColumn_ = 0;
  if (width_ == 0) return;
  uint32_t tmin = 0xFFFFFFFFu;
  uint32_t tmax = 0;
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t t = static_cast<uint32_t>(timeOf(i));
    if (t < tmin) tmin = t;
    if (t > tmax) tmax = t;
  }
  tmin_ = tmin;
  secondsPerColumn_ = static_cast<uint64_t>(static_cast<uint32_t>(tmax - tmin)) / static_cast<uint64_t>(width_) + 1;
  counts_.assign(static_cast<size_t>(width_) + 2, 0);
  first_.assign(static_cast<size_t>(width_) + 2, -1);
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t t = static_cast<uint32_t>(timeOf(i));
    const size_t x = static_cast<size_t>((t - tmin) / secondsPerColumn_);
    const int n = ++counts_[x];
    if (n > largest_) largest_ = n;
    if (first_[x] == -1) first_[x] = i;
  }
}

}  // namespace qv
