#include "monitors/trap_monitor.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/message/syslog_message.h"
#include "monitors/reporter_for_test.h"
#include "reception/udp_test_peer.h"
#include "snmp/snmp_endpoint.h"
#include "snmp/test_child_process.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::CTestChildProcess;
using testing::Finding;

const char kReferenceLine[] =
    "SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific/0 Timestamp=0 Sender's OID=1.3.6.1.4.1.0 "
    "[OID=1.3.6.1.4.1.0 String=disk full]";

// A monitor on a loopback port of its own; traps come from net-snmp's tools or from endpoints.
class TrapMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = testing::NetSnmpEnvironment(home_.path());
    port_ = static_cast<uint16_t>(testing::UdpPeer().port());
  }

  // Runs a net-snmp tool to completion (5 s at most) and returns its exit status.
  std::optional<int> RunTool(const std::vector<std::string>& argv) {
    CTestChildProcess tool(argv, env_, home_.file("tool.out"));
    EXPECT_TRUE(tool.Started()) << argv[0] << " is missing; scripts/setup.sh installs it";
    const auto status = tool.WaitForExit(6s);
    EXPECT_EQ(status, 0) << tool.Output();
    return status;
  }

  // Waits (2 s at most) until something listens on the UDP port, without touching the port.
  bool WaitUntilListening() const {
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", port_);
    const auto deadline = Clock::now() + 2s;
    while (Clock::now() < deadline) {
      std::ifstream table("/proc/net/udp");
      std::string line;
      while (std::getline(table, line)) {
        if (line.find(local) != std::string::npos && line.find(local) < 20) return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

  CSnmpMessage V1Trap(std::string_view text) {
    CSnmpMessage trap(kPduTrapV1);
    trap.SetEnterprise("1.3.6.1.4.1.0");
    trap.SetAgentAddress("10.0.0.5");
    trap.SetGenericTrap(6);
    trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.4.1.0"), std::make_unique<CSnmpOctetString>(std::string(text)));
    return trap;
  }

  testing::TempHome home_;
  std::map<std::string, std::string> env_;
  uint16_t port_ = 0;
  testing::CFindingCollector collector_;
};

// An SNMPv1 trap names its agent; SNMPv2c traps and informs, which have no agent field, the
// address they came from.
TEST_F(TrapMonitorTest, TrapsFromNetSnmpAreReportedWithTheirSender) {
  CTrapMonitor monitor(collector_.Reporter(), port_);
  monitor.Start();
  ASSERT_TRUE(WaitUntilListening());

  RunTool({"snmptrap", "-v1", "-c", "public", Target(), "1.3.6.1.4.1.0", "10.0.0.5", "6", "0", "0",
           "1.3.6.1.4.1.0", "s", "disk full"});
  RunTool({"snmptrap", "-v2c", "-c", "public", Target(), "0", "1.3.6.1.6.3.1.1.5.3", "1.3.6.1.2.1.2.2.1.1.2", "i",
           "2"});
  collector_.WaitForTexts(2, 3s);
  monitor.Stop();

  const auto findings = collector_.Findings();
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].text, kReferenceLine);
  EXPECT_EQ(findings[0].severity, 6);
  EXPECT_EQ(findings[0].sourceAddress, "10.0.0.5");
  EXPECT_EQ(findings[1].text,
            "SNMP Trap: Ver=2 Community=public Type=EnterpriseSpecific/3 Timestamp=0 "
            "[OID=1.3.6.1.2.1.1.3.0 TimeTick=0] [OID=1.3.6.1.6.3.1.1.4.1.0 OID=1.3.6.1.6.3.1.1.5.3] "
            "[OID=1.3.6.1.2.1.2.2.1.1.2 Integer=2]");
  EXPECT_EQ(findings[1].sourceAddress, "127.0.0.1");
}

TEST_F(TrapMonitorTest, InformsAreReportedAndAcknowledged) {
  CTrapMonitor monitor(collector_.Reporter(), port_);
  monitor.Start();
  ASSERT_TRUE(WaitUntilListening());
  // Without the acknowledgement snmpinform would fail after its 3-second time-out.
  EXPECT_EQ(RunTool({"snmpinform", "-v2c", "-c", "public", "-r", "0", "-t", "3", Target(), "0",
                     "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.4.1.0.1", "s", "up again"}),
            0);
  monitor.Stop();
  ASSERT_EQ(collector_.Findings().size(), 1u);
  EXPECT_EQ(collector_.Findings()[0].sourceAddress, "127.0.0.1");
  EXPECT_EQ(collector_.Texts(),
            std::vector<std::string>{"SNMP Trap: Ver=2 Community=public Type=EnterpriseSpecific/1 Timestamp=0 "
                                     "[OID=1.3.6.1.2.1.1.3.0 TimeTick=0] "
                                     "[OID=1.3.6.1.6.3.1.1.4.1.0 OID=1.3.6.1.6.3.1.1.5.1] "
                                     "[OID=1.3.6.1.4.1.0.1 String=up again]"});
}

