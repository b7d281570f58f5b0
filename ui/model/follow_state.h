#pragma once
// Whether the message list follows new messages to the bottom. It follows while its last row is
// in view; scrolling up, selecting a row or a search pauses it, and while paused the messages
// that arrive are counted so that the status bar can say "Paused, N new". Scrolling back to the
// bottom, End or Ctrl+End, or a click on that text resumes. The display lock is separate and
// stronger: a locked list never follows, whatever this state says.
//
// No widgets: the view reports what the user did and the messages that arrived, and asks
// whether to scroll. User-interface thread only.

#include <cstdint>
#include <string>

namespace qv {

class CFollowState {
 public:
  bool IsFollowing() const { return following_; }
  // Messages shown since following paused; 0 while following.
  uint64_t NewCount() const { return newCount_; }

  // The user scrolled up, selected a row or searched.
  void Pause();
  // The user went back to the bottom.
  void Resume();
  // The user moved the list: at the bottom it resumes, above it pauses.
  void Scrolled(bool atBottom);
  // `count` messages joined the shown list at an update.
  void Arrived(uint64_t count);

  // "Paused, N new" while paused, else empty.
  std::string StatusText() const;

 private:
  bool following_ = true;
  uint64_t newCount_ = 0;
};

}  // namespace qv
