#include "reception/local_injection.h"

#include <ctime>

#include <gtest/gtest.h>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using qv::testing::ReceiveUntil;
using qv::testing::RecordingSink;
using namespace std::chrono_literals;

class LocalInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(socket_.created());
    ASSERT_TRUE(AppSettings().SetInt("Settings", "udpport", socket_.boundPort()));
  }

  SyslogMessage Received(std::size_t index) const {
    SyslogMessage record;
    const auto& datagram = sink_.datagrams.at(index);
    record.ParseDatagram(datagram.address, datagram.port, datagram.text);
    return record;
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
  CSyslogSocket socket_{sink_, 0, "127.0.0.1"};
};

TEST_F(LocalInjectionTest, AFindingArrivesAsARecordLineOnUdpport) {
  const auto before = std::time(nullptr);
  SendLocalSyslog("Ping Monitor: router, \"gw\" down", 6, "127.0.0.1");
  SendLocalSyslog("SNMP Trap: link down", 3, "10.1.2.3");
  ASSERT_TRUE(ReceiveUntil(socket_, sink_, 2));

  const std::string& line = sink_.datagrams[0].text;
  EXPECT_NE(line.front(), '<');
  EXPECT_EQ(line.substr(line.size() - 2), "n\"");  // no CR LF
  const SyslogMessage finding = Received(0);
  EXPECT_EQ(finding.hostName, "localhost");
  EXPECT_EQ(finding.ipAddress, "127.0.0.1");
  EXPECT_EQ(finding.facility, 5);
  EXPECT_EQ(finding.severity, 6);
  EXPECT_EQ(finding.senderPort, 514);
  EXPECT_EQ(finding.message, "Ping Monitor: router, \"gw\" down");
  EXPECT_FALSE(finding.highlighted);
  EXPECT_EQ(finding.timeSent, finding.timeReceived);
  EXPECT_GE(finding.timeReceived, before);
  EXPECT_LE(finding.timeReceived, std::time(nullptr));

  const SyslogMessage trap = Received(1);
  EXPECT_EQ(trap.hostName, "");
  EXPECT_EQ(trap.ipAddress, "10.1.2.3");
  EXPECT_EQ(trap.severity, 3);
}

TEST_F(LocalInjectionTest, UdpportIsReadAtEveryCall) {
  RecordingSink otherSink;
  CSyslogSocket other(otherSink, 0, "127.0.0.1");
  ASSERT_TRUE(AppSettings().SetInt("Settings", "udpport", other.boundPort()));
  SendLocalSyslog("File Monitor: changed", 6, "127.0.0.1");
  ASSERT_TRUE(ReceiveUntil(other, otherSink, 1));
  EXPECT_NE(otherSink.datagrams[0].text.find("File Monitor: changed"), std::string::npos);
  EXPECT_FALSE(ReceiveUntil(socket_, sink_, 1, 100ms));  // nothing at the first port

  // A port beyond 65535 is not wrapped round onto some other port (here: ours).
  ASSERT_TRUE(AppSettings().SetInt("Settings", "udpport", socket_.boundPort() + 65536));
  SendLocalSyslog("Call Monitor: ring", 6, "127.0.0.1");
  EXPECT_FALSE(ReceiveUntil(socket_, sink_, 1, 200ms));
}

}  // namespace
}  // namespace qv
