// What reception costs on this machine: one history append of a typical record line, and the
// datagrams per second that one CSyslogSocket, or the service's receiving thread and its queue,
// hands to an owner that does nothing. The socket figures come from a loopback blaster in this
// program, bounded in count and time.

#include <benchmark/benchmark.h>
#include <poll.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "core/message/syslog_message.h"
#include "reception/datagram_queue.h"
#include "reception/history_files.h"
#include "reception/receive_thread.h"
#include "reception/syslog_socket.h"
#include "reception/udp_test_peer.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kTypicalDatagram =
    "<134>Dec  7 21:58:44 web01 nginx: 10.1.2.3 - - \"GET /index.html HTTP/1.1\" 200 612 \"-\" \"curl/7.88\"";

class CountingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view text) override {
    ++count;
    benchmark::DoNotOptimize(text.data());
  }
  void OnLocalMessage(std::string_view) override {}
  int64_t count = 0;
};

void BM_HistoryAppend(benchmark::State& state) {
  qv::testing::TempHome home;
  CHistoryFiles history;
  history.SetLimitKB(1000);  // the default "historysize"
  SyslogMessage record;
  record.ParseDatagram("10.1.2.3", 40514, kTypicalDatagram);
  const std::string line = record.FormatRecordLine();
  for (auto _ : state) history.Append(line);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
  state.SetLabel(std::to_string(line.size()) + "-byte line");
}
BENCHMARK(BM_HistoryAppend)->Unit(benchmark::kMicrosecond);

// The service's way: the lines of one receive batch (the argument) go in with one Append, after
// the once-per-batch check that the file still has its name. Time and items are per line.
void BM_HistoryAppendBatch(benchmark::State& state) {
  qv::testing::TempHome home;
  CHistoryFiles history;
  history.SetLimitKB(1000);
  SyslogMessage record;
  record.ParseDatagram("10.1.2.3", 40514, kTypicalDatagram);
  const std::string line = record.FormatRecordLine();
  const auto lines = static_cast<int>(state.range(0));
  std::string batch;
  for (auto _ : state) {
    batch.clear();
    for (int i = 0; i < lines; ++i) batch += line;
    history.CheckFileName();
    history.Append(batch);
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.SetBytesProcessed(state.iterations() * lines * static_cast<int64_t>(line.size()));
  state.counters["us_per_line"] = benchmark::Counter(static_cast<double>(state.iterations() * lines) * 1e-6,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HistoryAppendBatch)->Arg(1)->Arg(16)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

// Reads until `expected` have arrived or nothing came for 100 ms.
void Drain(CSyslogSocket& socket, CountingSink& sink, int64_t expected) {
  while (sink.count < expected) {
    pollfd watched{socket.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, 100) != 1) return;
    socket.OnReceive();
  }
}

// The socket's own capacity: a burst waits in the receive buffer, then is handed on.
void BM_SocketDrainBurst(benchmark::State& state) {
  const int burst = static_cast<int>(state.range(0));
  CountingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");
  qv::testing::UdpPeer blaster;
  int64_t handed = 0, sent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sink.count = 0;
    for (int i = 0; i < burst; ++i) sent += blaster.SendTo(socket.boundPort(), kTypicalDatagram) ? 1 : 0;
    state.ResumeTiming();
    Drain(socket, sink, burst);
    handed += sink.count;
  }
  state.SetItemsProcessed(handed);
  state.counters["lost"] = static_cast<double>(sent - handed);
}
BENCHMARK(BM_SocketDrainBurst)->Arg(4000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Sends up to `count` typical datagrams to 127.0.0.1:`port` within `limit`, 64 per system call
// so that the sender outruns the receiver; returns how many were sent.
int64_t Blast(int port, int count, std::chrono::seconds limit) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<uint16_t>(port));
  destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int64_t sent = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&destination), sizeof destination) == 0) {
    constexpr int kBatch = 64;
    std::array<iovec, kBatch> slots{};
    std::array<mmsghdr, kBatch> headers{};
    for (int i = 0; i < kBatch; ++i) {
      slots[i] = {const_cast<char*>(kTypicalDatagram.data()), kTypicalDatagram.size()};
      headers[i].msg_hdr.msg_iov = &slots[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    const auto stop = Clock::now() + limit;
    while (sent < count && Clock::now() < stop) {
      const int n = sendmmsg(fd, headers.data(), static_cast<unsigned>(std::min<int64_t>(kBatch, count - sent)), 0);
      if (n > 0) sent += n;
    }
  }
  close(fd);
  return sent;
}

// A blaster thread sends as fast as it can while `drain` hands on what arrives whenever
// `watched` is readable; the time is that from the first datagram handed on to the last. Each
// round is at most `count` datagrams and two seconds of sending.
template <typename Drain>
void RunLiveBlaster(benchmark::State& state, int port, int watched, CountingSink& sink, Drain drain) {
  const int count = static_cast<int>(state.range(0));
  int64_t handed = 0, sent = 0;
  for (auto _ : state) {
    sink.count = 0;
    int64_t sentThisRound = 0;
    std::thread blaster([&] { sentThisRound = Blast(port, count, std::chrono::seconds(2)); });
    pollfd ready{watched, POLLIN, 0};
    poll(&ready, 1, 2000);
    const auto first = Clock::now();
    auto last = first;
    for (;;) {
      if (poll(&ready, 1, 100) != 1) break;  // the blaster has finished and nothing waits
      drain();
      last = Clock::now();
    }
    blaster.join();
    state.SetIterationTime(std::chrono::duration<double>(last - first).count());
    handed += sink.count;
    sent += sentThisRound;
  }
  state.SetItemsProcessed(handed);
  state.counters["lost"] = static_cast<double>(sent - handed);
  state.counters["sent"] = static_cast<double>(sent);
}

void BM_SocketLiveBlaster(benchmark::State& state) {
  CountingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");
  RunLiveBlaster(state, socket.boundPort(), socket.descriptor(), sink, [&] { socket.OnReceive(); });
}
BENCHMARK(BM_SocketLiveBlaster)->Arg(300000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The queue between the service's receiving thread and its engine, on one thread: a read's
// worth of datagrams (the argument) added and published, then delivered. Items are datagrams.
void BM_DatagramQueueRoundTrip(benchmark::State& state) {
  const auto perRead = static_cast<int>(state.range(0));
  CDatagramQueue queue;
  CountingSink sink;
  sockaddr_storage sender{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(sender);
  v4.sin_family = AF_INET;
  v4.sin_port = htons(40514);
  v4.sin_addr.s_addr = htonl(0x0A010203);
  for (auto _ : state) {
    for (int i = 0; i < perRead; ++i) queue.Add(sender, kTypicalDatagram);
    queue.Publish();
    queue.Deliver(sink, CReceiveThread::kBatch);
  }
  state.SetItemsProcessed(sink.count);
}
BENCHMARK(BM_DatagramQueueRoundTrip)->Arg(1)->Arg(64);

// As BM_SocketLiveBlaster, through the service's way: a CReceiveThread drains the socket into
// its queue while this thread delivers up to 1024 datagrams per wake.
void BM_ReceiveThreadLiveBlaster(benchmark::State& state) {
  CountingSink sink;
  CSyslogSocket socket(sink, 0, "127.0.0.1");
  CDatagramQueue queue;
  CReceiveThread receiver(socket.descriptor(), queue);
  RunLiveBlaster(state, socket.boundPort(), queue.wakeDescriptor(), sink, [&] { queue.Deliver(sink, 1024); });
}
BENCHMARK(BM_ReceiveThreadLiveBlaster)->Arg(300000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv
