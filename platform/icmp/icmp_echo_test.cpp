#include "platform/icmp/icmp_echo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/icmp/reply_wait.h"
#include "testing/network_namespace.h"

namespace qv::icmp {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::OwnNetworkNamespace;

// Every test runs in a network namespace of its own with only a loopback interface, so no echo
// request can leave this machine.
class IcmpEchoTest : public ::testing::TestWithParam<SocketKind> {
 protected:
  void SetUp() override {
    if (!OwnNetworkNamespace::Enter()) GTEST_SKIP() << "needs root for a network namespace of its own";
    ASSERT_TRUE(OwnNetworkNamespace::AllowDatagramPing(true));
    ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(false));
  }

  static EchoRequest Request(const char* address, int timeoutMs = 2000) {
    EchoRequest request;
    inet_pton(AF_INET, address, &request.address);
    request.timeoutMs = timeoutMs;
    return request;
  }
};

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

TEST_P(IcmpEchoTest, LoopbackAnswersWithTheEchoedData) {
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    for (const int size : {32, 0, 1400}) {
      EchoRequest request = Request(address);
      request.dataSize = size;
      EchoReply reply;
      EXPECT_EQ(SendEcho(request, nullptr, &reply, GetParam()), EchoResult::kAnswered) << address << " " << size;
      EXPECT_EQ(reply.address, address);
      EXPECT_LT(reply.roundTripMs, 1000u);
      EXPECT_EQ(reply.status, 0u);
    }
  }
}

TEST_P(IcmpEchoTest, SilentHostTimesOutAndAnswersAgainLater) {
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(true));
  const auto start = Clock::now();
  EXPECT_EQ(SendEcho(Request("127.0.0.1", 300), nullptr, nullptr, GetParam()), EchoResult::kNoReply);
  EXPECT_GE(MsSince(start), 290);
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(false));
  EXPECT_EQ(SendEcho(Request("127.0.0.1", 300), nullptr, nullptr, GetParam()), EchoResult::kAnswered);
}

TEST_P(IcmpEchoTest, StopEventEndsALongWait) {
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(true));
  CManualResetEvent stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(100));
    stop.Set();
  });
  const auto start = Clock::now();
  EXPECT_EQ(SendEcho(Request("127.0.0.1", 30000), &stop, nullptr, GetParam()), EchoResult::kStopped);
  EXPECT_LT(MsSince(start), 1000);
  stopper.join();
}

// Answers every echo request on loopback with the right numbers but damaged data.
class CWrongDataResponder {
 public:
  CWrongDataResponder() : fd_(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {
    worker_ = std::thread([this] { Serve(); });
  }
  ~CWrongDataResponder() {
    done_ = true;
    worker_.join();
    close(fd_);
  }

 private:
  void Serve() {
    timeval wait{0, 50000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    unsigned char packet[2048];
    while (!done_) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t got = recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (got < 28) continue;
      const std::size_t ip = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
      unsigned char* icmp = packet + ip;
      const std::size_t icmpLength = static_cast<std::size_t>(got) - ip;
      if (icmp[0] != 8) continue;
      icmp[0] = 0;
      for (std::size_t i = 8; i < icmpLength; ++i) icmp[i] = 'F';
      icmp[2] = icmp[3] = 0;
      uint32_t sum = 0;
      for (std::size_t i = 0; i + 1 < icmpLength; i += 2) sum += static_cast<uint32_t>(icmp[i] << 8 | icmp[i + 1]);
      if (icmpLength % 2 != 0) sum += static_cast<uint32_t>(icmp[icmpLength - 1] << 8);
      while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
      icmp[2] = static_cast<unsigned char>(~sum >> 8);
      icmp[3] = static_cast<unsigned char>(~sum);
      sendto(fd_, icmp, icmpLength, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
  }

  int fd_;
  std::atomic<bool> done_{false};
  std::thread worker_;
};

TEST_P(IcmpEchoTest, ReplyWithOtherDataIsRefused) {
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(true));
  CWrongDataResponder responder;
  EXPECT_EQ(SendEcho(Request("127.0.0.1"), nullptr, nullptr, GetParam()), EchoResult::kBadData);
}

std::string KindName(const ::testing::TestParamInfo<SocketKind>& kind) {
  return kind.param == SocketKind::kDatagram ? "Datagram" : "Raw";
}
INSTANTIATE_TEST_SUITE_P(BothSocketKinds, IcmpEchoTest, ::testing::Values(SocketKind::kDatagram, SocketKind::kRaw),
                         KindName);

TEST(IcmpEchoRequestTest, OutOfRangeValuesAreRefusedBeforeAnythingIsSent) {
  EchoRequest request;
  inet_pton(AF_INET, "127.0.0.1", &request.address);
  request.dataSize = kMaxDataSize + 1;
  EXPECT_EQ(SendEcho(request, nullptr, nullptr), EchoResult::kBadRequest);
  request.dataSize = -1;
  EXPECT_EQ(SendEcho(request, nullptr, nullptr), EchoResult::kBadRequest);
  request.dataSize = 32;
  request.ttl = 0;
  EXPECT_EQ(SendEcho(request, nullptr, nullptr), EchoResult::kBadRequest);
}

TEST(AwaitReplyTest, AFloodOfStrayRepliesCannotHoldTheWaitPastItsDeadlineOrAStop) {
  // A descriptor that is always readable, and a reader that always finds someone else's reply
  // (for 3 s, so that a wait without these bounds fails the timing instead of hanging).
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  Clock::time_point floodEnds;
  auto flood = [&] { return Clock::now() < floodEnds ? ReadOutcome::kOther : ReadOutcome::kEmpty; };

  floodEnds = Clock::now() + std::chrono::seconds(3);
  auto started = Clock::now();
  EXPECT_EQ(AwaitReply(pipeFds[0], nullptr, started + milliseconds(100), flood), EchoResult::kNoReply);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));

  CManualResetEvent stop;
  floodEnds = Clock::now() + std::chrono::seconds(3);
  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(100));
    stop.Set();
  });
  started = Clock::now();
  EXPECT_EQ(AwaitReply(pipeFds[0], &stop, started + std::chrono::seconds(10), flood), EchoResult::kStopped);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
  stopper.join();
  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
}  // namespace qv::icmp
