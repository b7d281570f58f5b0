// The receiving thread and its queue with a real socket on 127.0.0.1: datagrams reach the
// consumer whole, in order and from the right sender; the consumer is woken when they wait; a
// full queue holds the thread back without losing what the kernel buffer keeps meanwhile.

#include "reception/receive_thread.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "reception/syslog_socket.h"
#include "reception/udp_test_peer.h"

namespace qv {
namespace {

using qv::testing::RecordingSink;
using qv::testing::UdpPeer;
using namespace std::chrono_literals;

// Waits for the wake descriptor and delivers, until the sink holds `count` datagrams or three
// seconds have passed.
bool DeliverUntil(CDatagramQueue& queue, RecordingSink& sink, std::size_t count, std::size_t limit = 1000) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (sink.datagrams.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd wake{queue.wakeDescriptor(), POLLIN, 0};
    if (poll(&wake, 1, 100) == 1) queue.Deliver(sink, limit);
  }
  return sink.datagrams.size() >= count;
}

std::string Numbered(int i) { return "<13>message " + std::to_string(i); }

class ReceiveThreadTest : public ::testing::Test {
 protected:
  RecordingSink ignored_;  // the socket's own reads are never called here
  CSyslogSocket socket_{ignored_, 0, "127.0.0.1"};
  UdpPeer peer_;
};

TEST_F(ReceiveThreadTest, DatagramsArriveWholeInOrderWithTheirSender) {
  ASSERT_TRUE(socket_.created());
  CDatagramQueue queue;
  CReceiveThread thread(socket_.descriptor(), queue);
  ASSERT_TRUE(thread.running());
  RecordingSink sink;
  // Nothing waits: the consumer is not woken and Deliver finds nothing.
  pollfd wake{queue.wakeDescriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&wake, 1, 50), 0);
  EXPECT_FALSE(queue.Deliver(sink, 10));

  // Several full reads and part reads, a largest datagram and an embedded zero among them.
  constexpr int kCount = 1000;
  const std::string largest(65507, 'L');
  for (int i = 0; i < kCount; ++i) {
    if (i == 500) {
      ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), largest));
      ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), std::string_view("<13>cut\0here", 12)));
    }
    ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), Numbered(i)));
    if (i % 100 == 0) std::this_thread::sleep_for(2ms);  // some part batches too
  }
  ASSERT_TRUE(DeliverUntil(queue, sink, kCount + 2, 64)) << sink.datagrams.size() << " arrived";
  ASSERT_EQ(sink.datagrams.size(), kCount + 2u);
  std::size_t at = 0;
  for (int i = 0; i < kCount; ++i, ++at) {
    if (i == 500) {
      EXPECT_EQ(sink.datagrams[at++].text, largest);
      EXPECT_EQ(sink.datagrams[at++].text, "<13>cut");
    }
    EXPECT_EQ(sink.datagrams[at].text, Numbered(i));
  }
  for (const auto& datagram : sink.datagrams) {
    EXPECT_EQ(datagram.address, "127.0.0.1");
    EXPECT_EQ(datagram.port, peer_.port());
    EXPECT_TRUE(datagram.zeroTerminated);
  }
  EXPECT_EQ(queue.queuedBytes(), 0u);
  EXPECT_EQ(poll(&wake, 1, 0), 0) << "woken with nothing left";
}

TEST_F(ReceiveThreadTest, AFullQueueStopsReadingAndLosesNothingTheKernelKept) {
  ASSERT_TRUE(socket_.created());
  constexpr std::size_t kBound = 2000;
  CDatagramQueue queue(kBound);
  CReceiveThread thread(socket_.descriptor(), queue, 0us);
  constexpr int kCount = 400;  // far more than the bound, far less than the kernel buffer
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), Numbered(i)));
  std::this_thread::sleep_for(200ms);
  // The bound, plus at most the one read that took the queue past it.
  const std::size_t oneRead = CReceiveThread::kBatch * (Numbered(kCount).size() + 1 + 64);
  const std::size_t held = queue.queuedBytes();
  EXPECT_GE(held, kBound);
  EXPECT_LT(held, kBound + oneRead);

  // Delivered a little at a time: each call stops after the chunk that reached its limit.
  RecordingSink sink;
  queue.Deliver(sink, 1);
  EXPECT_LE(sink.datagrams.size(), static_cast<std::size_t>(CReceiveThread::kBatch));
  ASSERT_TRUE(DeliverUntil(queue, sink, kCount, 10));
  ASSERT_EQ(sink.datagrams.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(sink.datagrams[i].text, Numbered(i));
}

// A consumer whose handling fails once in the middle of a chunk.
class FailingSink : public RecordingSink {
 public:
  void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) override {
    if (text == Numbered(3)) throw std::runtime_error("failed");
    RecordingSink::OnDatagram(senderAddress, senderPort, text);
  }
};

TEST_F(ReceiveThreadTest, AFailingConsumerLosesTheRestOfItsChunkOnlyAndIsWokenForMore) {
  CDatagramQueue queue;
  sockaddr_storage sender{};
  sender.ss_family = AF_INET;
  for (int i = 0; i < 6; ++i) queue.Add(sender, Numbered(i));
  queue.Publish();
  for (int i = 6; i < 9; ++i) queue.Add(sender, Numbered(i));
  queue.Publish();
  FailingSink sink;
  EXPECT_THROW(queue.Deliver(sink, 100), std::runtime_error);
  ASSERT_TRUE(DeliverUntil(queue, sink, 6));
  std::vector<std::string> texts;
  for (const auto& datagram : sink.datagrams) texts.push_back(datagram.text);
  EXPECT_EQ(texts, (std::vector<std::string>{Numbered(0), Numbered(1), Numbered(2), Numbered(6), Numbered(7),
                                             Numbered(8)}));
  EXPECT_EQ(sink.datagrams[0].address, "0.0.0.0");
  EXPECT_EQ(queue.queuedBytes(), 0u);
}

TEST_F(ReceiveThreadTest, ThePauseIsCutToWhatTheReceiveBufferHolds) {
  CDatagramQueue queue;
  const int small = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  ASSERT_GE(small, 0);
  const int bytes = 64 * 1024;  // the kernel doubles it: about a hundred small datagrams
  ASSERT_EQ(setsockopt(small, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes), 0);
  {
    CReceiveThread smallBuffer(small, queue);
    CReceiveThread asked(socket_.descriptor(), queue);  // 4 MiB asked for, perhaps fewer granted
    EXPECT_GT(smallBuffer.maxPause().count(), 0);
    EXPECT_LT(smallBuffer.maxPause(), 100us);
    EXPECT_GE(asked.maxPause(), smallBuffer.maxPause());
  }
  close(small);
}

TEST_F(ReceiveThreadTest, StopsPromptlyWhileWaitingForRoom) {
  CDatagramQueue queue(1);
  const auto started = std::chrono::steady_clock::now();
  {
    CReceiveThread thread(socket_.descriptor(), queue);
    ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), Numbered(0)));
    ASSERT_TRUE(peer_.SendTo(socket_.boundPort(), Numbered(1)));
    const auto deadline = started + 3s;
    while (queue.queuedBytes() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    ASSERT_GT(queue.queuedBytes(), 0u);
  }  // the thread waits for room, or polls, when it is told to stop
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

}  // namespace
}  // namespace qv