TEST_F(TrapMonitorTest, OtherMessagesAndJunkAreDroppedWithoutDelayingTheNextTrap) {
  CTrapMonitor monitor(collector_.Reporter(), port_);
  monitor.Start();
  ASSERT_TRUE(WaitUntilListening());

  testing::UdpPeer junk;
  for (int i = 0; i < 5; ++i) junk.SendTo(port_, std::string_view("\x30\x05\x02\x09\x00", 5));
  // A trap without a version, and a request.
  junk.SendTo(port_, std::string_view("\x30\x10\x04\x01x\xA7\x0B\x02\x01\x05\x02\x01\x00\x02\x01\x00\x30\x00", 18));
  CSnmpEndpoint sender(port_, 1, "127.0.0.1");
  sender.Send(CSnmpMessage(kPduGetRequest));
  const auto sent = Clock::now();
  sender.Send(V1Trap("disk full"));

  EXPECT_EQ(collector_.WaitForTexts(1, 3s), std::vector<std::string>{kReferenceLine});
  EXPECT_LT(Clock::now() - sent, 500ms);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector_.Texts().size(), 1u);

  const auto stopping = Clock::now();
  monitor.Stop();
  EXPECT_LT(Clock::now() - stopping, 500ms);
  EXPECT_FALSE(monitor.IsRunning());
}

TEST_F(TrapMonitorTest, ReportsBecomeRecordsFromTheAgentAndTooLongOnesAreCut) {
  testing::CRecordCollector records;
  CTrapMonitor monitor(records.Reporter(), port_);  // the programs' reporter
  monitor.Start();
  ASSERT_TRUE(WaitUntilListening());
  CSnmpEndpoint(port_, 1, "127.0.0.1").Send(V1Trap("disk full"));
  // 30,000 bytes of binary data are reported as 60,000 hexadecimal digits, and line feeds may
  // double in the record line.
  CSnmpEndpoint(port_, 1, "127.0.0.1").Send(V1Trap(std::string(30000, '\x01')));
  CSnmpEndpoint(port_, 1, "127.0.0.1").Send(V1Trap(std::string(40000, '\n')));
  ASSERT_TRUE(records.WaitFor(3));
  monitor.Stop();

  const SyslogMessage record = records.At(0);
  EXPECT_EQ(record.message, kReferenceLine);
  EXPECT_EQ(record.severity, 6);
  EXPECT_EQ(record.facility, 5);
  EXPECT_EQ(record.ipAddress, "10.0.0.5");
  EXPECT_EQ(record.hostName, "");
  const SyslogMessage binary = records.At(1);
  EXPECT_EQ(binary.message.size(), CTrapMonitor::kMaxReportBytes);
  EXPECT_EQ(binary.message.substr(binary.message.size() - 3), "...");
  EXPECT_NE(binary.message.find("String=010101"), std::string::npos);
  EXPECT_LE(records.At(2).message.size(), CTrapMonitor::kMaxReportBytes);
}

TEST_F(TrapMonitorTest, APermissionFailureNamesRootAndTheCapability) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become an ordinary user";
  std::ifstream unprivilegedStart("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  int firstFreePort = 1024;
  unprivilegedStart >> firstFreePort;
  if (firstFreePort <= CTrapMonitor::kTrapPort) GTEST_SKIP() << "every user may bind port 162 here";

  // A child that has dropped root runs the monitor on the real trap port.
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(2);
    testing::CFindingCollector collector;
    CTrapMonitor monitor(collector.Reporter());
    monitor.Start();
    collector.WaitForTexts(1, 2s);
    monitor.Stop();
    std::string said;
    for (const Finding& finding : collector.Findings()) said += finding.text + " (" + std::to_string(finding.severity) + ")\n";
    const bool written = write(out[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
    _exit(written ? 0 : 3);
  }
  close(out[1]);
  std::string said;
  char chunk[512];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(said,
            "SNMP Trap Monitor: Port 162 cannot be bound: permission denied (it needs root or CAP_NET_BIND_SERVICE) (3)\n");
}

TEST_F(TrapMonitorTest, TakenPort162IsReportedOnceAndNothingElse) {
  CSnmpEndpoint holder(CTrapMonitor::kTrapPort, 1);
  // A holder refused for lack of permission would make this a test of something else.
  if (!holder.Ready() && holder.LastError() != EADDRINUSE) GTEST_SKIP() << "cannot bind port 162: " << holder.LastErrorText();
  CTrapMonitor monitor(collector_.Reporter());
  monitor.Start();
  collector_.WaitForTexts(1, 2s);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(monitor.IsRunning());
  monitor.Stop();

  const auto findings = collector_.Findings();
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].text, "SNMP Trap Monitor: Port 162 is already in use");
  EXPECT_EQ(findings[0].severity, 3);
  EXPECT_EQ(findings[0].sourceAddress, "127.0.0.1");
}

}  // namespace
}  // namespace qv
