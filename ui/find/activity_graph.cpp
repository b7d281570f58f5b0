#include "ui/find/activity_graph.h"

namespace qv {

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
