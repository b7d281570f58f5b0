#include "platform/process/command_line.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLineTest, SpacesAndTabsSeparateWordsAndRunsCountOnce) {
  EXPECT_EQ(SplitCommandLine("  prog a  b\tc\t "), (Words{"prog", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine(""), Words{});
  EXPECT_EQ(SplitCommandLine(" \t "), Words{});
}

TEST(SplitCommandLineTest, DoubleQuotesGroupWordsAndAreRemoved) {
  EXPECT_EQ(SplitCommandLine("\"/opt/my tools/notify\" \"$msg\" -v"),
            (Words{"/opt/my tools/notify", "$msg", "-v"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d e"), (Words{"ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine("prog \"\" x \"\""), (Words{"prog", "", "x", ""}));
  EXPECT_EQ(SplitCommandLine("prog \"a  b"), (Words{"prog", "a  b"}));
}

TEST(SplitCommandLineTest, NoOtherCharacterIsSpecial) {
  EXPECT_EQ(SplitCommandLine("prog $(id);|& 'x y' a\\\"b\\"), (Words{"prog", "$(id);|&", "'x", "y'", "a\\b\\"}));
}

}  // namespace
}  // namespace qv
