#include "ui/model/follow_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// One step of what the user does or what arrives: 'p' pause, 'r' resume, 'u' scrolled up,
// 'b' scrolled to the bottom, a digit: that many messages arrive.
struct FollowCase {
  const char* name;
  std::string steps;
  bool following;
  std::string status;
};

TEST(FollowStateTest, PausesCountsAndResumes) {
  const std::vector<FollowCase> cases = {
      {"follows from the start", "", true, ""},
      {"arrivals while following are not counted", "35", true, ""},
      {"scrolling up pauses", "u", false, "Paused, 0 new"},
      {"arrivals while paused are counted", "p34", false, "Paused, 7 new"},
      {"only arrivals after the pause count", "5u2", false, "Paused, 2 new"},
      {"a second pause keeps the count", "p3p1", false, "Paused, 4 new"},
      {"scrolling back to the bottom resumes and forgets the count", "u9b", true, ""},
      {"End resumes", "p9r", true, ""},
      {"a new pause counts afresh", "u9b1u2", false, "Paused, 2 new"},
  };
  for (const FollowCase& c : cases) {
    CFollowState state;
    for (const char step : c.steps) {
      switch (step) {
        case 'p': state.Pause(); break;
        case 'r': state.Resume(); break;
        case 'u': state.Scrolled(false); break;
        case 'b': state.Scrolled(true); break;
        default: state.Arrived(static_cast<uint64_t>(step - '0')); break;
      }
    }
    EXPECT_EQ(state.IsFollowing(), c.following) << c.name;
    EXPECT_EQ(state.StatusText(), c.status) << c.name;
  }
}

}  // namespace
}  // namespace qv
