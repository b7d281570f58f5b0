#include "ui/find/activity_graph.h"

#include <algorithm>
#include <limits>

namespace qv {

void CActivityGraph::Build(int width, std::span<const int32_t> timesReceived) {
  width_ = std::max(width, 0);
  largest_ = 0;
  counts_.clear();
  first_.clear();
  secondsPerColumn_ = 0;
  if (width_ == 0) return;
  uint32_t tmin = 0xFFFFFFFFu;
  uint32_t tmax = 0;
  for (const int32_t time : timesReceived) {
    tmin = std::min(tmin, static_cast<uint32_t>(time));
    tmax = std::max(tmax, static_cast<uint32_t>(time));
  }
  tmin_ = tmin;
  secondsPerColumn_ = static_cast<uint64_t>(static_cast<uint32_t>(tmax - tmin)) / static_cast<uint64_t>(width_) + 1;
  counts_.assign(static_cast<size_t>(width_) + 2, 0);
  first_.assign(static_cast<size_t>(width_) + 2, -1);
  // Offsets are below 2^32, so a column of 2^32 seconds holds them all in column 0; any narrower
  // one divides in 32 bits, which costs a fraction of a 64-bit division per message.
  const bool oneColumn = secondsPerColumn_ > std::numeric_limits<uint32_t>::max();
  const auto seconds = static_cast<uint32_t>(secondsPerColumn_);
  for (size_t i = 0; i < timesReceived.size(); ++i) {
    const uint32_t offset = static_cast<uint32_t>(timesReceived[i]) - tmin;
    const size_t x = oneColumn ? 0 : offset / seconds;
    const int n = ++counts_[x];
    if (n > largest_) largest_ = n;
    if (first_[x] == -1) first_[x] = static_cast<int64_t>(i);
  }
}

int CActivityGraph::BarHeight(int column, int height) const {
  if (largest_ == 0) return 0;
  const int count = Count(column);
  const int h = static_cast<int>(static_cast<int64_t>(height) * count / largest_ + 1);
  return count != 0 && h == 1 ? 2 : h;
}

std::optional<int> CActivityGraph::ColumnOf(int32_t timeReceived) const {
  if (secondsPerColumn_ == 0) return std::nullopt;
  const uint32_t offset = static_cast<uint32_t>(timeReceived) - tmin_;
  return static_cast<int>(offset / secondsPerColumn_);
}

int64_t CActivityGraph::ClickPosition(int x) const {
  const int size = static_cast<int>(first_.size());
  if (size < 2 || x < 0 || x >= size) return 0;
  if (first_[static_cast<size_t>(x)] != -1) return first_[static_cast<size_t>(x)];
  for (int d = 1; x + d < size || x - d >= 0; ++d) {
    if (x + d < size && first_[static_cast<size_t>(x + d)] != -1) return first_[static_cast<size_t>(x + d)];
    if (x - d >= 0 && first_[static_cast<size_t>(x - d)] != -1) return first_[static_cast<size_t>(x - d)];
  }
  return 0;
}

}  // namespace qv
