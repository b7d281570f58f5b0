#pragma once
// The ordered queue between a thread that only receives datagrams (the producer, one
// CReceiveThread) and the thread that handles them (the consumer, the service's engine).
//
// The producer adds the datagrams of one read and publishes them as one chunk; the consumer
// hands them to its sink's OnDatagram in the order added. Memory is bounded: WaitForRoom holds
// the producer while the published chunks hold maxBytes or more (texts and the fixed part of each
// entry counted), so the queue never holds more than maxBytes plus one read; meanwhile the
// producer stops receiving and the socket's kernel buffer takes the excess, as it does for a
// single-threaded receiver.
//
// The consumer is woken only when it sleeps: wakeDescriptor() (an eventfd) becomes readable
// when a chunk is published after a Deliver found the queue empty, or when a Deliver stopped at
// its limit with datagrams still waiting. While the consumer works, publishing costs no system
// call. Datagrams in the queue are in this process's memory: a crash loses them, as it loses
// those in the kernel buffer.
//
// Threading: Add and Publish and WaitForRoom on the producer's thread only; Deliver on the
// consumer's thread only; Stop from any thread. Internally one mutex guards the chunk lists.

#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "reception/syslog_sink.h"

namespace qv {

class CDatagramQueue {
 public:
  // About 300,000 datagrams of 150 bytes: a burst of a second at full rate waits here rather
  // than in the kernel, which drops what its buffer cannot hold.
  static constexpr std::size_t kDefaultMaxBytes = 64 * 1024 * 1024;

  explicit CDatagramQueue(std::size_t maxBytes = kDefaultMaxBytes);
  ~CDatagramQueue();
  CDatagramQueue(const CDatagramQueue&) = delete;
  CDatagramQueue& operator=(const CDatagramQueue&) = delete;

  // Producer: adds one datagram (the sender's address, and its text up to the first zero byte)
  // to the chunk being filled. It is not seen by the consumer before Publish.
  void Add(const sockaddr_storage& sender, std::string_view text);
  // Producer: appends the chunk being filled to the queue (nothing when it is empty) and wakes a
  // sleeping consumer.
  void Publish();
  // Producer: returns when the queue has room (true), or when Stop was called (false).
  bool WaitForRoom();

  // Consumer: hands queued datagrams to sink.OnDatagram, in order, whole chunks at a time, until
  // at least `limit` datagrams were handed or the queue is empty. Returns true when datagrams
  // still wait (the wake descriptor then stays readable). The address and text live only until
  // OnDatagram returns; a zero follows the text. An exception from OnDatagram passes on; the
  // rest of its chunk is dropped.
  bool Deliver(CSyslogSink& sink, std::size_t limit);

  // Releases a producer waiting for room, now and in every later WaitForRoom.
  void Stop();

  // Readable when the consumer should call Deliver; -1 when no eventfd could be made.
  int wakeDescriptor() const { return wake_; }
  // Bytes published and not yet delivered.
  std::size_t queuedBytes() const;

 private:
  struct Entry {
    uint32_t offset;
    uint32_t length;
    int32_t port;
    char address[INET6_ADDRSTRLEN];
  };
  struct Chunk {
    std::string texts;  // the datagrams' texts back to back, each followed by a zero
    std::vector<Entry> entries;
    std::size_t bytes() const { return texts.size() + entries.size() * sizeof(Entry); }
  };
  using ChunkPtr = std::unique_ptr<Chunk>;

  ChunkPtr TakeFront();
  void Recycle(ChunkPtr chunk);
  void Wake();
  void ClearWake();

  const std::size_t maxBytes_;
  const int wake_;
  ChunkPtr filling_;  // the producer's

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::deque<ChunkPtr> published_;
  std::vector<ChunkPtr> spare_;  // delivered chunks kept for reuse
  std::size_t bytes_ = 0;
  bool consumerSleeps_ = true;
  bool stopped_ = false;
};

}  // namespace qv
