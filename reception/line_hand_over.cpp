#include "reception/line_hand_over.h"

#include <algorithm>
#include <utility>

namespace qv {

CLineHandOver::CLineHandOver(std::size_t maxWaiting, std::function<void()> wake)
    : maxWaiting_(maxWaiting), wake_(std::move(wake)) {}

void CLineHandOver::Hand(std::vector<std::string>& lines) {
  if (lines.empty()) return;
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    for (std::string& line : lines) {
      if (waiting_.size() >= maxWaiting_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      waiting_.push_back(std::move(line));
    }
    wake = wakeDue_ && !waiting_.empty();
    if (wake) wakeDue_ = false;
  }
  lines.clear();
  if (wake) wake_();
}

bool CLineHandOver::Take(std::vector<std::string>& out, std::size_t max) {
  const std::lock_guard lock(mutex_);
  const std::size_t count = std::min(max, waiting_.size());
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(std::move(waiting_.front()));
    waiting_.pop_front();
  }
  if (waiting_.empty()) {
    wakeDue_ = true;
    return false;
  }
  return true;
}

}  // namespace qv
