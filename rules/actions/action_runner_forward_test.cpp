// Forwarding always goes to port 514; the listener stands on 127.0.0.2 so that the test works
// beside a syslog daemon on 127.0.0.1.

#include <gtest/gtest.h>

#include "reception/syslog_socket.h"
#include "reception/udp_test_peer.h"
#include "rules/actions/action_runner.h"
#include "rules/actions/reporting_message_boxes.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// What the owners do: forward through their listening socket.
class SocketForwarder : public CForwarder {
 public:
  explicit SocketForwarder(CSyslogSocket& socket) : socket_(socket) {}
  void Forward(std::string_view dottedAddress, const SyslogMessage& message) override {
    socket_.Forward(dottedAddress, message);
  }

 private:
  CSyslogSocket& socket_;
};

TEST(ActionRunnerForwardTest, ForwardGoesThroughTheForwarderOnly) {
  qv::testing::UdpPeer server("127.0.0.2", CSyslogSocket::kForwardPort);
  if (!server.bound()) GTEST_SKIP() << "port 514 of 127.0.0.2 cannot be bound here";
  qv::testing::RecordingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");
  ASSERT_TRUE(socket.created());
  SocketForwarder forwarder(socket);
  CActionRunner runner(std::make_unique<CReportingMessageBoxes>(sink));
  CRule rule;
  rule.Action = kActionForward;
  rule.ActionValue = "127.0.0.2";
  SyslogMessage message;
  message.facility = 4;
  message.severity = 2;
  message.hostName = "gw1";
  message.timeReceived = 1791183787;
  message.message = "su: 'su root' failed";

  runner.Execute(rule, message, ActionContext{sink, nullptr});
  EXPECT_FALSE(server.Receive(200ms).has_value());

  runner.Execute(rule, message, ActionContext{sink, &forwarder});
  int senderPort = 0;
  const auto line = server.Receive(2000ms, &senderPort);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, message.FormatSyslogLine());
  EXPECT_EQ(senderPort, socket.boundPort());
}

}  // namespace
}  // namespace qv
