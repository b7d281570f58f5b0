// Forwarding end to end: two real dunmir services, each with a data root of its own. The edge
// receives over TCP and forwards every message over TLS to the central one; each checks the
// other's certificate against the test's CA, and sends RFC 5424. The central stops for 5 s while
// the messages keep coming; all of them reach its history, once, in order, with their sender's
// host and stamp.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "testing/test_certificates.h"
#include "testing/wait_for.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// A TCP connection to 127.0.0.1:`port`, or -1.
int ConnectTo(int32_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

using qv::testing::WaitFor;

std::string Numbered(int number) {
  char text[32];
  std::snprintf(text, sizeof text, "chain message %05d", number);
  return text;
}

// The line the test sends for message `number`: a stamp from another year, which the line of
// RFC 3164 could not carry.
std::string Line(int number) { return "<134>1 2024-02-29T10:00:00+02:00 edgehost qvchain - - - " + Numbered(number); }

// The records of `home`'s history that the test sent, in the order stored.
std::vector<SyslogMessage> Chained(const testing::TempHome& home) {
  std::vector<SyslogMessage> chained;
  for (const char* name : {"qvhistb.txt", "qvhista.txt"}) {
    std::ifstream file(home.file(name));
    for (std::string line; std::getline(file, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      SyslogMessage record;
      record.ReadRecordLine(line);
      if (record.message.starts_with("qvchain: chain message ")) chained.push_back(record);
    }
  }
  return chained;
}

class ForwardingChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::OwnNetworkNamespace::Enter();  // where it may; loopback either way
    if (!certificates_.Make()) GTEST_SKIP() << "the openssl tool cannot make the test's certificates";
    tlsPort_ = testing::FreeTcpPort();
    Use(central_);
    Configure(testing::FreeUdpPort());
    store_.SetInt("Settings", "tlsport", tlsPort_);
    store_.SetString("Settings", "tlscert", certificates_.certificate("server").c_str());
    store_.SetString("Settings", "tlskey", certificates_.key("server").c_str());
    store_.SetString("Settings", "tlsca", certificates_.ca().c_str());  // the edge must show its certificate

    Use(edge_);
    Configure(testing::FreeUdpPort());
    edgePort_ = testing::FreeTcpPort();
    store_.SetInt("Settings", "tcpport", edgePort_);
    store_.SetString("Settings", "forwardca", certificates_.ca().c_str());
    store_.SetString("Settings", "forwardcert", certificates_.certificate("client").c_str());
    store_.SetString("Settings", "forwardkey", certificates_.key("client").c_str());
    store_.SetInt("Settings", "rulescount", 1);
    store_.SetString("Rules\\rule0", "Message", "chain message");
    store_.SetInt("Rules\\rule0", "Action", 2);
    store_.SetString("Rules\\rule0", "ActionValue", ("tls://localhost:" + std::to_string(tlsPort_) + "#5424").c_str());
  }
  void TearDown() override {
    for (pid_t pid : {edgePid_, centralPid_}) {
      if (pid > 0) {
        kill(pid, SIGTERM);
        EXPECT_EQ(testing::WaitForExit(pid), 0);
      }
    }
  }

  // Points the settings and the next service at `home`.
  static void Use(const testing::TempHome& home) { setenv("QUORVEL_HOME", home.path().c_str(), 1); }
  void Configure(int32_t udpPort) {
    store_.SetInt("Settings", "udpport", udpPort);
    store_.SetInt("Settings", "SNMPTrapMonitor", 0);
    store_.SetInt("Settings", "EventLog", 0);
    store_.SetInt("Settings", "historysize", 100000);  // every line stays in one file
  }
  // Starts the service of `home` and waits until `port` takes connections.
  static pid_t Start(const testing::TempHome& home, int32_t port) {
    Use(home);
    const pid_t pid = testing::SpawnDunmir({"debug"});
    EXPECT_TRUE(WaitFor(
        [port] {
          const int fd = ConnectTo(port);
          if (fd >= 0) close(fd);
          return fd >= 0;
        },
        10s));
    return pid;
  }

  testing::TempHome certificatesHome_;
  testing::TestCertificates certificates_{certificatesHome_.path()};
  testing::TempHome central_;
  testing::TempHome edge_;
  const CSettingsStore& store_ = AppSettings();
  int32_t tlsPort_ = 0;
  int32_t edgePort_ = 0;
  pid_t centralPid_ = -1;
  pid_t edgePid_ = -1;
};

TEST_F(ForwardingChainTest, TheCentralStopsForFiveSecondsAndStillGetsEveryMessageInOrder) {
  centralPid_ = Start(central_, tlsPort_);
  edgePid_ = Start(edge_, edgePort_);
  constexpr int kMessages = 10000;
  // 10,000 messages over 6 s, octet-counted over one connection to the edge.
  std::atomic<int> sent{0};
  std::thread sender([&] {
    const int fd = ConnectTo(edgePort_);
    for (int i = 0; i < kMessages && fd >= 0; ++i) {
      const std::string line = Line(i);
      const std::string frame = std::to_string(line.size()) + " " + line;
      if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) break;
      sent = i + 1;
      if (i % 10 == 9) std::this_thread::sleep_for(6ms);
    }
    if (fd >= 0) close(fd);
  });
  // The central stops in order after the first messages have reached it, and is away for 5 s.
  const bool reached = WaitFor([&] { return !Chained(central_).empty(); }, 10s);
  kill(centralPid_, SIGTERM);
  EXPECT_EQ(testing::WaitForExit(centralPid_), 0);
  centralPid_ = -1;
  const int sentBeforeStop = sent;
  std::this_thread::sleep_for(5s);
  const int sentWhileStopped = sent - sentBeforeStop;
  centralPid_ = Start(central_, tlsPort_);
  sender.join();
  ASSERT_TRUE(reached) << "nothing reached the central before it stopped";
  ASSERT_EQ(sent, kMessages);
  EXPECT_GT(sentWhileStopped, 2000);

  std::vector<SyslogMessage> stored;
  WaitFor(
      [&] {
        stored = Chained(central_);
        return stored.size() >= kMessages;
      },
      60s);
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(kMessages));
  // In RFC 5424 the edge's host and the sender's stamp (with its year) reach the central.
  SyslogMessage original;
  original.ParseDatagram("127.0.0.1", 514, Line(0));
  ASSERT_EQ(original.timeSent, 1709193600);  // 2024-02-29 08:00 UTC
  for (int i = 0; i < kMessages; ++i) {
    const SyslogMessage& record = stored[static_cast<std::size_t>(i)];
    ASSERT_EQ(record.message, "qvchain: " + Numbered(i));
    ASSERT_EQ(record.hostName, "edgehost") << i;
    ASSERT_EQ(record.timeSent, original.timeSent) << i;
    ASSERT_EQ(record.facility * 8 + record.severity, 134) << i;
  }
}

}  // namespace
}  // namespace qv
