#include "reception/tcp_forwarder.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/message/syslog_message.h"
#include "reception/tcp_syslog_server.h"
#include "reception/udp_test_peer.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

bool PumpUntil(CTcpSyslogServer& server, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 8s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd watched{server.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, 20) == 1) server.OnReceive();
  }
  return true;
}

SyslogMessage Record(const std::string& text) {
  SyslogMessage record;
  record.ParseDatagram("10.0.0.7", 514, "<19>Oct 11 22:14:15 core-sw1 " + text);
  return record;
}

TEST(TcpForwarderTest, LinesGoOctetCountedInOrderOverOneConnection) {
  EXPECT_TRUE(CTcpForwarder::Handles("tcp://10.0.0.1:601"));
  EXPECT_FALSE(CTcpForwarder::Handles("10.0.0.1"));
  testing::RecordingSink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10});
  ASSERT_TRUE(server.created());
  const std::string target = "tcp://127.0.0.1:" + std::to_string(server.boundPort());
  CTcpForwarder forwarder;
  // Values without a usable port are ignored and do not disturb the others.
  for (const char* bad :
       {"tcp://127.0.0.1", "tcp://127.0.0.1:0", "tcp://127.0.0.1:70000", "tcp://:601", "tcp://h:6x"}) {
    forwarder.Forward(bad, Record("ignored"));
  }
  const SyslogMessage records[] = {Record("first, with a comma"), Record("second"), Record("third\nwith a line feed")};
  for (const SyslogMessage& record : records) forwarder.Forward(target, record);
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 3; }));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sink.datagrams[i].text, records[i].FormatSyslogLine());
  EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(TcpForwarderTest, LinesWaitForADestinationThatComesUpLater) {
  // A port nobody listens on yet; the first connection attempts fail.
  int32_t port = 0;
  {
    testing::RecordingSink probe;
    CTcpSyslogServer reserve(probe, 0, {"127.0.0.1"}, {.maxConnections = 1});
    port = reserve.boundPort();
  }
  CTcpForwarder forwarder;
  forwarder.Forward("tcp://[127.0.0.1]:" + std::to_string(port), Record("queued early"));
  std::this_thread::sleep_for(300ms);
  testing::RecordingSink sink;
  CTcpSyslogServer server(sink, port, {"127.0.0.1"}, {.maxConnections = 10});
  ASSERT_TRUE(server.created());
  forwarder.Forward("tcp://[127.0.0.1]:" + std::to_string(port), Record("queued later"));
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 2; }));
  EXPECT_NE(sink.datagrams[0].text.find("queued early"), std::string::npos);
  EXPECT_NE(sink.datagrams[1].text.find("queued later"), std::string::npos);
}

}  // namespace
}  // namespace qv
