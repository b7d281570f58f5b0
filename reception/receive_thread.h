#pragma once
// A thread that only drains a UDP socket: it reads the waiting datagrams with recvmmsg, many
// per call, into a CDatagramQueue, whose consumer parses and stores them on its own thread. So
// the socket is emptied while the consumer writes, and the kernel drops nothing a short stall
// of the consumer could have caused.
//
// After a read that found datagrams but did not fill its batch, the thread pauses before
// reading again, about as long as a whole batch takes to arrive at the rate that read saw, and
// at most `maxPause`: so at a moderate rate one read, and one wake of the consumer, carries
// dozens of datagrams instead of one each, while at a high rate the pauses shrink and about a
// batch waits in the kernel buffer at a time. Only a flood that starts after a quiet spell
// meets one whole pause first: the socket's receive buffer must hold that much of it. So the
// pause is also cut to half of what the buffer holds at a million small datagrams a second: the
// 4 MiB that CSyslogSocket asks for leave the whole 2 ms, the 208 KiB an unprivileged socket
// gets on a stock kernel about a sixth of a millisecond. A pause delays a datagram by at most
// maxPause. When nothing waits, the thread sleeps in poll until
// the socket is readable. While the queue is full it stops reading.
//
// The socket descriptor is not owned: it must be non-blocking and stay open until this object
// is destroyed. Sending from the socket on another thread meanwhile is fine. The destructor
// stops the thread and waits for it; datagrams still queued are the queue's. Failed receives
// are ignored, as on a single-threaded socket.

#include <time.h>

#include <chrono>
#include <thread>

#include "reception/datagram_queue.h"

namespace qv {

class CReceiveThread {
 public:
  // A wake per two milliseconds at most, where one per datagram costs more than the rest of
  // its handling; a delay nobody watching a live view notices.
  static constexpr std::chrono::microseconds kDefaultMaxPause{2000};
  // Datagrams read by one recvmmsg call, each into a slot of a whole maximal datagram.
  static constexpr int kBatch = 128;

  CReceiveThread(int descriptor, CDatagramQueue& queue, std::chrono::microseconds maxPause = kDefaultMaxPause);
  ~CReceiveThread();
  CReceiveThread(const CReceiveThread&) = delete;
  CReceiveThread& operator=(const CReceiveThread&) = delete;

  // False when the thread or its stop signal could not be made: nothing is received then.
  bool running() const { return thread_.joinable(); }
  // The longest pause, after the cut to the socket's receive buffer.
  std::chrono::microseconds maxPause() const { return maxPause_; }

 private:
  void Run();
  // Sleeps until the socket is readable (forSocket) or for `timeout` (when not null); false
  // when stopped.
  bool Wait(bool forSocket, const timespec* timeout);

  const int descriptor_;
  CDatagramQueue& queue_;
  const std::chrono::microseconds maxPause_;
  const int stop_;  // an eventfd, readable once the destructor runs
  std::thread thread_;
};

}  // namespace qv
