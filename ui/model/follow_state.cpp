#include "ui/model/follow_state.h"

namespace qv {

void CFollowState::Pause() { following_ = false; }

void CFollowState::Resume() {
  following_ = true;
  newCount_ = 0;
}

void CFollowState::Scrolled(bool atBottom) {
  if (atBottom) {
    Resume();
  } else {
    Pause();
  }
}

void CFollowState::Arrived(uint64_t count) {
  if (!following_) newCount_ += count;
}

std::string CFollowState::StatusText() const {
  if (following_) return {};
  return "Paused, " + std::to_string(newCount_) + " new";
}

}  // namespace qv
