#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

// Renderings in a fixed zone two hours east of UTC, named "XST", whatever the machine's zone.
class RenderingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    savedZone_ = zone != nullptr ? zone : "";
    hadZone_ = zone != nullptr;
    setenv("TZ", "XST-2", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_) setenv("TZ", savedZone_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

  static SyslogMessage Sample() {
    SyslogMessage m;
    m.facility = 4;
    m.severity = 2;
    m.hostName = "mymachine";
    m.ipAddress = "10.0.0.5";
    m.timeReceived = 1791183787;  // 5 October 2026 07:03:07 UTC, 09:03:07 XST
    m.timeSent = 1791183787 + 7200;  // the sender's stamp "Oct 05 09:03:07" read as UTC
    m.message = "test";
    return m;
  }

  qv::testing::TempHome home_;
  std::string savedZone_;
  bool hadZone_ = false;
};

TEST_F(RenderingsTest, TimeRenderingsFollowTimeutcAtEachCall) {
  const SyslogMessage m = Sample();
  EXPECT_EQ(m.FormatTimeReceived(), "Oct 05 09:03:07 XST");
  AppSettings().SetInt("Settings", "timeutc", 1);
  EXPECT_EQ(m.FormatTimeReceived(), "Oct 05 07:03:07 UTC");
  EXPECT_EQ(m.FormatTimeReceivedStd(), "2026-10-05 07:03:07");
  EXPECT_EQ(m.FormatTimeSent(), "Oct 05 09:03:07");
  SyslogMessage unsent = m;
  unsent.timeSent = 0;
  EXPECT_EQ(unsent.FormatTimeSent(), "");
}

TEST_F(RenderingsTest, ExportLineAndDetailBlock) {
  AppSettings().SetInt("Settings", "timeutc", 1);
  SyslogMessage m = Sample();
  m.hostName = "";
  m.timeSent = 0;
  m.message = "a \"quoted\", text";
  EXPECT_EQ(m.FormatExportText(), "Oct 05 07:03:07 UTC,,10.0.0.5,security,CRITICAL,,\"a \"quoted\", text\"");
  EXPECT_EQ(m.FormatExportLine(), m.FormatExportText() + "\r\n");
  m.facility = 10;
  EXPECT_EQ(m.FormatExportText(), "Oct 05 07:03:07 UTC,,10.0.0.5,authpriv,CRITICAL,,\"a \"quoted\", text\"");

  m.facility = 25;
  m.severity = 0;
  EXPECT_EQ(m.FormatDetailBlock(),
            "Received: Oct 05 07:03:07 UTC\r\nHostname: \r\nIP Addr: 10.0.0.5\r\nFacility: UNKNOWN\r\n"
            "Severity: EMERGENCY\r\nMessage: a \"quoted\", text\r\n");
}

TEST_F(RenderingsTest, SyslogLineUsesLocalTimeAndFallsBackToTheAddress) {
  SyslogMessage m = Sample();
  m.timeSent = 0;
  EXPECT_EQ(m.FormatSyslogLine(), "<34>Oct  5 09:03:07 mymachine test");
  m.timeSent = m.timeReceived - 86400 * 4;
  EXPECT_EQ(m.FormatSyslogLine(), "<34>Oct  1 09:03:07 mymachine test");
  m.hostName = "";
  m.facility = 25;
  m.severity = 0;
  EXPECT_EQ(m.FormatSyslogLine(), "<200>Oct  1 09:03:07 10.0.0.5 test");
}

}  // namespace
}  // namespace qv
