#include "platform/eventlog/environment_strings.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qv::evt {
namespace {

TEST(ExpandEnvironmentStringsTest, SetVariablesExpandAndEverythingElseStaysAsWritten) {
  setenv("QV_TEST_ROOT", "/srv/quorvel", 1);
  unsetenv("QV_TEST_UNSET");
  EXPECT_EQ(ExpandEnvironmentStrings("%QV_TEST_ROOT%/qvmsg.txt;%QV_TEST_ROOT%/b"),
            "/srv/quorvel/qvmsg.txt;/srv/quorvel/b");
  EXPECT_EQ(ExpandEnvironmentStrings("%QV_TEST_UNSET%/x"), "%QV_TEST_UNSET%/x");
  EXPECT_EQ(ExpandEnvironmentStrings("100%% sure"), "100%% sure");
  EXPECT_EQ(ExpandEnvironmentStrings("50% of %QV_TEST_ROOT"), "50% of %QV_TEST_ROOT");
  EXPECT_EQ(ExpandEnvironmentStrings(""), "");
  unsetenv("QV_TEST_ROOT");
}

}  // namespace
}  // namespace qv::evt
