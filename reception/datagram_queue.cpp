#include "reception/datagram_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <exception>

#include "reception/dotted_address.h"

namespace qv {
namespace {

// Spare chunks kept for the producer; a chunk grown past kSpareChunkBytes by long datagrams is
// freed instead, so that the memory of a burst is given back.
constexpr std::size_t kMaxSpareChunks = 16;
constexpr std::size_t kSpareChunkBytes = 256 * 1024;

}  // namespace

CDatagramQueue::CDatagramQueue(std::size_t maxBytes)
    : maxBytes_(maxBytes), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), filling_(std::make_unique<Chunk>()) {}

CDatagramQueue::~CDatagramQueue() {
  if (wake_ >= 0) close(wake_);
}

void CDatagramQueue::Add(const sockaddr_storage& sender, std::string_view text) {
  if (const void* zero = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
  }
  Entry entry{};
  entry.offset = static_cast<uint32_t>(filling_->texts.size());
  entry.length = static_cast<uint32_t>(text.size());
  entry.port = FormatSenderAddress(sender, entry.address);
  filling_->texts.append(text);
  filling_->texts.push_back('\0');  // the sink may read the text as a C string
  filling_->entries.push_back(entry);
}

void CDatagramQueue::Publish() {
  if (filling_->entries.empty()) return;
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    bytes_ += filling_->bytes();
    published_.push_back(std::move(filling_));
    if (!spare_.empty()) {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
    wake = consumerSleeps_;
    consumerSleeps_ = false;
  }
  if (!filling_) filling_ = std::make_unique<Chunk>();
  if (wake) Wake();
}

bool CDatagramQueue::WaitForRoom() {
  std::unique_lock lock(mutex_);
  room_.wait(lock, [this] { return stopped_ || bytes_ < maxBytes_; });
  return !stopped_;
}

void CDatagramQueue::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  room_.notify_all();
}

std::size_t CDatagramQueue::queuedBytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

CDatagramQueue::ChunkPtr CDatagramQueue::TakeFront() {
  const std::lock_guard lock(mutex_);
  if (published_.empty()) {
    consumerSleeps_ = true;  // the next Publish wakes us
    return nullptr;
  }
  ChunkPtr chunk = std::move(published_.front());
  published_.pop_front();
  return chunk;
}

void CDatagramQueue::Recycle(ChunkPtr chunk) {
  const std::size_t bytes = chunk->bytes();
  const bool keep = chunk->texts.capacity() <= kSpareChunkBytes;
  chunk->texts.clear();
  chunk->entries.clear();
  {
    const std::lock_guard lock(mutex_);
    bytes_ -= bytes;
    if (keep && spare_.size() < kMaxSpareChunks) spare_.push_back(std::move(chunk));
  }
  room_.notify_one();
}

bool CDatagramQueue::Deliver(CSyslogSink& sink, std::size_t limit) {
  ClearWake();
  std::size_t handed = 0;
  while (handed < limit) {
    ChunkPtr chunk = TakeFront();
    if (!chunk) return false;
    // Gives the chunk back however OnDatagram leaves; after an exception the next turn goes on
    // with the next chunk.
    struct Return {
      CDatagramQueue& queue;
      ChunkPtr& chunk;
      ~Return() {
        queue.Recycle(std::move(chunk));
        if (std::uncaught_exceptions() > 0) queue.Wake();
      }
    } giveBack{*this, chunk};
    for (const Entry& entry : chunk->entries) {
      const std::string_view text(chunk->texts.data() + entry.offset, entry.length);
      sink.OnDatagram(entry.address, entry.port, text);
    }
    handed += chunk->entries.size();
  }
  {
    const std::lock_guard lock(mutex_);
    if (published_.empty()) {
      consumerSleeps_ = true;
      return false;
    }
  }
  Wake();  // the rest on the next turn of the consumer's event loop
  return true;
}

void CDatagramQueue::Wake() {
  const uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
    // Only fails when the counter would overflow: it is readable then anyway.
  }
}

void CDatagramQueue::ClearWake() {
  uint64_t count = 0;
  if (wake_ >= 0 && read(wake_, &count, sizeof count) < 0) {
    // EAGAIN: nothing was signalled, as when the owner calls without a wake.
  }
}

}  // namespace qv
