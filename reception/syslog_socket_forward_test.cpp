// Forwarding always goes to port 514. The listener stands on 127.0.0.2 so that the test works
// beside a syslog daemon on 127.0.0.1 or on all addresses of another port.

#include <gtest/gtest.h>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"
#include "reception/syslog_socket.h"
#include "reception/udp_test_peer.h"

namespace qv {
namespace {

using qv::testing::RecordingSink;
using qv::testing::UdpPeer;
using namespace std::chrono_literals;

SyslogMessage Record() {
  SyslogMessage record;
  record.facility = 4;
  record.severity = 2;
  record.hostName = "mymachine";
  record.ipAddress = "10.0.0.5";
  record.timeReceived = 1700000000;
  record.message = "su: 'su root' failed";
  return record;
}

TEST(SyslogSocketForwardTest, ForwardReachesPort514FromTheListeningSocket) {
  UdpPeer server("127.0.0.2", CSyslogSocket::kForwardPort);
  if (!server.bound()) GTEST_SKIP() << "port 514 of 127.0.0.2 cannot be bound here";
  RecordingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");  // listening elsewhere than 514
  ASSERT_TRUE(socket.created());

  socket.Forward("127.0.0.2", Record());
  int senderPort = 0;
  const auto line = server.Receive(2000ms, &senderPort);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, Record().FormatSyslogLine());
  EXPECT_EQ(line->substr(0, 4), "<34>");
  EXPECT_EQ(line->substr(line->size() - 20), "su: 'su root' failed");  // no line end
  EXPECT_EQ(senderPort, socket.boundPort());

  // "#5424" asks for the RFC 5424 line, which keeps the sender's stamp.
  SyslogMessage stamped = Record();
  stamped.timeSent = 1690000000;
  socket.Forward("127.0.0.2#5424", stamped);
  const auto modern = server.Receive(2000ms);
  ASSERT_TRUE(modern.has_value());
  EXPECT_EQ(*modern, FormatRfc5424Line(stamped));
  SyslogMessage arrived;
  arrived.ParseDatagram("127.0.0.1", 514, *modern);
  EXPECT_EQ(arrived.timeSent, 1690000000);
  EXPECT_EQ(arrived.hostName, "mymachine");
}

TEST(SyslogSocketForwardTest, ANameIsNotLookedUpAndNothingIsSent) {
  UdpPeer server("127.0.0.1", CSyslogSocket::kForwardPort);
  if (!server.bound()) GTEST_SKIP() << "port 514 of 127.0.0.1 cannot be bound here";
  RecordingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");
  socket.Forward("localhost", Record());
  socket.Forward("", Record());
  EXPECT_FALSE(server.Receive(200ms).has_value());
}

}  // namespace
}  // namespace qv
