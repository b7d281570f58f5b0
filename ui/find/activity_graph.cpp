#include "ui/find/activity_graph.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace qv {
namespace {

// Column and tick widths a reader takes in at a glance; beyond the table, whole years doubled.
constexpr uint64_t kRoundSeconds[] = {1,     2,     5,     10,     15,     30,      60,      120,     300,
                                      600,   900,   1800,  3600,   7200,   10800,   21600,   43200,   86400,
                                      172800, 604800, 1209600, 2592000, 7776000, 31536000};

// The smallest round step for which `fits` holds; `fits` holds for every step from some on.
template <typename Fits>
uint64_t SmallestRoundStep(Fits fits) {
  for (const uint64_t step : kRoundSeconds) {
    if (fits(step)) return step;
  }
  uint64_t step = kRoundSeconds[std::size(kRoundSeconds) - 1];
  do {
    step *= 2;
  } while (!fits(step));
  return step;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

std::tm BrokenDown(uint64_t time, bool utc) {
  const auto seconds = static_cast<std::time_t>(time);
  std::tm fields{};
  if (utc) {
    gmtime_r(&seconds, &fields);
  } else {
    localtime_r(&seconds, &fields);
  }
  return fields;
}

// The patterns are this file's literals; none writes more than the buffer holds.
std::string Format(const std::tm& fields, const char* pattern) {
  char text[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const std::size_t length = std::strftime(text, sizeof text, pattern, &fields);
#pragma GCC diagnostic pop
  return std::string(text, length);
}

}  // namespace

void CActivityGraph::Build(int width, std::span<const int32_t> timesReceived) {
  width_ = std::max(width, 0);
  largest_ = 0;
  counts_.clear();
  first_.clear();
  firstTime_ = 0;
  secondsPerColumn_ = 0;
  if (width_ == 0 || timesReceived.empty()) return;
  uint32_t tmin = 0xFFFFFFFFu;
  uint32_t tmax = 0;
  for (const int32_t time : timesReceived) {
    tmin = std::min(tmin, static_cast<uint32_t>(time));
    tmax = std::max(tmax, static_cast<uint32_t>(time));
  }
  // The span ends with the newest message and lasts at least kMinimumSpan seconds.
  uint64_t end = static_cast<uint64_t>(tmax) + 1;
  uint64_t start = tmin;
  if (end - start < kMinimumSpan) {
    start = end >= kMinimumSpan ? end - kMinimumSpan : 0;
    end = start + kMinimumSpan;
  }
  const uint64_t maxColumns = static_cast<uint64_t>(std::max(1, width_ / kMinimumColumnWidth));
  secondsPerColumn_ = SmallestRoundStep([&](uint64_t step) { return CeilDiv(end - start / step * step, step) <= maxColumns; });
  firstTime_ = static_cast<uint32_t>(start / secondsPerColumn_ * secondsPerColumn_);
  const auto columns = static_cast<std::size_t>(CeilDiv(end - firstTime_, secondsPerColumn_));
  counts_.assign(columns, 0);
  first_.assign(columns, -1);
  // Offsets are below 2^32: a column that wide holds them all; any narrower one divides in 32
  // bits, which costs a fraction of a 64-bit division per message.
  const bool oneColumn = secondsPerColumn_ > std::numeric_limits<uint32_t>::max();
  const auto seconds = static_cast<uint32_t>(secondsPerColumn_);
  for (std::size_t i = 0; i < timesReceived.size(); ++i) {
    const uint32_t offset = static_cast<uint32_t>(timesReceived[i]) - firstTime_;
    const std::size_t x = oneColumn ? 0 : offset / seconds;
    const int n = ++counts_[x];
    if (n > largest_) largest_ = n;
    if (first_[x] == -1) first_[x] = static_cast<int64_t>(i);
  }
}

int CActivityGraph::ColumnLeft(int column) const {
  const auto columns = static_cast<int64_t>(Columns());
  if (columns == 0) return 0;
  const int64_t clamped = std::clamp<int64_t>(column, 0, columns);
  return static_cast<int>((clamped * width_ + columns - 1) / columns);  // rounded up: see ColumnAt
}

std::optional<int> CActivityGraph::ColumnAt(int x) const {
  if (Columns() == 0 || x < 0 || x >= width_) return std::nullopt;
  return static_cast<int>(static_cast<int64_t>(x) * Columns() / width_);
}

std::optional<int> CActivityGraph::ColumnOf(int32_t timeReceived) const {
  const auto time = static_cast<uint32_t>(timeReceived);
  if (Columns() == 0 || time < firstTime_ || time >= EndTime()) return std::nullopt;
  return static_cast<int>((time - firstTime_) / secondsPerColumn_);
}

// Rounded up, as ColumnLeft: the start of a column's time is the column's first pixel.
int CActivityGraph::PixelOf(uint64_t offset) const {
  const uint64_t span = EndTime() - firstTime_;
  return static_cast<int>((offset * static_cast<uint64_t>(width_) + span - 1) / span);
}

std::optional<int> CActivityGraph::XOf(int32_t timeReceived) const {
  if (!ColumnOf(timeReceived)) return std::nullopt;
  return PixelOf(static_cast<uint32_t>(timeReceived) - firstTime_);
}

int CActivityGraph::ScaleStep(int height, int minimumGap) const {
  const int64_t lines = std::max(1, height / std::max(minimumGap, 1));
  for (int64_t power = 1;; power *= 10) {
    for (const int64_t factor : {1, 2, 5}) {
      const int64_t step = factor * power;
      if ((largest_ + step - 1) / step <= lines) return static_cast<int>(step);
    }
  }
}

int CActivityGraph::ScaleTop(int height, int minimumGap) const {
  const int step = ScaleStep(height, minimumGap);
  return std::max(1, (largest_ + step - 1) / step) * step;
}

std::vector<int> CActivityGraph::ScaleTicks(int height, int minimumGap) const {
  std::vector<int> ticks;
  if (!HasMessages()) return ticks;
  const int step = ScaleStep(height, minimumGap);
  const int top = ScaleTop(height, minimumGap);
  for (int64_t count = 0; count <= top; count += step) ticks.push_back(static_cast<int>(count));
  return ticks;
}

int CActivityGraph::BarHeight(int column, int height, int minimumGap) const {
  if (!HasMessages()) return 0;
  const int count = Count(column);
  if (count == 0) return 1;
  const auto h = static_cast<int>(static_cast<int64_t>(height) * count / ScaleTop(height, minimumGap));
  return std::max(h, 2);
}

uint32_t CActivityGraph::TickStep(int minimumGap) const {
  if (Columns() == 0) return 0;
  const uint64_t span = EndTime() - firstTime_;
  const uint64_t step = SmallestRoundStep([&](uint64_t candidate) {
    return candidate * static_cast<uint64_t>(width_) >= static_cast<uint64_t>(std::max(minimumGap, 1)) * span;
  });
  return static_cast<uint32_t>(std::min<uint64_t>(step, std::numeric_limits<uint32_t>::max()));
}

// Ticks fall on round times of the shown zone: whole minutes, hours and midnights there.
std::vector<CActivityGraph::TimeTick> CActivityGraph::TimeTicks(int minimumGap, bool utc) const {
  std::vector<TimeTick> ticks;
  const uint32_t step = TickStep(minimumGap);
  if (step == 0) return ticks;
  const int64_t zone = utc ? 0 : static_cast<int64_t>(BrokenDown(firstTime_, false).tm_gmtoff);
  const int64_t zoned = static_cast<int64_t>(firstTime_) + zone;
  int64_t time = (zoned + step - 1) / step * step - zone;  // zoned is never negative here for real times
  if (time < static_cast<int64_t>(firstTime_)) time += step;
  for (; time < static_cast<int64_t>(EndTime()); time += step) {
    ticks.push_back({PixelOf(static_cast<uint64_t>(time) - firstTime_), static_cast<uint32_t>(time)});
  }
  return ticks;
}

std::string CActivityGraph::TickLabel(uint32_t time, uint32_t step, bool utc) {
  const std::tm fields = BrokenDown(time, utc);
  const bool midnight = fields.tm_hour == 0 && fields.tm_min == 0 && fields.tm_sec == 0;
  if (step >= 86400 || midnight) return Format(fields, "%b %d");
  return Format(fields, step < 60 ? "%H:%M:%S" : "%H:%M");
}

std::string CActivityGraph::ColumnTip(int column, bool utc) const {
  if (!InTable(column)) return {};
  const uint64_t start = firstTime_ + static_cast<uint64_t>(column) * secondsPerColumn_;
  const std::tm from = BrokenDown(start, utc);
  const std::tm to = BrokenDown(start + secondsPerColumn_, utc);
  const bool sameDay = from.tm_year == to.tm_year && from.tm_yday == to.tm_yday;
  const int count = Count(column);
  return Format(from, "%b %d %H:%M:%S") + " - " + Format(to, sameDay ? "%H:%M:%S" : "%b %d %H:%M:%S") +
         (utc ? std::string(" UTC") : Format(to, " %Z")) + ": " + std::to_string(count) +
         (count == 1 ? " message" : " messages");
}

int64_t CActivityGraph::ClickPosition(int x) const {
  const int size = Columns();
  if (size == 0) return 0;
  const int column = ColumnAt(x).value_or(x < 0 ? 0 : size - 1);
  if (first_[static_cast<size_t>(column)] != -1) return first_[static_cast<size_t>(column)];
  for (int d = 1; column + d < size || column - d >= 0; ++d) {
    if (column + d < size && first_[static_cast<size_t>(column + d)] != -1) return first_[static_cast<size_t>(column + d)];
    if (column - d >= 0 && first_[static_cast<size_t>(column - d)] != -1) return first_[static_cast<size_t>(column - d)];
  }
  return 0;
}

}  // namespace qv
