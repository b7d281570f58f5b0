#include "rules/actions/substitute_macros.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

class SubstituteMacrosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    hadZone_ = zone != nullptr;
    savedZone_ = hadZone_ ? zone : "";
    setenv("TZ", "XST-2", 1);
    tzset();
    message_.facility = 16;
    message_.severity = 4;
    message_.hostName = "gw1";
    message_.ipAddress = "10.0.0.1";
    message_.timeReceived = 1791183787;  // 5 October 2026 07:03:07 UTC
    message_.message = "link down";
  }
  void TearDown() override {
    if (hadZone_) setenv("TZ", savedZone_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

  qv::testing::TempHome home_;
  SyslogMessage message_;
  bool hadZone_ = false;
  std::string savedZone_;
};

TEST_F(SubstituteMacrosTest, ReplacesEveryMacroByItsField) {
  EXPECT_EQ(SubstituteMacros("$hostname/$ipaddr: $msg", message_, false), "gw1/10.0.0.1: link down");
  EXPECT_EQ(SubstituteMacros("$facility $severity $msg $msg", message_, false), "local0 WARNING link down link down");
  EXPECT_EQ(SubstituteMacros("[$recvtime] [$recvstdtime]", message_, false),
            "[Oct 05 09:03:07 XST] [2026-10-05 07:03:07]");
  AppSettings().SetInt("Settings", "timeutc", 1);
  EXPECT_EQ(SubstituteMacros("$recvtime|$recvstdtime", message_, false), "Oct 05 07:03:07 UTC|2026-10-05 07:03:07");
  EXPECT_EQ(SubstituteMacros("$all", message_, false),
            "Oct 05 07:03:07 UTC,gw1,10.0.0.1,local0,WARNING,,\"link down\"");
}

TEST_F(SubstituteMacrosTest, MacrosAreExactAndPrefixesStillMatch) {
  EXPECT_EQ(SubstituteMacros("no macros here: 100% 'quoted'", message_, true), "no macros here: 100% 'quoted'");
  EXPECT_EQ(SubstituteMacros("$MSG $Hostname $ $ms", message_, false), "$MSG $Hostname $ $ms");
  EXPECT_EQ(SubstituteMacros("$msgs", message_, false), "link downs");
  EXPECT_EQ(SubstituteMacros("$$msg$", message_, false), "$link down$");
}

TEST_F(SubstituteMacrosTest, DatabaseValuesKeepTheirQuotesAndAllItsLineEnd) {
  AppSettings().SetInt("Settings", "timeutc", 1);
  message_.message = "it's";
  message_.hostName = "o'hara";
  EXPECT_EQ(SubstituteMacros("'$msg', '$hostname'", message_, true), "'it's', 'o'hara'");
  EXPECT_EQ(SubstituteMacros("$all", message_, true), "Oct 05 07:03:07 UTC,o'hara,10.0.0.1,local0,WARNING,,\"it's\"\r\n");
  EXPECT_EQ(SubstituteMacros("$all", message_, false), "Oct 05 07:03:07 UTC,o'hara,10.0.0.1,local0,WARNING,,\"it's\"");
}

TEST_F(SubstituteMacrosTest, InsertedTextIsExpandedOnlyByLaterSteps) {
  AppSettings().SetInt("Settings", "timeutc", 1);
  message_.hostName = "$msg-host";
  message_.message = "see $all, not $hostname, and $msg";
  EXPECT_EQ(SubstituteMacros("$hostname", message_, false),
            "see Oct 05 07:03:07 UTC,$msg-host,10.0.0.1,local0,WARNING,,\"see $all, not $hostname, and $msg\", "
            "not $hostname, and $msg-host");
}

TEST_F(SubstituteMacrosTest, ExpansionIsCutAtTheLimit) {
  AppSettings().SetInt("Settings", "timeutc", 1);
  // 16 KB of "$all" in the message: unbounded, "$msg" would grow to 64 MB.
  std::string allRepeated;
  for (int i = 0; i < 4096; ++i) allRepeated += "$all";
  message_.message = allRepeated;
  const std::string expanded = SubstituteMacros("<$msg>", message_, false);
  ASSERT_EQ(expanded.size(), kMaxExpandedMacroText);
  // The later step still expands what "$msg" inserted, up to the cut.
  const std::string exportText = "Oct 05 07:03:07 UTC,gw1,10.0.0.1,local0,WARNING,,\"";
  EXPECT_EQ(expanded.substr(0, 1 + exportText.size()), "<" + exportText);
  const std::size_t second = 1 + exportText.size() + allRepeated.size() + 1;
  EXPECT_EQ(expanded.find(exportText, 2), second);

  // A text just under the limit is left whole; the closing part of one over it is cut off.
  message_.message = std::string(kMaxExpandedMacroText - 2, 'x');
  EXPECT_EQ(SubstituteMacros("<$msg>", message_, false), "<" + message_.message + ">");
  EXPECT_EQ(SubstituteMacros("<$msg>>", message_, false), "<" + message_.message + ">");
  message_.message = std::string(kMaxExpandedMacroText, '\'');
  EXPECT_EQ(SubstituteMacros("'$msg'", message_, true), std::string(kMaxExpandedMacroText, '\''));
}

}  // namespace
}  // namespace qv
