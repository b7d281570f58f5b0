#include "reception/syslog_socket.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "core/message/syslog_message.h"
#include "reception/dotted_address.h"
#include "reception/udp_test_peer.h"

extern char** environ;

namespace qv {
namespace {

using qv::testing::ReceiveUntil;
using qv::testing::RecordingSink;
using qv::testing::UdpPeer;
using namespace std::chrono_literals;

class SyslogSocketTest : public ::testing::Test {
 protected:
  RecordingSink sink_;
  CSyslogSocket socket_{sink_, 0, "127.0.0.1"};
  UdpPeer peer_;
};

TEST_F(SyslogSocketTest, TheLargestIpv4DatagramArrivesWholeAndZeroTerminated) {
  ASSERT_TRUE(socket_.created());
  // 65535 bytes less the IPv4 and UDP headers is the most one IPv4 datagram can carry.
  std::string largest(65507, 'x');
  for (std::size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<char>('a' + i % 26);
  EXPECT_FALSE(peer_.SendTo(socket_.boundPort(), largest + "y"));
  ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), largest));
  ASSERT_TRUE(ReceiveUntil(socket_, sink_, 1));
  EXPECT_EQ(sink_.datagrams[0].text, largest);
  EXPECT_TRUE(sink_.datagrams[0].zeroTerminated);
}

TEST_F(SyslogSocketTest, AnEmbeddedZeroCutsTheTextAndTheSenderIsReported) {
  ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), std::string_view("<13>abc\0def", 11)));
  ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), std::string_view("\0rest", 5)));
  ASSERT_TRUE(ReceiveUntil(socket_, sink_, 2));
  EXPECT_EQ(sink_.datagrams[0].text, "<13>abc");
  EXPECT_TRUE(sink_.datagrams[0].zeroTerminated);
  EXPECT_EQ(sink_.datagrams[0].address, "127.0.0.1");
  EXPECT_EQ(sink_.datagrams[0].port, peer_.port());
  EXPECT_EQ(sink_.datagrams[1].text, "");
}

TEST_F(SyslogSocketTest, ASocketThatCannotBindIsNotCreated) {
  ASSERT_TRUE(socket_.created());
  EXPECT_EQ(socket_.port(), 0);
  EXPECT_NE(socket_.boundPort(), 0);

  RecordingSink other;
  CSyslogSocket taken(other, socket_.boundPort(), "127.0.0.1");
  EXPECT_FALSE(taken.created());
  EXPECT_EQ(taken.descriptor(), -1);
  EXPECT_EQ(taken.boundPort(), 0);
  taken.OnReceive();  // harmless
  CSyslogSocket takenOnAll(other, socket_.boundPort());
  EXPECT_FALSE(takenOnAll.created());
  EXPECT_FALSE(CSyslogSocket(other, 65536).created());
  EXPECT_FALSE(CSyslogSocket(other, -1).created());
  EXPECT_FALSE(CSyslogSocket(other, 0, "localhost").created());
}

TEST_F(SyslogSocketTest, DatagramsKeepTheirOrderAndOneNotificationHandsAtMostABatch) {
  constexpr int kCount = 150;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), "<14>line " + std::to_string(i)));
  // Loopback delivers while sending, so all of them are waiting now.
  socket_.OnReceive();
  EXPECT_EQ(sink_.datagrams.size(), static_cast<std::size_t>(CSyslogSocket::kMaxDatagramsPerReceive));
  ASSERT_TRUE(ReceiveUntil(socket_, sink_, kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(sink_.datagrams[i].text, "<14>line " + std::to_string(i));
  socket_.OnReceive();  // nothing waiting: returns at once
  EXPECT_EQ(sink_.datagrams.size(), static_cast<std::size_t>(kCount));
}

// An owner that stops listening, or runs a nested event loop, from inside OnDatagram.
class ReentrantSink : public RecordingSink {
 public:
  void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) override {
    RecordingSink::OnDatagram(senderAddress, senderPort, text);
    if (text == "nest") socket->OnReceive();
    if (text == "throw") throw std::runtime_error("owner failed");
    if (text == "close") socket.reset();  // last: `text` lives in the socket
  }
  std::unique_ptr<CSyslogSocket> socket;
};

TEST_F(SyslogSocketTest, TheOwnerMayNestOrCloseInsideOnDatagram) {
  ReentrantSink owner;
  owner.socket = std::make_unique<CSyslogSocket>(owner, 0, "127.0.0.1");
  const int port = owner.socket->boundPort();
  // More than one read batch waits behind "nest": a nested read would hand the later ones first.
  std::vector<std::string> sent = {"nest"};
  for (int i = 0; i < 40; ++i) sent.push_back(std::to_string(i));
  sent.insert(sent.end(), {"close", "lost", "lost"});
  for (const auto& text : sent) ASSERT_TRUE(peer_.SendTo(port, text));
  ASSERT_TRUE(ReceiveUntil(*owner.socket, owner, sent.size() - 2));
  EXPECT_EQ(owner.socket, nullptr);
  ASSERT_EQ(owner.datagrams.size(), sent.size() - 2);
  for (std::size_t i = 0; i < owner.datagrams.size(); ++i) EXPECT_EQ(owner.datagrams[i].text, sent[i]);
}

