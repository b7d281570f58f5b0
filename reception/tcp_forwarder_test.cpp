#include "reception/tcp_forwarder.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

TEST(TcpForwarderTest, ADestinationThatIsDownKeepsTheNewestLinesWithinItsCapAndTheDropsAreReported) {
  int32_t port = 0;
  {
    testing::RecordingSink probe;
    CTcpSyslogServer reserve(probe, 0, {"127.0.0.1"}, {.maxConnections = 1});
    port = reserve.boundPort();
  }
  const std::string target = "tcp://127.0.0.1:" + std::to_string(port);
  std::vector<std::string> reports;
  CTcpForwarder::Options options;
  options.maxBytes = 1024 * 1024;
  options.reportInterval = 300ms;
  CTcpForwarder forwarder([&](const std::string& text) { reports.push_back(text); }, options);
  // 200 lines of 20 KB: four times what the queue may hold.
  constexpr int kLines = 200;
  const std::string filler(20000, 'x');
  for (int i = 0; i < kLines; ++i) forwarder.Forward(target, Record("line " + std::to_string(i) + " " + filler));
  EXPECT_LE(forwarder.queuedBytes(), options.maxBytes);
  EXPECT_GE(forwarder.queuedBytes(), options.maxBytes - 2 * 20100);
  ASSERT_EQ(reports.size(), 1u);  // the first drop at once, the others held back
  EXPECT_EQ(reports[0].rfind("Send to another Syslog server: 1 lines for " + target + " were dropped", 0), 0u)
      << reports[0];

  std::this_thread::sleep_for(350ms);
  forwarder.ReportHeldBack();
  ASSERT_EQ(reports.size(), 2u);
  const std::string more = "Send to another Syslog server: ";
  ASSERT_EQ(reports[1].rfind(more, 0), 0u);
  const int heldBack = std::stoi(reports[1].substr(more.size()));

  // The destination comes up: it gets the newest lines, in order, and nothing that was counted.
  testing::RecordingSink sink;
  CTcpSyslogServer server(sink, port, {"127.0.0.1"}, {.maxConnections = 10});
  ASSERT_TRUE(server.created());
  ASSERT_TRUE(PumpUntil(server, [&] {
    return !sink.datagrams.empty() && sink.datagrams.back().text.find("line " + std::to_string(kLines - 1) + " ") !=
                                          std::string::npos;
  }));
  EXPECT_EQ(static_cast<int>(sink.datagrams.size()) + 1 + heldBack, kLines);
  EXPECT_NE(sink.datagrams.front().text.find("line " + std::to_string(1 + heldBack) + " "), std::string::npos);
}

}  // namespace
}  // namespace qv
