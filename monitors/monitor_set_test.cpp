#include "monitors/monitor_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "monitors/reporter_for_test.h"
#include "reception/udp_test_peer.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using std::chrono::milliseconds;

// The monitors as a program runs them: started from their switches, posting the records that
// the owner's private channel carries.
class MonitorSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const CSettingsStore& settings = AppSettings();
    log_ = home_.file("service.log");
    std::ofstream(log_) << "before\n";
    settings.SetInt("Settings", "filecount", 1);
    settings.SetString("Files", "file0", log_.c_str());
    settings.SetInt("Files", "filelog0", 1);
    std::filesystem::create_directories(home_.path() / "telephony" / "lines");
    std::ofstream(home_.path() / "telephony" / "lines" / "modem") << "name=Test Modem\n";
  }

  // A free port for the trap monitor instead of 162.
  static uint16_t TrapPort() { return static_cast<uint16_t>(testing::UdpPeer().port()); }

  SyslogMessage Received(std::size_t index) { return records_.At(index); }

  testing::TempHome home_;
  testing::CRecordCollector records_;
  CTelephonyLibrary telephony_{QV_TAPI_PROVIDER_PATH};
  std::string log_;
};

TEST_F(MonitorSetTest, OnlySwitchedOnMonitorsStartAndTheirFindingsArriveAsRecords) {
  AppSettings().SetInt("Settings", "FileMonitor", 1);
  AppSettings().SetInt("Settings", "TapiMonitor", 1);
  AppSettings().SetInt("Settings", "SNMPTrapMonitor", 1);
  CMonitorSet monitors(records_.Poster(), telephony_, TrapPort());
  monitors.FileMonitor().SetPollInterval(50);
  monitors.StartConfigured();
  EXPECT_TRUE(monitors.FileMonitor().IsRunning());
  EXPECT_FALSE(monitors.PingMonitor().IsRunning());
  EXPECT_TRUE(monitors.TrapMonitor().IsRunning());

  EXPECT_TRUE(monitors.EventLogMonitors().Started()) << "the event-log switch is on by default";

  ASSERT_TRUE(records_.WaitFor(1));
  EXPECT_EQ(Received(0).message, "Call Monitor: Listening for calls on Test Modem");
  evt::HEventSource source = nullptr;
  ASSERT_EQ(evt::RegisterEventSource("Backup", &source), evt::kSuccess);
  EXPECT_EQ(evt::ReportEvent(source, evt::kWarningType, 0, 1, {"tape", "full"}), evt::kSuccess);
  evt::DeregisterEventSource(source);
  ASSERT_TRUE(records_.WaitFor(2));
  EXPECT_EQ(Received(1).message, "Application/Backup: tape full");
  EXPECT_EQ(Received(1).facility, 24);

  std::ofstream(log_, std::ios::app) << "disk almost full\r\n";
  ASSERT_TRUE(records_.WaitFor(3));
  const SyslogMessage line = Received(2);
  EXPECT_EQ(line.message, "service.log: disk almost full");
  EXPECT_EQ(line.severity, 6);
  EXPECT_EQ(line.facility, 5);
  EXPECT_EQ(line.hostName, "localhost");
  EXPECT_EQ(line.ipAddress, "127.0.0.1");

  monitors.StopAll();
  EXPECT_FALSE(monitors.FileMonitor().IsRunning());
  EXPECT_FALSE(monitors.CallMonitor().IsRunning());
  EXPECT_FALSE(monitors.TrapMonitor().IsRunning());
  EXPECT_FALSE(monitors.EventLogMonitors().Started());
}

// The trap monitor's switch is absent here, as on a fresh install: port 162 stays closed.
TEST_F(MonitorSetTest, NothingStartsWithTheSwitchesOffOrAbsent) {
  AppSettings().SetInt("Settings", "PingMonitor", 0);
  AppSettings().SetInt("Settings", "EventLog", 0);
  CMonitorSet monitors(records_.Poster(), telephony_, TrapPort());
  monitors.StartConfigured();
  EXPECT_FALSE(monitors.FileMonitor().IsRunning());
  EXPECT_FALSE(monitors.PingMonitor().IsRunning());
  EXPECT_FALSE(monitors.CallMonitor().IsRunning());
  EXPECT_FALSE(monitors.TrapMonitor().IsRunning());
  EXPECT_FALSE(monitors.EventLogMonitors().Started());
  EXPECT_FALSE(records_.WaitFor(1, milliseconds(300)));
  monitors.StopAll();
}

}  // namespace
}  // namespace qv