TEST_F(SyslogSocketTest, AnOwnerThatThrowsLeavesTheSocketUsable) {
  ReentrantSink owner;
  owner.socket = std::make_unique<CSyslogSocket>(owner, 0, "127.0.0.1");
  ASSERT_TRUE(peer_.SendTo(owner.socket->boundPort(), "throw"));
  EXPECT_THROW(ReceiveUntil(*owner.socket, owner, 1), std::runtime_error);
  ASSERT_TRUE(peer_.SendTo(owner.socket->boundPort(), "after"));
  ASSERT_TRUE(ReceiveUntil(*owner.socket, owner, 2));
  EXPECT_EQ(owner.datagrams[1].text, "after");
  owner.socket.reset();  // must not write through a flag of the finished call
}

TEST_F(SyslogSocketTest, ABurstOfThousandsOfDatagramsWaitsInTheReceiveBuffer) {
  int bytes = 0;
  socklen_t length = sizeof bytes;
  ASSERT_EQ(getsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVBUF, &bytes, &length), 0);
  long rmemMax = 0;
  std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
  // The kernel reports twice the size asked for; unprivileged requests are capped at rmem_max.
  EXPECT_GE(bytes, 2 * std::min<long>(CSyslogSocket::kReceiveBufferBytes, rmemMax));
  if (bytes < CSyslogSocket::kReceiveBufferBytes) GTEST_SKIP() << "net.core.rmem_max is too small here";

  // About 4000 small datagrams: far more than the 131072-byte buffer of old would hold.
  constexpr int kBurst = 4000;
  const std::string line = "<14>Oct 11 22:14:15 burst-host some typical application message text #";
  for (int i = 0; i < kBurst; ++i) ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), line + std::to_string(i)));
  EXPECT_TRUE(ReceiveUntil(socket_, sink_, kBurst, 1000ms));
  EXPECT_EQ(sink_.datagrams.size(), static_cast<std::size_t>(kBurst));
}

TEST_F(SyslogSocketTest, LoggerFromUtilLinuxIsUnderstood) {
  const std::string port = std::to_string(socket_.boundPort());
  const char* argv[] = {"logger", "--rfc3164", "-d", "-n", "127.0.0.1", "-P", port.c_str(),
                        "-p", "local3.err", "-t", "qvtest", "disk, \"sda\" is failing", nullptr};
  // logger stamps local time; in UTC the stamp and the parsed time sent agree with the clock.
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).substr(0, 3) != "TZ=") env.push_back(*e);
  }
  std::string tz = "TZ=UTC";
  env.push_back(tz.data());
  env.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawnp(&pid, "logger", nullptr, nullptr, const_cast<char**>(argv), env.data()), 0)
      << "logger (package bsdutils) is needed";
  int status = 0;
  for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(50ms);
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "logger did not end";
  }
  const auto now = std::time(nullptr);
  ASSERT_TRUE(ReceiveUntil(socket_, sink_, 1));
  EXPECT_FALSE(ReceiveUntil(socket_, sink_, 2, 200ms)) << "logger sent more than one datagram";

  const std::string& text = sink_.datagrams[0].text;
  SyslogMessage record;
  record.ParseDatagram(sink_.datagrams[0].address, sink_.datagrams[0].port, text);
  char host[256] = "";
  gethostname(host, sizeof host);
  const std::string shortHost = std::string(host).substr(0, std::string(host).find('.'));
  EXPECT_EQ(text.substr(0, 5), "<155>");
  EXPECT_EQ(record.facility, 19);
  EXPECT_EQ(record.severity, 3);
  EXPECT_EQ(record.hostName, shortHost);
  EXPECT_EQ(record.message, "qvtest: disk, \"sda\" is failing");
  // The stamp logger wrote ("Mmm dd hh:mm:ss", the day padded with a space), read as UTC.
  const time_t sent = record.timeSent;
  char stamp[32] = "";
  strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", gmtime(&sent));
  EXPECT_EQ(stamp, text.substr(5, 15));
  EXPECT_NEAR(record.timeSent, now, 5);
  EXPECT_EQ(record.ipAddress, "127.0.0.1");
}

TEST(DottedAddressTest, WritesWhatInetNtopWrites) {
  std::mt19937 random(7);
  std::vector<uint32_t> addresses = {0, 0xFFFFFFFF, 0x7F000001, 0x0A00000A, 0x64636209, 0xC0A8010A};
  for (int i = 0; i < 10000; ++i) addresses.push_back(static_cast<uint32_t>(random()));
  for (const uint32_t number : addresses) {
    in_addr address{htonl(number)};
    char expected[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, expected, sizeof expected);
    char written[kDottedAddressSize];
    ASSERT_EQ(FormatDottedAddress(address, written), std::strlen(expected));
    ASSERT_STREQ(written, expected);
  }
}

}  // namespace
}  // namespace qv
